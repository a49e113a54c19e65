#include "rawdata/ZrRDFramePasses.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "support/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;

std::string Replace(std::string bytes, const std::string& from, const std::string& to) {
  const std::size_t at = bytes.find(from);
  return at == std::string::npos ? bytes : bytes.replace(at, from.size(), to);
}

// Frames numbered as given, one camera with one glob each.
std::string Frames(ZrRDFormat format, const std::vector<int>& numbers, int claimed = 99) {
  std::vector<std::unique_ptr<ZrRDFrame>> frames;
  std::vector<const ZrRDFrame*> pointers;
  for (int number : numbers) {
    frames.push_back(std::make_unique<ZrRDFrame>());
    frames.back()->number = number;
    RDAddCamera(*frames.back(), {{3, 1.5f, 2.5f}});
    pointers.push_back(frames.back().get());
  }
  return RDEncodeFile(format, claimed, 1, pointers);
}

// A binary frame header without timecode.
std::string Header(int number) {
  return "\x04" + std::string(1, static_cast<char>(number)) + std::string(3, '\0');
}

std::string NotInForm(int record, std::size_t at, const std::string& why) {
  return "Frame record " + std::to_string(record) + ", at byte " + std::to_string(at) +
         ", is not of the form a recorder writes: " + why + ".";
}

class ZrRDFramePassesTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }
};

TEST_F(ZrRDFramePassesTest, CountEndsOnlyWhereTheDataEnds) {
  const std::string text = Frames(ZrRDFormat::Text, {1, 2, 3});
  const std::string binary = Frames(ZrRDFormat::Binary, {1, 2, 3});
  struct Case {
    const char* what;
    std::string bytes;
    int64_t limit;
    ZrRDCountEnd end;
    int64_t counted;
    Strings messages;  // newest first
  } cases[] = {
      {"whole", text, 10, ZrRDCountEnd::kClean, 3, {}},
      {"whole, binary", binary, 10, ZrRDCountEnd::kClean, 3, {}},
      {"zero tail", binary + std::string(100, '\0'), 10, ZrRDCountEnd::kClean, 3, {}},
      {"end marker", text + "0\n", 10, ZrRDCountEnd::kClean, 3, {}},
      {"as many frames as the limit", text, 3, ZrRDCountEnd::kClean, 3, {}},
      {"more frames than the limit", text, 2, ZrRDCountEnd::kTooManyFrames, 2,
       {"The recording holds more than 2 frames, more than its header can state."}},
      {"garbage after the frames", text + "x\n", 10, ZrRDCountEnd::kDamageFollows, 3,
       {"The header of frame record 4 cannot be read, and more data follows it.",
        "Unable to read frame number."}},
      {"end marker with frames behind it", text + "0\n1\n3 1 2\n", 10,
       ZrRDCountEnd::kDamageFollows, 3,
       {"Frame record 4 is numbered 0, and more data follows it."}},
      {"body cut off", binary.substr(0, binary.size() - 1), 10, ZrRDCountEnd::kFrameDamaged, 2,
       {"Unable to read frame 3", "Cannot read camera 1", "Unable to read glob 1",
        "Cannot read Y coordinate.", "Hit end of file."}},
      // Frames of no recorder's form; frame 2 starts at byte 49 in binary.
      {"binary header of 6 bytes",
       Replace(binary, Header(2), std::string("\x06\x02\0\0\0\0\0", 7)), 10,
       ZrRDCountEnd::kNotInForm, 1, {NotInForm(2, 49, "its header is 6 bytes long")}},
      {"binary timecode past the 59th minute",
       Replace(binary, Header(2), std::string("\x09\x02\0\0\0\x04\x01\x3c\x03\x04", 10)), 10,
       ZrRDCountEnd::kNotInForm, 1, {NotInForm(2, 49, "its timecode has 60 minutes")}},
      {"binary number leaping beyond 2^24", Frames(ZrRDFormat::Binary, {1, 2, 16777219}), 10,
       ZrRDCountEnd::kNotInForm, 2,
       {NotInForm(3, 60, "its number 16777219 lies more than 16777216 from the 2 before it")}},
      {"binary numbers leaping 2^24 either way", Frames(ZrRDFormat::Binary, {1, 16777217, 1}), 10,
       ZrRDCountEnd::kClean, 3, {}},
      // Frame 2's glob count raised to 12 takes in frames 3 to 6 whole.
      {"binary camera swallowing frames",
       Replace(Frames(ZrRDFormat::Binary, {1, 2, 3, 4, 5, 6, 7}),
               Header(2) + std::string("\x01\0", 2), Header(2) + std::string("\x0c\0", 2)),
       10, ZrRDCountEnd::kNotInForm, 1,
       {NotInForm(2, 49, "its glob data holds frames numbered 3 to 6")}},
      {"text frame number on the line before", Replace(text, "  \n2\n", "  2\n"), 10,
       ZrRDCountEnd::kNotInForm, 1,
       {NotInForm(2, text.find("\n2\n"), "its frame number does not start a line")}},
      {"text glob count and glob on one line", Replace(text, "2\n1\n3", "2\n1 3"), 10,
       ZrRDCountEnd::kNotInForm, 1,
       {NotInForm(2, text.find("\n2\n") + 1, "glob 1 of camera 1 does not start a line")}},
      {"text glob over two lines", Replace(text, "3\n1\n3 1.5000  ", "3\n1\n3 1.5000\n"), 10,
       ZrRDCountEnd::kNotInForm, 2,
       {NotInForm(3, text.find("\n3\n") + 1, "glob 1 of camera 1 runs over more than one line")}},
      {"text glob with two numbers run together",
       Replace(text, "3\n1\n3 1.5000   2", "3\n1\n3 1.50002"), 10, ZrRDCountEnd::kNotInForm, 2,
       {NotInForm(3, text.find("\n3\n") + 1, "glob 1 of camera 1 runs two numbers together")}},
      // The end cuts off a recorder's header: the data ends there.
      {"binary header cut off", binary + std::string("\x09\x04\0\0", 4), 10, ZrRDCountEnd::kClean,
       3, {}},
      {"text header line cut off", text + "4 01:0", 10, ZrRDCountEnd::kClean, 3, {}},
      // A last number that the end touches may have been cut.
      {"text cut in the last coordinate", text.substr(0, text.rfind("2.5000") + 3), 10,
       ZrRDCountEnd::kFrameDamaged, 2,
       {"Unable to read frame 3", "The data ends inside a number, which may have been cut off."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::istringstream in(c.bytes);
    ZrRDFileReader reader(in);
    ZnReportWarning("pending before");
    int64_t counted = -1;
    EXPECT_EQ(ZrRDCountFrames(reader, &counted, c.limit), c.end);
    EXPECT_EQ(counted, c.counted);
    Strings expected = c.messages;
    expected.push_back("pending before");  // what the caller had stays
    EXPECT_EQ(testsupport::TakeMessages(), expected);
  }
}

TEST_F(ZrRDFramePassesTest, CopyHoldsTheCountedFramesAndNoticesAChangedRecording) {
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    SCOPED_TRACE(format == ZrRDFormat::Text ? "text" : "binary");
    const std::string three = Frames(format, {7, 8, 9});
    const std::string four = Frames(format, {7, 8, 9, 10});
    {
      std::istringstream in(three + std::string(format == ZrRDFormat::Text ? "\n \n" : ""));
      ZrRDFileReader reader(in);
      std::ostringstream out;
      ZrRDFileWriter writer(out, 3, 1, format);
      int64_t reported = 0;
      EXPECT_TRUE(ZrRDCopyFrames(reader, writer, 3, [&](int64_t n) { reported = n; }));
      EXPECT_TRUE(writer.close());
      EXPECT_EQ(reported, 3);
      // The same bytes but for the count in the header; the tail is gone.
      EXPECT_EQ(out.str(), Frames(format, {7, 8, 9}, 3));
      EXPECT_TRUE(testsupport::TakeMessages().empty());
    }
    // Frames that were not there when they were counted.
    std::istringstream in(four);
    ZrRDFileReader reader(in);
    std::ostringstream out;
    ZrRDFileWriter writer(out, 3, 1, format);
    EXPECT_FALSE(ZrRDCopyFrames(reader, writer, 3));
    EXPECT_EQ(testsupport::TakeMessages(),
              Strings({"The recording changed after its frames were counted."}));
  }
}

// The count split over two threads gives what the count alone gives: the
// end, the frames, the messages and the verbatim runs, wherever the damage
// lies and whatever the data holds where the split falls.
TEST_F(ZrRDFramePassesTest, SplitCountGivesWhatTheCountAloneGives) {
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    const bool binary = format == ZrRDFormat::Binary;
    std::vector<int> numbers;
    for (int n = 1; n <= 600; ++n) numbers.push_back(n);
    const std::string whole = Frames(format, numbers);
    const std::size_t middle = whole.size() / 2;
    // Frame n's binary header with a timecode of one part, which is read
    // with a warning, given once per recording, and is of no recorder's form.
    auto oddTimecode = [binary](std::string bytes, unsigned n) {
      if (!binary) return bytes;
      const char number[4] = {static_cast<char>(n), static_cast<char>(n >> 8), 0, 0};
      return Replace(bytes, "\x04" + std::string(number, 4),
                     "\x06" + std::string(number, 4) + std::string("\x01\x05", 2));
    };
    // A binary frame's glob count raised to take in the next four frames
    // whole, its camera ending `past` frames after the first frame from the
    // middle of the frames on, where the helper starts (frames of 11 bytes
    // after a file header of 38).
    auto swallowing = [binary](std::string bytes, std::size_t past) {
      const std::size_t helperStarts = ((bytes.size() - 38) / 2 + 10) / 11;
      if (binary) bytes[38 + 11 * (helperStarts + past - 5) + 5] = 12;
      return bytes;
    };
    struct Case {
      const char* what;
      std::string bytes;
      int64_t limit;
      int warnedOf = 0;  // the frame a binary recording is warned of
    } cases[] = {
        {"a camera swallowing frames up to the middle", swallowing(whole, 0), INT_MAX},
        {"a camera swallowing frames across the middle", swallowing(whole, 2), INT_MAX},
        {"whole", whole, INT_MAX},
        {"zero tail", whole + std::string(300, '\0'), INT_MAX},
        {"damage before the middle", std::string(whole).replace(middle / 2, 7, "garbage"), INT_MAX},
        {"damage after the middle", std::string(whole).replace(middle + middle / 2, 7, "garbage"),
         INT_MAX},
        {"damage at the middle", std::string(whole).replace(middle - 3, 7, "garbage"), INT_MAX},
        {"end marker with data after the middle",
         std::string(whole).insert(whole.size() - 200, binary ? std::string("\x04\0\0\0\0", 5) : "\n0\n"),
         INT_MAX},
        {"blank lines everywhere", binary ? whole : Replace(whole, "\n1\n3", "\n\n \n1\n3"), INT_MAX},
        {"more frames than the limit", whole, 500},
        {"body cut off", whole.substr(0, whole.size() - 2), INT_MAX},
        {"a warning after the middle", oddTimecode(whole, 500), INT_MAX, 500},
        {"warnings on both sides", oddTimecode(oddTimecode(whole, 100), 500), INT_MAX, 100},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(binary ? "binary, " : "text, ") + c.what);
      ZrRDCountOptions options;
      options.limit = c.limit;
      options.verbatim = true;
      options.splitAbove = 1000;
      std::istringstream aloneIn(c.bytes);
      ZrRDFileReader alone(aloneIn);
      ZrRDCount expected;
      const ZrRDCountEnd expectedHow = ZrRDCountFrames(alone, options, &expected);
      const Strings expectedMessages = testsupport::TakeMessages();
      if (binary && c.warnedOf != 0) {
        // Such a header is read with its warning, and then refused: no
        // recorder writes it.
        ASSERT_EQ(expectedHow, ZrRDCountEnd::kNotInForm);
        ASSERT_EQ(expectedMessages.back(), "Invalid timecode for frame " + std::to_string(c.warnedOf));
      }

      std::istringstream in(c.bytes);
      ZrRDFileReader reader(in);
      std::istringstream secondIn(c.bytes);
      ZrRDFileReader second(secondIn);
      const std::string& bytes = c.bytes;
      const ZrRDBytesAt at = [&bytes](int64_t offset, std::size_t n, char* out) -> int64_t {
        if (offset >= static_cast<int64_t>(bytes.size())) return 0;
        const std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(out, bytes.data() + offset, got);
        return static_cast<int64_t>(got);
      };
      ZrRDCount count;
      EXPECT_EQ(ZrRDCountFramesSplit(reader, second, at, static_cast<int64_t>(bytes.size()),
                                     options, &count),
                expectedHow);
      EXPECT_EQ(testsupport::TakeMessages(), expectedMessages);
      EXPECT_EQ(count.frames, expected.frames);
      EXPECT_EQ(count.end, expected.end);
      // The runs may be cut where the helper started; what they cover is the same.
      std::string covered;
      std::string coveredAlone;
      for (const ZrRDVerbatimRun& r : count.verbatim) covered += bytes.substr(r.start, r.end - r.start);
      for (const ZrRDVerbatimRun& r : expected.verbatim) {
        coveredAlone += bytes.substr(r.start, r.end - r.start);
      }
      EXPECT_EQ(covered, coveredAlone);
    }
  }
}

// Which frames a count finds verbatim: those whose bytes a copy writes as
// they are; the others the copy encodes.
TEST_F(ZrRDFramePassesTest, VerbatimRunsHoldTheFramesACopyWritesAsTheyLie) {
  const std::string text = Frames(ZrRDFormat::Text, {1, 2, 3, 4, 5, 6});
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::pair<int, int>> runs;  // first frame, frames
  } cases[] = {
      {"all", text, {{0, 6}}},
      {"a blank line before frame 3", Replace(text, "\n3\n", "\n\n3\n"), {{0, 2}, {3, 3}}},
      {"a leading zero in frame 4", Replace(text, "\n4\n", "\n04\n"), {{0, 3}, {4, 2}}},
      {"a carriage return after frame 1's glob line",
       Replace(text, "2.5000  \n2\n", "2.5000  \r\n2\n"), {{1, 5}}},
      {"no final line feed", text.substr(0, text.size() - 1), {{0, 5}}},
      {"six decimals in frame 5", Replace(text, "\n5\n1\n3 1.5000   2.5000  ", "\n5\n1\n3 1.500000 2.500000"),
       {{0, 4}, {5, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::istringstream in(c.bytes);
    ZrRDFileReader reader(in);
    ZrRDCountOptions options;
    options.verbatim = true;
    ZrRDCount count;
    ASSERT_EQ(ZrRDCountFrames(reader, options, &count), ZrRDCountEnd::kClean);
    std::vector<std::pair<int, int>> runs;
    for (const ZrRDVerbatimRun& r : count.verbatim) {
      runs.emplace_back(static_cast<int>(r.firstFrame), static_cast<int>(r.frames));
      // A run is the copy's bytes for its frames.
      std::istringstream again(c.bytes);
      ZrRDFileReader copier(again);
      std::ostringstream copied;
      for (int k = 0; k < r.firstFrame + r.frames; ++k) {
        std::ostringstream frame;
        ASSERT_TRUE(copier.copyNextFrame(frame));
        if (k >= r.firstFrame) copied << frame.str();
      }
      EXPECT_EQ(copied.str(), c.bytes.substr(r.start, r.end - r.start));
    }
    EXPECT_EQ(runs, c.runs);
    testsupport::TakeMessages();
  }
}

// Read from a file, a recording spans many refills of the stream's buffer,
// and frames cut by a refill are seen whole all the same: one run holds them
// all, so the copy moves the whole recording in the kernel.
TEST_F(ZrRDFramePassesTest, VerbatimRunGoesOnAcrossTheStreamsRefills) {
  std::vector<int> numbers;
  for (int k = 1; k <= 100000; ++k) numbers.push_back(k);
  const std::string text = Frames(ZrRDFormat::Text, numbers);
  ASSERT_GT(text.size(), 8u * 256 * 1024);
  testsupport::TempDir dir;
  const std::string path = dir / "take.raw";
  ASSERT_TRUE(testsupport::WriteFile(path, text));
  ZrRDFileReader reader(path.c_str());
  ZrRDCountOptions options;
  options.verbatim = true;
  options.splitAbove = INT64_MAX;
  ZrRDCount count;
  ASSERT_EQ(ZrRDCountFrames(reader, options, &count), ZrRDCountEnd::kClean);
  ASSERT_EQ(count.verbatim.size(), 1u);
  EXPECT_EQ(count.verbatim[0].firstFrame, 0);
  EXPECT_EQ(count.verbatim[0].frames, 100000);
  EXPECT_EQ(count.verbatim[0].end, static_cast<int64_t>(text.size()));
}

}  // namespace
