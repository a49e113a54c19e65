#include "streams/ZnFilterPipe.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStrFunctions.h"
#include "system/ZnCleanup.h"
#include "system/ZnEnvironment.h"

namespace {

const int kPipePathSize = 81;

// A FIFO of ours under our name can only be left over from a process that had
// our id before and died with its stream open: live processes have distinct
// ids, and serials are never reused within one. Anything else is not ours to
// remove.
bool IsStaleOwnFifo(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == geteuid();
}

// Makes the FIFO and puts it on the clean-up list in one step with respect to
// an interrupt; the slot, or -1 when the list is full. Answers the error
// number, 0 on success.
int MakeFifo(const char* path, int* slot) {
  ZnBlockInterrupts();
  int error = 0;
  if (mkfifo(path, 0600) != 0) error = errno;
  if (error == EEXIST && IsStaleOwnFifo(path)) {
    error = 0;
    if (unlink(path) != 0 || mkfifo(path, 0600) != 0) error = errno;
  }
  if (error == 0) {
    struct stat st;
    *slot = lstat(path, &st) == 0 ? ZnCleanupAddFile(path, st.st_dev, st.st_ino) : -1;
  }
  ZnUnblockInterrupts();
  return error;
}

// SIGPIPE is ignored while at least one filter that we write to runs; see the
// header. `sigpipeChanged` remembers whether we were the ones to ignore it.
int sigpipeHolds = 0;
bool sigpipeChanged = false;

void HoldSigpipe() {
  if (sigpipeHolds++ > 0) return;
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
      current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
    sigpipeChanged = true;
  }
}

void ReleaseSigpipe() {
  if (sigpipeHolds == 0 || --sigpipeHolds > 0 || !sigpipeChanged) return;
  sigpipeChanged = false;
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
      current.sa_handler == SIG_IGN) {
    signal(SIGPIPE, SIG_DFL);
  }
}

}  // namespace

bool ZnFilterPipe::makePipe(const char* stem, int serial) {
  end();
  path_.reset(new char[kPipePathSize]);
  ZnSNPrintf(path_.get(), kPipePathSize, "%s/%s%d.%d", ZnTempDirectory(), stem, serial,
             static_cast<int>(getpid()));
  const int error = MakeFifo(path_.get(), &pipeSlot_);
  if (error == 0) {
    pipeMade_ = true;
    return true;
  }
  ZnReportError("%s", strerror(error));
  ZnReportError("Unable to create named pipe \"%s\".", path_.get());
  return false;
}

ZnFilterPipe::Outcome ZnFilterPipe::start(const char* script, int fileFd, int* ourSide) {
  *ourSide = -1;
  error_ = process_.start(script, path_.get(), fileFd, direction_);
  if (error_ != 0) return kCannotStart;
  if (!process_.connect()) {
    error_ = process_.error();
    return error_ != 0 ? kCannotOpenPipe : kEndedFirst;
  }
  *ourSide = process_.takeOurSide();
  if (*ourSide < 0) {
    error_ = process_.error();
    return kCannotOpenPipe;
  }
  if (direction_ == ZnFilterProcess::kToFilter) {
    HoldSigpipe();
    holdsSigpipe_ = true;
  }
  return kConnected;
}

void ZnFilterPipe::end() {
  process_.terminate();
  if (holdsSigpipe_) ReleaseSigpipe();
  holdsSigpipe_ = false;
  removePipe();
}

void ZnFilterPipe::removePipe() {
  // A signal between the two steps finds the name gone or taken by another
  // file, which the clean-up's identity check leaves alone.
  if (pipeMade_ && path_) unlink(path_.get());
  ZnCleanupRemoveFile(pipeSlot_);
  pipeSlot_ = -1;
  pipeMade_ = false;
  path_.reset();
}
