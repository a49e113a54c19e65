#include "app/SourceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "foundation/ZnMessage.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// Refuses anything but a regular file, naming what it is.
bool Regular(const ZnStr& path, const struct stat& status) {
  if (S_ISREG(status.st_mode)) return true;
  if (S_ISDIR(status.st_mode)) {
    // The text the file checks have always given a directory.
    ZnReportError("%s is a directory.", path.c_str());
    return false;
  }
  const char* kind = S_ISFIFO(status.st_mode)   ? "a named pipe"
                     : S_ISCHR(status.st_mode)  ? "a character device"
                     : S_ISBLK(status.st_mode)  ? "a block device"
                     : S_ISSOCK(status.st_mode) ? "a socket"
                                                : "a special file";
  ZnReportError("\"%s\" is %s, not a regular file.", path.c_str(), kind);
  return false;
}

void ReportErrorNumber(int error) {
  char* text = ZnErrorText(error);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
}

}  // namespace

ZnStr SourceFile::Followed(const char* path) {
  struct stat status;
  if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) return ZnStr(resolved);
  }
  return ZnStr(path);
}

SourceFile::~SourceFile() {
  if (fd_ >= 0) ::close(fd_);
  if (secondFd_ >= 0) ::close(secondFd_);
}

bool SourceFile::open(const ZnStr& name) {
  struct stat status;
  // A link that leads nowhere is not a name that does not exist: reading its
  // compressed form would replace the link by a regular file.
  if (lstat(name.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
      stat(name.c_str(), &status) != 0) {
    ReportErrorNumber(errno);
    char target[PATH_MAX + 1] = {};
    const ssize_t length = readlink(name.c_str(), target, PATH_MAX);
    ZnReportError(ZnStr("\"") + name + "\" is a symbolic link to \"" +
                  (length > 0 ? ZnStr(target, static_cast<int>(length)) : ZnStr("")) +
                  "\", which cannot be followed.");
    return false;
  }
  path_ = ZnCompressedVariant(name);
  // Looked at before anything opens it: opening a named pipe could block.
  if (stat(path_.c_str(), &status) == 0 && !Regular(path_, status)) return false;
  if (!ZnCanRead(path_.c_str())) return false;
  // Not blocking, in case the name now leads elsewhere; checked once more on
  // the descriptor, which is what every pass reads.
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  fd_ = -1;
  if (noAccessTime_) fd_ = ::open(path_.c_str(), flags | O_NOATIME);
  if (fd_ < 0) fd_ = ::open(path_.c_str(), flags);
  if (fd_ < 0) {
    ReportErrorNumber(errno);
    ZnReportError("Unable to open \"%s\".", path_.c_str());
    return false;
  }
  if (fstat(fd_, &status_) != 0 || !Regular(path_, status_)) return false;
  const int mode = fcntl(fd_, F_GETFL);
  if (mode >= 0) fcntl(fd_, F_SETFL, mode & ~O_NONBLOCK);
  return true;
}

std::unique_ptr<ZrRDFileReader> SourceFile::reader() {
  // Each pass reads from the start; its stream shares the file offset.
  lseek(fd_, 0, SEEK_SET);
  return std::make_unique<ZrRDFileReader>(fd_, path_.c_str());
}

std::unique_ptr<ZrRDFileReader> SourceFile::secondReader() {
  if (secondFd_ < 0) {
    // The same file, not the same name: opened again through the descriptor.
    const std::string opened = "/proc/self/fd/" + std::to_string(fd_);
    secondFd_ = -1;
    if (noAccessTime_) secondFd_ = ::open(opened.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NOATIME);
    if (secondFd_ < 0) secondFd_ = ::open(opened.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    if (secondFd_ >= 0 &&
        (fstat(secondFd_, &status) != 0 || status.st_ino != status_.st_ino ||
         status.st_dev != status_.st_dev)) {
      ::close(secondFd_);
      secondFd_ = -1;
    }
  }
  if (secondFd_ < 0) return nullptr;
  lseek(secondFd_, 0, SEEK_SET);
  return std::make_unique<ZrRDFileReader>(secondFd_, path_.c_str());
}

ZrRDBytesAt SourceFile::bytesAt() const {
  const int fd = fd_;
  return [fd](int64_t offset, std::size_t n, char* out) -> int64_t {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = pread(fd, out + done, n - done, static_cast<off_t>(offset) + done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return -1;
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<int64_t>(done);
  };
}
