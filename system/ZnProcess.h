// Process and machine queries, system error texts, and a shell command run in
// a terminal window.
//
// ZnErrorText() returns a malloc() copy that the caller releases with free().
// Only ZnRunInTerminal() reports through the message list.
#ifndef HDRMEND_SYSTEM_ZNPROCESS_H_
#define HDRMEND_SYSTEM_ZNPROCESS_H_

#include <sys/types.h>

#include "foundation/ZnStr.h"

// The system's description of an error number, as a malloc() copy.
char* ZnErrorText(int error);

// Whether a process with this id exists (kill with signal 0). Ids 0 and
// below name process groups, not processes, and answer false.
bool ZnProcessExists(pid_t pid);

// Reads the first line of /proc/sys/kernel/random/boot_id (at most size - 1
// characters, newline included when it fits) into buffer, NUL-terminated.
// Returns its length, or 0 when the file cannot be read or size < 2.
int ZnReadBootId(char* buffer, int size);

// Configured processors.
int ZnProcessorCount();
// Clock ticks per second, the unit of ZnSleepUnits(); -1 when unknown.
long ZnUnitsPerSecond();
// Sleeps n clock ticks; the result of nanosleep (0, or -1 with errno set,
// EINVAL for a negative n or an unknown tick rate).
int ZnSleepUnits(int n);

// Looks up the effective user. False when the password database has no entry;
// otherwise stores the login name and the comment (real name) field into the
// outputs that are given.
bool ZnCurrentUser(ZnStr* name = nullptr, ZnStr* realName = nullptr);

// The shell text that ZnRunInTerminal() runs:
//   rxvt [-title "<title>" ][-n "<iconTitle>" ]-e sh -c '<command>;echo "Command COMPLETE";read' &
// Title and icon title reach rxvt as they are, and the command reaches the
// inner shell as it is, whatever quotes, "$" or backquotes they hold: the
// texts are escaped for the quotes they stand in.
ZnStr ZnTerminalCommand(const char* command, const char* title = nullptr,
                        const char* iconTitle = nullptr);

// Starts ZnTerminalCommand() in the background through the shell and returns
// at once; the window waits for Enter after "Command COMPLETE". Reports
// "The command \"rxvt\" is required for this operation.  Install and try
// again." when rxvt is not on the search path, and "Unable to execute
// command." when the shell cannot be started.
void ZnRunInTerminal(const char* command, const char* title = nullptr,
                     const char* iconTitle = nullptr);

#endif  // HDRMEND_SYSTEM_ZNPROCESS_H_
