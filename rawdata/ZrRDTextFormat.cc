// The text encoding: its decoders, encoders and copy paths (see
// rawdata/ZrRDFormat.h).
#include "rawdata/ZrRDFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <string>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFormatParts.h"
#include "streams/ZnStreamPrinter.h"
#include "streams/ZnStreamScanner.h"

using zr_format::kLongestDecimalToken;
using zr_format::kLongestIntToken;
using zr_format::PackTimecode;
using zr_format::prepareGlobs;
using zr_format::put;
using zr_format::putBytes;

namespace {

// A text glob line as the encoder writes it: a line feed, an int, and two
// coordinates of at most 64 characters each, padded to 8, after a space.
constexpr std::size_t kLongestGlobLine = 1 + 11 + 2 * (1 + 64);

// Text glob arrays grow towards their stated count in steps no larger than
// the globs already read, so a damaged count cannot claim memory the input
// does not back.
constexpr int kFirstTextGlobs = 4096;

// The longest timecode text a frame header line may hold. Far beyond what
// the encoders write or a person types; a longer text is damage, and
// refusing it keeps a line without a line feed from being read whole.
constexpr std::size_t kLongestTimecodeText = 255;

// Coordinates are held in single precision. A value whose float would be
// infinite could never be written back; 2^128 - 2^103 is where rounding to
// a float reaches infinity.
constexpr double kFloatOverflow = 0x1.ffffffp127;

// Extracts a coordinate: the standard extraction of a double, failing the
// stream for a value no float holds.
bool extractCoordinate(ZnStreamScanner& scan, double* value) {
  if (!scan.extract(*value, kLongestDecimalToken)) return false;
  if (std::fabs(*value) < kFloatOverflow) return true;
  scan.stream().setstate(std::ios::failbit);
  ZnReportError("The coordinate %g is beyond the range of a float.", *value);
  return false;
}

// The timecode of a text frame header in the form the encoder writes,
// "hh:mm:ss:ff" and nothing else, read as ZnPackedTimecodeParse() reads it
// (no rate, each part within its range for that) without its general
// machinery. False for any other text, which is then left to it.
bool ParsePlainTimecode(const char* t, int length, ZnPackedTimecode* packed) {
  if (length != 11) return false;
  if (t[2] != ':' || t[5] != ':' || t[8] != ':') return false;
  int parts[4];
  for (int k = 0; k < 4; ++k) {
    const unsigned tens = static_cast<unsigned char>(t[3 * k] - '0');
    const unsigned units = static_cast<unsigned char>(t[3 * k + 1] - '0');
    if (tens > 9 || units > 9) return false;
    parts[k] = static_cast<int>(10 * tens + units);
    if (parts[k] > ZnTimecodePartMax(static_cast<ZnTimecodePart>(k + 1), 0)) return false;
  }
  *packed = PackTimecode(parts[0], parts[1], parts[2], parts[3]);
  return true;
}

// ---- Glob lines in the encoder's own form ----
//
// A text file written by the encoder holds glob lines of one shape: a line
// feed, the pixels without sign or leading zero, a space, each coordinate
// padded to 8 characters and the two separated by a space. Such a line is
// recognized with a few word-wide tests, and what the extractions read from
// it, and what the encoder would write for it, follow from its shape.

// The three shapes of a coordinate field as the encoder pads it, by the
// number of digits before the point (1 to 3): where the characters that are
// not digits stand (the point, the padding), and what they are.
struct FieldShape {
  uint64_t stops;  // the high bit of each byte that is not a digit
  uint64_t mask;   // those bytes
  uint64_t value;  // their characters: the point, then spaces
};
constexpr FieldShape kFieldShapes[4] = {
    {0, 0, 0},
    {0x8080000000008000u, 0xFFFF00000000FF00u, 0x2020000000002E00u},  // d.dddd··
    {0x8000000000800000u, 0xFF00000000FF0000u, 0x20000000002E0000u},  // dd.dddd·
    {0x0000000080000000u, 0x00000000FF000000u, 0x000000002E000000u},  // ddd.dddd
};

// Whether f, eight characters, is a coordinate field as the encoder pads it:
// one to three digits without a leading zero (a single 0 aside), a point,
// four digits, and spaces to the end. Returns the number of digits before
// the point, or 0.
inline int PlainField(uint64_t f) {
  const uint64_t stops = zn_detail::NonDigits(f);
  const unsigned whole = static_cast<unsigned>(__builtin_ctzll(stops | (uint64_t{1} << 63))) >> 3;
  if (whole - 1 > 2) return 0;
  const FieldShape& shape = kFieldShapes[whole];
  if (stops != shape.stops || (f & shape.mask) != shape.value) return 0;
  if (whole > 1 && (f & 0xFF) == '0') return 0;
  return static_cast<int>(whole);
}

// After white space, a glob line in the encoder's form. Returns the end of
// the y coordinate's digits, which is where extracting the pixels and both
// coordinates stops; sets *line to the pixels and *fieldsEnd to the end of
// the y field with its padding. The line from *line to *fieldsEnd, after a
// line feed, is what the encoder writes for the glob read: the pixels are the
// int's own text, and a coordinate in this form reads back to the same text
// (see PlainCoordinate()). Null for anything else.
inline const char* PlainGlobLine(const char* p, const char* e, const char** line,
                                 const char** fieldsEnd) {
  while (p < e && zn_detail::IsSpace(*p)) ++p;
  if (e - p < 32) return nullptr;
  const uint64_t stops = zn_detail::NonDigits(zn_detail::Load8(p));
  if (stops == 0) return nullptr;
  const int digits = __builtin_ctzll(stops) >> 3;
  if (digits == 0 || (digits > 1 && *p == '0') || p[digits] != ' ') return nullptr;
  const char* x = p + digits + 1;
  if (PlainField(zn_detail::Load8(x)) == 0 || x[8] != ' ') return nullptr;
  const char* y = x + 9;
  const int whole = PlainField(zn_detail::Load8(y));
  // A full field is followed by the white space that ends its number.
  if (whole == 0 || (whole == 3 && !zn_detail::IsSpace(y[8]))) return nullptr;
  *line = p;
  *fieldsEnd = y + 8;
  return y + whole + 5;
}

// A text camera record's glob count; a negative one is no count.
bool readGlobCount(ZnStreamScanner& scan, int* count) {
  if (scan.extract(*count, kLongestIntToken) && *count >= 0) return true;
  scan.stream().setstate(std::ios::failbit);
  ZnReportError("Error reading number of globs for camera.");
  return false;
}

// The classic locale's white space.
bool IsBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* SkipBlanks(const char* p, const char* e) {
  while (p < e && zn_detail::IsSpace(*p)) ++p;
  return p;
}

// For the few characters between two numbers: no call.
inline bool HasLineFeed(const char* p, const char* e) {
  for (; p < e; ++p) {
    if (*p == '\n') return true;
  }
  return false;
}

// Consumes the white space before the next token, as the token's extraction
// would, and answers whether it held a line feed. At the end of the input
// the stream gets eofbit, and the extraction then fails as it would have.
bool SkipSpace(std::istream& in) {
  if (!in.good()) return false;
  std::streambuf* buffer = in.rdbuf();
  const int eof = std::char_traits<char>::eof();
  bool lineFeed = false;
  int c = buffer->sgetc();
  for (; c != eof && IsBlank(c); c = buffer->snextc()) lineFeed = lineFeed || c == '\n';
  if (c == eof) in.setstate(std::ios::eofbit);
  return lineFeed;
}

// Whether the next character is white space (or the input ends there).
bool BlankNext(std::istream& in) {
  const int c = in.rdbuf()->sgetc();
  return c == std::char_traits<char>::eof() || IsBlank(c);
}

// The lines of a text frame's body as its numbers go by (see "The
// recorder's form" in ZrRDFormat.h): a glob count and a glob's pixels each
// start a line, a glob's coordinates stand on the line of its pixels. A
// departure goes to *why.
class BodyLines {
 public:
  explicit BodyLines(std::string* why) : why_(why) {}
  void setCamera(int camera) { camera_ = camera; }
  // The glob count, after white space that did or did not hold a line feed;
  // true when it departs.
  bool count(bool lineFeed) {
    if (starts(lineFeed)) return false;
    zr_format::departs(why_, "the glob count of camera %d does not start a line", camera_ + 1);
    return true;
  }
  // Glob `glob` (from 0): whether the white space before it held a line
  // feed, whether any between its numbers did, and whether two of its
  // numbers had none between them (a writer parts them; bytes lost between
  // two numbers join them); true when it departs.
  bool glob(int glob, bool lineFeed, bool broken, bool joined) {
    if (!starts(lineFeed)) {
      zr_format::departs(why_, "glob %d of camera %d does not start a line", glob + 1, camera_ + 1);
      return true;
    }
    if (broken) {
      zr_format::departs(why_, "glob %d of camera %d runs over more than one line", glob + 1,
                         camera_ + 1);
      return true;
    }
    if (!joined) return false;
    zr_format::departs(why_, "glob %d of camera %d runs two numbers together", glob + 1,
                       camera_ + 1);
    return true;
  }

 private:
  // The header line's own line feed starts the body's first line.
  bool starts(bool lineFeed) {
    const bool started = lineFeed || first_;
    first_ = false;
    return started;
  }

  std::string* why_;
  int camera_ = 0;
  bool first_ = true;
};

// Checks one text camera record without keeping it, and with kLines its
// lines as well, up to the first number that departs from them; the
// messages are those of readTextGlobs().
template <bool kLines>
bool skipTextGlobs(ZnStreamScanner& scan, BodyLines* lines) {
  std::istream& in = scan.stream();
  const bool countLine = kLines && SkipSpace(in);
  int count = 0;
  if (!readGlobCount(scan, &count)) return false;
  if (kLines && lines->count(countLine)) return true;
  for (int i = 0; i < count; ++i) {
    // The glob lines in the buffer are checked where they lie.
    const char* p;
    const char* e;
    if (scan.window(&p, &e)) {
      const char* start = p;
      for (; i < count; ++i) {
        const char* line;
        const char* fieldsEnd;
        const char* q = PlainGlobLine(p, e, &line, &fieldsEnd);
        bool broken = false;
        bool joined = false;
        if (q == nullptr) {
          line = kLines ? SkipBlanks(p, e) : p;
          q = ZnStreamScanner::checkInt(line, e);
          for (int k = 0; k < 2 && q != nullptr; ++k) {
            if (kLines) {
              const char* next = SkipBlanks(q, e);
              broken = broken || HasLineFeed(q, next);
              joined = joined || next == q;
              q = next;
            }
            q = ZnStreamScanner::checkDouble(q, e);
          }
          if (q == nullptr) break;
        }
        if (kLines && lines->glob(i, HasLineFeed(p, line), broken, joined)) {
          scan.consume(q);
          return true;
        }
        p = q;
      }
      if (p != start) scan.consume(p);
      if (i == count) break;
    }
    const bool lineFeed = kLines && SkipSpace(in);
    bool broken = false;
    bool joined = false;
    int pixels = 0;
    double value = 0.0;
    if (!scan.extract(pixels, kLongestIntToken)) {
      ZnReportError("Unable to read number of pixels.");
    } else {
      if (kLines) {
        joined = !BlankNext(in);
        broken = SkipSpace(in);
      }
      if (!extractCoordinate(scan, &value)) {
        ZnReportError("Error reading value for x.");
      } else {
        if (kLines) {
          joined = joined || !BlankNext(in);
          broken = SkipSpace(in) || broken;
        }
        if (!extractCoordinate(scan, &value)) ZnReportError("Error reading value for y.");
      }
    }
    if (in.fail()) {
      ZnReportError("Unable to read data for glob.");
      return false;
    }
    if (kLines && lines->glob(i, lineFeed, broken, joined)) return true;
  }
  return true;
}

// Reads one text camera record into *camera; the messages are those of
// ZrRDReadTextGlobs().
bool readTextGlobs(ZnStreamScanner& scan, ZrRDCamera* camera) {
  std::istream& in = scan.stream();
  int count = 0;
  if (!readGlobCount(scan, &count)) return false;
  ZnDArray<ZrRDGlob>& globs = camera->globs;
  prepareGlobs(globs, std::min(count, kFirstTextGlobs));
  for (int i = 0; i < count; ++i) {
    if (i == globs.count()) globs.resize(count - i < i ? count : 2 * i);
    ZrRDGlob& glob = globs[i];
    const char* p;
    const char* e;
    if (scan.window(&p, &e)) {
      int pixels = 0;
      double x = 0.0;
      double y = 0.0;
      const char* q = ZnStreamScanner::scanInt(p, e, &pixels);
      if (q != nullptr) q = ZnStreamScanner::scanDouble(q, e, &x);
      if (q != nullptr) q = ZnStreamScanner::scanDouble(q, e, &y);
      if (q != nullptr) {
        scan.consume(q);
        glob.pixels = pixels;
        glob.x = static_cast<float>(x);
        glob.y = static_cast<float>(y);
        continue;
      }
    }
    double value = 0.0;
    if (!scan.extract(glob.pixels, kLongestIntToken)) {
      ZnReportError("Unable to read number of pixels.");
    } else if (!extractCoordinate(scan, &value)) {
      ZnReportError("Error reading value for x.");
    } else {
      glob.x = static_cast<float>(value);
      if (!extractCoordinate(scan, &value)) {
        ZnReportError("Error reading value for y.");
      } else {
        glob.y = static_cast<float>(value);
      }
    }
    if (in.fail()) {
      camera->clearGlobs();
      ZnReportError("Unable to read data for glob.");
      return false;
    }
  }
  return true;
}

// A coordinate token in the form the text encoder writes it: an optional
// minus, one to three digits without a leading zero (a single 0 aside), a
// point and four digits, followed by a buffered character that ends it.
// Reading such a token and formatting the value again gives the same text:
// the double read is the decimal rounded, its float lies within half a float
// step (at most 2^-15 below 1000) of it, and rounding to four decimals,
// whose steps are 10^-4, brings the decimal back. Returns the token's end and
// sets *start after the white space before it; null for anything else.
inline const char* PlainCoordinate(const char* p, const char* e, const char** start) {
  using zn_detail::IsDigit;
  while (p < e && zn_detail::IsSpace(*p)) ++p;
  if (e - p < 16) return nullptr;  // the longest form, and more to read at once
  *start = p;
  if (*p == '-') ++p;
  // The digits before the point end at its position; those after it are
  // four, tested at once.
  const uint64_t stops = zn_detail::NonDigits(zn_detail::Load8(p));
  const int whole = stops == 0 ? 8 : __builtin_ctzll(stops) >> 3;
  if (whole == 0 || whole > 3 || (whole > 1 && p[0] == '0') || p[whole] != '.') return nullptr;
  p += whole + 1;
  const uint64_t after = zn_detail::NonDigits(zn_detail::Load8(p));
  if ((after & 0xFFFFFFFFu) != 0 || (after & 0xFF00000000u) == 0) return nullptr;
  p += 4;
  if (zn_detail::MoreDecimal(*p)) return nullptr;
  return p;
}

// CopyCoordinate() for a token not in the encoder's form: the value read and
// formatted. Kept out of line, so that the common case stays small.
[[gnu::noinline]] const char* FormatCoordinate(const char* p, const char* e, char** out) {
  double value = 0.0;
  const char* end = ZnStreamScanner::scanDouble(p, e, &value);
  if (end != nullptr) {
    *out = ZnStreamPrinter::formatFixedPadded(*out, static_cast<float>(value), 4, 8);
  }
  return end;
}

// Writes a coordinate field as the text encoder writes it: the token when it
// is in the encoder's form, else the value read and formatted. Returns the
// token's end, or null when the buffered characters do not settle it.
inline const char* CopyCoordinate(const char* p, const char* e, char** out) {
  char* field = *out;
  const char* start;
  const char* end = PlainCoordinate(p, e, &start);
  if (end != nullptr) {
    // Six to nine characters, padded to eight: eight at once, spaces beyond
    // the token, then a ninth when there is one.
    const std::ptrdiff_t length = end - start;
    uint64_t text = zn_detail::Load8(start);
    if (length < 8) {
      const uint64_t kept = (uint64_t{1} << (8 * length)) - 1;
      text = (text & kept) | (0x2020202020202020u & ~kept);
    }
    std::memcpy(field, &text, 8);
    field[8] = start[8];
    *out = field + (length > 8 ? 9 : 8);
    return end;
  }
  return FormatCoordinate(p, e, out);
}

// A glob line as the text encoder writes it, into `line` (kLongestGlobLine
// bytes); returns its end.
char* FormatGlobLine(char* line, int pixels, float x, float y) {
  char* p = line;
  *p++ = '\n';
  p = ZnStreamPrinter::formatInt(p, pixels);
  *p++ = ' ';
  p = ZnStreamPrinter::formatFixedPadded(p, x, 4, 8);
  *p++ = ' ';
  return ZnStreamPrinter::formatFixedPadded(p, y, 4, 8);
}

// Reads one text camera record as readTextGlobs() would, with the same
// messages, and writes what the text encoder writes for the camera it
// builds, the `index`-th of its frame. Lines go out a block at a time, so a
// camera of any size costs no more memory than the block.
bool copyTextGlobs(ZnStreamScanner& scan, int index, ZnStreamPrinter& out) {
  std::istream& in = scan.stream();
  int count = 0;
  if (!readGlobCount(scan, &count)) return false;
  char text[16];
  char* end = text;
  if (index > 0) *end++ = '\n';
  end = ZnStreamPrinter::formatInt(end, count);
  putBytes(out, text, static_cast<size_t>(end - text));
  for (int i = 0; i < count; ++i) {
    // The glob lines in the buffer are copied where they lie, gathered in a
    // block that goes out whole.
    const char* p;
    const char* e;
    if (scan.window(&p, &e)) {
      const char* start = p;
      char block[4096];
      char* next = block;
      for (; i < count; ++i) {
        if (block + sizeof block - next < static_cast<std::ptrdiff_t>(kLongestGlobLine)) {
          putBytes(out, block, static_cast<size_t>(next - block));
          next = block;
        }
        const char* plain;
        const char* fieldsEnd;
        const char* q = PlainGlobLine(p, e, &plain, &fieldsEnd);
        if (q != nullptr) {
          // At most 25 characters, with 32 readable: copied in one piece.
          *next = '\n';
          std::memcpy(next + 1, plain, 32);
          next += 1 + (fieldsEnd - plain);
          p = q;
          continue;
        }
        int pixels = 0;
        q = ZnStreamScanner::scanInt(p, e, &pixels);
        if (q == nullptr) break;
        char* line = next;
        *next++ = '\n';
        next = ZnStreamPrinter::formatInt(next, pixels);
        *next++ = ' ';
        q = CopyCoordinate(q, e, &next);
        if (q != nullptr) {
          *next++ = ' ';
          q = CopyCoordinate(q, e, &next);
        }
        if (q == nullptr) {
          next = line;
          break;
        }
        p = q;
      }
      putBytes(out, block, static_cast<size_t>(next - block));
      if (p != start) scan.consume(p);
      if (i == count) break;
    }
    int pixels = 0;
    double x = 0.0;
    double y = 0.0;
    if (!scan.extract(pixels, kLongestIntToken)) {
      ZnReportError("Unable to read number of pixels.");
    } else if (!extractCoordinate(scan, &x)) {
      ZnReportError("Error reading value for x.");
    } else if (!extractCoordinate(scan, &y)) {
      ZnReportError("Error reading value for y.");
    }
    if (in.fail()) {
      ZnReportError("Unable to read data for glob.");
      return false;
    }
    char line[kLongestGlobLine];
    const char* lineEnd = FormatGlobLine(line, pixels, static_cast<float>(x), static_cast<float>(y));
    putBytes(out, line, static_cast<size_t>(lineEnd - line));
  }
  return true;
}

void reportCameraFailure(int i) {
  ZnReportError("Cannot read data for camera.");
  if (i > 0) {
    ZnReportError("The last successfully read camera was %d.", i);
  } else {
    ZnReportError("An error occurred reading the first camera.");
  }
}

}  // namespace

namespace zr_format {

void writeTextFrameHeader(ZnStreamPrinter& out, const ZrRDFrame& frame) {
  if (!out.formatted()) {
    std::ostream& os = out.stream();
    os << frame.number;
    if (frame.timecode) os << ' ' << ZnPackedTimecodeFormat(*frame.timecode, false).c_str();
    os << "\n";
    return;
  }
  out.putInt(frame.number);
  if (frame.timecode) {
    out.put(" ", 1);
    // The parts of a timecode below 100 each, in the "%02d" of the general
    // formatting, without a string or a printf per frame.
    const ZnTimecode parts = ZnTimecode::unpack(*frame.timecode);
    const int values[4] = {parts.hour, parts.minute, parts.second, parts.frame};
    if (values[0] < 100 && values[1] < 100 && values[2] < 100 && values[3] < 100) {
      char text[12];
      for (int k = 0; k < 4; ++k) {
        text[3 * k] = static_cast<char>('0' + values[k] / 10);
        text[3 * k + 1] = static_cast<char>('0' + values[k] % 10);
        text[3 * k + 2] = ':';
      }
      out.put(text, 11);
    } else {
      ZnStr text = ZnPackedTimecodeFormat(*frame.timecode, false);
      out.put(text.c_str(), std::strlen(text.c_str()));
    }
  }
  out.put("\n", 1);
}

void writeTextCameras(ZnStreamPrinter& out, const ZrRDFrame& frame) {
  std::ostream& os = out.stream();
  const bool direct = out.formatted();
  bool anyGlob = false;
  int slots = frame.cameraCount();
  for (int i = 0; i < slots; ++i) {
    const ZrRDCamera* camera = frame.camera(i);
    int count = camera != nullptr ? camera->globs.count() : 0;
    if (!direct) {
      if (i > 0) os << "\n";
      os << count;
      for (int k = 0; k < count; ++k) {
        const ZrRDGlob& glob = camera->globs[k];
        os << "\n"
           << glob.pixels << ' ' << std::left << std::fixed << std::setprecision(4) << std::setw(8)
           << glob.x << ' ' << std::setw(8) << glob.y;
        os.unsetf(std::ios::left | std::ios::fixed);
      }
      continue;
    }
    if (i > 0) out.put("\n", 1);
    out.putInt(count);
    for (int k = 0; k < count; ++k) {
      const ZrRDGlob& glob = camera->globs[k];
      // The glob line's insertions straight into the buffer where it has
      // room for the longest line.
      if (char* p = out.reserve(kLongestGlobLine)) {
        *p++ = '\n';
        p = ZnStreamPrinter::formatInt(p, glob.pixels);
        *p++ = ' ';
        p = ZnStreamPrinter::formatFixedPadded(p, glob.x, 4, 8);
        *p++ = ' ';
        p = ZnStreamPrinter::formatFixedPadded(p, glob.y, 4, 8);
        out.commit(p);
        continue;
      }
      out.put("\n", 1);
      out.putInt(glob.pixels);
      out.put(" ", 1);
      out.putFixed(glob.x, 4, 8);
      out.put(" ", 1);
      out.putFixed(glob.y, 4, 8);
    }
    anyGlob = anyGlob || count > 0;
  }
  if (anyGlob) {
    // The formatting state the insertions above stand for leave behind.
    os.precision(4);
    os.unsetf(std::ios::left | std::ios::fixed);
  }
}

bool skipTextCameras(std::istream& in, int cameraCount, std::string* why) {
  ZnStreamScanner scan(in);
  BodyLines lines(why);
  for (int i = 0; i < cameraCount; ++i) {
    if (why != nullptr) {
      lines.setCamera(i);
      skipTextGlobs<true>(scan, &lines);
      if (!in.fail() && !why->empty()) return true;
    } else {
      skipTextGlobs<false>(scan, nullptr);
    }
    if (in.fail()) {
      reportCameraFailure(i);
      return false;
    }
  }
  return true;
}

}  // namespace zr_format

bool ZrRDReadTextCounts(std::istream& in, int* cameras, int* frames) {
  ZnStreamScanner scan(in);
  int value = 0;
  if (!scan.extract(value, kLongestIntToken)) {
    ZnReportError("Unable to read number of cameras.");
    return false;
  }
  *cameras = value;
  if (!scan.extract(value, kLongestIntToken)) {
    ZnReportError("Unable to read number of frames.");
    return false;
  }
  *frames = value;
  return true;
}

namespace {

enum class LineRest { kLine, kEnd, kTooLong };

// Reads the rest of a text frame header line through its line feed, a
// character at a time from the buffer, so that its cost is its length
// however long it runs. *text gets what stands between the white space at
// its ends, NULs included. A line that the end of the input cuts off is taken
// as it stands (the stream is then at its end). kEnd: the input ended before
// any character of the line. kTooLong: the text grew beyond
// kLongestTimecodeText characters, and nothing after them was read.
LineRest ReadLineRest(std::istream& in, std::string* text) {
  std::streambuf* buffer = in.rdbuf();
  text->clear();
  std::string blanks;  // blanks after the text so far, kept while they could join it
  std::size_t pending = 0;
  bool any = false;
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      return any ? LineRest::kLine : LineRest::kEnd;
    }
    any = true;
    if (c == '\n') return LineRest::kLine;
    if (IsBlank(c)) {
      if (!text->empty() && text->size() + ++pending <= kLongestTimecodeText) {
        blanks.push_back(static_cast<char>(c));
      }
      continue;
    }
    if (text->size() + pending + 1 > kLongestTimecodeText) return LineRest::kTooLong;
    text->append(blanks);
    blanks.clear();
    pending = 0;
    text->push_back(static_cast<char>(c));
  }
}

// The text for a message, a NUL shown as \0.
std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

bool ZrRDReadTextFrameHeader(std::istream& in, ZrRDFrame& frame, std::string* timecodeText) {
  ZnStreamScanner scan(in);
  int number = 0;
  if (!scan.extract(number, kLongestIntToken)) {
    ZnReportError("Unable to read frame number.");
    return false;
  }
  frame.number = number;
  if (timecodeText != nullptr) timecodeText->clear();
  std::string rest;
  // A buffered line without a NUL is trimmed where it lies; only a timecode
  // in another form than the encoder's needs a string.
  int length = 0;
  const char* line = scan.bufferedLine(254, &length);
  if (line != nullptr && std::memchr(line, '\0', static_cast<size_t>(length)) == nullptr) {
    int first = 0;
    int last = length;
    while (first < last && IsBlank(static_cast<unsigned char>(line[first]))) ++first;
    while (last > first && IsBlank(static_cast<unsigned char>(line[last - 1]))) --last;
    ZnPackedTimecode plain = 0;
    if (first == last || ParsePlainTimecode(line + first, last - first, &plain)) {
      if (first == last) {
        frame.timecode.reset();
      } else {
        frame.timecode = plain;
        if (timecodeText != nullptr) timecodeText->assign(line + first, 11);
      }
      scan.advance(length + 1);
      return true;
    }
    rest.assign(line + first, static_cast<size_t>(last - first));
    scan.advance(length + 1);
  } else {
    switch (ReadLineRest(in, &rest)) {
      case LineRest::kEnd:
        // The input ended right after the number: no line to read.
        in.setstate(std::ios::failbit);
        ZnReportError("Unable to read timecode.");
        return false;
      case LineRest::kTooLong:
        in.setstate(std::ios::failbit);
        ZnReportError("Unable to convert \"%s...\" to timecode.", Printable(rest).c_str());
        return false;
      case LineRest::kLine:
        break;
    }
    if (rest.empty()) {
      frame.timecode.reset();
      return true;
    }
  }
  // A NUL is no part of any timecode; the text must not end at it unseen.
  ZnPackedTimecode packed = 0;
  if (rest.find('\0') != std::string::npos ||
      !ZnPackedTimecodeParse(ZnStr(rest.c_str()), &packed, false)) {
    in.setstate(std::ios::failbit);
    ZnReportError("Unable to convert \"%s\" to timecode.", Printable(rest).c_str());
    return false;
  }
  frame.timecode = packed;
  if (timecodeText != nullptr) *timecodeText = rest;
  return true;
}

namespace {

// An int in the form the printer writes it: an optional minus, then digits
// without a leading zero (0 itself aside). Returns its end, or null.
const char* EncodedInt(const char* p, const char* e, bool sign) {
  if (sign && p < e && *p == '-') ++p;
  const char* digits = p;
  while (p < e && zn_detail::IsDigit(*p)) ++p;
  if (p == digits || p - digits > 10 || (*digits == '0' && p - digits > 1)) return nullptr;
  return p;
}

}  // namespace

bool ZrRDIsEncodedTextFrame(const char* p, const char* e, int cameras) {
  // The header line.
  p = EncodedInt(p, e, true);
  if (p == nullptr || p == e) return false;
  if (*p == ' ') {
    const char* text = ++p;
    while (p < e && *p != '\n') ++p;
    if (p == e || p == text || IsBlank(static_cast<unsigned char>(*text)) ||
        IsBlank(static_cast<unsigned char>(p[-1])) || std::memchr(text, '\0', p - text) != nullptr) {
      return false;
    }
  }
  if (*p++ != '\n') return false;
  // The camera records.
  for (int c = 0; c < cameras; ++c) {
    if (c > 0 && (p == e || *p++ != '\n')) return false;
    const char* countStart = p;
    p = EncodedInt(p, e, false);
    if (p == nullptr) return false;
    long globs = 0;
    for (const char* d = countStart; d < p; ++d) globs = globs * 10 + (*d - '0');
    for (long g = 0; g < globs; ++g) {
      if (p == e || *p++ != '\n') return false;
      p = EncodedInt(p, e, false);
      // Pixels, a space, two coordinate fields padded to 8 with a space
      // between them.
      if (p == nullptr || e - p < 18 || *p != ' ' || p[9] != ' ') return false;
      if (PlainField(zn_detail::Load8(p + 1)) == 0 || PlainField(zn_detail::Load8(p + 10)) == 0) {
        return false;
      }
      p += 18;
    }
  }
  return p == e;
}

bool ZrRDReadTextGlobs(std::istream& in, ZrRDCamera& camera) {
  ZnStreamScanner scan(in);
  return readTextGlobs(scan, &camera);
}

bool ZrRDReadTextCameras(std::istream& in, ZrRDFrame& frame) {
  ZnStreamScanner scan(in);
  return zr_format::readCameras(
      in, frame, [&scan](ZrRDCamera* camera) { return readTextGlobs(scan, camera); },
      reportCameraFailure);
}

bool ZrRDCopyTextCameras(std::istream& in, int cameraCount, std::ostream& out) {
  ZnStreamScanner scan(in);
  ZnStreamPrinter printer(out);
  for (int i = 0; i < cameraCount; ++i) {
    copyTextGlobs(scan, i, printer);
    if (in.fail()) {
      reportCameraFailure(i);
      return false;
    }
  }
  return true;
}

void ZrRDWriteTextCounts(std::ostream& os, int frames, int cameras) {
  os << cameras << "\n" << frames << "\n";
}

void ZrRDWriteTextFrameHeader(std::ostream& os, const ZrRDFrame& frame) {
  ZnStreamPrinter out(os);
  zr_format::writeTextFrameHeader(out, frame);
}

void ZrRDWriteTextFrameHeader(std::ostream& os, int number, const std::string& timecodeText) {
  ZnStreamPrinter out(os);
  if (out.formatted()) {
    out.putInt(number);
  } else {
    os << number;
  }
  if (!timecodeText.empty()) {
    put(out, " ", 1);
    put(out, timecodeText.data(), timecodeText.size());
  }
  put(out, "\n", 1);
}

void ZrRDWriteTextCameras(std::ostream& os, const ZrRDFrame& frame) {
  ZnStreamPrinter out(os);
  zr_format::writeTextCameras(out, frame);
}

bool ZrRDSkipTextCamerasInForm(std::istream& in, int cameraCount, std::string* why) {
  return zr_format::skipTextCameras(in, cameraCount, why);
}

bool ZrRDCutTextHeaderInForm(const char* p, const char* e) {
  // The frame number, of which the end may have cut digits or all of them:
  // what is there can still begin an int.
  const char* number = p;
  const bool negative = p < e && *p == '-';
  if (p < e && (*p == '+' || *p == '-')) ++p;
  const char* digits = p;
  int64_t value = 0;
  for (; p < e && zn_detail::IsDigit(*p); ++p) {
    value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t{1} << 40);
  }
  if (value > (negative ? int64_t{1} << 31 : INT32_MAX) ||
      p - number > static_cast<std::ptrdiff_t>(kLongestIntToken)) {
    return false;
  }
  if (p == e) return true;
  if (p == digits || !IsBlank(static_cast<unsigned char>(*p))) return false;
  // The timecode text, from its first character to its last, as the header
  // decoder bounds it.
  const char* first = nullptr;
  for (; p < e; ++p) {
    const char c = *p;
    if (IsBlank(static_cast<unsigned char>(c))) continue;
    if (!zn_detail::IsDigit(c) && c != ':' && c != ';' && c != '.' && c != '/') return false;
    if (first == nullptr) first = p;
    if (p - first >= static_cast<std::ptrdiff_t>(kLongestTimecodeText)) return false;
  }
  return true;
}
