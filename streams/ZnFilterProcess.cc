#include "streams/ZnFilterProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "system/ZnCleanup.h"

extern char** environ;

namespace {

// How long to let a filter run between two looks at whether it ended before
// opening the pipe. Opening is normally at once; the backoff keeps a slow
// start from costing much.
const long kFirstPauseNs = 100 * 1000L;
const long kLongestPauseNs = 20 * 1000 * 1000L;

void Pause(long* pauseNs) {
  struct timespec duration = {0, *pauseNs};
  nanosleep(&duration, nullptr);
  *pauseNs = *pauseNs * 2 > kLongestPauseNs ? kLongestPauseNs : *pauseNs * 2;
}

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

int ZnFilterProcess::start(const char* script, const char* arg1, const char* arg2,
                           const char* pipePath, Direction direction) {
  const char* args[] = {arg1, arg2, nullptr};
  return spawn(script, args, pipePath, -1, direction);
}

int ZnFilterProcess::start(const char* script, const char* pipePath, int fileFd,
                           Direction direction) {
  if (fileFd < 0) return EBADF;
  const char* args[] = {pipePath, nullptr};
  if (fileFd > STDERR_FILENO) return spawn(script, args, pipePath, fileFd, direction);
  // With a standard descriptor closed, a file may have been opened as one;
  // moved out of the way, it cannot be overwritten or left close-on-exec by
  // the child's own redirections.
  const int moved = fcntl(fileFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return errno;
  const int result = spawn(script, args, pipePath, moved, direction);
  close(moved);
  return result;
}

int ZnFilterProcess::spawn(const char* script, const char* const* args, const char* pipePath,
                           int fileFd, Direction direction) {
  terminate();
  pid_ = -1;
  ended_ = false;
  statusKnown_ = false;
  status_ = 0;
  error_ = 0;
  direction_ = direction;
  pipePath_ = pipePath;

  if (direction == kFromFilter) {
    // Our reading side exists before the filter does, so its open for writing
    // never waits, and a later hang-up on the pipe can only be the filter's.
    holdRead_ = open(pipePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (holdRead_ < 0) return errno;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (fileFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, fileFd,
                                     direction == kToFilter ? STDOUT_FILENO : STDIN_FILENO);
  }
  // A descriptor of another stream's pipe inherited by this filter would keep
  // that pipe open, and the other filter would never see the end of its input.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t noneBlocked;
  sigemptyset(&noneBlocked);
  posix_spawnattr_setsigmask(&attributes, &noneBlocked);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  const char* argv[] = {"sh", "-c", script, "sh", args[0], args[1], nullptr};
  pid_t pid;
  // An interrupt between the start and the registration would leave the
  // filter running.
  ZnBlockInterrupts();
  int result =
      posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), environ);
  if (result == 0) cleanupSlot_ = ZnCleanupAddProcess(pid);
  ZnUnblockInterrupts();
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    CloseFd(&holdRead_);
    return result;
  }
  pid_ = pid;
  return 0;
}

bool ZnFilterProcess::connect() {
  if (!running()) return false;
  return direction_ == kToFilter ? connectToReader() : connectToWriter();
}

// The filter reads. A non-blocking open for writing fails with ENXIO until
// some process has the pipe open for reading, and nobody but the filter can.
bool ZnFilterProcess::connectToReader() {
  long pauseNs = kFirstPauseNs;
  for (;;) {
    int fd = open(pipePath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      // Keeping this writer open stops the filter from meeting the end of its
      // input before our real writer arrives; holding a reader too lets that
      // writer's blocking open through even if the filter dies meanwhile.
      holdWrite_ = fd;
      holdRead_ = open(pipePath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (holdRead_ >= 0) return true;
      error_ = errno;
      terminate();
      return false;
    }
    if (errno != ENXIO && errno != EINTR) {
      error_ = errno;
      terminate();
      return false;
    }
    if (reap(false)) return false;
    Pause(&pauseNs);
  }
}

// The filter writes. Our reading side, open since before the filter started,
// turns readable when data arrives and reports a hang-up once a writer has
// come and gone; either shows that the filter opened the pipe. A filter that
// ends with neither never opened it.
bool ZnFilterProcess::connectToWriter() {
  struct pollfd watch = {holdRead_, POLLIN, 0};
  for (;;) {
    watch.revents = 0;
    int ready = poll(&watch, 1, static_cast<int>(kLongestPauseNs / 1000000L));
    if (ready < 0 && errno != EINTR) {
      error_ = errno;
      terminate();
      return false;
    }
    bool opened = ready > 0 && watch.revents != 0;
    if (!opened && reap(false)) {
      // It may have written, closed and ended between the two looks.
      watch.revents = 0;
      opened = poll(&watch, 1, 0) > 0 && watch.revents != 0;
      if (!opened) {
        CloseFd(&holdRead_);
        return false;
      }
    }
    if (opened) {
      // A writer of our own lets the stream's blocking open for reading
      // through at once, even when the filter has already closed its side.
      holdWrite_ = open(pipePath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (holdWrite_ >= 0) return true;
      error_ = errno;
      terminate();
      return false;
    }
  }
}

int ZnFilterProcess::takeOurSide() {
  int* ours = direction_ == kToFilter ? &holdWrite_ : &holdRead_;
  if (!running() || *ours < 0) return -1;
  const int fd = *ours;
  *ours = -1;
  releasePipe();
  // Opened without blocking only so that connecting could not hang.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error_ = errno;
    close(fd);
    terminate();
    return -1;
  }
  return fd;
}

void ZnFilterProcess::releasePipe() {
  CloseFd(&holdWrite_);
  CloseFd(&holdRead_);
}

bool ZnFilterProcess::reap(bool block) {
  if (pid_ <= 0 || ended_) return ended_;
  if (block) {
    // Waiting without collecting the status leaves interrupts free for as
    // long as the filter runs; only the collection below is kept whole.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
  }
  // Once collected, the id may be given to another process: it leaves the
  // clean-up list in the same step, before a handler could kill it.
  ZnBlockInterrupts();
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid_, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == pid_) {
    status_ = status;
    statusKnown_ = true;
    ended_ = true;
  } else if (result < 0) {
    // ECHILD: the child is gone but its status went elsewhere (SIGCHLD set to
    // be ignored reaps children on their own). It ended; how is unknown.
    ended_ = true;
  }
  if (ended_) {
    ZnCleanupRemoveProcess(cleanupSlot_);
    cleanupSlot_ = -1;
  }
  ZnUnblockInterrupts();
  return ended_;
}

bool ZnFilterProcess::succeeded(bool brokenPipeIsSuccess) const {
  if (pid_ <= 0) return true;
  if (!statusKnown_) return false;
  if (WIFEXITED(status_)) return WEXITSTATUS(status_) == 0;
  return brokenPipeIsSuccess && WIFSIGNALED(status_) && WTERMSIG(status_) == SIGPIPE;
}

bool ZnFilterProcess::finish(bool brokenPipeIsSuccess) {
  releasePipe();
  reap(true);
  return succeeded(brokenPipeIsSuccess);
}

bool ZnFilterProcess::endedBadly(bool brokenPipeIsSuccess) {
  return reap(false) && !succeeded(brokenPipeIsSuccess);
}

void ZnFilterProcess::terminate() {
  releasePipe();
  if (running()) {
    kill(pid_, SIGTERM);
    reap(true);
  }
}
