#include "system/ZnCleanup.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// `inUse` is the only field the handler trusts on its own: it is set after the
// rest of the slot is written and cleared before the slot is given up, with a
// signal fence on each side so that the compiler keeps that order. `done`
// marks an entry the clean-up has already acted on, so that a second run
// neither removes a new file of the same name nor kills a recycled id.
struct FileSlot {
  volatile sig_atomic_t inUse;
  volatile sig_atomic_t done;
  bool checkIdentity;
  dev_t dev;
  ino_t ino;
  pid_t owner;
  char path[PATH_MAX];
};

struct ProcessSlot {
  volatile sig_atomic_t inUse;
  volatile sig_atomic_t done;
  pid_t pid;
  pid_t owner;
};

FileSlot fileSlots[kCleanupFileSlots];
ProcessSlot processSlots[kCleanupProcessSlots];

int blockDepth = 0;
sigset_t maskBeforeBlock;

void Publish(volatile sig_atomic_t* inUse) {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  *inUse = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void Withdraw(volatile sig_atomic_t* inUse) {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  *inUse = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

int AddFile(const char* path, bool checkIdentity, dev_t dev, ino_t ino) {
  if (path == nullptr || path[0] == '\0') return -1;
  size_t length = strlen(path);
  if (length >= sizeof fileSlots[0].path) return -1;
  for (int i = 0; i < kCleanupFileSlots; ++i) {
    FileSlot& slot = fileSlots[i];
    if (slot.inUse) continue;
    memcpy(slot.path, path, length + 1);
    slot.checkIdentity = checkIdentity;
    slot.dev = dev;
    slot.ino = ino;
    slot.owner = getpid();
    slot.done = 0;
    Publish(&slot.inUse);
    return i;
  }
  return -1;
}

void RemoveFileNow(FileSlot& slot) {
  if (slot.checkIdentity) {
    struct stat st;
    if (lstat(slot.path, &st) != 0 || st.st_dev != slot.dev || st.st_ino != slot.ino) return;
  }
  unlink(slot.path);
}

void InterruptHandler(int number) {
  // All three stay blocked, as the handler's mask has them, until the end: a
  // second signal cut the clean-up short once and left a named pipe in
  // /var/tmp behind, since `timeout` signals the command and then its whole
  // process group.
  ZnCleanupRun();
  struct sigaction defaults;
  memset(&defaults, 0, sizeof defaults);
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  for (int signal : kInterrupts) sigaction(signal, &defaults, nullptr);
  // Only this one is let through, so that the process ends by it whatever
  // else is pending.
  raise(number);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, number);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);
  // Not reached for these signals under their default action.
  _exit(128 + number);
}

}  // namespace

int ZnCleanupAddFile(const char* path) { return AddFile(path, false, 0, 0); }

int ZnCleanupAddFile(const char* path, dev_t dev, ino_t ino) {
  return AddFile(path, true, dev, ino);
}

void ZnCleanupRemoveFile(int slot) {
  if (slot < 0 || slot >= kCleanupFileSlots) return;
  Withdraw(&fileSlots[slot].inUse);
}

int ZnCleanupAddProcess(pid_t pid) {
  if (pid <= 0) return -1;
  for (int i = 0; i < kCleanupProcessSlots; ++i) {
    ProcessSlot& slot = processSlots[i];
    if (slot.inUse) continue;
    slot.pid = pid;
    slot.owner = getpid();
    slot.done = 0;
    Publish(&slot.inUse);
    return i;
  }
  return -1;
}

void ZnCleanupRemoveProcess(int slot) {
  if (slot < 0 || slot >= kCleanupProcessSlots) return;
  Withdraw(&processSlots[slot].inUse);
}

void ZnCleanupRun() {
  const pid_t self = getpid();
  // All are killed before any is waited for: a compressor may be waiting for
  // the end of input that only the death of another process brings.
  for (ProcessSlot& slot : processSlots) {
    if (!slot.inUse || slot.done || slot.owner != self) continue;
    kill(slot.pid, SIGKILL);
  }
  for (ProcessSlot& slot : processSlots) {
    if (!slot.inUse || slot.done || slot.owner != self) continue;
    // Waiting matters: a compressor still alive could create or write the
    // file that is removed next.
    while (waitpid(slot.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    slot.done = 1;
  }
  for (FileSlot& slot : fileSlots) {
    if (!slot.inUse || slot.done || slot.owner != self) continue;
    RemoveFileNow(slot);
    slot.done = 1;
  }
}

void ZnInstallInterruptHandlers() {
  struct sigaction handler;
  memset(&handler, 0, sizeof handler);
  handler.sa_handler = InterruptHandler;
  // While the clean-up runs, the other two wait (see InterruptHandler).
  sigemptyset(&handler.sa_mask);
  for (int signal : kInterrupts) sigaddset(&handler.sa_mask, signal);
  for (int signal : kInterrupts) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
    sigaction(signal, &handler, nullptr);
  }
}

void ZnBlockInterrupts() {
  if (blockDepth++ > 0) return;
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (int signal : kInterrupts) sigaddset(&interrupts, signal);
  sigprocmask(SIG_BLOCK, &interrupts, &maskBeforeBlock);
}

void ZnUnblockInterrupts() {
  if (blockDepth == 0 || --blockDepth > 0) return;
  sigprocmask(SIG_SETMASK, &maskBeforeBlock, nullptr);
}
