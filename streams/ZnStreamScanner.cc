#include "streams/ZnStreamScanner.h"

#include <cstring>
#include <locale>

bool ZnStreamScanner::decideFormatted() const {
  return raw_ &&
         (in_.flags() & (std::ios::skipws | std::ios::basefield)) ==
             (std::ios::skipws | std::ios::dec) &&
         in_.getloc() == std::locale::classic();
}

bool ZnStreamScanner::extract(int& value) {
  const char* p;
  const char* e;
  if (window(&p, &e)) {
    int v = 0;
    if (const char* stop = scanInt(p, e, &v)) {
      consume(stop);
      value = v;
      return true;
    }
  }
  in_ >> value;
  return !in_.fail();
}

bool ZnStreamScanner::extract(double& value) {
  const char* p;
  const char* e;
  if (window(&p, &e)) {
    double v = 0.0;
    if (const char* stop = scanDouble(p, e, &v)) {
      consume(stop);
      value = v;
      return true;
    }
  }
  in_ >> value;
  return !in_.fail();
}

bool ZnStreamScanner::skipDouble() {
  const char* p;
  const char* e;
  if (window(&p, &e)) {
    if (const char* stop = checkDouble(p, e)) {
      consume(stop);
      return true;
    }
  }
  double scratch = 0.0;
  in_ >> scratch;
  return !in_.fail();
}

const char* ZnStreamScanner::bufferedLine(int limit, int* length) {
  // The line feed a line reader looks for is the widened one, which only the
  // classic locale is known to leave alone.
  const char* p;
  const char* e;
  if (limit < 0 || !window(&p, &e)) return nullptr;
  std::ptrdiff_t span = e - p;
  if (span > limit) span = static_cast<std::ptrdiff_t>(limit) + 1;
  if (span <= 0) return nullptr;
  const void* feed = std::memchr(p, '\n', static_cast<size_t>(span));
  if (feed == nullptr) return nullptr;
  *length = static_cast<int>(static_cast<const char*>(feed) - p);
  return p;
}
