#include "foundation/ZnLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnStrFunctions.h"

namespace {

bool localeInitialised = false;

}  // namespace

void ZnInitLocale() {
  if (localeInitialised) return;
  const char* lang = std::getenv("LANG");
  if (lang == nullptr) {
    fprintf(stderr, "LANG environment variable is not defined!\n");
  } else {
    char language[32];
    ZnStrNCopy(language, sizeof language, lang, 31);
    language[31] = '\0';
    char* dot = strchr(language, '.');
    if (dot != nullptr) *dot = '\0';
    if (language[0] != '\0') setlocale(LC_ALL, "POSIX");
  }
  localeInitialised = true;
}
