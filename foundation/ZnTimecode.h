// Video-style timecodes: hours, minutes, seconds and frames, with an optional
// frame rate.
//
// A timecode travels in two forms. ZnTimecode is the unpacked record of five
// ints; ZnPackedTimecode is one unsigned 32-bit value,
//   (hour * 108000 + minute * 1800 + second * 30 + frame) * 31 + rate,
// that is a frame count at a nominal 30 frames per second, times 31, plus the
// rate (0 to 30). A rate of 0 means that no rate is known. Packing does not
// validate; every valid timecode packs below 2^31 and 0 is 00:00:00:00.
//
// The text form is "hh:mm:ss:ff", with a semicolon instead of the last colon
// for drop frame, an optional fraction of a frame (".5") after the frames and
// an optional rate ("/25") at the end. A fraction of exactly -1.0 means that
// none is given.
//
// Only the parser reports errors (through ZnReportError, and only when asked
// to); every other operation accepts any input and never fails. Operations
// that take a rate treat a rate below 1 as "no rate known": the arithmetic then
// uses the nominal 30 frames per second, the same count the part maxima allow
// for rate 0, so nothing ever divides by zero.
#ifndef HDRMEND_FOUNDATION_ZNTIMECODE_H_
#define HDRMEND_FOUNDATION_ZNTIMECODE_H_

#include <cstdint>

#include "foundation/ZnStr.h"

typedef uint32_t ZnPackedTimecode;

// The greatest frame rate a timecode can carry.
constexpr int ZnTimecodeMaxRate = 30;

enum class ZnTimecodePart { Hour = 1, Minute = 2, Second = 3, Frame = 4 };

// The greatest valid value of a part: 23, 59, 59, and rate - 1 for the frame
// (29 when the rate is below 1). -1 for a value that names no part.
int ZnTimecodePartMax(ZnTimecodePart part, int rate);
// "hour", "minute", "second" or "frame"; "" for a value that names no part.
const char* ZnTimecodePartName(ZnTimecodePart part);

struct ZnTimecode {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int frame = 0;
  int rate = 0;  // 1 to 30, or 0 when no rate is known

  ZnPackedTimecode pack() const;
  static ZnTimecode unpack(ZnPackedTimecode packed);

  // The value of one part; 0 for a value that names no part.
  int part(ZnTimecodePart which) const;
  // True when the part lies in 0..ZnTimecodePartMax(part, rate), with the
  // record's own rate. False for a value that names no part.
  bool partValid(ZnTimecodePart which) const;
  // partValid() for hour, minute, second and frame. The rate field itself is
  // not checked.
  bool valid() const;

  // "hh:mm:ss:ff" (';' before the frames with dropFrame), then ".dddd" when
  // fraction is not -1.0, then "/rate" when withRate is set and rate > 0.
  ZnStr format(bool dropFrame, bool withRate, float fraction) const;
  ZnStr format(bool withRate) const { return format(false, withRate, -1.0f); }

  // Reads the text form. On success stores the timecode (with the rate given
  // after a slash, else 0), the fraction (-1.0 when none) and the drop-frame
  // flag, and returns true. On failure returns false, reports why through
  // ZnReportError when `report` is set (and reports nothing otherwise), and
  // leaves every output unchanged. fraction and dropFrame may be null.
  static bool parse(const ZnStr& text, ZnTimecode* timecode, float* fraction, bool* dropFrame,
                    bool report);

  // The frame count since 00:00:00:00, in 32-bit arithmetic that wraps rather
  // than overflows. With dropFrame, two frame numbers are skipped at every
  // minute except each tenth, counted at a nominal 30 frames per second
  // whatever the rate.
  int toFrames(int rate, bool dropFrame) const;
  // Sets all five fields from a frame count; the inverse of toFrames(). A
  // negative count is counted back from the end of the day; a positive one is
  // not reduced, so the hour may exceed 23. The rate field becomes `rate`, or
  // 0 when that is below 1.
  void fromFrames(int count, int rate, bool dropFrame);
  // hour * 3600 + minute * 60 + second + frame / rate.
  double toSeconds(int rate) const;
  // fromFrames(floor(rate * secs), rate, no drop frame); counts beyond the int
  // range are clamped to it, and NaN counts as 0.
  void fromSeconds(int rate, double secs);

  // One frame forward or back. Frames wrap at the rate, seconds and minutes at
  // 60, each carrying into the next part; the hour wraps at 24 without carry.
  // The rate field is left alone.
  void increment(int rate);
  void decrement(int rate);
  // Brings frame, second, minute and hour (in that order) into range by
  // carrying an overflow into the next part. Each part wraps at most once; a
  // carry out of the hour is dropped.
  void normalize(int rate);
};

// packed mod 31.
int ZnPackedTimecodeRate(ZnPackedTimecode packed);

ZnStr ZnPackedTimecodeFormat(ZnPackedTimecode packed, bool dropFrame, bool withRate,
                             float fraction);
// No drop frame and no fraction: "01:02:03:04".
ZnStr ZnPackedTimecodeFormat(ZnPackedTimecode packed, bool withRate);

// ZnTimecode::parse(), then pack(). *packed is written only on success.
bool ZnPackedTimecodeParse(const ZnStr& text, ZnPackedTimecode* packed, float* fraction,
                           bool* dropFrame, bool report);
bool ZnPackedTimecodeParse(const ZnStr& text, ZnPackedTimecode* packed, bool report);

// Moves the timecode n frames (n may be negative) at its own rate, without
// drop frame, and keeps its rate.
ZnPackedTimecode ZnPackedTimecodeAddFrames(ZnPackedTimecode packed, int n);

// Seconds from b to a on a 24-hour clock, in -43200..43200: 00:00:01:00 minus
// 23:59:59:00 is 2.0. The first form takes each timecode at its own rate, the
// second takes both at `rate`.
double ZnPackedTimecodeDifference(ZnPackedTimecode a, ZnPackedTimecode b);
double ZnPackedTimecodeDifference(ZnPackedTimecode a, ZnPackedTimecode b, int rate);

// The point at weight t (0 gives a, 1 gives b) between timecode a with
// fraction fracA and timecode b with fraction fracB, where b is taken to be the
// frame after a unless the two are equal. Stores the timecode and its fraction.
void ZnPackedTimecodeInterpolate(ZnPackedTimecode a, float fracA, ZnPackedTimecode b, float fracB,
                                 float t, ZnPackedTimecode* packed, float* fraction);

#endif  // HDRMEND_FOUNDATION_ZNTIMECODE_H_
