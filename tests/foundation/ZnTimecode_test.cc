#include "foundation/ZnTimecode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "foundation/ZnMessage.h"

namespace {

// All five fields in one comparable text, so a failure shows every field.
std::string Fields(const ZnTimecode& tc) {
  return std::to_string(tc.hour) + ":" + std::to_string(tc.minute) + ":" +
         std::to_string(tc.second) + ":" + std::to_string(tc.frame) + "/" + std::to_string(tc.rate);
}

ZnPackedTimecode Packed(int h, int m, int s, int f, int rate) {
  return ZnTimecode{h, m, s, f, rate}.pack();
}

class ZnTimecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }
};

TEST_F(ZnTimecodeTest, ParserMessagesAreExactAndOnlyWhenAsked) {
  struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "No value given for hour."},
      {"01:02:03:04/", "No value given for timecode frame rate."},
      {"01:02:03:04/0", "Invalid value \"0\" given for timecode frame rate."},
      {"01:02:03:04/x", "Invalid value \"x\" given for timecode frame rate."},
      {"01:02:03:04/25x", "Invalid value \"25x\" given for timecode frame rate."},
      {"01:02:03:04/31", "The timecode frame rate cannot be greater than 30."},
      // 2^32 + 25 must not wrap into an accepted rate of 25.
      {"01:02:03:04/4294967321", "The timecode frame rate cannot be greater than 30."},
      {" 01:02:03:04", "Invalid character ' ' in timecode."},
      {"\t01:02:03:04", "Invalid character ' ' in timecode."},
      {"01: 02:03:04", "Invalid character ' ' in timecode."},
      {"01:ab:03:04", "Invalid value (ab) for minute."},
      {"01:02:03:ab", "Invalid value (ab) for frame."},
      {"01:02:03:-", "Invalid value (-) for frame."},
      {"01::03:04", "No value given for minute."},
      {"01:02:03:", "No value given for frame."},
      {"01:02:03:/25", "No value given for frame."},
      {"24:00:00:00", "Invalid value (24) for hour.  Valid range of value is 0-23."},
      {"-1:00:00:00", "Invalid value (-1) for hour.  Valid range of value is 0-23."},
      {"01:60:00:00", "Invalid value (60) for minute.  Valid range of value is 0-59."},
      {"01:02:60:00", "Invalid value (60) for second.  Valid range of value is 0-59."},
      {"01:02:03:30", "Invalid value (30) for frame.  Valid range of value is 0-29."},
      {"23:59:59:29/25", "Invalid value (29) for frame.  Valid range of value is 0-24."},
      // 2^32 must not wrap to hour 0.
      {"4294967296:00:00:00",
       "Invalid value (4294967296) for hour.  Valid range of value is 0-23."},
      {"01;02:03:04", "Expecting separator character ';' after hour."},
      {"01:02;03:04", "Expecting separator character ';' after minute."},
      {"01:02:03-04", "Expecting separator character '-' after second."},
      {"01.02:03:04", "Expecting separator character '.' after hour."},
      // The text ends where a separator belongs.
      {"01", "No value given for minute."},
      {"01:02", "No value given for second."},
      {"01:02:03", "No value given for frame."},
      {"01:02:03:04.5x", "Invalid value \".5x\" for timecode percentage."},
      {"01:02:03:04.5 ", "Invalid value \".5 \" for timecode percentage."},
      {"01:02:03:04 ", "Unexpected extra characters \" \" in timecode."},
      {"01:02:03:04:05", "Unexpected extra characters \":05\" in timecode."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ZnTimecode tc{9, 9, 9, 9, 9};
    float fraction = 7.0f;
    bool drop = true;
    EXPECT_FALSE(ZnTimecode::parse(c.text, &tc, &fraction, &drop, false));
    EXPECT_FALSE(ZnMessages.hasMessages());
    ZnPackedTimecode packed = 12345;
    EXPECT_FALSE(ZnPackedTimecodeParse(c.text, &packed, false));
    EXPECT_FALSE(ZnMessages.hasMessages());
    EXPECT_EQ(12345u, packed);

    EXPECT_FALSE(ZnTimecode::parse(c.text, &tc, &fraction, &drop, true));
    ASSERT_TRUE(ZnMessages.errorPending());
    EXPECT_STREQ(c.message, ZnMessages.first()->text().c_str());
    EXPECT_EQ(nullptr, ZnMessages.first()->next());
    EXPECT_EQ("9:9:9:9/9", Fields(tc));
    EXPECT_EQ(7.0f, fraction);
    EXPECT_TRUE(drop);
    ZnClearMessages();
  }
}

TEST_F(ZnTimecodeTest, ParsesValidTexts) {
  struct {
    const char* text;
    const char* fields;
    float fraction;
    bool drop;
  } cases[] = {
      {"00:00:00:00", "0:0:0:0/0", -1.0f, false},
      {"23:59:59:29", "23:59:59:29/0", -1.0f, false},
      {"01:02:03;04", "1:2:3:4/0", -1.0f, true},
      {"01:02:03:04.5", "1:2:3:4/0", 0.5f, false},
      {"01:02:03:04.", "1:2:3:4/0", 0.0f, false},
      {"01:02:03:04/25", "1:2:3:4/25", -1.0f, false},
      {"23:59:59:24/25", "23:59:59:24/25", -1.0f, false},
      {"01:02:03;04.25/25", "1:2:3:4/25", 0.25f, true},
      {"01:02:03:04/ 25", "1:2:3:4/25", -1.0f, false},
      {"1:2:3:4", "1:2:3:4/0", -1.0f, false},
      {"+1:02:03:04", "1:2:3:4/0", -1.0f, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ZnTimecode tc;
    float fraction = 7.0f;
    bool drop = !c.drop;
    ASSERT_TRUE(ZnTimecode::parse(c.text, &tc, &fraction, &drop, true));
    EXPECT_EQ(c.fields, Fields(tc));
    EXPECT_EQ(c.fraction, fraction);
    EXPECT_EQ(c.drop, drop);
    ZnPackedTimecode packed = 1;
    ASSERT_TRUE(ZnPackedTimecodeParse(c.text, &packed, false));
    EXPECT_EQ(tc.pack(), packed);
  }
  EXPECT_FALSE(ZnMessages.hasMessages());

  ZnPackedTimecode packed = 1;
  ASSERT_TRUE(ZnPackedTimecodeParse("00:00:00:00", &packed, true));
  EXPECT_EQ(0u, packed);
}

TEST_F(ZnTimecodeTest, PackUnpackRoundTripsAtEveryRate) {
  for (int rate = 0; rate <= ZnTimecodeMaxRate; ++rate) {
    const int maxFrame = ZnTimecodePartMax(ZnTimecodePart::Frame, rate);
    for (int h : {0, 1, 12, 23}) {
      for (int m : {0, 1, 30, 59}) {
        for (int s : {0, 1, 59}) {
          for (int f = 0; f <= maxFrame; ++f) {
            const ZnTimecode tc{h, m, s, f, rate};
            const ZnPackedTimecode packed = tc.pack();
            ASSERT_EQ(Fields(tc), Fields(ZnTimecode::unpack(packed)));
            ASSERT_LT(packed, 1u << 31);
            ASSERT_EQ(rate, ZnPackedTimecodeRate(packed));
          }
        }
      }
    }
  }
  EXPECT_EQ(((1u * 108000 + 2 * 1800 + 3 * 30 + 4) * 31 + 25), Packed(1, 2, 3, 4, 25));
  EXPECT_EQ(0u, Packed(0, 0, 0, 0, 0));
}

TEST_F(ZnTimecodeTest, Formats) {
  const ZnTimecode tc{1, 2, 3, 4, 25};
  EXPECT_EQ("01:02:03;04.5000/25", tc.format(true, true, 0.5f));
  EXPECT_EQ("01:02:03:04.2500", tc.format(false, false, 0.25f));
  EXPECT_EQ("01:02:03:04.0000", tc.format(false, false, 0.0f));
  EXPECT_EQ("01:02:03:04", tc.format(false));
  EXPECT_EQ("01:02:03:04/25", tc.format(true));
  EXPECT_EQ("01:02:03:04", ZnPackedTimecodeFormat(tc.pack(), false));
  EXPECT_EQ("01:02:03;04.5000/25", ZnPackedTimecodeFormat(tc.pack(), true, true, 0.5f));
  EXPECT_EQ("01:02:03:04", ZnTimecode({1, 2, 3, 4, 0}).format(true));
  EXPECT_EQ("123:02:03:04", ZnTimecode({123, 2, 3, 4, 0}).format(false));

  // What the formatter writes, the parser reads back.
  for (bool drop : {false, true}) {
    ZnTimecode back;
    float fraction;
    bool backDrop;
    ASSERT_TRUE(ZnTimecode::parse(tc.format(drop, true, 0.75f), &back, &fraction, &backDrop, true));
    EXPECT_EQ(Fields(tc), Fields(back));
    EXPECT_EQ(0.75f, fraction);
    EXPECT_EQ(drop, backDrop);
  }
}

TEST_F(ZnTimecodeTest, DropFrameArithmetic) {
  EXPECT_EQ(17982, ZnTimecode({0, 10, 0, 0, 0}).toFrames(30, true));
  EXPECT_EQ(18000, ZnTimecode({0, 10, 0, 0, 0}).toFrames(30, false));
  EXPECT_EQ(1800, ZnTimecode({0, 1, 0, 2, 0}).toFrames(30, true));

  ZnTimecode tc;
  tc.fromFrames(17982, 30, true);
  EXPECT_EQ("0:10:0:0/30", Fields(tc));
  tc.fromFrames(1800, 30, true);
  EXPECT_EQ("0:1:0:2/30", Fields(tc));
  tc.fromFrames(1799, 30, true);
  EXPECT_EQ("0:0:59:29/30", Fields(tc));

  // Every drop-frame count of a day survives the trip through a timecode,
  // and no timecode names a dropped frame number.
  const int framesPerDay = 86400 * 30 - 2 * (24 * 60 - 24 * 6);
  for (int count = 0; count < framesPerDay; ++count) {
    tc.fromFrames(count, 30, true);
    ASSERT_EQ(count, tc.toFrames(30, true)) << count;
    ASSERT_FALSE(tc.second == 0 && tc.frame < 2 && tc.minute % 10 != 0) << count;
  }
}

TEST_F(ZnTimecodeTest, FramesAndSecondsRoundTripAtEveryRate) {
  for (int rate = 1; rate <= ZnTimecodeMaxRate; ++rate) {
    for (int count : {0, 1, rate - 1, rate, 3599 * rate, 86400 * rate - 1}) {
      ZnTimecode tc;
      tc.fromFrames(count, rate, false);
      ASSERT_TRUE(tc.valid()) << rate << " " << count;
      ASSERT_EQ(count, tc.toFrames(rate, false)) << rate << " " << count;
      ZnTimecode viaSeconds;
      viaSeconds.fromSeconds(rate, tc.toSeconds(rate));
      ASSERT_EQ(Fields(tc), Fields(viaSeconds));
    }
  }
  ZnTimecode tc;
  tc.fromSeconds(25, 3661.5);
  EXPECT_EQ("1:1:1:12/25", Fields(tc));
  EXPECT_DOUBLE_EQ(3661.48, tc.toSeconds(25));
}

TEST_F(ZnTimecodeTest, NegativeCountsCountBackFromMidnight) {
  ZnTimecode tc;
  tc.fromFrames(-1, 30, false);
  EXPECT_EQ("23:59:59:29/30", Fields(tc));
  tc.fromFrames(-1, 25, false);
  EXPECT_EQ("23:59:59:24/25", Fields(tc));
  tc.fromFrames(-3 * 86400 * 30 - 1, 30, false);
  EXPECT_EQ("23:59:59:29/30", Fields(tc));
  tc.fromSeconds(30, -1.0);
  EXPECT_EQ("23:59:59:0/30", Fields(tc));
  // A positive count is not reduced to the day.
  tc.fromFrames(86400 * 30, 30, false);
  EXPECT_EQ("24:0:0:0/30", Fields(tc));
}

TEST_F(ZnTimecodeTest, AddFramesKeepsTheRate) {
  EXPECT_EQ(Packed(0, 1, 0, 0, 25), ZnPackedTimecodeAddFrames(Packed(0, 0, 59, 24, 25), 1));
  EXPECT_EQ(Packed(23, 59, 59, 24, 25), ZnPackedTimecodeAddFrames(Packed(0, 0, 0, 0, 25), -1));
  EXPECT_EQ(Packed(1, 2, 3, 4, 25), ZnPackedTimecodeAddFrames(Packed(1, 2, 3, 4, 25), 0));
  // Without a rate the timecode counts at 30 frames per second and stays
  // without a rate.
  EXPECT_EQ(Packed(1, 0, 0, 0, 0), ZnPackedTimecodeAddFrames(Packed(0, 59, 59, 29, 0), 1));
  EXPECT_EQ(Packed(0, 59, 59, 29, 0), ZnPackedTimecodeAddFrames(Packed(1, 0, 0, 0, 0), -1));
  EXPECT_EQ(Packed(23, 59, 59, 29, 0), ZnPackedTimecodeAddFrames(0, -100 * 86400 * 30 - 1));
}

TEST_F(ZnTimecodeTest, DifferenceWrapsAtTwelveHours) {
  EXPECT_EQ(2.0, ZnPackedTimecodeDifference(Packed(0, 0, 1, 0, 30), Packed(23, 59, 59, 0, 30)));
  EXPECT_EQ(-2.0, ZnPackedTimecodeDifference(Packed(23, 59, 59, 0, 30), Packed(0, 0, 1, 0, 30)));
  EXPECT_EQ(43200.0, ZnPackedTimecodeDifference(Packed(12, 0, 0, 0, 30), Packed(0, 0, 0, 0, 30)));
  EXPECT_EQ(-43200.0, ZnPackedTimecodeDifference(Packed(0, 0, 0, 0, 30), Packed(12, 0, 0, 0, 30)));
  EXPECT_EQ(-43199.0, ZnPackedTimecodeDifference(Packed(12, 0, 1, 0, 30), Packed(0, 0, 0, 0, 30)));
  // Each at its own rate, or both at one.
  EXPECT_DOUBLE_EQ(0.5 - 0.4,
                   ZnPackedTimecodeDifference(Packed(0, 0, 0, 10, 20), Packed(0, 0, 0, 10, 25)));
  EXPECT_DOUBLE_EQ(
      0.0, ZnPackedTimecodeDifference(Packed(0, 0, 0, 10, 20), Packed(0, 0, 0, 10, 25), 25));
  EXPECT_DOUBLE_EQ(0.5, ZnPackedTimecodeDifference(Packed(0, 0, 0, 15, 0), 0));
}

TEST_F(ZnTimecodeTest, Interpolates) {
  const ZnPackedTimecode a = Packed(0, 0, 1, 10, 30);
  const ZnPackedTimecode b = Packed(0, 0, 1, 11, 30);
  struct {
    ZnPackedTimecode a;
    float fracA;
    ZnPackedTimecode b;
    float fracB;
    float t;
    ZnPackedTimecode packed;
    float fraction;
  } cases[] = {
      {a, 0.5f, b, 0.5f, 0.0f, a, 0.5f},   {a, 0.5f, b, 0.5f, 1.0f, b, 0.5f},
      {a, 0.5f, b, 0.5f, 0.25f, a, 0.75f}, {a, 0.5f, b, 0.5f, 0.5f, b, 0.0f},
      {a, 0.0f, b, 0.0f, 0.5f, a, 0.5f},   {a, 0.25f, a, 0.75f, 0.5f, a, 0.5f},
  };
  for (const auto& c : cases) {
    ZnPackedTimecode packed = 0;
    float fraction = -1.0f;
    ZnPackedTimecodeInterpolate(c.a, c.fracA, c.b, c.fracB, c.t, &packed, &fraction);
    EXPECT_EQ(c.packed, packed) << c.t;
    EXPECT_FLOAT_EQ(c.fraction, fraction) << c.t;
  }
}

TEST_F(ZnTimecodeTest, IncrementAndDecrementWrap) {
  struct {
    ZnTimecode before;
    int rate;
    const char* after;
  } cases[] = {
      {{1, 2, 3, 4, 25}, 25, "1:2:3:5/25"},  {{0, 0, 59, 24, 25}, 25, "0:1:0:0/25"},
      {{0, 59, 59, 29, 0}, 30, "1:0:0:0/0"}, {{23, 59, 59, 29, 30}, 30, "0:0:0:0/30"},
      {{23, 59, 59, 29, 0}, 0, "0:0:0:0/0"}, {{0, 0, 0, 9, 10}, 10, "0:0:1:0/10"},
  };
  for (const auto& c : cases) {
    ZnTimecode tc = c.before;
    tc.increment(c.rate);
    EXPECT_EQ(c.after, Fields(tc)) << Fields(c.before);
    tc.decrement(c.rate);
    EXPECT_EQ(Fields(c.before), Fields(tc));
  }
  ZnTimecode tc;
  tc.decrement(30);
  EXPECT_EQ("23:59:59:29/0", Fields(tc));
}

TEST_F(ZnTimecodeTest, NormalizeCarriesEachPartOnce) {
  struct {
    ZnTimecode before;
    int rate;
    const char* after;
  } cases[] = {
      {{0, 59, 59, 30, 30}, 30, "1:0:0:0/30"}, {{23, 59, 59, 30, 30}, 30, "0:0:0:0/30"},
      {{0, 0, 0, 65, 30}, 30, "0:0:1:35/30"},  {{0, 0, 70, 0, 25}, 25, "0:1:10:0/25"},
      {{1, 2, 3, 4, 25}, 25, "1:2:3:4/25"},    {{0, 0, 0, 30, 0}, 0, "0:0:1:0/0"},
  };
  for (const auto& c : cases) {
    ZnTimecode tc = c.before;
    tc.normalize(c.rate);
    EXPECT_EQ(c.after, Fields(tc)) << Fields(c.before);
  }
}

TEST_F(ZnTimecodeTest, Validity) {
  EXPECT_TRUE(ZnTimecode({23, 59, 59, 29, 0}).valid());
  EXPECT_TRUE(ZnTimecode({23, 59, 59, 24, 25}).valid());
  EXPECT_FALSE(ZnTimecode({23, 59, 59, 25, 25}).valid());
  EXPECT_FALSE(ZnTimecode({24, 0, 0, 0, 0}).valid());
  EXPECT_FALSE(ZnTimecode({0, -1, 0, 0, 0}).valid());
  EXPECT_FALSE(ZnTimecode({0, 0, 60, 0, 0}).valid());
  EXPECT_TRUE(ZnTimecode({0, 0, 0, 29, 0}).partValid(ZnTimecodePart::Frame));
  EXPECT_FALSE(ZnTimecode({0, 0, 0, 1, 1}).partValid(ZnTimecodePart::Frame));
  EXPECT_FALSE(ZnTimecode().partValid(static_cast<ZnTimecodePart>(5)));
  EXPECT_STREQ("minute", ZnTimecodePartName(ZnTimecodePart::Minute));
  EXPECT_STREQ("", ZnTimecodePartName(static_cast<ZnTimecodePart>(0)));
}

// Garbage fields and rates must neither trap (the sanitizer build checks for
// overflow) nor divide by zero.
TEST_F(ZnTimecodeTest, ToleratesGarbage) {
  ZnTimecode huge{INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  huge.toFrames(INT_MAX, true);
  huge.toFrames(INT_MIN, false);
  huge.toSeconds(0);
  huge.format(true, true, std::numeric_limits<float>::max());
  huge.pack();
  ZnTimecode tc = huge;
  tc.increment(INT_MAX);
  tc = huge;
  tc.normalize(INT_MAX);
  tc = ZnTimecode{INT_MIN, INT_MIN, INT_MIN, INT_MIN, 0};
  tc.decrement(-5);
  EXPECT_EQ("23:59:59:29/0", Fields(tc));
  tc.normalize(0);

  tc.fromFrames(INT_MIN, INT_MAX, true);
  tc.fromFrames(INT_MAX, 1, true);
  tc.fromSeconds(30, std::nan(""));
  EXPECT_EQ("0:0:0:0/30", Fields(tc));
  tc.fromSeconds(30, 1e300);
  tc.fromSeconds(30, -1e300);
  EXPECT_TRUE(tc.valid());
  tc.fromFrames(30, 0, false);
  EXPECT_EQ("0:0:1:0/0", Fields(tc));
  tc.fromFrames(30, -7, false);
  EXPECT_EQ("0:0:1:0/0", Fields(tc));

  ZnPackedTimecodeAddFrames(0xFFFFFFFFu, INT_MAX);
  ZnPackedTimecodeDifference(0xFFFFFFFFu, 0);
  ZnTimecode back;
  EXPECT_FALSE(ZnTimecode::parse(ZnStr(), &back, nullptr, nullptr, false));
  EXPECT_FALSE(
      ZnTimecode::parse("99999999999999999999999:00:00:00", &back, nullptr, nullptr, false));
}

}  // namespace
