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

#include "foundation/ZnSStream.h"
#include "streams/ZnFdStreamBuf.h"

namespace {

using zn_detail::PutArea;

const double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

}  // namespace

ZnStreamPrinter::ZnStreamPrinter(std::ostream& os) : os_(os), buf_(os.rdbuf()) {
  raw_ = buf_ != nullptr && os.tie() == nullptr && os.exceptions() == std::ios::goodbit &&
         !(os.flags() & std::ios::unitbuf);
  if (!raw_) return;
  const std::type_info& type = typeid(*buf_);
  direct_ = type == typeid(std::filebuf) || type == typeid(std::stringbuf) ||
            type == typeid(ZnSStreamBuf) || type == typeid(ZnFdStreamBuf);
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
  put(text, static_cast<std::size_t>(formatInt(text, value) - text));
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
  put(text, static_cast<std::size_t>(formatFixedPadded(text, value, decimals, width) - text));
}

char* zn_detail::FormatFixedGeneral(char* out, float value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  // As in FormatFixed4(): 10^9 needs 21 significant bits beyond its factor
  // of two, so this product is exact too.
  const double scaled = std::fabs(static_cast<double>(value) * kScale[decimals]);
  if (!(scaled < kWhole)) {
    // Huge values, infinities and NaN, rare enough for the general routine.
    return std::to_chars(out, out + 64, static_cast<double>(value), std::chars_format::fixed,
                         decimals)
        .ptr;
  }
  const uint64_t units = static_cast<uint64_t>((scaled + kWhole) - kWhole);
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
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
