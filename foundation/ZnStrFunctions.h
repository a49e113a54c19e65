// Free functions on NUL-terminated character arrays.
//
// The copy, concatenation and formatting functions take the size of the
// destination so that every caller states how much room it provides.
// Formatting honours that size and cuts its output silently; copying and
// concatenation rely on the caller having provided enough room. None of these
// functions reports an error. Whitespace means isspace() in the current locale.
#ifndef HDRMEND_FOUNDATION_ZNSTRFUNCTIONS_H_
#define HDRMEND_FOUNDATION_ZNSTRFUNCTIONS_H_

#include <cstdarg>
#include <cstddef>

// vsnprintf: writes at most size - 1 characters and a terminator; returns the
// length the full output would have had.
int ZnVSNPrintf(char* dest, size_t size, const char* fmt, va_list args)
    __attribute__((format(printf, 3, 0)));
int ZnSNPrintf(char* dest, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// strcpy; REQUIRES: dest has room for src and its terminator. Returns dest.
char* ZnStrCopy(char* dest, size_t size, const char* src);

// strncpy: copies at most n characters and NUL-fills the rest of the n bytes;
// writes no terminator when src has n or more characters. Returns dest.
char* ZnStrNCopy(char* dest, size_t size, const char* src, size_t n);

// strcat; REQUIRES: dest has room for both texts. Returns dest.
char* ZnStrCat(char* dest, size_t size, const char* src);

// A malloc() copy of src, which the caller releases with free(). Returns null
// when the heap is exhausted.
char* ZnStrDup(const char* src);

// Grows the malloc()ed string s with realloc() to hold src as well and appends
// it. Returns the possibly moved string, or null when the heap is exhausted;
// s is then still valid and unchanged, and the caller still owns it.
char* ZnStrAppendAlloc(char* s, const char* src);

// In-place trimming of whitespace; each returns its argument.
char* ZnStrTrimRight(char* s);
char* ZnStrTrimLeft(char* s);
char* ZnStrTrim(char* s);

// The last occurrence of ch in s, or null. The terminator is never found.
const char* ZnStrFindLast(const char* s, char ch);
char* ZnStrFindLast(char* s, char ch);

// 0 exactly when a and b are equal ignoring case; otherwise the difference of
// the first differing characters, b's minus a's, ordered without case folding
// (a character against the end of the other string counts the end as 0).
int ZnStrCaseCmp(const char* a, const char* b);
// The same over at most n characters; n = 0 gives 0, and a negative n compares
// nothing and gives the difference of the first characters, b[0] - a[0].
int ZnStrNCaseCmp(const char* a, const char* b, int n);

#endif  // HDRMEND_FOUNDATION_ZNSTRFUNCTIONS_H_
