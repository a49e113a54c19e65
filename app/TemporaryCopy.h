// The corrected copy of a recording while it is made: a new file beside the
// recording that is ours alone until it replaces the recording.
//
// The copy is created exclusively (O_CREAT | O_EXCL | O_NOFOLLOW, mode 0600),
// so nothing that stands at its name, a link someone planted there included,
// is followed, changed or removed; a name that is taken makes way for the
// next free one. Everything after creation happens on the descriptor: the
// writing (a compressor gets it as its output), the recording's permission
// bits, owner and group, the flush to disk. Until the rename the copy is
// registered for removal should the run be interrupted (SIGINT, SIGTERM,
// SIGHUP), and a failed run removes it only while its name still leads to
// the file created here.
//
// Failures are reported through the message list and answered with false.
#ifndef HDRMEND_APP_TEMPORARYCOPY_H_
#define HDRMEND_APP_TEMPORARYCOPY_H_

#include <sys/stat.h>

#include "foundation/ZnStr.h"

class TemporaryCopy {
 public:
  TemporaryCopy() = default;
  // Removes a copy that was not committed.
  ~TemporaryCopy();
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;

  // Whether the last part of `path` is no longer than the file system takes
  // in its folder (fpathconf's _PC_NAME_MAX).
  static bool NameFits(const ZnStr& path);

  // Creates the copy for `target`: the target's name, a dot and the process
  // id, with a compression extension kept last (take.raw.4711,
  // take.raw.4711.gz); when that name is taken, the same with "-1", "-2", ...
  // after the process id. Where such a name would be longer than the folder
  // takes, the target's name is cut short in it. Messages: the reason
  // ZnCanWrite() gives for the folder ("Insufficient access to create file
  // in \"<folder>\".  Check permissions."); the system's reason and "Unable
  // to create a file beside \"<target>\"."; "Every name for a copy of
  // \"<target>\" is taken.".
  bool create(const ZnStr& target);

  // Gives the copy the permission bits of `like`, and its owner and group
  // where that is allowed, then flushes it to disk. Message: "Unable to flush
  // \"<copy>\" to disk: <reason>.".
  bool finish(const struct stat& like);

  // Renames the copy over the target, with interrupts held off so that the
  // copy is either still registered for removal or already the recording.
  // On failure prints "<program>:rename <copy> to <target>: <reason>" (as
  // perror does), reports "The corrected copy was left as \"<copy>\"." and
  // answers false; the complete copy stays.
  bool commit(const char* program);

  // Removes the copy, if it is still the file created here.
  void discard();

  int fd() const { return fd_; }
  const ZnStr& name() const { return name_; }

 private:
  void forget();

  ZnStr target_;
  ZnStr name_;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int cleanupSlot_ = -1;
};

#endif  // HDRMEND_APP_TEMPORARYCOPY_H_
