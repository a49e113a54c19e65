#include "system/ZnProcess.h"

#include <pwd.h>
#include <signal.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStrFunctions.h"
#include "system/ZnEnvironment.h"

namespace {

// strerror_r comes in two shapes: the XSI one fills the buffer and returns an
// int, the GNU one may return a static text instead. Overloads pick the text.
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer, int error, char* scratch,
                                         size_t size) {
  if (result != 0) ZnSNPrintf(scratch, size, "Unknown error %d", error);
  return result == 0 ? buffer : scratch;
}
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*, int, char*, size_t) {
  return result;
}

// Inside double quotes the shell still expands "$" and backquotes and ends the
// text at a double quote; a backslash disarms each.
ZnStr DoubleQuoted(const char* text) {
  ZnStr quoted("\"");
  for (const char* p = text; *p != '\0'; ++p) {
    if (strchr("\"\\$`", *p) != nullptr) quoted += "\\";
    char ch[2] = {*p, '\0'};
    quoted += ch;
  }
  return quoted + "\"";
}

// Inside single quotes nothing is special but the single quote itself, which
// has to close the quotes, stand escaped, and reopen them.
ZnStr SingleQuotedBody(const char* text) {
  ZnStr body("");
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\'') {
      body += "'\\''";
    } else {
      char ch[2] = {*p, '\0'};
      body += ch;
    }
  }
  return body;
}

}  // namespace

char* ZnErrorText(int error) {
  char buffer[1024] = "";
  char scratch[64];
  const char* text =
      ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer, error, scratch, sizeof scratch);
  return ZnStrDup(text);
}

bool ZnProcessExists(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

int ZnReadBootId(char* buffer, int size) {
  if (buffer == nullptr || size < 2) return 0;
  buffer[0] = '\0';
  FILE* file = fopen("/proc/sys/kernel/random/boot_id", "r");
  if (file == nullptr) return 0;
  if (fgets(buffer, size, file) == nullptr) buffer[0] = '\0';
  fclose(file);
  return static_cast<int>(strlen(buffer));
}

int ZnProcessorCount() { return get_nprocs_conf(); }

long ZnUnitsPerSecond() { return sysconf(_SC_CLK_TCK); }

int ZnSleepUnits(int n) {
  long rate = ZnUnitsPerSecond();
  if (rate <= 0) {
    errno = EINVAL;
    return -1;
  }
  struct timespec duration;
  duration.tv_sec = n / rate;
  duration.tv_nsec = (1000000000L / rate) * (n % rate);
  return nanosleep(&duration, nullptr);
}

bool ZnCurrentUser(ZnStr* name, ZnStr* realName) {
  struct passwd* entry = getpwuid(geteuid());
  if (entry == nullptr) return false;
  if (name != nullptr) *name = entry->pw_name;
  if (realName != nullptr) *realName = entry->pw_gecos;
  return true;
}

ZnStr ZnTerminalCommand(const char* command, const char* title, const char* iconTitle) {
  ZnStr text("rxvt ");
  if (title != nullptr) text += "-title " + DoubleQuoted(title) + " ";
  if (iconTitle != nullptr) text += "-n " + DoubleQuoted(iconTitle) + " ";
  text += "-e sh -c '";
  text += SingleQuotedBody(command != nullptr ? command : "");
  text += ";echo \"Command COMPLETE\"";
  text += ";read'";
  text += " &";
  return text;
}

void ZnRunInTerminal(const char* command, const char* title, const char* iconTitle) {
  if (!ZnFindInPath("rxvt")) {
    ZnReportError("The command \"rxvt\" is required for this operation.  Install and try again.");
    return;
  }
  if (system(ZnTerminalCommand(command, title, iconTitle).c_str()) == -1) {
    ZnReportError("Unable to execute command.");
  }
}
