// The fuzz targets' assertion: names the failed condition and its line, then
// aborts so that libFuzzer keeps the input.
#ifndef HDRMEND_FUZZ_FUZZCHECK_H_
#define HDRMEND_FUZZ_FUZZCHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif  // HDRMEND_FUZZ_FUZZCHECK_H_
