// What an interrupted run leaves behind, and the handler that removes it.
//
// Code that makes a file a user must never find half-done (a copy being
// written, a named pipe) registers it here, and code that starts a helper
// process registers the process, each for as long as it exists. When SIGINT,
// SIGTERM or SIGHUP arrives, the handler installed by
// ZnInstallInterruptHandlers() kills the registered processes, waits for them,
// removes the registered files, and then ends the process by that same signal,
// so that the shell that started us sees the real cause (status 128 + N).
//
// The tables are fixed in size and live in static storage: adding copies the
// path into its slot and marks the slot in use last; removing clears that mark
// first. The handler therefore only ever sees complete entries, allocates
// nothing and calls only async-signal-safe functions. A path is taken as it is
// at clean-up time, so a relative one must stay valid (no chdir meanwhile).
//
// Entries belong to the process that added them: a child made by fork()
// inherits the tables but never cleans up its parent's entries.
//
// Slots are returned as handles. A full table answers -1; the entry is then
// simply not cleaned up, which is no reason to fail the work it guards.
// Removing -1 is allowed and does nothing. Single-threaded, like the rest of
// the library; the handler is the only other party.
#ifndef HDRMEND_SYSTEM_ZNCLEANUP_H_
#define HDRMEND_SYSTEM_ZNCLEANUP_H_

#include <sys/types.h>

// Slots per table.
constexpr int kCleanupFileSlots = 32;
constexpr int kCleanupProcessSlots = 32;

// Registers a file to remove. -1 when the table is full or the path is null,
// empty or longer than PATH_MAX - 1.
int ZnCleanupAddFile(const char* path);
// The same, but the file is removed only if lstat() still shows that device
// and inode under the path, so that a file someone else put there since is
// left alone.
int ZnCleanupAddFile(const char* path, dev_t dev, ino_t ino);
void ZnCleanupRemoveFile(int slot);

// Registers a child process to kill. -1 when the table is full or pid <= 0.
int ZnCleanupAddProcess(pid_t pid);
void ZnCleanupRemoveProcess(int slot);

// Kills every registered process of this process with SIGKILL and waits for
// each, then removes every registered file. Async-signal-safe. An entry is
// acted on once; it stays registered until its owner removes it.
void ZnCleanupRun();

// Installs the clean-up handler for SIGINT, SIGTERM and SIGHUP, each only
// where its action is the default (a signal ignored under nohup stays
// ignored, a handler of the caller's own stays). The handler runs
// ZnCleanupRun() with all three held off, so that a second signal, which
// `timeout` and terminals send, waits for the clean-up instead of cutting it
// short (it takes milliseconds; SIGKILL remains for one that hangs). Then it
// resets the three to the default and ends the process by the signal that
// started it.
void ZnInstallInterruptHandlers();

// Blocks SIGINT, SIGTERM and SIGHUP until the matching unblock, for a short
// step that must happen whole with respect to a signal, such as renaming a
// finished file and removing its entry. Calls nest; the last unblock restores
// the mask the first block found.
void ZnBlockInterrupts();
void ZnUnblockInterrupts();

#endif  // HDRMEND_SYSTEM_ZNCLEANUP_H_
