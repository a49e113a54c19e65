// Parses arbitrary text as a timecode and drives the timecode arithmetic with
// arbitrary numbers.
//
// Whatever parses must be valid, format back to text that parses to the same
// timecode, and fail or succeed alike whether or not errors are reported. The
// arithmetic must accept any value (the sanitizers catch overflow and
// out-of-range conversions) and keep its round trips on valid timecodes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "fuzz/FuzzCheck.h"

namespace {

constexpr size_t kMaxInput = 4096;

bool Same(const ZnTimecode& a, const ZnTimecode& b) {
  return a.hour == b.hour && a.minute == b.minute && a.second == b.second && a.frame == b.frame &&
         a.rate == b.rate;
}

void CheckParse(const std::string& text) {
  const ZnStr s(text.c_str());
  ZnTimecode quiet;
  quiet.hour = -7;
  float fraction = -2.0f;
  bool drop = true;
  const bool parsed = ZnTimecode::parse(s, &quiet, &fraction, &drop, false);
  FUZZ_CHECK(!ZnMessages.hasMessages());
  ZnTimecode loud;
  const bool parsedLoud = ZnTimecode::parse(s, &loud, nullptr, nullptr, true);
  FUZZ_CHECK(parsed == parsedLoud);
  FUZZ_CHECK(parsed != ZnMessages.errorPending());
  ZnClearMessages();
  if (!parsed) {
    FUZZ_CHECK(quiet.hour == -7 && fraction == -2.0f && drop);
    return;
  }
  FUZZ_CHECK(Same(quiet, loud) && quiet.valid());
  FUZZ_CHECK(quiet.rate >= 0 && quiet.rate <= ZnTimecodeMaxRate);

  // The text form of what was read reads back the same.
  const ZnStr again = quiet.format(drop, true, fraction);
  ZnTimecode back;
  float backFraction = -1.0f;
  bool backDrop = false;
  FUZZ_CHECK(ZnTimecode::parse(again, &back, &backFraction, &backDrop, false));
  FUZZ_CHECK(Same(back, quiet) && backDrop == drop);

  ZnPackedTimecode packed = 0;
  FUZZ_CHECK(ZnPackedTimecodeParse(s, &packed, false));
  FUZZ_CHECK(packed == quiet.pack() && packed < (1u << 31));
  FUZZ_CHECK(Same(ZnTimecode::unpack(packed), quiet));
  FUZZ_CHECK(ZnPackedTimecodeRate(packed) == quiet.rate);
}

void CheckArithmetic(FuzzedDataProvider& in) {
  ZnTimecode tc;
  tc.hour = in.ConsumeIntegral<int>();
  tc.minute = in.ConsumeIntegral<int>();
  tc.second = in.ConsumeIntegral<int>();
  tc.frame = in.ConsumeIntegral<int>();
  tc.rate = in.ConsumeIntegral<int>();
  const int rate = in.ConsumeIntegral<int>();
  const int count = in.ConsumeIntegral<int>();
  const bool drop = in.ConsumeBool();
  const double seconds = in.ConsumeFloatingPoint<double>();
  const float fraction = in.ConsumeFloatingPoint<float>();
  const ZnPackedTimecode a = in.ConsumeIntegral<uint32_t>();
  const ZnPackedTimecode b = in.ConsumeIntegral<uint32_t>();

  // Any record at all: nothing may trap.
  tc.format(drop, true, fraction);
  tc.toFrames(rate, drop);
  tc.toSeconds(rate);
  tc.valid();
  ZnTimecode stepped = tc;
  stepped.increment(rate);
  stepped.decrement(rate);
  stepped.normalize(rate);
  ZnTimecode fromCount;
  fromCount.fromFrames(count, rate, drop);
  fromCount.fromSeconds(rate, seconds);
  ZnPackedTimecodeFormat(a, drop, true, fraction);
  ZnPackedTimecodeAddFrames(a, count);
  const double difference = ZnPackedTimecodeDifference(a, b);
  FUZZ_CHECK(difference >= -43200.0 && difference <= 43200.0);
  const double atRate = ZnPackedTimecodeDifference(a, b, rate);
  FUZZ_CHECK(atRate >= -43200.0 && atRate <= 43200.0);
  ZnPackedTimecode between = 0;
  float betweenFraction = 0.0f;
  ZnPackedTimecodeInterpolate(a, fraction, b, static_cast<float>(seconds), fraction, &between,
                              &betweenFraction);

  // A valid timecode at a real rate survives the trip through a frame count,
  // and a step forward and back.
  ZnTimecode valid = ZnTimecode::unpack(a);
  valid.rate = rate < 1 ? 0 : 1 + rate % ZnTimecodeMaxRate;
  valid.hour %= 24;
  valid.frame %= valid.rate < 1 ? 30 : valid.rate;
  if (!valid.valid()) return;
  ZnTimecode counted;
  counted.fromFrames(valid.toFrames(valid.rate, false), valid.rate, false);
  FUZZ_CHECK(Same(counted, valid));
  ZnTimecode step = valid;
  step.increment(valid.rate);
  FUZZ_CHECK(step.valid());
  step.decrement(valid.rate);
  FUZZ_CHECK(Same(step, valid));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  // The whole input as text (a NUL ends it, as it would in a file's line),
  // then the same bytes as numbers.
  CheckParse(std::string(reinterpret_cast<const char*>(data), size).c_str());
  FuzzedDataProvider in(data, size);
  CheckArithmetic(in);
  ZnClearMessages();
  return 0;
}
