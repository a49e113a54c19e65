#include "system/ZnSignal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* SignalText(int number) {
  switch (number) {
    case 1:
      return "hangup\n";
    case 2:
      return "interrupt (rubout)\n";
    case 3:
      return "quit (ASCII FS)\n";
    case 4:
      return "illegal instruction\n";
    case 6:
      return "Abort\n";
    case 8:
      return "Arithmetic Exception\n";
    case 9:
      return "Killed\n";
    case 10:
      return "User Signal 1\n";
    case 11:
      return "Segmentation Fault\n";
    case 12:
      return "User Signal 2\n";
    case 13:
      return "Broken Pipe\n";
    case 14:
      return "Alarm Clock\n";
    case 15:
      return "Terminated\n";
    case 17:
      return "Child Status Changed\n";
    case 18:
      return "Continued\n";
    case 19:
    case 20:
    case 21:
    case 22:
      return "Stopped\n";
    default:
      return nullptr;
  }
}

// write(2) rather than std::cerr: the handler may interrupt the stream itself,
// and a stream lock held by the interrupted code would hang the report.
void WriteError(const char* text) {
  size_t n = strlen(text);
  while (n > 0) {
    ssize_t written = write(STDERR_FILENO, text, n);
    if (written <= 0) return;
    text += written;
    n -= static_cast<size_t>(written);
  }
}

}  // namespace

sighandler_t ZnInstallSignalHandlers(bool crashOnly) {
  const int crashSignals[] = {SIGQUIT, SIGILL, SIGABRT, SIGFPE, SIGBUS, SIGSEGV, SIGKILL};
  const int otherSignals[] = {SIGHUP,  SIGINT,  SIGSEGV, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1,
                              SIGUSR2, SIGCHLD, SIGCONT, SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU};
  sighandler_t last = SIG_ERR;
  for (int number : crashSignals) last = signal(number, ZnSignalHandler);
  if (crashOnly) return last;
  for (int number : otherSignals) last = signal(number, ZnSignalHandler);
  return last;
}

void ZnSignalHandler(int number) {
  WriteError("signal caught: \n");
  const char* text = SignalText(number);
  if (text != nullptr) WriteError(text);
  // abort() raises SIGABRT, which would land here again; one report is enough.
  signal(SIGABRT, SIG_DFL);
  abort();
}
