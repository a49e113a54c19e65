#include "app/SourceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace

SourceFile::~SourceFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool SourceFile::open(const ZnStr& name) {
  path_ = ZnCompressedVariant(name);
  struct stat status;
  // Looked at before anything opens it: opening a named pipe could block.
  if (stat(path_.c_str(), &status) == 0 && !Regular(path_, status)) return false;
  if (!ZnCanRead(path_.c_str())) return false;
  // Not blocking, in case the name now leads elsewhere; checked once more on
  // the descriptor, which is what every pass reads.
  fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    char* text = ZnErrorText(error);
    ZnReportError("%s.", text != nullptr ? text : "Unknown error");
    free(text);
    ZnReportError("Unable to open \"%s\".", path_.c_str());
    return false;
  }
  if (fstat(fd_, &status_) != 0 || !Regular(path_, status_)) return false;
  const int flags = fcntl(fd_, F_GETFL);
  if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  return true;
}

std::unique_ptr<ZrRDFileReader> SourceFile::reader() {
  // Each pass reads from the start; its stream shares the file offset.
  lseek(fd_, 0, SEEK_SET);
  return std::make_unique<ZrRDFileReader>(fd_, path_.c_str());
}
