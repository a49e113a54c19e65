// Writes text straight into an output stream's buffer, with the results of
// the stream's own insertions.
//
// A formatted insertion costs a sentry, a locale lookup and a printf per
// field. A printer formats numbers itself and hands each field to the stream
// buffer as the insertion it stands for would: one put is one insertion (or
// one write()), its characters go to the buffer as one sputn, or straight
// into the put area when the buffer is one of the standard kinds and there is
// room for them and more (which is all that sputn does then). The stream's
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

#include <cstddef>
#include <ostream>

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
  // os << value.
  void putInt(long long value);
  // os << std::fixed << std::left << std::setprecision(decimals)
  //    << std::setw(width) << value, with decimals from 0 to 9; the flags and
  // the precision themselves are the caller's to set. Like the insertion it
  // leaves the field width at 0, or at `width` when the stream was not good.
  void putFixed(float value, int decimals, int width);

  // The text putFixed() inserts, without the padding, into `out` (at least
  // 64 bytes); returns its end.
  static char* formatFixed(char* out, float value, int decimals);

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
