#include "system/ZnEnvironment.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnStrFunctions.h"
#include "system/ZnFileUtils.h"

namespace {


// The value of an environment variable as a ZnStr; null when unset.
ZnStr EnvValue(const char* name) {
  char* copy = ZnEnvCopy(name);
  ZnStr value(copy);
  free(copy);
  return value;
}

}  // namespace

const char* ZnTempDirectory() { return "/var/tmp"; }

bool ZnFindInPath(const char* command, ZnStr* fullPath) {
  // Every directory is executable, so "dir/" would be found for an empty name.
  if (command == nullptr || command[0] == '\0') return false;
  ZnStr rest = EnvValue("PATH");
  while (rest.length() > 0) {
    if (rest[0] == ':') {
      rest.remove(0, 1);
      continue;
    }
    ZnStr entry;
    int colon;
    if (rest.findChar(':', &colon)) {
      entry = rest.left(colon);
      rest = rest.from(colon);
    } else {
      entry = rest;
      rest = "";
    }
    ZnStr candidate = entry.endsWith("/") ? entry + command : entry + "/" + command;
    if (ZnFileExists(candidate.c_str()) && ZnIsExecutable(candidate.c_str())) {
      if (fullPath != nullptr) *fullPath = candidate;
      return true;
    }
  }
  return false;
}

ZnStr ZnWhichCommand(const char* command) {
  if (command == nullptr || command[0] == '\0') return "";
  ZnStr rest = EnvValue("PATH");
  for (;;) {
    ZnStr entry = rest.popToken(":");
    if (entry.isNull()) return "";
    ZnStr candidate = entry + "/" + command;
    if (ZnFileExists(candidate.c_str()) && ZnIsExecutableFile(candidate.c_str())) return candidate;
  }
}

int ZnSetEnv(const char* name, const char* value) { return setenv(name, value, 1); }
int ZnUnsetEnv(const char* name) { return unsetenv(name); }

char* ZnEnvCopy(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? ZnStrDup(value) : nullptr;
}

bool ZnEnvDefined(const char* name) {
  char* copy = ZnEnvCopy(name);
  bool defined = copy != nullptr;
  free(copy);
  return defined;
}

char* ZnRequireEnv(const char* name) {
  char* copy = ZnEnvCopy(name);
  if (copy == nullptr) {
    fprintf(stderr, "Environment variable '%s' not defined.\n", name);
    exit(1);
  }
  return copy;
}
