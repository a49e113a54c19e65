#include "streams/ZnStreamScanner.h"

#include <cstring>
#include <locale>
#include <sstream>
#include <string>
#include <type_traits>

bool ZnStreamScanner::decideClassic() const {
  return (in_.flags() & (std::ios::skipws | std::ios::basefield)) ==
             (std::ios::skipws | std::ios::dec) &&
         in_.getloc() == std::locale::classic();
}

bool ZnStreamScanner::boundedOk() {
  // The token is read through the buffer in the classic locale's terms; a
  // stream that may throw, or reads numbers in other terms, goes the
  // standard way.
  if (buf_ == nullptr || in_.exceptions() != std::ios::goodbit) return false;
  if (classic_ < 0) classic_ = decideClassic() ? 1 : 0;
  return classic_ == 1;
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

bool ZnStreamScanner::takeToken(bool decimal, std::size_t longest, std::string* token) {
  // What the sentry does: a stream that is not good fails; a tied stream is
  // flushed; white space goes.
  if (!in_.good()) {
    in_.setstate(std::ios::failbit);
    return false;
  }
  if (in_.tie() != nullptr) in_.tie()->flush();
  const int eof = std::char_traits<char>::eof();
  int c = buf_->sgetc();
  while (c != eof && zn_detail::IsSpace(static_cast<char>(c))) c = buf_->snextc();
  if (c == eof) {
    in_.setstate(std::ios::eofbit | std::ios::failbit);
    return false;
  }
  // The characters the standard extraction takes in the classic locale: a
  // sign; then digits, for a decimal also one point before any exponent and
  // one exponent after a digit, with a sign right after it. A decimal keeps
  // one of its leading zeros, as the standard extraction does.
  token->clear();
  std::size_t taken = 0;
  auto take = [&](bool keep) {
    if (keep) token->push_back(static_cast<char>(c));
    ++taken;
    c = buf_->snextc();
  };
  if (c == '+' || c == '-') take(true);
  bool digits = false;
  if (decimal) {
    while (c == '0' && taken <= longest) {
      take(!digits);
      digits = true;
    }
  }
  bool point = false;
  bool exponent = false;
  while (c != eof && taken <= longest) {
    if (zn_detail::IsDigit(static_cast<char>(c))) {
      take(true);
      digits = true;
    } else if (decimal && c == '.' && !point && !exponent) {
      point = true;
      take(true);
    } else if (decimal && (c == 'e' || c == 'E') && !exponent && digits) {
      exponent = true;
      c = 'e';
      take(true);
      if (c == '+' || c == '-') take(true);
    } else {
      break;
    }
  }
  if (c == eof) in_.setstate(std::ios::eofbit);
  if (taken > longest) {
    in_.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

template <typename T>
bool ZnStreamScanner::extractBounded(T& value, std::size_t longest) {
  constexpr bool kDecimal = std::is_same<T, double>::value;
  const char* p;
  const char* e;
  if (window(&p, &e)) {
    T v = 0;
    const char* stop;
    if constexpr (kDecimal) {
      stop = scanDouble(p, e, &v);
    } else {
      stop = scanInt(p, e, &v);
    }
    if (stop != nullptr) {
      consume(stop);
      value = v;
      return true;
    }
  }
  if (!boundedOk()) {
    in_ >> value;
    return !in_.fail();
  }
  std::string token;
  if (!takeToken(kDecimal, longest, &token)) return false;
  if (token.empty()) {
    // Nothing that starts a number: no value, as the extraction sets it.
    value = 0;
    in_.setstate(std::ios::failbit);
    return false;
  }
  // The token, whole, converts as the standard extraction converts it.
  std::istringstream converted(token);
  converted >> value;
  if (converted.fail()) in_.setstate(std::ios::failbit);
  return !in_.fail();
}

bool ZnStreamScanner::extract(int& value, std::size_t longest) {
  return extractBounded(value, longest);
}

bool ZnStreamScanner::extract(double& value, std::size_t longest) {
  return extractBounded(value, longest);
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
