// Path text and compression names.
//
// Pure text work on paths ("/" as separator; the directory and base-name
// functions also accept a backslash where no "/" is found), plus the names
// that decide whether a file goes through a compression filter. Nothing here
// reports through the message list; only ZnCompressedVariant() and the
// current-directory fallbacks touch the file system.
#ifndef HDRMEND_SYSTEM_ZNPATHUTILS_H_
#define HDRMEND_SYSTEM_ZNPATHUTILS_H_

#include "foundation/ZnStr.h"

// True when the path ends in ".Z", ".gz" or ".jpeg" (exact case, checked in
// that order) and is longer than that suffix. The extension, without its dot,
// is stored in *extension when given; on false it is left alone.
bool ZnFindCompressionExtension(const ZnStr& path, ZnStr* extension = nullptr);

// The path itself when a file exists there; otherwise path + ".gz" or
// path + ".Z", whichever exists first; otherwise the path unchanged.
ZnStr ZnCompressedVariant(const ZnStr& path);

// The path without a final ".gz" or ".Z"; *extension (when given) receives the
// removed suffix with its dot, or "" when there was none. ".jpeg" is not
// stripped. Paths shorter than 3 characters come back unchanged and leave
// *extension alone.
ZnStr ZnStripCompressionExtension(const ZnStr& path, ZnStr* extension = nullptr);

// Directory part: "/" for "/a", "a" for "a/b/", "" for "a", "" or "/" alone.
ZnStr ZnDirName(const ZnStr& path);
// Last component: "b" for "a/b/" and for "b/"; "" for a null or empty path.
ZnStr ZnBaseName(const ZnStr& path);

// dir + "/" + name, without doubling a "/" that ends dir. An empty dir gives
// name alone (a relative name stays relative).
ZnStr ZnJoinPath(const ZnStr& dir, const ZnStr& name);
// ZnJoinPath(dir, name + "." + ext).
ZnStr ZnJoinPathExt(const ZnStr& dir, const ZnStr& name, const ZnStr& ext);

// Splits into directory, name before the last "." and extension after it. Each
// output is optional; every given output is emptied first.
void ZnSplitPath(const ZnStr& path, ZnStr* dir, ZnStr* name, ZnStr* ext);

// The current working directory. When it cannot be found (it was removed, or
// getcwd fails) prints "Could not get absolute path of current working
// directory." on std::cerr and ends the process with status 1.
ZnStr ZnCurrentDirectory();

// The absolute form of path: relative paths are taken against base (against
// the current directory when base is empty or itself relative, which may end
// the process as ZnCurrentDirectory() does), and "." and ".." components are
// resolved textually. Symbolic links are not followed; ".." above "/" stays at
// "/".
ZnStr ZnAbsolutePath(const ZnStr& path, const ZnStr& base = ZnStr());

#endif  // HDRMEND_SYSTEM_ZNPATHUTILS_H_
