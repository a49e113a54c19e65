#include "system/ZnFileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "foundation/ZnMessage.h"
#include "system/ZnPathUtils.h"

namespace {

const char* OrEmpty(const char* path) { return path != nullptr ? path : ""; }

bool ModeOf(const char* path, mode_t* mode) {
  struct stat st;
  if (stat(OrEmpty(path), &st) != 0) return false;
  *mode = st.st_mode;
  return true;
}

// The directory that would hold a new file at path.
ZnStr ParentForNewFile(const char* path) {
  ZnStr full(path);
  if (!full.findChar('/')) {
    char cwd[4097];
    if (getcwd(cwd, sizeof cwd) != nullptr) {
      ZnStr dir(cwd);
      full = dir.endsWith("/") ? dir + full : dir + "/" + full;
    } else {
      // The current directory cannot be named (it was removed, or its path is
      // too long), but it can still be asked about as ".".
      full = "./" + full;
    }
  }
  ZnStr parent = ZnDirName(full);
  return parent.length() == 0 ? ZnStr("/") : parent;
}

// Writes all n bytes unless the file refuses them.
bool WriteAll(int fd, const char* data, ssize_t n) {
  while (n > 0) {
    ssize_t written = write(fd, data, static_cast<size_t>(n));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

}  // namespace

bool ZnFileExists(const char* path) { return access(OrEmpty(path), F_OK) == 0; }
bool ZnIsReadable(const char* path) { return access(OrEmpty(path), R_OK) == 0; }
bool ZnIsWritable(const char* path) { return access(OrEmpty(path), W_OK) == 0; }
bool ZnIsExecutable(const char* path) { return access(OrEmpty(path), X_OK) == 0; }

bool ZnIsDirectory(const char* path) {
  mode_t mode;
  return ModeOf(path, &mode) && (mode & 0x4000) != 0;
}

bool ZnIsNamedPipe(const char* path) {
  mode_t mode;
  return ModeOf(path, &mode) && (mode & 0x1000) != 0;
}

bool ZnIsFileOrDirectory(const char* path) {
  mode_t mode;
  return ModeOf(path, &mode) && (mode & 0xc000) != 0;
}

bool ZnIsExecutableFile(const char* path) {
  mode_t mode;
  return ModeOf(path, &mode) && (mode & 0xf040) == 0x8040;
}

int64_t ZnFileSize(const char* path) {
  struct stat st;
  if (stat(OrEmpty(path), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

bool ZnRemoveFile(const char* path) { return unlink(OrEmpty(path)) == 0; }
bool ZnRemoveDirectory(const ZnStr& path) { return rmdir(path.c_str()) == 0; }
bool ZnChangeDirectory(const ZnStr& path) { return chdir(path.c_str()) == 0; }
FILE* ZnOpenFile(const char* path, const char* mode) { return fopen(path, mode); }

bool ZnCanRead(const char* path) {
  path = OrEmpty(path);
  // Without O_NONBLOCK, opening a FIFO that has no writer would wait for one
  // for good.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    bool isDirectory = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    close(fd);
    if (isDirectory) {
      ZnReportError(ZnStr(path) + " is a directory.");
      return false;
    }
    return true;
  }
  if (!ZnFileExists(path)) {
    ZnReportError("File does not exist.");
    ZnReportError("Unable to open \"%s\".", path);
    return false;
  }
  if (!ZnIsReadable(path)) {
    ZnReportError("Insufficient access to read file.  Check permissions.");
    ZnReportError("Unable to read \"%s\".", path);
    return false;
  }
  if (ZnIsDirectory(path)) {
    ZnReportError("File is a directory.");
    ZnReportError("Unable to read \"%s\".", path);
    return false;
  }
  return true;
}

bool ZnCanWrite(const char* path) {
  path = OrEmpty(path);
  if (ZnFileExists(path)) {
    if (ZnIsDirectory(path)) {
      ZnReportError("File is a directory.");
    } else if (ZnIsWritable(path)) {
      return true;
    } else {
      ZnReportError("Insufficient access to write to existing file.  Check permissions.");
    }
    ZnReportError("File \"%s\" is unwritable.", path);
    return false;
  }
  ZnStr parent = ParentForNewFile(path);
  if (ZnFileExists(parent.c_str())) {
    if (ZnIsWritable(parent.c_str())) return true;
    ZnReportError("Insufficient access to create file in \"%s\".  Check permissions.",
                  parent.c_str());
  } else {
    ZnReportError("Parent directory \"%s\" does not exist.", parent.c_str());
  }
  ZnReportError("File \"%s\" is unwritable.", path);
  return false;
}

bool ZnCanReadCompressed(const char* path) {
  return ZnCanRead(ZnCompressedVariant(OrEmpty(path)).c_str());
}

bool ZnMakeDirectory(const ZnStr& path, ZnStr* failureText) {
  if (ZnFileExists(path.c_str())) {
    if (ZnIsDirectory(path.c_str())) return true;
    if (failureText != nullptr) *failureText = path + " already exists, but is not a directory.";
    return false;
  }
  ZnStr parent = ZnDirName(path);
  if (parent.length() > 0 && !ZnMakeDirectory(parent, failureText)) return false;
  if (mkdir(path.c_str(), 0777) != 0 && failureText != nullptr) {
    int error = errno;
    if (error == EACCES) {
      // A single relative component is made in the current directory.
      *failureText = (parent.length() > 0 ? parent : ZnStr(".")) + " is not writable.";
    } else if (error == EEXIST) {
      *failureText = path + " already exists.";
    } else {
      *failureText = path + " " + strerror(error);
    }
  }
  // Another process may have made it meanwhile; what counts is the outcome.
  return ZnIsDirectory(path.c_str());
}

bool ZnCopyFile(const char* source, const char* destination) {
  source = OrEmpty(source);
  destination = OrEmpty(destination);
  int in = open(source, O_RDONLY);
  if (in < 0) {
    ZnReportError(ZnStr("Couldn't open ") + source);
    return false;
  }
  struct stat sourceStat;
  struct stat destinationStat;
  if (fstat(in, &sourceStat) == 0 && stat(destination, &destinationStat) == 0 &&
      sourceStat.st_dev == destinationStat.st_dev && sourceStat.st_ino == destinationStat.st_ino) {
    close(in);
    ZnReportError(ZnStr("Couldn't copy ") + source + " onto itself");
    return false;
  }
  int out = creat(destination, 0644);
  if (out < 0) {
    close(in);
    ZnReportError(ZnStr("Couldn't create ") + destination);
    return false;
  }
  const size_t kBlock = 65536;
  std::unique_ptr<char[]> block(new char[kBlock]);
  bool writeFailed = false;
  ssize_t n;
  for (;;) {
    n = read(in, block.get(), kBlock);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // A failed block is not retried, but the rest still gets its chance, so
    // the destination holds as much of the source as could be written.
    if (!WriteAll(out, block.get(), n)) writeFailed = true;
  }
  close(in);
  // A late write error (a full disk over NFS) only shows at close.
  if (close(out) != 0) writeFailed = true;
  if (n < 0) ZnReportError(ZnStr("Couldn't read ") + source);
  if (writeFailed) ZnReportError(ZnStr("Couldn't write ") + destination);
  return n == 0 && !writeFailed;
}

ZnStr ZnExecutablePath() {
  const char* link = "/proc/self/exe";
  size_t size = 10;
  for (;;) {
    std::unique_ptr<char[]> buffer(new char[size]());
    ssize_t n = readlink(link, buffer.get(), size);
    if (n < 0) {
      std::cerr << "Unable to read link " << link << "\n";
      return "";
    }
    // A full buffer may hold a cut-off name; only a shorter answer is whole.
    if (static_cast<size_t>(n) < size) return ZnStr(buffer.get(), static_cast<int>(n));
    size *= 2;
  }
}

time_t ZnFileModificationTime(const char* path, bool allowCompressed) {
  ZnStr name(OrEmpty(path));
  if (allowCompressed) name = ZnCompressedVariant(name);
  std::ifstream file(name.c_str());
  if (!file) return 0;
  file.close();
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return 0;
  return st.st_mtime;
}
