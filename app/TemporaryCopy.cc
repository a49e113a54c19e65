#include "app/TemporaryCopy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/ZnMessage.h"
#include "foundation/ZnSStream.h"
#include "system/ZnCleanup.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// How many names past the first a copy may try.
constexpr int kOtherNames = 100;

// The longest name the file system takes in the folder of `path`; -1 where
// it sets no limit or cannot tell.
long LongestName(const ZnStr& path) {
  const ZnStr folder = ZnDirName(path);
  return pathconf(folder.length() > 0 ? folder.c_str() : ".", _PC_NAME_MAX);
}

// The target's name, a dot and the process id, a compression extension
// kept last. Where that is longer than the folder takes, the target's name
// is cut short before the dot, at a character's start (a UTF-8 name stays
// one): the copy is still ours alone, whatever its name.
ZnStr CopyName(const ZnStr& target, int attempt, long longest) {
  ZnStr extension;
  const bool compressed = ZnFindCompressionExtension(target, &extension);
  std::string stem = (compressed ? target.dropRight(extension.length() + 1) : target).c_str();
  ZnOSStream tail;
  tail << "." << getpid();
  if (attempt > 0) tail << "-" << attempt;
  if (compressed) tail << "." << extension;
  const std::string suffix = tail.str();
  const std::size_t base = stem.rfind('/') == std::string::npos ? 0 : stem.rfind('/') + 1;
  if (longest > 0 && stem.size() - base + suffix.size() > static_cast<std::size_t>(longest)) {
    std::size_t keep =
        suffix.size() < static_cast<std::size_t>(longest) ? longest - suffix.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(stem[base + keep]) & 0xC0) == 0x80) --keep;
    stem.resize(base + keep);
  }
  return ZnStr((stem + suffix).c_str());
}

void ReportErrorNumber(int error) {
  char* text = ZnErrorText(error);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
}

}  // namespace

TemporaryCopy::~TemporaryCopy() { discard(); }

bool TemporaryCopy::NameFits(const ZnStr& path) {
  const long longest = LongestName(path);
  return longest <= 0 || ZnBaseName(path).length() <= longest;
}

bool TemporaryCopy::create(const ZnStr& target) {
  target_ = target;
  const long longest = LongestName(target);
  struct stat status;
  for (int attempt = 0; attempt <= kOtherNames; ++attempt) {
    name_ = CopyName(target, attempt, longest);
    // The checks that name the reason a user can mend (a folder without
    // write permission); their last line names the copy, which the user
    // never asked for.
    if (attempt == 0 && lstat(name_.c_str(), &status) != 0 && !ZnCanWrite(name_.c_str())) {
      ZnMessages.removeNewest();
      return false;
    }
    fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) break;
    if (errno != EEXIST) {
      ReportErrorNumber(errno);
      ZnReportError(ZnStr("Unable to create a file beside \"") + target + "\".");
      return false;
    }
  }
  if (fd_ < 0) {
    ZnReportError("Every name for a copy of \"%s\" is taken.", target.c_str());
    return false;
  }
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
    ZnReportError(ZnStr("The corrected copy was left as \"") + name_ + "\".");
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
