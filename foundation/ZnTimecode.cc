#include "foundation/ZnTimecode.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnMessage.h"

namespace {

// Frames in an hour, a minute and a second at the nominal 30 frames per
// second: the weights of the packed form.
constexpr uint32_t kPackedHour = 108000;
constexpr uint32_t kPackedMinute = 1800;
constexpr uint32_t kPackedSecond = 30;
constexpr uint32_t kPackedRates = ZnTimecodeMaxRate + 1;

constexpr int kNominalRate = 30;
constexpr int kSecondsPerDay = 86400;

int EffectiveRate(int rate) { return rate < 1 ? kNominalRate : rate; }

// Two's-complement wrap to 32 bits: callers do their arithmetic in unsigned
// (or wider) types so that garbage input wraps instead of overflowing.
int32_t Wrap32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

void SetFromFrames(ZnTimecode* tc, int64_t count, int rate, bool dropFrame) {
  const int r = EffectiveRate(rate);
  const int64_t day = static_cast<int64_t>(r) * kSecondsPerDay;
  if (count < 0) {
    // One day back covers every count a day's timecode can produce; counts
    // further back are brought into the same day rather than left negative.
    count %= day;
    if (count < 0) count += day;
  }
  if (dropFrame) {
    // 17982 frame numbers in ten drop-frame minutes, 1798 in each minute after
    // the first of the ten. M of 0 or 1 truncates to no skipped pair.
    const int64_t d = count / 17982;
    const int64_t m = count % 17982;
    count += 18 * d + 2 * ((m - 2) / 1798);
  }
  const int64_t seconds = count / r;
  tc->frame = static_cast<int>(count % r);
  tc->hour = static_cast<int>(seconds / 3600);
  tc->minute = static_cast<int>(seconds % 3600 / 60);
  tc->second = static_cast<int>(seconds % 60);
  tc->rate = rate < 1 ? 0 : rate;
}

// Advances *v; at `limit` it wraps to 0 and the step carries.
bool StepUp(int* v, int limit) {
  if (*v >= limit - 1) {
    *v = 0;
    return true;
  }
  ++*v;
  return false;
}

// Moves *v back; below 0 it wraps to limit - 1 and the step borrows.
bool StepDown(int* v, int limit) {
  if (*v <= 0) {
    *v = limit - 1;
    return true;
  }
  --*v;
  return false;
}

bool Reject(bool report, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool Reject(bool report, const char* fmt, ...) {
  if (report) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    ZnReportError("%s", text);
  }
  return false;
}

// The field that holds a part, or null; const-ness follows the record's.
template <class Record>
auto PartField(Record* tc, ZnTimecodePart part) -> decltype(&tc->hour) {
  switch (part) {
    case ZnTimecodePart::Hour:
      return &tc->hour;
    case ZnTimecodePart::Minute:
      return &tc->minute;
    case ZnTimecodePart::Second:
      return &tc->second;
    case ZnTimecodePart::Frame:
      return &tc->frame;
  }
  return nullptr;
}

}  // namespace

int ZnTimecodePartMax(ZnTimecodePart part, int rate) {
  switch (part) {
    case ZnTimecodePart::Hour:
      return 23;
    case ZnTimecodePart::Minute:
    case ZnTimecodePart::Second:
      return 59;
    case ZnTimecodePart::Frame:
      return EffectiveRate(rate) - 1;
  }
  return -1;
}

const char* ZnTimecodePartName(ZnTimecodePart part) {
  switch (part) {
    case ZnTimecodePart::Hour:
      return "hour";
    case ZnTimecodePart::Minute:
      return "minute";
    case ZnTimecodePart::Second:
      return "second";
    case ZnTimecodePart::Frame:
      return "frame";
  }
  return "";
}

ZnPackedTimecode ZnTimecode::pack() const {
  const uint32_t count =
      static_cast<uint32_t>(hour) * kPackedHour + static_cast<uint32_t>(minute) * kPackedMinute +
      static_cast<uint32_t>(second) * kPackedSecond + static_cast<uint32_t>(frame);
  return count * kPackedRates + static_cast<uint32_t>(rate);
}

ZnTimecode ZnTimecode::unpack(ZnPackedTimecode packed) {
  ZnTimecode tc;
  tc.rate = static_cast<int>(packed % kPackedRates);
  uint32_t n = packed / kPackedRates;
  tc.hour = static_cast<int>(n / kPackedHour);
  n -= static_cast<uint32_t>(tc.hour) * kPackedHour;
  tc.minute = static_cast<int>(n / kPackedMinute);
  n -= static_cast<uint32_t>(tc.minute) * kPackedMinute;
  tc.second = static_cast<int>(n / kPackedSecond);
  tc.frame = static_cast<int>(n - static_cast<uint32_t>(tc.second) * kPackedSecond);
  return tc;
}

int ZnTimecode::part(ZnTimecodePart which) const {
  const int* field = PartField(this, which);
  return field ? *field : 0;
}

bool ZnTimecode::partValid(ZnTimecodePart which) const {
  const int max = ZnTimecodePartMax(which, rate);
  const int value = part(which);
  return max >= 0 && value >= 0 && value <= max;
}

bool ZnTimecode::valid() const {
  return partValid(ZnTimecodePart::Hour) && partValid(ZnTimecodePart::Minute) &&
         partValid(ZnTimecodePart::Second) && partValid(ZnTimecodePart::Frame);
}

ZnStr ZnTimecode::format(bool dropFrame, bool withRate, float fraction) const {
  char text[128];
  int n = snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", hour, minute, second,
                   dropFrame ? ';' : ':', frame);
  // NaN is a fraction too: only the exact "none" marker is left out.
  if (fraction != -1.0f) {
    char digits[64];
    snprintf(digits, sizeof digits, "%.4f", static_cast<double>(fraction));
    const char* point = strchr(digits, '.');
    if (point) n += snprintf(text + n, sizeof text - n, "%s", point);
  }
  if (withRate && rate > 0) snprintf(text + n, sizeof text - n, "/%d", rate);
  return ZnStr(text);
}

bool ZnTimecode::parse(const ZnStr& text, ZnTimecode* timecode, float* fraction, bool* dropFrame,
                       bool report) {
  ZnTimecode tc;
  bool drop = false;
  float frac = -1.0f;

  ZnStr s = text.isNull() ? ZnStr("") : text;
  int slash;
  if (s.findChar('/', &slash)) {
    if (slash == s.length() - 1) return Reject(report, "No value given for timecode frame rate.");
    const ZnStr rateText = s.from(slash + 1);
    s = s.left(slash);
    // Compared before any narrowing, so that a huge value cannot wrap into the
    // accepted range.
    long r = 0;
    if (!rateText.toLong(&r) || r < 1) {
      return Reject(report, "Invalid value \"%s\" given for timecode frame rate.",
                    rateText.c_str());
    }
    if (r > ZnTimecodeMaxRate) {
      return Reject(report, "The timecode frame rate cannot be greater than %d.",
                    ZnTimecodeMaxRate);
    }
    tc.rate = static_cast<int>(r);
  }

  const char* p = s.c_str();
  for (int k = 1; k <= 4; ++k) {
    const ZnTimecodePart part = static_cast<ZnTimecodePart>(k);
    const char* name = ZnTimecodePartName(part);
    if (*p == '\0') return Reject(report, "No value given for %s.", name);
    if (isspace(static_cast<unsigned char>(*p))) {
      return Reject(report, "Invalid character ' ' in timecode.");
    }
    char* end;
    const long value = strtol(p, &end, 10);
    if (end == p) {
      if (!report) return false;
      const char* colon = strchr(p, ':');
      const ZnStr bad = colon ? ZnStr(p, static_cast<int>(colon - p)) : ZnStr(p);
      if (bad.length() == 0) return Reject(report, "No value given for %s.", name);
      return Reject(report, "Invalid value (%s) for %s.", bad.c_str(), name);
    }
    p = end;
    // Checked at full width: a value beyond the int range must not wrap into
    // the valid one.
    const int max = ZnTimecodePartMax(part, tc.rate);
    if (value < 0 || value > max) {
      return Reject(report, "Invalid value (%ld) for %s.  Valid range of value is 0-%d.", value,
                    name, max);
    }
    *PartField(&tc, part) = static_cast<int>(value);

    if (part == ZnTimecodePart::Frame) break;
    // Without this the end of the text would be quoted as the separator found.
    if (*p == '\0') {
      return Reject(report, "No value given for %s.",
                    ZnTimecodePartName(static_cast<ZnTimecodePart>(k + 1)));
    }
    if (*p == ':' || (*p == ';' && part == ZnTimecodePart::Second)) {
      drop = *p == ';';
      ++p;
    } else {
      return Reject(report, "Expecting separator character '%c' after %s.", *p, name);
    }
  }

  if (*p == '.') {
    if (!(ZnStr("0") + p).toFloat(&frac)) {
      return Reject(report, "Invalid value \"%s\" for timecode percentage.", p);
    }
  } else if (*p != '\0') {
    return Reject(report, "Unexpected extra characters \"%s\" in timecode.", p);
  }

  *timecode = tc;
  if (fraction) *fraction = frac;
  if (dropFrame) *dropFrame = drop;
  return true;
}

int ZnTimecode::toFrames(int rate, bool dropFrame) const {
  const uint32_t r = static_cast<uint32_t>(EffectiveRate(rate));
  const uint32_t seconds = static_cast<uint32_t>(hour) * 3600u +
                           static_cast<uint32_t>(minute) * 60u + static_cast<uint32_t>(second);
  const int32_t n = Wrap32(r * seconds + static_cast<uint32_t>(frame));
  if (!dropFrame) return n;
  return Wrap32(static_cast<uint64_t>(static_cast<int64_t>(n) + 2 * (n / 18000) - 2 * (n / 1800)));
}

void ZnTimecode::fromFrames(int count, int rate, bool dropFrame) {
  SetFromFrames(this, count, rate, dropFrame);
}

double ZnTimecode::toSeconds(int rate) const {
  return hour * 3600.0 + minute * 60.0 + second + static_cast<double>(frame) / EffectiveRate(rate);
}

void ZnTimecode::fromSeconds(int rate, double secs) {
  const double frames = std::floor(EffectiveRate(rate) * secs);
  int count;
  if (std::isnan(frames)) {
    count = 0;
  } else if (frames <= INT_MIN) {
    count = INT_MIN;
  } else if (frames >= INT_MAX) {
    count = INT_MAX;
  } else {
    count = static_cast<int>(frames);
  }
  SetFromFrames(this, count, rate, false);
}

void ZnTimecode::increment(int rate) {
  if (StepUp(&frame, EffectiveRate(rate)) && StepUp(&second, 60) && StepUp(&minute, 60)) {
    StepUp(&hour, 24);
  }
}

void ZnTimecode::decrement(int rate) {
  if (StepDown(&frame, EffectiveRate(rate)) && StepDown(&second, 60) && StepDown(&minute, 60)) {
    StepDown(&hour, 24);
  }
}

void ZnTimecode::normalize(int rate) {
  int* fields[] = {&frame, &second, &minute, &hour};
  const int64_t maxima[] = {EffectiveRate(rate) - 1, 59, 59, 23};
  int carry = 0;
  for (int i = 0; i < 4; ++i) {
    int64_t value = static_cast<int64_t>(*fields[i]) + carry;
    carry = 0;
    if (value > maxima[i]) {
      value -= maxima[i] + 1;
      carry = 1;
    }
    *fields[i] = static_cast<int>(value);
  }
}

int ZnPackedTimecodeRate(ZnPackedTimecode packed) {
  return static_cast<int>(packed % kPackedRates);
}

ZnStr ZnPackedTimecodeFormat(ZnPackedTimecode packed, bool dropFrame, bool withRate,
                             float fraction) {
  return ZnTimecode::unpack(packed).format(dropFrame, withRate, fraction);
}

ZnStr ZnPackedTimecodeFormat(ZnPackedTimecode packed, bool withRate) {
  return ZnTimecode::unpack(packed).format(withRate);
}

bool ZnPackedTimecodeParse(const ZnStr& text, ZnPackedTimecode* packed, float* fraction,
                           bool* dropFrame, bool report) {
  ZnTimecode tc;
  if (!ZnTimecode::parse(text, &tc, fraction, dropFrame, report)) return false;
  *packed = tc.pack();
  return true;
}

bool ZnPackedTimecodeParse(const ZnStr& text, ZnPackedTimecode* packed, bool report) {
  return ZnPackedTimecodeParse(text, packed, nullptr, nullptr, report);
}

ZnPackedTimecode ZnPackedTimecodeAddFrames(ZnPackedTimecode packed, int n) {
  ZnTimecode tc = ZnTimecode::unpack(packed);
  const int rate = tc.rate;
  // The sum is taken at full width; unpacked fields are small, so toFrames()
  // cannot wrap here.
  SetFromFrames(&tc, static_cast<int64_t>(tc.toFrames(rate, false)) + n, rate, false);
  return tc.pack();
}

namespace {

double OnTheClock(double d) {
  const double half = kSecondsPerDay / 2;
  if (d > half) d -= kSecondsPerDay * std::ceil((d - half) / kSecondsPerDay);
  if (d < -half) d += kSecondsPerDay * std::ceil((-half - d) / kSecondsPerDay);
  return d;
}

}  // namespace

double ZnPackedTimecodeDifference(ZnPackedTimecode a, ZnPackedTimecode b) {
  const ZnTimecode ta = ZnTimecode::unpack(a);
  const ZnTimecode tb = ZnTimecode::unpack(b);
  return OnTheClock(ta.toSeconds(ta.rate) - tb.toSeconds(tb.rate));
}

double ZnPackedTimecodeDifference(ZnPackedTimecode a, ZnPackedTimecode b, int rate) {
  return OnTheClock(ZnTimecode::unpack(a).toSeconds(rate) - ZnTimecode::unpack(b).toSeconds(rate));
}

void ZnPackedTimecodeInterpolate(ZnPackedTimecode a, float fracA, ZnPackedTimecode b, float fracB,
                                 float t, ZnPackedTimecode* packed, float* fraction) {
  const float g = a == b ? fracB : fracB + 1.0f;
  const float f = (1.0f - t) * fracA + g * t;
  if (f >= 1.0f) {
    *packed = b;
    *fraction = f - 1.0f;
  } else {
    *packed = a;
    *fraction = f;
  }
}
