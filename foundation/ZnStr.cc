#include "foundation/ZnStr.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>

#include "foundation/ZnStrFunctions.h"

namespace {

// Storage is exact to a multiple of 4 bytes; growth is not geometric.
uint64_t RoundedCapacity(uint64_t size) { return (size + 3) & ~uint64_t{3}; }

const char* OrEmpty(const char* s) { return s ? s : ""; }

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A buffer holding the first n characters of s; a NUL in s ends the copy and
// the rest stays NUL (the array is zero-filled). refCount starts at 0.
ZnStrBuffer* CreateBuffer(const char* s, int n) {
  const uint64_t size = static_cast<uint64_t>(n) + 1;
  std::unique_ptr<char[]> chars(new char[RoundedCapacity(size)]());
  std::memcpy(chars.get(), s, strnlen(s, n));
  ZnStrBuffer* buffer = new ZnStrBuffer{chars.get(), size, 0};
  chars.release();
  return buffer;
}

// Reallocates only when the rounded capacity changes; otherwise the bytes
// between the old and the new size are the caller's to write.
void ResizeBuffer(ZnStrBuffer* buffer, uint64_t newSize) {
  const uint64_t oldSize = buffer->size;
  buffer->size = newSize;
  if (RoundedCapacity(newSize) == RoundedCapacity(oldSize)) return;
  char* chars = new char[RoundedCapacity(newSize)]();
  const uint64_t keep = std::min(oldSize, newSize) - 1;
  std::memcpy(chars, buffer->chars, strnlen(buffer->chars, keep));
  delete[] buffer->chars;
  buffer->chars = chars;
}

// toDouble refuses words such as nan, inf and e5 that strtod would take.
bool RefusedAsNumber(const char* s) {
  if (*s == '\0') return true;
  while (IsSpace(*s)) ++s;
  if (*s == '+' || *s == '-') ++s;
  return std::isalpha(static_cast<unsigned char>(*s)) != 0;
}

}  // namespace

ZnStr::ZnStr(const char* s) { assign(s); }

ZnStr::ZnStr(const char* s, int n) { assign(s, n); }

ZnStr::ZnStr(const ZnStr& other) : rep(other.rep), offset(other.offset) {
  if (rep) ++rep->refCount;
}

ZnStr::~ZnStr() { release(); }

ZnStr& ZnStr::operator=(const ZnStr& other) {
  if (this == &other) return *this;
  // Take the new reference first: other may share this string's buffer.
  if (other.rep) ++other.rep->refCount;
  release();
  rep = other.rep;
  offset = other.offset;
  return *this;
}

ZnStr& ZnStr::assign(const char* s) {
  if (!s) {
    release();
    return *this;
  }
  return assign(s, static_cast<int>(std::strlen(s)));
}

ZnStr& ZnStr::assign(const char* s, int n) {
  if (!s) {
    release();
    return *this;
  }
  n = std::max(n, 0);
  if (pointsIntoBuffer(s) &&
      n == static_cast<int>(rep->size - 1 - static_cast<uint64_t>(s - rep->chars))) {
    offset = s - rep->chars;
    return *this;
  }
  // Copy before releasing: s may point into the old buffer.
  ZnStrBuffer* buffer = CreateBuffer(s, n);
  buffer->refCount = 1;
  release();
  rep = buffer;
  offset = 0;
  return *this;
}

void ZnStr::release() {
  if (rep && --rep->refCount == 0) {
    delete[] rep->chars;
    delete rep;
  }
  rep = nullptr;
  offset = 0;
}

void ZnStr::makeUnique() {
  if (!rep) {
    rep = CreateBuffer("", 0);
    rep->refCount = 1;
    offset = 0;
  } else if (rep->refCount > 1) {
    ZnStrBuffer* buffer = CreateBuffer(c_str(), length());
    buffer->refCount = 1;
    --rep->refCount;
    rep = buffer;
    offset = 0;
  }
}

bool ZnStr::pointsIntoBuffer(const char* s) const {
  // std::less gives a total order even for pointers into unrelated arrays.
  return rep && !std::less<const char*>()(s, rep->chars) &&
         std::less<const char*>()(s, rep->chars + rep->size);
}

void ZnStr::adjustSize(int64_t d) { ResizeBuffer(rep, rep->size + d); }

void ZnStr::setTotalLength(uint64_t total) {
  ResizeBuffer(rep, total + 1);
  rep->chars[total] = '\0';
}

uint64_t ZnStr::capacity() const { return rep ? RoundedCapacity(rep->size) : 0; }

ZnStr& ZnStr::setChar(int i, char ch) {
  if (!isValidIndex(i)) return *this;
  makeUnique();
  text()[i] = ch;
  return *this;
}

char* ZnStr::dup() const {
  const int n = length();
  char* copy = new char[n + 1];
  std::memcpy(copy, c_str(), n + 1);
  return copy;
}

// Comparison.

int ZnStr::compare(const char* s) const { return std::strcmp(c_str(), OrEmpty(s)); }

int ZnStr::compareN(const char* s, int n) const {
  return n <= 0 ? 0 : std::strncmp(c_str(), OrEmpty(s), n);
}

int ZnStr::comparePrefix(const char* s) const {
  s = OrEmpty(s);
  return std::strncmp(c_str(), s, std::strlen(s));
}

int ZnStr::compareNoCase(const char* s, int n) const {
  s = OrEmpty(s);
  const char* t = c_str();
  for (int i = 0; i < n; ++i) {
    signed char a = t[i];
    signed char b = s[i];
    if (a == '\0') return b == '\0' ? 0 : -1;
    if (b == '\0') return 1;
    if (std::islower(static_cast<unsigned char>(a))) a -= 32;
    if (std::islower(static_cast<unsigned char>(b))) b -= 32;
    if (a != b) return a > b ? 1 : -1;
  }
  return 0;
}

int ZnStr::compareNoCase(const char* s) const {
  s = OrEmpty(s);
  return compareNoCase(s, std::max(static_cast<int>(std::strlen(s)), length()));
}

int ZnStr::comparePrefixNoCase(const char* s) const {
  s = OrEmpty(s);
  return compareNoCase(s, static_cast<int>(std::strlen(s)));
}

bool ZnStr::endsWith(const ZnStr& t) const {
  // Compared as texts: a null string is an empty suffix like any other.
  if (length() < t.length()) return false;
  return std::strcmp(c_str() + length() - t.length(), t.c_str()) == 0;
}

// Search.

bool ZnStr::find(const char* s, int* pos) const {
  const char* hit = std::strstr(c_str(), OrEmpty(s));
  if (!hit) return false;
  if (pos) *pos = static_cast<int>(hit - c_str());
  return true;
}

bool ZnStr::findChar(char ch, int* pos) const {
  // strchr would find the terminator; a NUL is never part of the text.
  const char* hit = ch == '\0' ? nullptr : std::strchr(c_str(), ch);
  if (!hit) return false;
  if (pos) *pos = static_cast<int>(hit - c_str());
  return true;
}

bool ZnStr::findLastChar(char ch, int* pos) const {
  const char* t = c_str();
  for (int i = length() - 1; i >= 0; --i) {
    if (t[i] == ch) {
      if (pos) *pos = i;
      return true;
    }
  }
  return false;
}

bool ZnStr::findNthChar(char ch, int n, int* pos) const {
  const char* t = c_str();
  const int len = length();
  for (int i = 0; i < len && n > 0; ++i) {
    if (t[i] == ch && --n == 0) {
      if (pos) *pos = i;
      return true;
    }
  }
  return false;
}

int ZnStr::countChar(char ch) const {
  return static_cast<int>(std::count(c_str(), c_str() + length(), ch));
}

bool ZnStr::findDigit(int* pos) const {
  const char* t = c_str();
  for (int i = 0; i < length(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      if (pos) *pos = i;
      return true;
    }
  }
  return false;
}

bool ZnStr::startsWithSlash() const { return c_str()[0] == '/'; }

// Substrings.

ZnStr ZnStr::right(int n) const {
  n = std::min(n, length());
  if (n < 1) return ZnStr("");
  ZnStr tail(*this);
  tail.offset = offset + length() - n;
  return tail;
}

ZnStr ZnStr::from(int k) const {
  if (k >= length()) return ZnStr("");
  return right(length() - std::max(k, 0));
}

ZnStr ZnStr::left(int n) const {
  if (n <= 0) return ZnStr("");
  ZnStr head(*this);
  head.setLength(n);
  return head;
}

ZnStr ZnStr::dropRight(int n) const { return left(length() - std::max(n, 0)); }

ZnStr ZnStr::mid(int pos, int n) const {
  if (n <= 0) return ZnStr("");
  ZnStr part = from(pos);
  part.setLength(n);
  return part;
}

ZnStr ZnStr::erased(int pos, int n) const {
  ZnStr copy(*this);
  copy.remove(pos, n);
  return copy;
}

ZnStr ZnStr::firstToken(const char* delims) const {
  if (!rep) return ZnStr();
  delims = OrEmpty(delims);
  const char* t = c_str();
  const size_t start = std::strspn(t, delims);
  if (t[start] == '\0') return ZnStr();
  return mid(static_cast<int>(start), static_cast<int>(std::strcspn(t + start, delims)));
}

// Modification.

ZnStr& ZnStr::remove(int pos, int n) {
  const int len = length();
  pos = std::clamp(pos, 0, len);
  n = std::min(n, len - pos);
  if (n <= 0) return *this;
  if (pos == 0) {
    const int64_t moved = offset + n;
    if (rep->refCount > 1 || static_cast<uint64_t>(moved) < (rep->size - 1) / 2) {
      offset = moved;
      return *this;
    }
  }
  // Rewriting anyway, so drop the hidden prefix as well.
  makeUnique();
  char* chars = rep->chars;
  std::memmove(chars, chars + offset, pos);
  std::memmove(chars + pos, chars + offset + pos + n, len - pos - n);
  offset = 0;
  setTotalLength(len - n);
  return *this;
}

ZnStr& ZnStr::removeFirst(const char* s) {
  int pos;
  if (s && *s && find(s, &pos)) remove(pos, static_cast<int>(std::strlen(s)));
  return *this;
}

ZnStr& ZnStr::insert(int pos, const char* s, int n) {
  if (!rep) makeUnique();
  if (!s || n <= 0) return *this;
  if (pointsIntoBuffer(s)) {
    // The buffer may move or change under s while it grows.
    const ZnStr copy(s, n);
    return insert(pos, copy.c_str(), n);
  }
  makeUnique();
  const int len = length();
  pos = std::clamp(pos, 0, len);
  adjustSize(n);
  char* t = text();
  std::memmove(t + pos + n, t + pos, len - pos + 1);
  std::memcpy(t + pos, s, n);
  return *this;
}

ZnStr& ZnStr::insert(int pos, const char* s) {
  return insert(pos, s, s ? static_cast<int>(std::strlen(s)) : 0);
}

ZnStr& ZnStr::format(const char* fmt, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, fmt);
  ZnVSNPrintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return assign(buffer);
}

ZnStr& ZnStr::appendFormat(const char* fmt, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, fmt);
  ZnVSNPrintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return append(buffer);
}

ZnStr& ZnStr::appendPadded(const char* s, int width) {
  if (width <= 0) return *this;
  const int n = static_cast<int>(std::strlen(OrEmpty(s)));
  if (n >= width) return insert(length(), s, width);
  append(s);
  return padRight(width - n, ' ');
}

ZnStr& ZnStr::padRight(int n, char ch) {
  if (n <= 0) return *this;
  makeUnique();
  const int len = length();
  adjustSize(n);
  char* t = text();
  std::memset(t + len, ch, n);
  t[len + n] = '\0';
  return *this;
}

ZnStr& ZnStr::padLeft(int n, char ch) {
  if (n <= 0) return *this;
  makeUnique();
  const int len = length();
  adjustSize(n);
  char* t = text();
  std::memmove(t + n, t, len + 1);
  std::memset(t, ch, n);
  return *this;
}

ZnStr& ZnStr::setLength(int n) {
  n = std::max(n, 0);
  const int len = length();
  if (n > len) return padRight(n - len, ' ');
  if (n < len) {
    makeUnique();
    setTotalLength(offset + n);
  }
  return *this;
}

ZnStr& ZnStr::replaceAt(int pos, int n, const char* s) {
  s = OrEmpty(s);
  if (pointsIntoBuffer(s)) {
    const ZnStr copy(s);
    return replaceAt(pos, n, copy.c_str());
  }
  makeUnique();
  const int len = length();
  pos = std::clamp(pos, 0, len);
  n = std::clamp(n, 0, len - pos);
  const int m = static_cast<int>(std::strlen(s));
  const int tail = len - pos - n + 1;  // with the terminator
  if (m > n) {
    adjustSize(m - n);
    std::memmove(text() + pos + m, text() + pos + n, tail);
    std::memcpy(text() + pos, s, m);
  } else {
    // Fill the whole shrunken text before the buffer is resized, which copies
    // only up to the first NUL.
    std::memmove(text() + pos + m, text() + pos + n, tail);
    std::memcpy(text() + pos, s, m);
    adjustSize(m - n);
  }
  return *this;
}

ZnStr& ZnStr::replaceFirst(const char* pattern, const char* s) {
  if (!pattern || !*pattern) return *this;
  s = OrEmpty(s);
  int pos;
  if (!find(pattern, &pos)) return *this;
  const int n = static_cast<int>(std::strlen(pattern));
  if (n != static_cast<int>(std::strlen(s))) return replaceAt(pos, n, s);
  if (pointsIntoBuffer(s)) {
    const ZnStr copy(s);
    return replaceFirst(pattern, copy.c_str());
  }
  makeUnique();
  std::memcpy(text() + pos, s, n);
  return *this;
}

ZnStr& ZnStr::replaceAll(const char* pattern, const char* s) {
  if (!pattern || !*pattern) return *this;
  s = OrEmpty(s);
  // Both are used again after the buffer has changed.
  ZnStr patternCopy, replacementCopy;
  if (pointsIntoBuffer(pattern)) pattern = (patternCopy = pattern).c_str();
  if (pointsIntoBuffer(s)) s = (replacementCopy = s).c_str();
  const int n = static_cast<int>(std::strlen(pattern));
  const int m = static_cast<int>(std::strlen(s));
  int searchFrom = 0;
  for (;;) {
    const char* t = c_str();
    const char* hit = std::strstr(t + searchFrom, pattern);
    if (!hit) break;
    const int pos = static_cast<int>(hit - t);
    if (n == m) {
      makeUnique();
      std::memcpy(text() + pos, s, m);
    } else {
      replaceAt(pos, n, s);
    }
    searchFrom = pos + m;
  }
  return *this;
}

ZnStr& ZnStr::toLower() {
  makeUnique();
  char* t = text();
  for (int i = 0; i < length(); ++i) {
    if (std::isupper(static_cast<unsigned char>(t[i]))) t[i] += 32;
  }
  return *this;
}

ZnStr& ZnStr::toUpper() {
  makeUnique();
  char* t = text();
  for (int i = 0; i < length(); ++i) {
    if (std::islower(static_cast<unsigned char>(t[i]))) t[i] -= 32;
  }
  return *this;
}

ZnStr& ZnStr::trimLeft(bool keepLineBreaks) {
  const char* t = c_str();
  int k = 0;
  while (k < length() && IsSpace(t[k]) && !(keepLineBreaks && (t[k] == '\r' || t[k] == '\n'))) {
    ++k;
  }
  return remove(0, k);
}

ZnStr& ZnStr::trimRight() {
  int k = length();
  while (k > 0 && IsSpace(c_str()[k - 1])) --k;
  return setLength(k);
}

ZnStr& ZnStr::removeWhitespace() {
  int i = 0;
  while (i < length()) {
    int end = i;
    while (end < length() && IsSpace(c_str()[end])) ++end;
    if (end > i) {
      remove(i, end - i);
    } else {
      ++i;
    }
  }
  return *this;
}

ZnStr ZnStr::popLine() {
  if (!rep) return ZnStr();
  int i;
  if (!findChar('\n', &i)) {
    ZnStr line(*this);
    release();
    return line;
  }
  ZnStr line = left(i);
  *this = from(i + 1);
  return line;
}

ZnStr ZnStr::popToken(const char* delims) {
  ZnStr token = firstToken(delims);
  if (token.isNull()) {
    release();
    return token;
  }
  delims = OrEmpty(delims);
  const char* t = c_str();
  const size_t start = std::strspn(t, delims);
  const size_t end = start + std::strcspn(t + start, delims);
  if (t[end] == '\0') {
    release();
  } else {
    remove(0, static_cast<int>(end + 1));
  }
  return token;
}

// Conversions.

bool ZnStr::toLong(long* v) const {
  const char* t = c_str();
  char* end;
  *v = std::strtol(t, &end, 10);
  return end != t && *end == '\0';
}

bool ZnStr::toInt(int* v) const {
  long value;
  const bool ok = toLong(&value);
  *v = static_cast<int>(value);
  return ok;
}

bool ZnStr::toHex(int* v) const {
  const char* t = c_str();
  char* end;
  *v = static_cast<int>(std::strtol(t, &end, 16));
  return end != t && *end == '\0';
}

bool ZnStr::toDouble(double* v) const {
  const char* t = c_str();
  if (RefusedAsNumber(t)) return false;
  char* end;
  *v = std::strtod(t, &end);
  return end != t && *end == '\0';
}

bool ZnStr::toFloat(float* v) const {
  double value;
  if (RefusedAsNumber(c_str())) return false;
  const bool ok = toDouble(&value);
  *v = static_cast<float>(value);
  return ok;
}

bool ZnStr::toBool(bool* v) const {
  const char* t = c_str();
  if (std::strcmp(t, "1") == 0 || compareNoCase("TRUE") == 0 || compareNoCase("ON") == 0 ||
      compareNoCase("YES") == 0) {
    *v = true;
    return true;
  }
  if (std::strcmp(t, "0") == 0 || compareNoCase("FALSE") == 0 || compareNoCase("OFF") == 0 ||
      compareNoCase("NO") == 0) {
    *v = false;
    return true;
  }
  return false;
}

bool ZnStr::parseLeadingLong(int* v, int* consumed) const {
  const char* t = c_str();
  char* end;
  errno = 0;
  const long value = std::strtol(t, &end, 10);
  *v = static_cast<int>(value);
  if (errno == ERANGE) return false;
  if (consumed) *consumed = static_cast<int>(end - t);
  return true;
}

// Streams.

ZnStr& ZnStr::readLine(std::istream& in) {
  using Traits = std::istream::traits_type;
  const char lf = in.widen('\n');
  char chunk[256];
  bool first = true;
  for (;;) {
    in.get(chunk, sizeof chunk, lf);
    if (in.eof() || in.bad()) {
      // No line feed ends what was read: the unterminated text is dropped, and
      // the fail flag tells the caller that no line came.
      release();
      in.setstate(std::ios::failbit);
      return *this;
    }
    if (in.fail()) {  // the line feed came first
      in.clear();
      chunk[0] = '\0';
    }
    if (first) {
      assign(chunk);
    } else {
      append(chunk);
    }
    first = false;
    const Traits::int_type next = in.peek();
    if (Traits::eq_int_type(next, Traits::to_int_type(lf))) {
      in.get();
      // Only now is it known that a CR ends the line; a CR at the end of a
      // chunk may just as well be followed by more text.
      if (length() > 0 && c_str()[length() - 1] == '\r') setLength(length() - 1);
      return *this;
    }
    // Otherwise the chunk was full: go on with the rest of the line. peek() at
    // the end of input has set eofbit, which the next get() reports.
  }
}

ZnStr& ZnStr::read(std::istream& in, int n, char delim) {
  n = std::max(n, 1);
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(n) + 1]);
  buffer[0] = '\0';
  in.get(buffer.get(), n, delim);
  return assign(buffer.get());
}

// Free operators.

bool operator==(const ZnStr& a, const ZnStr& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  return std::strcmp(a.c_str(), b.c_str()) == 0;
}

bool operator==(const ZnStr& a, const char* b) {
  if (a.isNull() || !b) return a.isNull() && !b;
  return std::strcmp(a.c_str(), b) == 0;
}

bool operator==(const char* a, const ZnStr& b) { return b == a; }

bool operator<(const ZnStr& a, const ZnStr& b) { return a.compare(b.c_str()) < 0; }
bool operator<(const ZnStr& a, const char* b) { return a.compare(b) < 0; }
bool operator<(const char* a, const ZnStr& b) { return b.compare(a) > 0; }
bool operator>(const ZnStr& a, const ZnStr& b) { return a.compare(b.c_str()) > 0; }
bool operator>(const ZnStr& a, const char* b) { return a.compare(b) > 0; }
bool operator>(const char* a, const ZnStr& b) { return b.compare(a) < 0; }
bool operator<=(const ZnStr& a, const ZnStr& b) { return a.compare(b.c_str()) <= 0; }
bool operator<=(const ZnStr& a, const char* b) { return a.compare(b) <= 0; }
bool operator<=(const char* a, const ZnStr& b) { return b.compare(a) >= 0; }
bool operator>=(const ZnStr& a, const ZnStr& b) { return a.compare(b.c_str()) >= 0; }
bool operator>=(const ZnStr& a, const char* b) { return a.compare(b) >= 0; }
bool operator>=(const char* a, const ZnStr& b) { return b.compare(a) <= 0; }

ZnStr operator+(const ZnStr& a, const ZnStr& b) { return ZnStr(a).append(b.c_str()); }
ZnStr operator+(const ZnStr& a, const char* b) { return ZnStr(a).append(b); }
ZnStr operator+(const char* a, const ZnStr& b) { return ZnStr(a).append(b.c_str()); }

std::ostream& operator<<(std::ostream& out, const ZnStr& s) {
  if (s.isNull()) {
    out.setstate(std::ios::badbit);
    return out;
  }
  return out << s.c_str();
}

std::istream& operator>>(std::istream& in, ZnStr& s) {
  in >> std::ws;
  if (in.fail()) return in;
  if (in.eof()) {
    // No word is left: fail as string extraction does, so that a read loop
    // ends.
    in.setstate(std::ios::failbit);
    return in;
  }
  s = "";
  char chunk[256];
  int n = 0;
  bool any = false;
  char c;
  while (in.get(c)) {
    if (IsSpace(c)) {
      in.putback(c);
      break;
    }
    any = true;
    chunk[n++] = c;
    if (n == 255) {
      s.insert(s.length(), chunk, n);
      n = 0;
    }
  }
  if (any && in.eof()) in.clear();
  s.insert(s.length(), chunk, n);
  return in;
}
