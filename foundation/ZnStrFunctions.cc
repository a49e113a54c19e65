#include "foundation/ZnStrFunctions.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int ZnVSNPrintf(char* dest, size_t size, const char* fmt, va_list args) {
  return vsnprintf(dest, size, fmt, args);
}

int ZnSNPrintf(char* dest, size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = ZnVSNPrintf(dest, size, fmt, args);
  va_end(args);
  return n;
}

char* ZnStrCopy(char* dest, size_t /*size*/, const char* src) { return strcpy(dest, src); }

char* ZnStrNCopy(char* dest, size_t /*size*/, const char* src, size_t n) {
  return strncpy(dest, src, n);
}

char* ZnStrCat(char* dest, size_t /*size*/, const char* src) { return strcat(dest, src); }

char* ZnStrDup(const char* src) {
  size_t n = strlen(src) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, src, n);
  return copy;
}

char* ZnStrAppendAlloc(char* s, const char* src) {
  size_t old_length = strlen(s);
  size_t add = strlen(src);
  char* grown = static_cast<char*>(realloc(s, old_length + add + 1));
  if (grown == nullptr) return nullptr;
  memcpy(grown + old_length, src, add + 1);
  return grown;
}

char* ZnStrTrimRight(char* s) {
  size_t n = strlen(s);
  while (n > 0 && isspace(static_cast<unsigned char>(s[n - 1]))) --n;
  s[n] = '\0';
  return s;
}

char* ZnStrTrimLeft(char* s) {
  size_t k = 0;
  while (s[k] != '\0' && isspace(static_cast<unsigned char>(s[k]))) ++k;
  if (k > 0) memmove(s, s + k, strlen(s + k) + 1);
  return s;
}

char* ZnStrTrim(char* s) { return ZnStrTrimRight(ZnStrTrimLeft(s)); }

const char* ZnStrFindLast(const char* s, char ch) {
  if (ch == '\0') return nullptr;
  for (size_t i = strlen(s); i > 0; --i) {
    if (s[i - 1] == ch) return s + i - 1;
  }
  return nullptr;
}

char* ZnStrFindLast(char* s, char ch) {
  return const_cast<char*>(ZnStrFindLast(static_cast<const char*>(s), ch));
}

namespace {

// Compares up to limit characters (all of them when limit is negative).
int CaseCompare(const char* a, const char* b, long limit) {
  for (long i = 0; limit < 0 || i < limit; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    // The end of either string is a difference unless both end here; the
    // terminator then counts as the character 0.
    if (ca == '\0' || cb == '\0' || toupper(ca) != toupper(cb)) {
      return static_cast<signed char>(cb) - static_cast<signed char>(ca);
    }
  }
  return 0;
}

}  // namespace

int ZnStrCaseCmp(const char* a, const char* b) { return CaseCompare(a, b, -1); }

int ZnStrNCaseCmp(const char* a, const char* b, int n) {
  if (n < 0) return static_cast<signed char>(b[0]) - static_cast<signed char>(a[0]);
  return CaseCompare(a, b, n);
}
