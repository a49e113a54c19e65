#include "rawdata/ZrRDFramePasses.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "support/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;

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
      {"body cut off", binary.substr(0, binary.size() - 1), 10, ZrRDCountEnd::kFrameDamaged, 3,
       {"Unable to read frame 3", "Cannot read camera 1", "Unable to read glob 1",
        "Cannot read Y coordinate.", "Hit end of file."}},
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

}  // namespace
