#include "system/ZnPathUtils.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "system/ZnFileUtils.h"

namespace {

// The suffix must be strictly shorter than the path: a file named ".gz" is a
// hidden file, not a compressed empty name.
bool HasSuffix(const ZnStr& path, const char* suffix) {
  int n = static_cast<int>(strlen(suffix));
  return path.length() > n && strcmp(path.c_str() + path.length() - n, suffix) == 0;
}

// Step shared by ZnDirName and ZnBaseName: one trailing separator goes.
ZnStr DropTrailingSeparator(const ZnStr& path) {
  int n = path.length();
  if (n > 0 && (path[n - 1] == '/' || path[n - 1] == '\\')) return path.dropRight(1);
  return path;
}

bool FindLastSeparator(const ZnStr& path, int* pos) {
  return path.findLastChar('/', pos) || path.findLastChar('\\', pos);
}

// Resolves "." and ".." of an absolute path from the end.
ZnStr ResolveAbsolute(const ZnStr& path) {
  if (path == "/") return path;
  ZnStr last = ZnBaseName(path);
  ZnStr parent = ZnDirName(path);
  if (parent.length() == 0) parent = "/";
  if (last == ".") return ResolveAbsolute(parent);
  if (last == "..") {
    // The parent of "/" is "/" itself; without this "/.." would come out empty.
    ZnStr up = ZnDirName(ResolveAbsolute(parent));
    return up.length() == 0 ? ZnStr("/") : up;
  }
  if (parent == "/") return "/" + last;
  // The parent may resolve to "/" itself ("/x/../y"); no doubled separator.
  return ZnJoinPath(ResolveAbsolute(parent), last);
}

}  // namespace

bool ZnFindCompressionExtension(const ZnStr& path, ZnStr* extension) {
  const char* found = nullptr;
  if (HasSuffix(path, ".Z")) {
    found = "Z";
  } else if (HasSuffix(path, ".gz")) {
    found = "gz";
  } else if (HasSuffix(path, ".jpeg")) {
    found = "jpeg";
  }
  if (found == nullptr) return false;
  if (extension != nullptr) *extension = found;
  return true;
}

ZnStr ZnCompressedVariant(const ZnStr& path) {
  if (ZnFileExists(path.c_str())) return path;
  ZnStr gz = path + ".gz";
  if (ZnFileExists(gz.c_str())) return gz;
  ZnStr z = path + ".Z";
  if (ZnFileExists(z.c_str())) return z;
  return path;
}

ZnStr ZnStripCompressionExtension(const ZnStr& path, ZnStr* extension) {
  if (path.length() < 3) return path;
  const char* suffix = "";
  if (path.endsWith(".gz")) {
    suffix = ".gz";
  } else if (path.endsWith(".Z")) {
    suffix = ".Z";
  }
  if (extension != nullptr) *extension = suffix;
  return path.dropRight(static_cast<int>(strlen(suffix)));
}

ZnStr ZnDirName(const ZnStr& path) {
  if (path.length() == 0 || path == "/") return "";
  ZnStr text = DropTrailingSeparator(path);
  int pos;
  if (!FindLastSeparator(text, &pos)) return "";
  if (pos == 0) return "/";
  return text.left(pos);
}

ZnStr ZnBaseName(const ZnStr& path) {
  if (path.length() == 0) return "";
  ZnStr text = DropTrailingSeparator(path);
  int pos;
  if (!FindLastSeparator(text, &pos)) return text;
  return text.from(pos + 1);
}

ZnStr ZnJoinPath(const ZnStr& dir, const ZnStr& name) {
  if (dir.length() == 0) return ZnStr(name.c_str());
  if (dir[dir.length() - 1] == '/') return dir + name;
  return dir + "/" + name;
}

ZnStr ZnJoinPathExt(const ZnStr& dir, const ZnStr& name, const ZnStr& ext) {
  return ZnJoinPath(dir, name + "." + ext);
}

void ZnSplitPath(const ZnStr& path, ZnStr* dir, ZnStr* name, ZnStr* ext) {
  if (dir != nullptr) *dir = "";
  if (name != nullptr) *name = "";
  if (ext != nullptr) *ext = "";
  ZnStr dirPart = ZnDirName(path);
  if (dir != nullptr) *dir = dirPart;
  ZnStr rest(path.c_str());
  if (dirPart.length() > 0) {
    rest.removeFirst(dirPart.c_str());
    if (rest.length() > 0 && rest[0] == '/') rest.remove(0, 1);
  }
  int dot;
  if (rest.findLastChar('.', &dot)) {
    if (name != nullptr) *name = rest.left(dot);
    if (ext != nullptr) *ext = rest.from(dot + 1);
  } else if (name != nullptr && rest.length() > 0) {
    *name = rest;
  }
}

ZnStr ZnCurrentDirectory() {
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr || buffer[0] != '/') {
    std::cerr << "Could not get absolute path of current working directory.\n";
    exit(1);
  }
  return buffer;
}

ZnStr ZnAbsolutePath(const ZnStr& path, const ZnStr& base) {
  ZnStr result;
  if (path.startsWithSlash()) {
    result = path;
  } else {
    // A relative base would be prefixed again at every step of the resolution
    // and never reach "/"; anchor it at the current directory first.
    ZnStr root = base;
    if (base.length() == 0) {
      root = ZnCurrentDirectory();
    } else if (!base.startsWithSlash()) {
      root = ZnJoinPath(ZnCurrentDirectory(), base);
    }
    result = root + "/" + path;
  }
  return ResolveAbsolute(result);
}
