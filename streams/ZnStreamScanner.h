// Reads numbers and bytes straight from an input stream's buffer, with the
// results of the stream's own operations.
//
// A formatted extraction costs a sentry, a locale lookup, a character iterator
// and a string conversion per field; a file of millions of numbers spends most
// of its time there. A scanner works on the characters already waiting in the
// stream buffer's get area and leaves to the standard operation everything it
// cannot finish there: a token or run of bytes that reaches the end of the
// buffered characters, an exponent, more digits than it converts exactly, a
// stream that is not good. Each operation therefore leaves the value, the
// stream state and the read position exactly as the operation it is named
// after, on every input. Only gcount() is not kept: the scanner's own paths
// leave it as it was.
//
// The scanner's own paths are taken only for streams that the standard
// operations treat in the plain way: the classic locale (for formatted
// extraction), the skipws and dec flags with no other base, no tied stream
// and no exceptions enabled. Any other stream always goes the standard way.
// The stream's flags, locale, tie and exception mask must therefore not
// change while a scanner is in use; its state and its data may.
//
// The scanner never asks the buffer for more data itself (that is left to the
// standard operations), so it reads nothing the standard operation would not.
#ifndef HDRMEND_STREAMS_ZNSTREAMSCANNER_H_
#define HDRMEND_STREAMS_ZNSTREAMSCANNER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <streambuf>
#include <string>

namespace zn_detail {

// The get area is protected in the standard buffer; a pointer to member
// formed through a derived class reaches it on any buffer.
struct GetArea : std::streambuf {
  static const char* begin(std::streambuf* b) { return (b->*&GetArea::eback)(); }
  static const char* next(std::streambuf* b) { return (b->*&GetArea::gptr)(); }
  static const char* end(std::streambuf* b) { return (b->*&GetArea::egptr)(); }
  static void bump(std::streambuf* b, std::ptrdiff_t n) {
    (b->*&GetArea::gbump)(static_cast<int>(n));
  }
};

// The token scans are inline: a decoder's loop over millions of fields
// spends more on calls than on the characters.

// Character classes, one table lookup each: white space as the classic
// locale's ctype classifies it (' ' and '\t' to '\r'), and the characters
// that would carry a decimal on after its digits (a second point, or an
// exponent).
enum : unsigned char { kSpaceClass = 1, kMoreDecimalClass = 2 };
struct CharClasses {
  unsigned char of[256] = {};
  constexpr CharClasses() {
    of[static_cast<unsigned char>(' ')] = kSpaceClass;
    for (int c = '\t'; c <= '\r'; ++c) of[c] = kSpaceClass;
    of[static_cast<unsigned char>('.')] = kMoreDecimalClass;
    of[static_cast<unsigned char>('e')] = kMoreDecimalClass;
    of[static_cast<unsigned char>('E')] = kMoreDecimalClass;
  }
};
inline constexpr CharClasses kCharClasses;

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline bool IsSpace(char c) {
  return (kCharClasses.of[static_cast<unsigned char>(c)] & kSpaceClass) != 0;
}
inline bool MoreDecimal(char c) {
  return (kCharClasses.of[static_cast<unsigned char>(c)] & kMoreDecimalClass) != 0;
}

// After white space, an integer token that the standard extraction into an
// int reads exactly like this: an optional sign and at most 18 digits whose
// value fits, followed by a buffered character that is not a digit. Returns
// its end, or null for anything else, which the standard extraction then
// handles: no digits (failure), a value out of range (failure and
// clamping), a token that may go on past the buffer (more to read, or the
// end of the input).
template <bool kValue>
inline const char* ScanInt(const char* p, const char* e, int* value) {
  while (p < e && IsSpace(*p)) ++p;
  if (p == e) return nullptr;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* digits = p;
  uint64_t m = 0;
  while (p < e && IsDigit(*p)) {
    if (kValue) m = m * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  if (p == digits || p == e || p - digits > 18) return nullptr;
  if (kValue) {
    if (m > (negative ? 2147483648u : 2147483647u)) return nullptr;
    *value = negative ? static_cast<int>(-static_cast<int64_t>(m)) : static_cast<int>(m);
  } else if (p - digits > 9) {
    // Whether it fits is left to the extraction.
    return nullptr;
  }
  return p;
}

// Powers of ten up to the largest that a double holds exactly.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kIntPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// For a decimal token with digits m (the point dropped), `decimals` of them
// after the point, the standard extraction's conversion (strtod) yields the
// exactly rounded value of m / 10^decimals. With m at most 2^53, m and
// 10^decimals are exact doubles and one IEEE division rounds exactly that
// quotient, in whatever rounding mode is in force, so the two agree bit for
// bit; the sign goes on m, not on the quotient, for the directed modes.
inline double Quotient(bool negative, uint64_t m, int decimals) {
  const double magnitude = static_cast<double>(static_cast<int64_t>(m));
  return (negative ? -magnitude : magnitude) / kPow10[decimals];  // -0 stays -0
}

// Eight characters in one 64-bit word, the first in the lowest byte, so that
// the end of a run of digits is found without a branch per character. Each
// per-byte sum stays inside its byte (the high bit is tested apart), so no
// carry reaches a neighbour.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the eight-character scans take the first character as the lowest byte");
constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHigh = 0x8080808080808080;
constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;

inline uint64_t Load8(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The high bit of each byte that is not a decimal digit.
inline uint64_t NonDigits(uint64_t v) {
  const uint64_t x = v ^ (kOnes * '0');  // digits become 0 to 9
  return (((x & kLow7) + kOnes * 0x76) | x) & kHigh;
}

// The value of the first n digits of v, n from 0 to 7: the digits move to the
// top (the bytes shifted in count as leading zeros), combine in pairs, and
// the pairs in one multiplication for each half.
inline uint64_t DigitsValue(uint64_t v, int n) {
  if (n == 0) return 0;
  uint64_t x = (v ^ (kOnes * '0')) << (8 * (8 - n));
  x = x * 10 + (x >> 8);
  const uint64_t pairs = 0x000000FF000000FF;
  return (((x & pairs) * (100 + (uint64_t{1000000} << 32))) +
          (((x >> 16) & pairs) * (1 + (uint64_t{10000} << 32)))) >>
         32;
}

// ScanDecimal() for a token that starts at s with at least 24 characters
// buffered from there: up to 7 digits before the point and up to 7 after it,
// which is every coordinate a file holds. Null where the general scan must
// decide.
template <bool kValue>
inline const char* ScanShortDecimal(const char* s, double* value) {
  const char* p = s;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const uint64_t v = Load8(p);
  const uint64_t stops = NonDigits(v);
  if (stops == 0) return nullptr;
  const int whole = __builtin_ctzll(stops) >> 3;
  const char* end = p + whole;
  int decimals = 0;
  uint64_t w = 0;
  if (*end == '.') {
    w = Load8(end + 1);
    const uint64_t fractionStops = NonDigits(w);
    if (fractionStops == 0) return nullptr;
    decimals = __builtin_ctzll(fractionStops) >> 3;
    end += 1 + decimals;
  }
  if (whole + decimals == 0 || MoreDecimal(*end)) return nullptr;
  if (kValue) {
    *value = Quotient(
        negative, DigitsValue(v, whole) * kIntPow10[decimals] + DigitsValue(w, decimals), decimals);
  }
  return end;
}

// After white space, a decimal token of the form [sign] digits [. digits],
// with at least one digit and at most 19 in all, followed by a buffered
// character that cannot continue it (not a digit, point or exponent); for
// a value, m must also be at most 2^53 (see Quotient()). Returns its end, or
// null for anything else. Without a value nothing else can fail: 19 digits
// neither overflow nor need an exponent.
template <bool kValue>
inline const char* ScanDecimal(const char* p, const char* e, double* value) {
  while (p < e && IsSpace(*p)) ++p;
  if (e - p >= 24) {
    if (const char* end = ScanShortDecimal<kValue>(p, value)) return end;
  }
  if (p == e) return nullptr;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  uint64_t m = 0;
  const char* first = p;
  while (p < e && IsDigit(*p)) {
    if (kValue) m = m * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  std::ptrdiff_t digits = p - first;
  int decimals = 0;
  if (p < e && *p == '.') {
    const char* point = ++p;
    while (p < e && IsDigit(*p)) {
      if (kValue) m = m * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    decimals = static_cast<int>(p - point);
    digits += decimals;
  }
  if (digits == 0 || digits > 19 || p == e) return nullptr;
  if (MoreDecimal(*p)) return nullptr;
  if (kValue) {
    if (m > (uint64_t{1} << 53)) return nullptr;
    *value = Quotient(negative, m, decimals);
  }
  return p;
}

}  // namespace zn_detail

class ZnStreamScanner {
 public:
  explicit ZnStreamScanner(std::istream& in) : in_(in), buf_(in.rdbuf()) {
    raw_ = buf_ != nullptr && in.tie() == nullptr && in.exceptions() == std::ios::goodbit;
  }

  ZnStreamScanner(const ZnStreamScanner&) = delete;
  ZnStreamScanner& operator=(const ZnStreamScanner&) = delete;

  std::istream& stream() const { return in_; }

  // `in >> value`; answers !fail() afterwards.
  bool extract(int& value);
  bool extract(double& value);
  // The same for a field whose values are never longer than `longest`
  // characters (at least 24): a longer token is no value but damage. The
  // stream then fails after the token's first longest + 1 characters, and
  // the value is left alone. Memory and time stay bounded by `longest`
  // however long the token runs, where the standard extraction collects it
  // whole; the bound holds for every stream in the classic locale that
  // throws no exceptions (tied ones included), and any other stream goes
  // the standard way.
  bool extract(int& value, std::size_t longest);
  bool extract(double& value, std::size_t longest);
  // `in >> scratch` for a double whose value is not wanted.
  bool skipDouble();

  // The next n bytes when the stream is good and they are already buffered,
  // else null; consumes nothing. advance(n) then consumes them, as read()
  // of n bytes would. The pointer stays valid until the next operation on
  // the stream.
  const char* buffered(std::ptrdiff_t n) {
    if (!raw_ || in_.rdstate() != std::ios::goodbit || n <= 0) return nullptr;
    const char* p = zn_detail::GetArea::next(buf_);
    return zn_detail::GetArea::end(buf_) - p >= n ? p : nullptr;
  }
  void advance(std::ptrdiff_t n) { zn_detail::GetArea::bump(buf_, n); }

  // The characters up to the next line feed when the stream is good, the
  // line feed is buffered and lies within `limit` characters: sets *length to
  // their number and returns them (the line feed follows them), else null.
  // Consumes nothing; advance(*length + 1) consumes the line with its feed.
  const char* bufferedLine(int limit, int* length);

  // For loops over many fields. window() gives the buffered characters when
  // formatted extraction (or, with `formatted` false, an unformatted read)
  // may read them itself now (the stream is good), and
  // the scan functions tell from such characters alone what the extraction
  // would read: each skips white space, converts, and returns the end of the
  // token, or null when the characters do not settle the result (then
  // nothing may be consumed for that field, and the extraction must be done
  // through extract()). consume() takes the characters up to a returned end.
  bool window(const char** begin, const char** end, bool formatted = true) {
    if (!(formatted ? formattedOk() : raw_) || in_.rdstate() != std::ios::goodbit) return false;
    *begin = zn_detail::GetArea::next(buf_);
    *end = zn_detail::GetArea::end(buf_);
    return true;
  }
  void consume(const char* upTo) {
    zn_detail::GetArea::bump(buf_, upTo - zn_detail::GetArea::next(buf_));
  }
  // `>> int` and `>> double`, and the two only to check the token.
  static const char* scanInt(const char* p, const char* end, int* value) {
    return zn_detail::ScanInt<true>(p, end, value);
  }
  static const char* scanDouble(const char* p, const char* end, double* value) {
    return zn_detail::ScanDecimal<true>(p, end, value);
  }
  static const char* checkInt(const char* p, const char* end) {
    return zn_detail::ScanInt<false>(p, end, nullptr);
  }
  static const char* checkDouble(const char* p, const char* end) {
    return zn_detail::ScanDecimal<false>(p, end, nullptr);
  }

 private:
  // Whether the scanner may read the buffer itself for formatted operations,
  // decided at the first one (the locale costs a look).
  bool formattedOk() {
    if (formatted_ < 0) formatted_ = raw_ && boundedOk() ? 1 : 0;
    return formatted_ == 1;
  }
  // The classic locale with skipws and decimal numbers.
  bool decideClassic() const;
  // Whether extract(value, longest) may read a token itself.
  bool boundedOk();
  // extract(value, longest) for an int or a double.
  template <typename T>
  bool extractBounded(T& value, std::size_t longest);
  // The standard extraction's reading of a number token, a character at a
  // time through the buffer, keeping at most longest + 1 characters; the
  // token, normalized as the standard extraction normalizes it, goes to
  // *token. False after setting the stream's state when no token can be
  // converted: a failed stream, the end of the input before a token, or a
  // token longer than `longest`.
  bool takeToken(bool decimal, std::size_t longest, std::string* token);

  std::istream& in_;
  std::streambuf* buf_;
  // Whether the scanner may read the buffer itself for unformatted
  // operations, and for formatted ones (-1 until decided).
  bool raw_ = false;
  int formatted_ = -1;
  int classic_ = -1;
};

#endif  // HDRMEND_STREAMS_ZNSTREAMSCANNER_H_
