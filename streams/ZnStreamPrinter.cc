#include "streams/ZnStreamPrinter.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <locale>
#include <sstream>
#include <typeinfo>

#include "streams/ZnSStream.h"

namespace {

// The put area is protected in the standard buffer; a pointer to member
// formed through a derived class reaches it on any buffer.
struct PutArea : std::streambuf {
  static char* next(std::streambuf* b) { return (b->*&PutArea::pptr)(); }
  static char* end(std::streambuf* b) { return (b->*&PutArea::epptr)(); }
  static void bump(std::streambuf* b, std::size_t n) { (b->*&PutArea::pbump)(static_cast<int>(n)); }
};

// The standard file buffer writes a sputn of this many characters or more
// past its put area; below it, with room to spare, it copies.
constexpr std::size_t kCopyLimit = 1024;

constexpr int kMaxWidth = 64;

const double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// 2^52: from here on every double is a whole number.
constexpr double kWhole = 4503599627370496.0;

char* FormatUnsigned(char* out, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

// The fraction digits of units / 10^decimals, zero-filled on the left.
template <int kDecimals>
char* FormatFraction(char* out, uint64_t units, uint64_t* whole) {
  constexpr uint64_t scale = [] {
    uint64_t s = 1;
    for (int i = 0; i < kDecimals; ++i) s *= 10;
    return s;
  }();
  *whole = units / scale;
  uint64_t fraction = units % scale;
  for (int i = kDecimals - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return out + kDecimals;
}

}  // namespace

ZnStreamPrinter::ZnStreamPrinter(std::ostream& os) : os_(os), buf_(os.rdbuf()) {
  raw_ = buf_ != nullptr && os.tie() == nullptr && os.exceptions() == std::ios::goodbit &&
         !(os.flags() & std::ios::unitbuf);
  if (!raw_) return;
  const std::type_info& type = typeid(*buf_);
  direct_ = type == typeid(std::filebuf) || type == typeid(std::stringbuf) ||
            type == typeid(ZnSStreamBuf);
}

bool ZnStreamPrinter::formatted() {
  if (formatted_ < 0) {
    const std::ios::fmtflags mask =
        std::ios::basefield | std::ios::showpos | std::ios::showpoint | std::ios::uppercase;
    formatted_ = raw_ && os_.width() == 0 && os_.fill() == ' ' &&
                 (os_.flags() & mask) == std::ios::dec && std::fegetround() == FE_TONEAREST &&
                 os_.getloc() == std::locale::classic();
  }
  return formatted_ == 1;
}

void ZnStreamPrinter::put(const char* text, std::size_t n) {
  if (!os_.good()) {
    // What the sentry does.
    if (os_.bad()) os_.setstate(std::ios::failbit);
    return;
  }
  if (direct_ && n < kCopyLimit) {
    char* p = PutArea::next(buf_);
    if (static_cast<std::size_t>(PutArea::end(buf_) - p) > n) {
      std::memcpy(p, text, n);
      PutArea::bump(buf_, n);
      return;
    }
  }
  if (buf_->sputn(text, static_cast<std::streamsize>(n)) != static_cast<std::streamsize>(n)) {
    os_.setstate(std::ios::badbit);
  }
}

void ZnStreamPrinter::putInt(long long value) {
  char text[24];
  char* end;
  if (value < 0) {
    text[0] = '-';
    end = FormatUnsigned(text + 1, uint64_t{0} - static_cast<uint64_t>(value));
  } else {
    end = FormatUnsigned(text, static_cast<uint64_t>(value));
  }
  put(text, static_cast<std::size_t>(end - text));
}

void ZnStreamPrinter::putFixed(float value, int decimals, int width) {
  if (width > kMaxWidth) width = kMaxWidth;
  if (!os_.good()) {
    put(nullptr, 0);
    // The insertion that did not happen leaves the width it was given.
    os_.width(width);
    return;
  }
  char text[64 + kMaxWidth];
  char* end = formatFixed(text, value, decimals);
  if (end - text < width) {
    std::memset(end, ' ', static_cast<std::size_t>(width - (end - text)));
    end = text + width;
  }
  put(text, static_cast<std::size_t>(end - text));
}

char* ZnStreamPrinter::formatFixed(char* out, float value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  // A float has 24 significant bits and 10^9 needs 21 beyond its factor of
  // two, so this product is exact: rounding it to a whole number is rounding
  // the value itself to `decimals` places, which is what printf does (ties to
  // even, in the default rounding mode).
  const double scaled = std::fabs(static_cast<double>(value) * kScale[decimals]);
  if (!(scaled < kWhole)) {
    // Huge values, infinities and NaN, rare enough for the general routine.
    return std::to_chars(out, out + 64, static_cast<double>(value), std::chars_format::fixed,
                         decimals)
        .ptr;
  }
  // Adding 2^52 leaves no bits below the units, so the sum is the rounded value.
  const double rounded = (scaled + kWhole) - kWhole;
  const uint64_t units = static_cast<uint64_t>(rounded);
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
  if (decimals == 4) {
    // The encoding's own precision, with a constant divisor.
    char fraction[4];
    uint64_t whole = 0;
    FormatFraction<4>(fraction, units, &whole);
    p = FormatUnsigned(p, whole);
    *p++ = '.';
    std::memcpy(p, fraction, 4);
    return p + 4;
  }
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  p = FormatUnsigned(p, units / scale);
  if (decimals == 0) return p;
  *p++ = '.';
  uint64_t fraction = units % scale;
  for (int i = decimals - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return p + decimals;
}
