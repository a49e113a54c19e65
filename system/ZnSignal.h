// A fatal-signal reporter: names the signal on the standard error stream and
// aborts. Nothing installs it unless ZnInstallSignalHandlers() is called.
#ifndef HDRMEND_SYSTEM_ZNSIGNAL_H_
#define HDRMEND_SYSTEM_ZNSIGNAL_H_

#include <csignal>

// Installs ZnSignalHandler with signal() for SIGQUIT, SIGILL, SIGABRT, SIGFPE,
// SIGBUS, SIGSEGV and SIGKILL (which the system refuses); unless crashOnly,
// also for SIGHUP, SIGINT, SIGSEGV, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1,
// SIGUSR2, SIGCHLD, SIGCONT, SIGSTOP (refused), SIGTSTP, SIGTTIN and SIGTTOU.
// Returns what the last signal() call returned: SIG_ERR with crashOnly.
// Without crashOnly every one of these signals ends the process, SIGCHLD from
// any finished child and SIGPIPE from a filter that dies included.
sighandler_t ZnInstallSignalHandlers(bool crashOnly);

// Writes "signal caught: " and a newline, then the signal's name line (for
// example "Terminated" for 15; nothing for numbers without a name), to the
// standard error stream, and aborts. Never returns. The abort that follows is
// not reported a second time.
[[noreturn]] void ZnSignalHandler(int number);

#endif  // HDRMEND_SYSTEM_ZNSIGNAL_H_
