// Writes text straight into an output stream's buffer, with the results of
// the stream's own insertions.
//
// A formatted insertion costs a sentry, a locale lookup and a printf per
// field. A printer formats numbers itself and hands each field to the stream
// buffer as the insertion it stands for would: one put is one insertion (or
// one write()), its characters go to the buffer as one sputn, or straight
// into the put area when the buffer is one of the standard kinds or ours and
// there is room for them and more (which is all that sputn does then). The stream's
// state follows as it would: a buffer that takes fewer characters sets the
// bad bit; on a bad stream a put writes nothing and sets the fail bit, and on
// a stream that failed otherwise it writes nothing and changes nothing.
//
// put() stands for write() or an insertion of characters at field width 0,
// and is usable when raw() is true: the stream has a buffer, no tied stream,
// no exceptions enabled and no unitbuf flag. The number puts stand for the
// insertions named with each and are usable when formatted() is true as
// well: the classic locale, field width 0, fill character ' ', decimal
// integers, no showpos, showpoint or uppercase flag, and the default rounding
// mode.
// Otherwise the caller inserts through the stream itself. Flags, locale, tie,
// exception mask and rounding mode must not change while a printer is in use.
#ifndef HDRMEND_STREAMS_ZNSTREAMPRINTER_H_
#define HDRMEND_STREAMS_ZNSTREAMPRINTER_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace zn_detail {

// The put area is protected in the standard buffer; a pointer to member
// formed through a derived class reaches it on any buffer.
struct PutArea : std::streambuf {
  static char* next(std::streambuf* b) { return (b->*&PutArea::pptr)(); }
  static char* end(std::streambuf* b) { return (b->*&PutArea::epptr)(); }
  static void bump(std::streambuf* b, std::ptrdiff_t n) {
    (b->*&PutArea::pbump)(static_cast<int>(n));
  }
};

// The formatting is inline: an encoder's loop over millions of fields spends
// more on calls than on the digits.

// "00" to "99", for two digits at a time.
inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void PutPair(char* out, unsigned pair) { std::memcpy(out, kPairs + 2 * pair, 2); }

inline char* FormatUnsigned(char* out, uint64_t v) {
  if (v < 10) {
    *out = static_cast<char>('0' + v);
    return out + 1;
  }
  if (v < 100) {
    PutPair(out, static_cast<unsigned>(v));
    return out + 2;
  }
  int n = 3;
  for (uint64_t bound = 1000; n < 20 && v >= bound; bound *= 10) ++n;
  char* p = out + n;
  while (v >= 100) {
    p -= 2;
    PutPair(p, static_cast<unsigned>(v % 100));
    v /= 100;
  }
  if (v >= 10) {
    PutPair(p - 2, static_cast<unsigned>(v));
  } else {
    p[-1] = static_cast<char>('0' + v);
  }
  return out + n;
}

// 2^52: from here on every double is a whole number.
constexpr double kWhole = 4503599627370496.0;

// The general fixed text; see ZnStreamPrinter::formatFixed().
char* FormatFixedGeneral(char* out, float value, int decimals);

// Four decimals, the raw data encoding's own precision, with constant
// divisors. A float times 10^4 is an exact double (24 significant bits and
// 14), so rounding that product to a whole number is rounding the value
// itself to 4 places, as printf does (ties to even, in the default rounding
// mode); adding 2^52 leaves no bits below the units, so the sum is that
// rounded value.
inline char* FormatFixed4(char* out, float value) {
  const double scaled = std::fabs(static_cast<double>(value) * 1e4);
  if (!(scaled < kWhole)) return FormatFixedGeneral(out, value, 4);
  const uint64_t units = static_cast<uint64_t>((scaled + kWhole) - kWhole);
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
  p = FormatUnsigned(p, units / 10000);
  const unsigned fraction = static_cast<unsigned>(units % 10000);
  *p = '.';
  PutPair(p + 1, fraction / 100);
  PutPair(p + 3, fraction % 100);
  return p + 5;
}

}  // namespace zn_detail

class ZnStreamPrinter {
 public:
  explicit ZnStreamPrinter(std::ostream& os);

  ZnStreamPrinter(const ZnStreamPrinter&) = delete;
  ZnStreamPrinter& operator=(const ZnStreamPrinter&) = delete;

  std::ostream& stream() const { return os_; }
  bool raw() const { return raw_; }
  // Decided at the first call; ask before the first put.
  bool formatted();

  // os.write(text, n).
  void put(const char* text, std::size_t n);
  // os.write() of the text in pieces shorter than kCopyLimit: the same
  // characters reach the buffer, but the standard file buffer collects them
  // and writes them out a buffer at a time, where one long write would go
  // to the file at once, a system call each.
  void putInPieces(const char* text, std::size_t n) {
    do {
      const std::size_t piece = n < kCopyLimit ? n : kCopyLimit - 1;
      put(text, piece);
      text += piece;
      n -= piece;
    } while (n > 0);
  }
  // os << value.
  void putInt(long long value);
  // os << std::fixed << std::left << std::setprecision(decimals)
  //    << std::setw(width) << value, with decimals from 0 to 9 and a width
  // of at most 64; the flags and
  // the precision themselves are the caller's to set. Like the insertion it
  // leaves the field width at 0, or at `width` when the stream was not good.
  void putFixed(float value, int decimals, int width);

  // For a run of insertions: when the stream is good and the put area has
  // room for more than n characters, returns where they go; the caller
  // writes at most n there and commits its end. Writing into the put area is
  // what the insertions one by one would do then. Otherwise returns null,
  // and the caller makes the insertions one by one.
  char* reserve(std::size_t n) {
    if (!direct_ || n >= kCopyLimit || os_.rdstate() != std::ios::goodbit) return nullptr;
    char* p = zn_detail::PutArea::next(buf_);
    return static_cast<std::size_t>(zn_detail::PutArea::end(buf_) - p) > n ? p : nullptr;
  }
  void commit(char* end) { zn_detail::PutArea::bump(buf_, end - zn_detail::PutArea::next(buf_)); }

  // The text each insertion above produces, written to `out`; each returns
  // its end. formatFixed() leaves out the padding and needs 64 bytes,
  // formatFixedPadded() needs 64 more than the width (at most 64).
  static char* formatInt(char* out, long long value) {
    if (value < 0) {
      *out++ = '-';
      return zn_detail::FormatUnsigned(out, uint64_t{0} - static_cast<uint64_t>(value));
    }
    return zn_detail::FormatUnsigned(out, static_cast<uint64_t>(value));
  }
  static char* formatFixed(char* out, float value, int decimals) {
    return decimals == 4 ? zn_detail::FormatFixed4(out, value)
                         : zn_detail::FormatFixedGeneral(out, value, decimals);
  }
  static char* formatFixedPadded(char* out, float value, int decimals, int width) {
    char* end = formatFixed(out, value, decimals);
    if (width > kMaxWidth) width = kMaxWidth;
    while (end - out < width) *end++ = ' ';
    return end;
  }

  // A put of this many characters or more goes past the put area of the
  // standard file buffer; below it, with room to spare, it is copied there.
  static constexpr std::size_t kCopyLimit = 1024;
  static constexpr int kMaxWidth = 64;

 private:
  std::ostream& os_;
  std::streambuf* buf_;
  bool raw_ = false;
  // -1 until decided.
  int formatted_ = -1;
  // Puts may copy into the put area themselves.
  bool direct_ = false;
};

#endif  // HDRMEND_STREAMS_ZNSTREAMPRINTER_H_
