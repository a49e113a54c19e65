// Questions about files, the checks made before a file is opened, and small
// file-system operations.
//
// The plain tests answer true or false and report nothing; those that read the
// file status follow symbolic links. ZnCanRead(), ZnCanWrite() and ZnCopyFile()
// explain a failure through the message list (ZnReportError): first the
// reason, then a line that names the path. Everything else reports nothing and
// answers false, 0 or an empty string. A null path is taken as "" (a file that
// does not exist).
#ifndef HDRMEND_SYSTEM_ZNFILEUTILS_H_
#define HDRMEND_SYSTEM_ZNFILEUTILS_H_

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "foundation/ZnStr.h"

// access() with F_OK, R_OK, W_OK, X_OK.
bool ZnFileExists(const char* path);
bool ZnIsReadable(const char* path);
bool ZnIsWritable(const char* path);
bool ZnIsExecutable(const char* path);
// From the file status: a directory; a named pipe; a directory, regular file,
// block device or socket (not a pipe or character device); a regular file with
// the owner-execute bit.
bool ZnIsDirectory(const char* path);
bool ZnIsNamedPipe(const char* path);
bool ZnIsFileOrDirectory(const char* path);
bool ZnIsExecutableFile(const char* path);
// Size in bytes, 0 when the status cannot be read.
int64_t ZnFileSize(const char* path);

// unlink, rmdir, chdir: true on success. ZnOpenFile is fopen, unchanged.
bool ZnRemoveFile(const char* path);
bool ZnRemoveDirectory(const ZnStr& path);
bool ZnChangeDirectory(const ZnStr& path);
FILE* ZnOpenFile(const char* path, const char* mode);

// May the file be opened for reading? Reports why not:
//   a directory:       path + " is a directory."
//   missing:           "File does not exist.", "Unable to open \"<path>\"."
//   no read access:    "Insufficient access to read file.  Check permissions.",
//                      "Unable to read \"<path>\"."
// Any other open failure answers true; the caller's open meets it again.
bool ZnCanRead(const char* path);

// May the file be created or overwritten? Reports why not, then
// "File \"<path>\" is unwritable.":
//   a directory:             "File is a directory."
//   read-only file:          "Insufficient access to write to existing file.  Check permissions."
//   parent not writable:     "Insufficient access to create file in \"<parent>\".  Check
//   permissions." parent missing:          "Parent directory \"<parent>\" does not exist."
// A name without "/" lives in the current directory.
bool ZnCanWrite(const char* path);

// ZnCanRead of ZnCompressedVariant(path): a plain name also passes when only
// its ".gz" or ".Z" form exists.
bool ZnCanReadCompressed(const char* path);

// Creates the directory and any missing parents (mode 0777 less the umask).
// True when the path is a directory afterwards. On failure *failureText (when
// given) says why: "<path> already exists, but is not a directory.",
// "<parent> is not writable.", "<path> already exists." or
// "<path> <system error text>".
bool ZnMakeDirectory(const ZnStr& path, ZnStr* failureText = nullptr);

// Copies source to destination (created 0644, or truncated). Reports
// "Couldn't open <source>", "Couldn't create <destination>",
// "Couldn't read <source>" or "Couldn't write <destination>" and answers false
// on failure. Copying a file onto itself is refused ("Couldn't copy <source>
// onto itself") because truncating the destination would destroy the source.
bool ZnCopyFile(const char* source, const char* destination);

// The running program's path from /proc/self/exe. When the link cannot be read,
// writes "Unable to read link /proc/self/exe" on std::cerr and returns "".
ZnStr ZnExecutablePath();

// Modification time (seconds since the epoch) of a file that can be opened for
// reading; 0 otherwise. With allowCompressed, a plain name whose ".gz" or ".Z"
// form is what exists gives that file's time.
time_t ZnFileModificationTime(const char* path, bool allowCompressed);

#endif  // HDRMEND_SYSTEM_ZNFILEUTILS_H_
