#include "app/TemporaryCopy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnMessage.h"
#include "foundation/ZnSStream.h"
#include "system/ZnCleanup.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// How many names past the first a copy may try.
constexpr int kOtherNames = 100;

ZnStr CopyName(const ZnStr& target, int attempt) {
  ZnStr extension;
  const bool compressed = ZnFindCompressionExtension(target, &extension);
  ZnOSStream os;
  os << (compressed ? target.dropRight(extension.length() + 1) : target) << "." << getpid();
  if (attempt > 0) os << "-" << attempt;
  if (compressed) os << "." << extension;
  return ZnStr(os.str());
}

void ReportErrorNumber(int error) {
  char* text = ZnErrorText(error);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
}

}  // namespace

TemporaryCopy::~TemporaryCopy() { discard(); }

bool TemporaryCopy::create(const ZnStr& target) {
  target_ = target;
  for (int attempt = 0; attempt <= kOtherNames; ++attempt) {
    name_ = CopyName(target, attempt);
    // The checks that name the reason a user can mend (a directory without
    // write permission, one that does not exist).
    if (attempt == 0 && !ZnCanWrite(name_.c_str())) return false;
    fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) break;
    if (errno != EEXIST) {
      ReportErrorNumber(errno);
      ZnReportError("Unable to open \"%s\".", name_.c_str());
      return false;
    }
  }
  if (fd_ < 0) {
    ZnReportError("Every name for a copy of \"%s\" is taken.", target.c_str());
    return false;
  }
  struct stat status;
  if (fstat(fd_, &status) == 0) {
    device_ = status.st_dev;
    inode_ = status.st_ino;
    cleanupSlot_ = ZnCleanupAddFile(name_.c_str(), device_, inode_);
  }
  return true;
}

bool TemporaryCopy::finish(const struct stat& like) {
  // The owner first: changing it may clear set-id bits that the mode then
  // puts back. Without the privilege to give the file away, the group alone
  // may still be ours to set; failing both is no reason to give up.
  if (fchown(fd_, like.st_uid, like.st_gid) != 0 &&
      fchown(fd_, static_cast<uid_t>(-1), like.st_gid) != 0) {
  }
  if (fchmod(fd_, like.st_mode & 07777) != 0 || fsync(fd_) != 0) {
    ZnReportError("Unable to flush \"%s\" to disk: %s.", name_.c_str(), strerror(errno));
    return false;
  }
  return true;
}

bool TemporaryCopy::commit(const char* program) {
  ZnBlockInterrupts();
  const bool renamed = rename(name_.c_str(), target_.c_str()) == 0;
  const int error = errno;
  if (renamed) forget();
  ZnUnblockInterrupts();
  if (!renamed) {
    ZnOSStream text;
    text << program << ":rename " << name_ << " to " << target_;
    errno = error;
    perror(text.str());
    // The complete copy is left for the user; it is no longer ours to remove.
    forget();
  }
  return renamed;
}

void TemporaryCopy::discard() {
  if (fd_ < 0) return;
  // Only the file made here: a name someone moved something else to stays.
  struct stat status;
  if (lstat(name_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_) {
    unlink(name_.c_str());
  }
  forget();
}

void TemporaryCopy::forget() {
  if (cleanupSlot_ >= 0) ZnCleanupRemoveFile(cleanupSlot_);
  cleanupSlot_ = -1;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}
