#include "rawdata/ZrRDFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "support/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;
using testsupport::TakeMessages;

std::string Encode(const ZrRDFrame& frame, ZrRDFormat format) {
  std::ostringstream os;
  ZrRDWriteFrame(os, frame, format);
  return os.str();
}

// Decodes one frame record with cameraCount cameras.
bool Decode(const std::string& bytes, bool binary, int cameraCount, ZrRDFrame& frame) {
  std::istringstream in(bytes);
  if (!ZrRDReadFrameHeader(in, binary, frame)) return false;
  frame.setCameraCount(cameraCount);
  return ZrRDReadCameras(in, binary, frame);
}

class ZrRDFormatTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }
};

TEST_F(ZrRDFormatTest, BinaryExampleRecord) {
  ZrRDFrame frame;
  frame.number = 1;
  frame.timecode = RDPacked(1, 2, 3, 4);
  RDAddCamera(frame, {{1, 10.5f, 20.25f}});
  const std::string expected =
      RDBytes({0x09, 0x01, 0, 0, 0, 0x04, 0x01, 0x02, 0x03, 0x04, 0x01, 0, 0x40, 0x05, 0x20, 0x0A});
  EXPECT_EQ(Encode(frame, ZrRDFormat::Binary), expected);

  ZrRDFrame back;
  EXPECT_TRUE(Decode(expected, true, 1, back));
  EXPECT_EQ(back.number, 1);
  EXPECT_EQ(back.timecode, std::optional<ZnPackedTimecode>(RDPacked(1, 2, 3, 4)));
  EXPECT_TRUE(back == frame);
  EXPECT_EQ(back.camera(0)->id, 1);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ZrRDFormatTest, TextExampleRecord) {
  ZrRDFrame frame;
  frame.number = 7;
  RDAddCamera(frame, {{5, 12.5f, 3.25f}, {9, 100.0f, 7.125f}});
  RDAddCamera(frame, {});
  const std::string expected = "7\n2\n5 12.5000  3.2500  \n9 100.0000 7.1250  \n0\n";
  EXPECT_EQ(Encode(frame, ZrRDFormat::Text), expected);

  ZrRDFrame back;
  back.timecode = 3;  // left over from an earlier use of the frame
  EXPECT_TRUE(Decode(expected, false, 2, back));
  EXPECT_EQ(back.number, 7);
  EXPECT_FALSE(back.timecode.has_value());
  EXPECT_TRUE(back == frame);
  EXPECT_EQ(back.camera(1)->id, 2);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ZrRDFormatTest, EncodingTestLooksAtTheFirstByte) {
  struct Case {
    std::string input;
    bool binary;
  };
  const Case cases[] = {{"Kyo Raw Data File Binary\n", true},
                        {"K", true},
                        {"3\n10\n", false},
                        {"B", false},
                        {"", false}};
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    EXPECT_EQ(ZrRDIsBinary(in), c.binary) << c.input;
    if (c.input.empty()) {
      EXPECT_TRUE(in.fail());
    } else {
      EXPECT_EQ(in.get(), c.input[0]) << "the byte is put back";
    }
  }
}

TEST_F(ZrRDFormatTest, IdentificationCheck) {
  const std::string invalid = "Invalid datafile header id.";
  struct Case {
    std::string input;
    Strings messages;         // newest first; none when accepted
    std::ios::iostate state;  // afterwards
  };
  const Case cases[] = {
      {"Kyo Raw Data File Binary\nv1.00\nX", {}, std::ios::goodbit},
      {"Kyo Raw Data File\nv1.00\nX", {}, std::ios::goodbit},
      {"Kyo Raw Data File Binary   \nv1.99\nX", {}, std::ios::goodbit},
      {"Kyo Raw Data File Binary\nv2.0\n",
       {"Unsupported datafile version 2.00.  Application uses version 1.00."},
       std::ios::badbit},
      {"Kyo Raw Data File Binary\nv0.5\n",
       {"Unsupported datafile version 0.50.  Application uses version 1.00."},
       std::ios::badbit},
      {"Kyo Raw Data File Binary\nvx\n",
       {"Unable to read datafile version number."},
       std::ios::failbit},
      {"Kyo Raw Data File Text\n", {invalid}, std::ios::failbit},
      {"Kyo Raw Data File Binary, version 1\nv1.00\n", {invalid}, std::ios::failbit},
      {"Kilo\n", {invalid}, std::ios::failbit},  // a text file that begins with K
      {"\nv1.00\n", {invalid}, std::ios::failbit},
      {"", {invalid}, std::ios::failbit | std::ios::eofbit},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    EXPECT_EQ(ZrRDCheckIdentification(in), c.messages.empty()) << c.input;
    EXPECT_EQ(TakeMessages(), c.messages) << c.input;
    EXPECT_EQ(in.rdstate() & ~std::ios::eofbit, c.state & ~std::ios::eofbit) << c.input;
    if (c.messages.empty()) {
      EXPECT_EQ(in.get(), 'X') << "stops after the version line";
    }
  }
}

TEST_F(ZrRDFormatTest, BinaryCounts) {
  struct Case {
    std::string input;
    int cameras, frames;
    Strings messages;
    bool failed;
  };
  const Case cases[] = {
      {RDBytes({6, 3, 0, 0xB0, 4, 0, 0, 'X'}), 3, 1200, {}, false},
      {RDBytes({6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'X'}), 65535, -1, {}, false},
      {RDBytes({10, 2, 0, 5, 0, 0, 0, 9, 9, 9, 9, 'X'}), 2, 5, {}, false},
      {RDBytes({5, 2, 0, 5, 0, 0}), -7, -7, {"Invalid header size."}, true},
      {"", -7, -7, {"Unable to read header information."}, true},
      // Cut short: not reported, the missing bytes count as 0.
      {RDBytes({6, 2, 0, 5}), 2, 5, {}, true},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    int cameras = -7, frames = -7;
    ZrRDReadBinaryCounts(in, &cameras, &frames);
    EXPECT_EQ(cameras, c.cameras);
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(TakeMessages(), c.messages);
    EXPECT_EQ(in.fail(), c.failed);
    if (!c.failed) {
      EXPECT_EQ(in.get(), 'X');
    }
  }
}

TEST_F(ZrRDFormatTest, TextCounts) {
  struct Case {
    std::string input;
    int cameras, frames;
    Strings messages;
  };
  const Case cases[] = {
      {"3\n10\n", 3, 10, {}},
      {"", -7, -7, {"Unable to read number of cameras."}},
      {"3\n", 3, -7, {"Unable to read number of frames."}},
      {"3 frames", 3, -7, {"Unable to read number of frames."}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    int cameras = -7, frames = -7;
    EXPECT_EQ(ZrRDReadTextCounts(in, &cameras, &frames), c.messages.empty());
    EXPECT_EQ(cameras, c.cameras) << c.input;
    EXPECT_EQ(frames, c.frames) << c.input;
    EXPECT_EQ(TakeMessages(), c.messages) << c.input;
    EXPECT_EQ(in.fail(), !c.messages.empty());
  }
}

TEST_F(ZrRDFormatTest, BinaryFrameHeader) {
  const std::string noNumber = "Unable to read frame number.";
  struct Case {
    const char* name;
    std::string input;
    int number;
    std::optional<ZnPackedTimecode> timecode;
    Strings messages;
  };
  const Case cases[] = {
      {"size 4", RDBytes({4, 5, 0, 0, 0}), 5, {}, {}},
      {"negative number", RDBytes({4, 0xFF, 0xFF, 0xFF, 0xFF}), -1, {}, {}},
      {"part count 0", RDBytes({9, 5, 0, 0, 0, 0, 1, 2, 3, 4}), 5, {}, {}},
      {"part count 4", RDBytes({9, 5, 0, 0, 0, 4, 1, 2, 3, 4}), 5, RDPacked(1, 2, 3, 4), {}},
      {"longer record",
       RDBytes({11, 5, 0, 0, 0, 4, 1, 2, 3, 4, 8, 8}),
       5,
       RDPacked(1, 2, 3, 4),
       {}},
      {"part count 2",
       RDBytes({9, 5, 0, 0, 0, 2, 1, 2, 3, 4}),
       5,
       RDPacked(1, 2, 3, 4),
       {"Invalid timecode for frame 5"}},
      {"size 0", RDBytes({0}), 0, {}, {}},
      {"size 2", RDBytes({2, 5, 1}), 261, {}, {}},
      {"size 6", RDBytes({6, 5, 0, 0, 0, 4, 7}), 5, RDPacked(7, 0, 0, 0), {}},
      {"end of input", "", 99, {}, {noNumber, noNumber}},
      {"record cut short", RDBytes({9, 5, 0, 0, 0, 4}), 99, {}, {noNumber}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    ZrRDFrame frame;
    frame.number = 99;
    frame.timecode = 12;
    bool ok = ZrRDReadBinaryFrameHeader(in, frame);
    Strings messages = TakeMessages();
    EXPECT_EQ(messages, c.messages) << c.name;
    EXPECT_EQ(ok, c.messages.empty() || c.timecode.has_value()) << c.name;
    EXPECT_EQ(frame.number, c.number) << c.name;
    EXPECT_EQ(frame.timecode, c.timecode) << c.name;
    EXPECT_EQ(in.fail(), c.number == 99) << c.name;
  }
}

TEST_F(ZrRDFormatTest, TextFrameHeader) {
  struct Case {
    std::string input;
    int number;
    std::optional<ZnPackedTimecode> timecode;
    Strings messages;
  };
  const Case cases[] = {
      {"12\n0\n", 12, {}, {}},
      {"12   \t\n", 12, {}, {}},
      {"12 01:02:03:04\n", 12, RDPacked(1, 2, 3, 4), {}},
      {"12  01:02:03:04 \r\n", 12, RDPacked(1, 2, 3, 4), {}},
      {"12 01:02:03:04/25\n", 12, RDPacked(1, 2, 3, 4, 25), {}},
      {"x\n", 99, 3, {"Unable to read frame number."}},
      {"", 99, 3, {"Unable to read frame number."}},
      // The input ends right after the number: no line is left to read.
      {"12", 12, 3, {"Unable to read timecode."}},
      {"12 noon\n", 12, 3, {"Unable to convert \"noon\" to timecode."}},
      // Damage in the line is no frame without timecode.
      {std::string("12 \0 01:02:03:04\n", 18), 12, 3,
       {"Unable to convert \"\\0 01:02:03:04\" to timecode."}},
      {std::string("12 01:02:03:04\0\n", 17), 12, 3,
       {"Unable to convert \"01:02:03:04\\0\" to timecode."}},
      // Lines that end in a carriage return alone run on.
      {"12 01:02:03:04\r13\r", 12, 3, {"Unable to convert \"01:02:03:04\r13\" to timecode."}},
      // Any amount of white space around a timecode is read; a longer text
      // than any timecode is not.
      {"12" + std::string(100000, ' ') + "01:02:03:04" + std::string(100000, '\t') + "\n", 12,
       RDPacked(1, 2, 3, 4), {}},
      {"12 " + std::string(300, '7') + "\n", 12, 3,
       {"Unable to convert \"" + std::string(255, '7') + "...\" to timecode."}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    ZrRDFrame frame;
    frame.number = 99;
    frame.timecode = 3;
    EXPECT_EQ(ZrRDReadTextFrameHeader(in, frame), c.messages.empty()) << c.input.substr(0, 40);
    EXPECT_EQ(TakeMessages(), c.messages) << c.input.substr(0, 40);
    EXPECT_EQ(frame.number, c.number) << c.input;
    EXPECT_EQ(frame.timecode, c.timecode) << c.input;
    EXPECT_EQ(in.fail(), !c.messages.empty()) << c.input;
  }
}

TEST_F(ZrRDFormatTest, Read16) {
  struct Case {
    std::string input;
    std::ios::iostate before;
    int value;
    Strings messages;
  };
  const Case cases[] = {{RDBytes({0x12, 0x34}), std::ios::goodbit, 0x3412, {}},
                        {RDBytes({0x12}), std::ios::goodbit, 0, {"Hit end of file."}},
                        {RDBytes({0x12, 0x34}), std::ios::failbit, 0, {"Error reading file."}}};
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    in.setstate(c.before);
    EXPECT_EQ(ZrRDRead16(in), c.value);
    EXPECT_EQ(TakeMessages(), c.messages);
  }
}

// Binary camera records cut at every interesting place.
TEST_F(ZrRDFormatTest, BinaryGlobMessages) {
  const std::string eof = "Hit end of file.";
  struct Case {
    std::string input;
    Strings messages;
  };
  const Case cases[] = {
      {RDBytes({2, 0, 1, 0, 2, 0, 3, 0, 4, 0}), {}},
      {RDBytes({2}), {"File read error.", eof}},
      {RDBytes({2, 0}), {"Unable to read glob 1", "Cannot read X coordinate.", eof}},
      {RDBytes({2, 0, 1}), {"Unable to read glob 1", "Cannot read X coordinate.", eof}},
      {RDBytes({2, 0, 1, 0}), {"Unable to read glob 1", "Cannot read Y coordinate.", eof}},
      {RDBytes({2, 0, 1, 0, 2}), {"Unable to read glob 1", "Cannot read Y coordinate.", eof}},
      {RDBytes({2, 0, 1, 0, 2, 0, 3, 0}),
       {"Unable to read glob 2", "Cannot read Y coordinate.", eof}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    ZrRDCamera camera(1);
    camera.globs.resize(5);
    EXPECT_EQ(ZrRDReadBinaryGlobs(in, camera), c.messages.empty());
    EXPECT_EQ(TakeMessages(), c.messages) << c.input.size();
    // A missing count leaves the globs alone; a lost glob empties them.
    EXPECT_EQ(camera.globs.count(), c.messages.empty() ? 2 : c.messages.size() == 2 ? 5 : 0);
    EXPECT_EQ(in.fail(), !c.messages.empty());
  }
}

// A camera longer than one read run, whole and cut in its second run.
TEST_F(ZrRDFormatTest, BinaryGlobsAcrossRuns) {
  std::string record = RDBytes({0xDC, 0x05});  // 1500 globs
  for (int i = 0; i < 1500; ++i) record += RDBytes({i & 0xFF, i >> 8, 0, 1});
  std::istringstream whole(record + "X");
  ZrRDCamera camera;
  ASSERT_TRUE(ZrRDReadBinaryGlobs(whole, camera));
  ASSERT_EQ(camera.globs.count(), 1500);
  EXPECT_EQ(camera.globs[1499].x, 1499 / 128.0f);
  EXPECT_EQ(camera.globs[1499].y, 2.0f);
  EXPECT_EQ(camera.globs[1499].pixels, 1);
  EXPECT_EQ(whole.get(), 'X');

  std::istringstream cut(record.substr(0, 2 + 4 * 1200 + 1));
  EXPECT_FALSE(ZrRDReadBinaryGlobs(cut, camera));
  EXPECT_EQ(TakeMessages(),
            (Strings{"Unable to read glob 1201", "Cannot read X coordinate.", "Hit end of file."}));
}

TEST_F(ZrRDFormatTest, TextGlobMessages) {
  const std::string glob = "Unable to read data for glob.";
  struct Case {
    std::string input;
    Strings messages;
  };
  const Case cases[] = {
      {"2\n5 1.5 2.5\n6 3 4\n", {}},
      {"", {"Error reading number of globs for camera."}},
      {"-1\n", {"Error reading number of globs for camera."}},
      {"2\n5 1.5 2.5\n", {glob, "Unable to read number of pixels."}},
      {"2\n5 1.5 2.5\n6", {glob, "Error reading value for x."}},
      {"2\n5 1.5 2.5\n6 3 y", {glob, "Error reading value for y."}},
      // A damaged count fails at the end of the input instead of asking for
      // memory the input cannot fill.
      {"2147483647\n5 1.5 2.5\n", {glob, "Unable to read number of pixels."}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    ZrRDCamera camera(1);
    camera.globs.resize(5);
    EXPECT_EQ(ZrRDReadTextGlobs(in, camera), c.messages.empty());
    EXPECT_EQ(TakeMessages(), c.messages) << c.input;
    EXPECT_EQ(in.fail(), !c.messages.empty());
    if (c.messages.empty()) {
      ASSERT_EQ(camera.globs.count(), 2);
      EXPECT_TRUE((camera.globs[1] == ZrRDGlob{6, 3, 4}));
    } else if (c.messages.size() > 1) {
      EXPECT_EQ(camera.globs.count(), 0);
    }
  }
}

// The camera messages come on top of the glob messages that caused them.
TEST_F(ZrRDFormatTest, CameraMessages) {
  const std::string eof = "Hit end of file.", noCount = "Error reading number of globs for camera.",
                    text = "Cannot read data for camera.";
  struct Case {
    bool binary;
    std::string input;
    Strings messages;
  };
  const Case cases[] = {
      {true, RDBytes({0, 0}), {"Cannot read camera 2", "File read error.", eof}},
      {true, "", {"Cannot read camera 1", "File read error.", eof}},
      {false, "0\n", {"The last successfully read camera was 1.", text, noCount}},
      // A text file cut inside a glob line.
      {false,
       "1\n5 1 1\n0\n1\n6 3.5",
       {"The last successfully read camera was 2.", text, "Unable to read data for glob.",
        "Error reading value for y."}},
      {false, "", {"An error occurred reading the first camera.", text, noCount}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    ZrRDFrame frame;
    frame.setCameraCount(5);
    frame.setCamera(0, new ZrRDCamera(9));  // a leftover, deleted with the others
    EXPECT_FALSE(ZrRDReadCameras(in, c.binary, frame));
    EXPECT_EQ(TakeMessages(), c.messages) << c.input;
    EXPECT_EQ(frame.cameraCount(), 0);
    EXPECT_TRUE(in.fail());
  }
}

TEST_F(ZrRDFormatTest, CoordinateEncoding) {
  struct Case {
    float value;
    uint16_t encoded;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {10.5f, 1344},      {-0.3f, 0},
      {600.0f, 65535},    {0.0f, 0},
      {0.00390625f, 1},  // half a unit rounds up
      {0.0039f, 0},       {511.9921875f, 65535},
      {1.0e7f, 65535},    {1.0e8f, 0},
      {inf, 0},           {-inf, 0},
      {std::nanf(""), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ZrRDEncodeCoordinate(c.value), c.encoded) << c.value;
  EXPECT_EQ(ZrRDDecodeCoordinate(ZrRDEncodeCoordinate(600.0f)), 511.9921875f);
  EXPECT_EQ(ZrRDDecodeCoordinate(ZrRDEncodeCoordinate(10.5f)), 10.5f);
}

TEST_F(ZrRDFormatTest, TextGlobLineRoundsToFourDecimals) {
  ZrRDFrame frame;
  RDAddCamera(frame, {{3, 1.23456f, 2.0f}});
  std::ostringstream os;
  ZrRDWriteTextCameras(os, frame);
  EXPECT_EQ(os.str(), "1\n3 1.2346   2.0000  ");
  EXPECT_EQ(os.precision(), 4);
  EXPECT_EQ(os.flags() & (std::ios::left | std::ios::fixed), std::ios::fmtflags());
}

TEST_F(ZrRDFormatTest, FileHeaders) {
  std::ostringstream binary;
  binary.precision(9);
  binary.setf(std::ios::fixed);
  ZrRDWriteFileHeader(binary, ZrRDFormat::Binary, 1200, 70003);
  EXPECT_EQ(binary.str(),
            "Kyo Raw Data File Binary\nv1.00\n" + RDBytes({6, 0x73, 0x11, 0xB0, 4, 0, 0}));
  EXPECT_EQ(binary.precision(), 2);
  EXPECT_FALSE(binary.flags() & std::ios::fixed);

  std::istringstream in(binary.str());
  int cameras = 0, frames = 0;
  ASSERT_TRUE(ZrRDIsBinary(in));
  ASSERT_TRUE(ZrRDCheckIdentification(in));
  ASSERT_TRUE(ZrRDReadBinaryCounts(in, &cameras, &frames));
  EXPECT_EQ(cameras, 70003 & 0xFFFF);
  EXPECT_EQ(frames, 1200);

  std::ostringstream text;
  ZrRDWriteFileHeader(text, ZrRDFormat::Text, 0, 3);
  EXPECT_EQ(text.str(), "3\n0\n");

  std::ostringstream other;
  ZrRDFrame frame;
  frame.number = 1;
  ZrRDWriteFileHeader(other, static_cast<ZrRDFormat>(3), 1, 1);
  ZrRDWriteFrame(other, frame, static_cast<ZrRDFormat>(0));
  EXPECT_EQ(other.str(), "");
}

// What neither encoding can hold is dropped in a way that reads back cleanly.
// The text camera also takes the glob array through its growth steps.
TEST_F(ZrRDFormatTest, EncodersKeepRecordsConsistent) {
  ZrRDFrame frame;
  frame.number = 12;
  frame.timecode = RDPacked(1, 2, 3, 4, 25);
  frame.setCameraCount(1);  // an empty slot
  RDAddCamera(frame, {});
  frame.camera(1)->globs.resize(ZrRDMaxBinaryGlobs + 2);
  frame.camera(1)->globs[ZrRDMaxBinaryGlobs - 1] = {1, 5.0f, 6.0f};

  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    bool binary = format == ZrRDFormat::Binary;
    std::string bytes = Encode(frame, format);
    EXPECT_EQ(TakeMessages(),
              binary ? Strings{"Only the first 65535 of the 65537 globs of camera 2 in frame 12 "
                               "were written."}
                     : Strings{});
    if (!binary) {
      EXPECT_EQ(bytes.substr(0, 15), "12 01:02:03:04\n");
    }
    ZrRDFrame back;
    ASSERT_TRUE(Decode(bytes + "X", binary, 2, back));
    EXPECT_EQ(back.timecode, std::optional<ZnPackedTimecode>(RDPacked(1, 2, 3, 4)));
    EXPECT_EQ(back.camera(0)->globs.count(), 0);
    ASSERT_EQ(back.camera(1)->globs.count(), binary ? 65535 : 65537);
    EXPECT_EQ(back.camera(1)->globs[ZrRDMaxBinaryGlobs - 1].y, 6.0f);
  }
}

// Frames written one after another read back equal, with the reused frame
// dropping what the previous one held.
TEST_F(ZrRDFormatTest, RoundTripOfSeveralFrames) {
  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    bool binary = format == ZrRDFormat::Binary;
    std::vector<ZrRDFrame> frames(3);
    std::ostringstream os;
    ZrRDWriteFileHeader(os, format, 3, 2);
    for (int f = 0; f < 3; ++f) {
      frames[f].number = f + 1;
      if (f != 1) frames[f].timecode = RDPacked(0, 0, f, 5);
      for (int c = 0; c < 2; ++c) {
        std::vector<ZrRDGlob> globs;
        for (int g = 0; g < (f + c) % 3; ++g) {
          globs.push_back({binary ? 1 : 10 * g + c, (f * 37 + g) / 16.0f, (c * 91 + g) / 16.0f});
        }
        RDAddCamera(frames[f], globs);
      }
      ZrRDWriteFrame(os, frames[f], format);
    }

    std::istringstream in(os.str());
    int cameras = 0, count = 0;
    ASSERT_EQ(ZrRDIsBinary(in), binary);
    if (binary) {
      ASSERT_TRUE(ZrRDCheckIdentification(in));
      ASSERT_TRUE(ZrRDReadBinaryCounts(in, &cameras, &count));
    } else {
      ASSERT_TRUE(ZrRDReadTextCounts(in, &cameras, &count));
    }
    ASSERT_EQ(count, 3);
    ZrRDFrame back;
    for (int f = 0; f < 3; ++f) {
      ASSERT_TRUE(ZrRDReadFrameHeader(in, binary, back));
      back.setCameraCount(cameras);
      ASSERT_TRUE(ZrRDReadCameras(in, binary, back));
      EXPECT_EQ(back.number, f + 1);
      EXPECT_EQ(back.timecode, frames[f].timecode);
      EXPECT_TRUE(back == frames[f]) << f;
    }
    // Cut right after a frame: the binary header reports its end twice.
    const std::string noNumber = "Unable to read frame number.";
    EXPECT_FALSE(ZrRDReadFrameHeader(in, binary, back));
    EXPECT_EQ(TakeMessages(), binary ? (Strings{noNumber, noNumber}) : (Strings{noNumber}));
  }
}

}  // namespace
