#include "rawdata/ZrRDFileReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/wait.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFramePasses.h"
#include "rawdata/ZrRDSet.h"
#include "support/ReferenceReader.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TakeMessages;
using testsupport::TempDir;
using testsupport::WriteFile;

using Strings = std::vector<std::string>;

const ZrRDFormat kFormats[] = {ZrRDFormat::Text, ZrRDFormat::Binary};

const char* FormatName(ZrRDFormat format) { return format == ZrRDFormat::Text ? "text" : "binary"; }

// Frames that carry the given numbers, two cameras each. The frame at file
// position k with number n holds one glob at (n, k) in camera 1 and none in
// camera 2, so a frame read back shows both which number and which place in
// the file it came from.
std::string NumberedFile(ZrRDFormat format, int claimed, const std::vector<int>& numbers) {
  std::vector<std::unique_ptr<ZrRDFrame>> frames;
  std::vector<const ZrRDFrame*> pointers;
  for (size_t k = 0; k < numbers.size(); ++k) {
    frames.push_back(std::make_unique<ZrRDFrame>());
    ZrRDFrame& frame = *frames.back();
    frame.number = numbers[k];
    RDAddCamera(frame, {{1, static_cast<float>(numbers[k]), static_cast<float>(k)}});
    RDAddCamera(frame, {});
    pointers.push_back(&frame);
  }
  return RDEncodeFile(format, claimed, 2, pointers);
}

// Checks that `frame` is the frame NumberedFile() put at `position` with
// `number`.
void ExpectNumbered(const ZrRDFrame& frame, int number, int position) {
  EXPECT_EQ(frame.number, number);
  ASSERT_EQ(frame.cameraCount(), 2);
  ASSERT_NE(frame.camera(0), nullptr);
  ASSERT_EQ(frame.camera(0)->globs.count(), 1);
  EXPECT_EQ(frame.camera(0)->globs[0].x, static_cast<float>(number));
  EXPECT_EQ(frame.camera(0)->globs[0].y, static_cast<float>(position));
}

// A stream buffer over a string that cannot be positioned, as a pipe.
class UnseekableBuf : public std::streambuf {
 public:
  explicit UnseekableBuf(std::string bytes) : bytes_(std::move(bytes)) {
    setg(&bytes_[0], &bytes_[0], &bytes_[0] + bytes_.size());
  }

 private:
  std::string bytes_;
};

class ZrRDFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }

  // Writes the bytes to a file and opens a reader on it by name.
  std::unique_ptr<ZrRDFileReader> Open(const std::string& bytes, const char* name = "take.raw") {
    std::string path = dir_ / name;
    WriteFile(path, bytes);
    return std::make_unique<ZrRDFileReader>(path.c_str());
  }

  TempDir dir_;
};

TEST_F(ZrRDFileReaderTest, RejectedHeadersSayWhy) {
  const std::string id = "Kyo Raw Data File Binary\n";
  struct Case {
    const char* what;
    std::string bytes;
    Strings messages;  // newest first
  } cases[] = {
      {"version 2",
       id + "v2.00\n" + std::string("\x06\x01\0\x01\0\0\0", 7),
       {"File is not a a Kyo Raw Data file.",
        "Unsupported datafile version 2.00.  Application uses version 1.00."}},
      {"empty file",
       "",
       {"Unable to read raw data statistics.", "Unable to read number of cameras."}},
      {"text without frame count",
       "2\n",
       {"Unable to read raw data statistics.", "Unable to read number of frames."}},
      {"binary counts cut short",
       id + "v1.00\n" + std::string("\x06\x02\0", 3),
       {"Unable to read raw data statistics."}},
      {"negative cameras",
       "-1\n0\n",
       {"Unable to read raw data statistics.", "Invalid number of cameras -1."}},
      {"too many cameras",
       "2000000000\n1\n",
       {"Unable to read raw data statistics.", "Invalid number of cameras 2000000000."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto reader = Open(c.bytes);
    EXPECT_TRUE(reader->isOpen());
    EXPECT_EQ(TakeMessages(), c.messages);
    EXPECT_EQ(reader->cameraCount(), 0);
    EXPECT_EQ(reader->frameCount(), 0);
  }
}

TEST_F(ZrRDFileReaderTest, HeaderCountsOfBothEncodings) {
  auto text = Open("3\n7\n", "text.raw");
  EXPECT_FALSE(text->isBinary());
  EXPECT_EQ(text->cameraCount(), 3);
  EXPECT_EQ(text->frameCount(), 7);

  // 258 cameras and 70000 frames exercise the high bytes of both fields.
  auto binary =
      Open("Kyo Raw Data File Binary\nv1.00\n" + std::string("\x06\x02\x01\x70\x11\x01\x00", 7),
           "binary.raw");
  EXPECT_TRUE(binary->isBinary());
  EXPECT_EQ(binary->cameraCount(), 258);
  EXPECT_EQ(binary->frameCount(), 70000);
  EXPECT_EQ(TakeMessages(), Strings());
}

TEST_F(ZrRDFileReaderTest, ReadsFramesInOrderUntilTheEnd) {
  for (ZrRDFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    auto reader = Open(NumberedFile(format, 3, {1, 2, 3}));
    ZrRDFrame frame;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(reader->nextFrameNumber(), k + 1);
      EXPECT_TRUE(reader->readFrame(frame));
      ExpectNumbered(frame, k + 1, k);
      EXPECT_EQ(frame.camera(0)->id, 1);
      EXPECT_EQ(frame.camera(1)->id, 2);
    }
    EXPECT_EQ(reader->framesRead(), 3);
    EXPECT_EQ(TakeMessages(), Strings());

    EXPECT_EQ(reader->nextFrameNumber(), 0);
    EXPECT_TRUE(reader->atEndOfData());
    Strings atEnd = {"Unable to read frame number."};
    // The binary decoder fails on the size byte and again on the record.
    if (format == ZrRDFormat::Binary) atEnd.push_back("Unable to read frame number.");
    EXPECT_EQ(TakeMessages(), atEnd);
    EXPECT_TRUE(reader->close());
  }
}

TEST_F(ZrRDFileReaderTest, FrameNumberedZeroLooksLikeTheEndButIsNot) {
  for (ZrRDFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    auto reader = Open(NumberedFile(format, 2, {0, 1}));
    EXPECT_EQ(reader->nextFrameNumber(), 0);
    EXPECT_FALSE(ZnMessages.errorPending());
    EXPECT_FALSE(reader->atEndOfData());
    ZrRDFrame frame;
    EXPECT_TRUE(reader->readFrame(frame));
    ExpectNumbered(frame, 0, 0);
    EXPECT_TRUE(reader->readNextFrame(frame));
    ExpectNumbered(frame, 1, 1);
  }
}

TEST_F(ZrRDFileReaderTest, TimecodeOutputOfNextFrameNumber) {
  for (ZrRDFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    ZrRDFrame plain;
    plain.number = 1;
    RDAddCamera(plain, {});
    ZrRDFrame timed;
    timed.number = 2;
    timed.timecode = RDPacked(1, 2, 3, 4);
    RDAddCamera(timed, {});
    auto reader = Open(RDEncodeFile(format, 2, 1, {&plain, &timed}));
    ZrRDFrame frame;
    int timecode = 77;
    EXPECT_EQ(reader->nextFrameNumber(&timecode), 1);
    EXPECT_EQ(timecode, -1);
    ASSERT_TRUE(reader->readFrame(frame));
    EXPECT_FALSE(frame.timecode.has_value());

    EXPECT_EQ(reader->nextFrameNumber(&timecode), 2);
    EXPECT_EQ(timecode, static_cast<int>(RDPacked(1, 2, 3, 4)));
    ASSERT_TRUE(reader->readFrame(frame));
    EXPECT_EQ(frame.timecode, RDPacked(1, 2, 3, 4));

    timecode = 77;
    EXPECT_EQ(reader->nextFrameNumber(&timecode), 0);
    EXPECT_EQ(timecode, 77);  // untouched when no header was read
  }
}

TEST_F(ZrRDFileReaderTest, ReadFrameReplacesWhatTheFrameHeld) {
  ZrRDFrame twelve;
  twelve.number = 12;
  RDAddCamera(twelve, {{4, 1.5f, 2.5f}});
  RDAddCamera(twelve, {});
  RDAddCamera(twelve, {{1, 3.0f, 4.0f}, {2, 5.0f, 6.0f}});
  auto reader = Open(RDEncodeFile(ZrRDFormat::Text, 1, 3, {&twelve}));

  ZrRDFrame frame;
  frame.number = 99;
  frame.timecode = RDPacked(0, 0, 1, 0);
  for (int i = 0; i < 5; ++i) RDAddCamera(frame, {{9, 9.0f, 9.0f}});

  ASSERT_EQ(reader->nextFrameNumber(), 12);
  ASSERT_TRUE(reader->readFrame(frame));
  EXPECT_EQ(frame.number, 12);
  EXPECT_FALSE(frame.timecode.has_value());
  ASSERT_EQ(frame.cameraCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frame.camera(i)->id, i + 1);
  EXPECT_TRUE(frame == twelve);
}

TEST_F(ZrRDFileReaderTest, BodyCutShortFailsThatFrame) {
  std::string bytes = NumberedFile(ZrRDFormat::Text, 2, {1, 2});
  auto reader = Open(bytes.substr(0, bytes.size() - 6));  // inside frame 2's glob
  ZrRDFrame frame;
  ASSERT_TRUE(reader->readNextFrame(frame));
  EXPECT_FALSE(reader->readNextFrame(frame));
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Unable to read frame 2");
  EXPECT_EQ(frame.cameraCount(), 0);
  EXPECT_EQ(reader->framesRead(), 1);
}

TEST_F(ZrRDFileReaderTest, AtEndOfDataTellsTheEndFromDamage) {
  const std::string oneFrame = NumberedFile(ZrRDFormat::Text, 1, {1});
  const std::string binaryFrame = NumberedFile(ZrRDFormat::Binary, 1, {1});
  const std::string zeros(300000, '\0');
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    bool atEnd;
  } cases[] = {
      {"clean end", oneFrame, true},
      {"white space at the end", oneFrame + "  \n\t\n  ", true},
      {"zero bytes at the end", oneFrame + zeros, true},
      {"zero bytes and white space", oneFrame + "\n" + nul + " " + nul + "\r\n" + zeros + " \n",
       true},
      {"zero bytes, then data", oneFrame + zeros + "2\n1\n1 1 1\n", false},
      {"frame numbered 0 at the end", oneFrame + "0\n", true},
      {"frame numbered 0, then blanks", oneFrame + "0\n " + nul + "\n", true},
      {"frame numbered 0, then a frame", oneFrame + "0\n1\n1 1 1\n2\n1\n1 1 1\n", false},
      // A recorder's header that the end cut off ends the data; what no
      // recorder writes is damage.
      {"timecode cut off", oneFrame + "2 01:0", true},
      {"cut header line with more than a timecode", oneFrame + "2 01:0x", false},
      {"cut header line not starting a line", oneFrame.substr(0, oneFrame.size() - 1) + " 2 01", false},
      {"garbled line", oneFrame + "garbage\n2\n1\n1 1 1\n0\n", false},
      {"bad timecode", oneFrame + "2 xx:yy\n1\n1 1 1\n0\n", false},
      {"NUL before a timecode", oneFrame + "2 " + nul + " 01:02:03:04\n1\n1 1 1\n", false},
      {"binary clean end", binaryFrame, true},
      {"binary zero bytes at the end", binaryFrame + zeros, true},
      {"binary zero bytes, then data", binaryFrame + zeros + "\x01", false},
      {"binary header cut off", binaryFrame + std::string("\x09\x02\0", 3), true},
      {"binary header of 6 bytes cut off", binaryFrame + std::string("\x06\x02\0", 3), false},
      {"binary frame numbered 0 with a body",
       binaryFrame + std::string("\x04\0\0\0\0\x01\0\x10\x20\x30\x40", 11), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto reader = Open(c.bytes);
    ZrRDFrame frame;
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_FALSE(reader->atEndOfData());
    EXPECT_EQ(reader->nextFrameNumber(), 0);
    EXPECT_EQ(reader->atEndOfData(), c.atEnd);
    ZnClearMessages();
  }
}

// The number is the last thing in the file: a header line that the end cut
// off, with or without cameras to follow; so is a whole header line without
// its line end, though it reads.
TEST_F(ZrRDFileReaderTest, TextFileEndingInAHeaderLine) {
  for (int cameras : {0, 1}) {
    SCOPED_TRACE(cameras);
    const std::string first = std::to_string(cameras) + "\n3\n1\n" + (cameras ? "0\n" : "") + "\n";
    auto reader = Open(first + "2");
    ZrRDFrame frame;
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(reader->nextFrameNumber(), 0);
    EXPECT_EQ(TakeMessages(), Strings({"Unable to read timecode."}));
    EXPECT_TRUE(reader->headerCutOff());
    EXPECT_TRUE(reader->atEndOfData());

    reader = Open(first + "2 01:02:03:04");
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(reader->nextFrameNumber(), 2);
    EXPECT_TRUE(reader->headerCutOff());
    EXPECT_TRUE(reader->atEndOfData());
    ZnClearMessages();
  }
}

// A recording full of headers that each draw the same warning leaves one of
// them pending, however long it runs.
TEST_F(ZrRDFileReaderTest, RepeatedHeaderWarningIsPassedOnOnce) {
  std::string bytes = NumberedFile(ZrRDFormat::Binary, 0, {});
  for (int n = 1; n <= 500; ++n) {
    std::string header("\x09\0\0\0\0\x02\x01\x02\x03\x04", 10);
    header[1] = static_cast<char>(n % 256);
    header[2] = static_cast<char>(n / 256);
    bytes += header + std::string(4, '\0');  // two cameras without globs
  }
  auto reader = Open(bytes);
  int frames = 0;
  while (reader->nextFrameNumber() != 0 && reader->skipFrame()) ++frames;
  EXPECT_EQ(frames, 500);
  EXPECT_TRUE(reader->atEndOfData());
  Strings messages = TakeMessages();
  const auto invalid = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
    return m.rfind("Invalid timecode for frame", 0) == 0;
  });
  EXPECT_EQ(invalid, 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Invalid timecode for frame 1"), 1);
}

TEST_F(ZrRDFileReaderTest, FrameIndexReadsFramesByNumber) {
  for (ZrRDFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    auto reader = Open(NumberedFile(format, 5, {1, 2, 3, 4, 5}));
    ASSERT_TRUE(reader->buildFrameIndex());
    EXPECT_EQ(reader->framesRead(), 0);
    ZrRDFrame frame;
    ASSERT_TRUE(reader->readFrameAt(5, frame));
    ExpectNumbered(frame, 5, 4);
    ASSERT_TRUE(reader->readFrameAt(3, frame));
    ExpectNumbered(frame, 3, 2);
    ASSERT_TRUE(reader->readNextFrame(frame));
    ExpectNumbered(frame, 4, 3);
    EXPECT_EQ(TakeMessages(), Strings());

    EXPECT_FALSE(reader->readFrameAt(6, frame));
    EXPECT_EQ(TakeMessages(), Strings{"Frame 6 does not exist."});
    EXPECT_FALSE(reader->readFrameAt(0, frame));
    EXPECT_EQ(TakeMessages(), Strings{"Frame 0 does not exist."});
  }
}

TEST_F(ZrRDFileReaderTest, FrameIndexWithGapsRepeatsAndOddNumbers) {
  auto reader = Open(NumberedFile(ZrRDFormat::Binary, 6, {1, 2, 4, 0, -3, 2}));
  ASSERT_TRUE(reader->buildFrameIndex());
  ZrRDFrame frame;
  EXPECT_FALSE(reader->readFrameAt(3, frame));  // inside the range, but no such frame
  EXPECT_EQ(TakeMessages(), Strings());
  ASSERT_TRUE(reader->readFrameAt(2, frame));
  ExpectNumbered(frame, 2, 5);  // the later of the two
  ASSERT_TRUE(reader->readFrameAt(4, frame));
  ExpectNumbered(frame, 4, 2);
  EXPECT_FALSE(reader->readFrameAt(-3, frame));
  EXPECT_EQ(TakeMessages(), Strings{"Frame -3 does not exist."});
}

TEST_F(ZrRDFileReaderTest, FramesReadStopsAtTheLargestNumber) {
  // Reading at a number sets the count from it; reading on must not overflow.
  auto reader = Open(NumberedFile(ZrRDFormat::Text, 3, {INT_MAX, 5, 6}));
  ASSERT_TRUE(reader->buildFrameIndex());
  ZrRDFrame frame;
  ASSERT_TRUE(reader->readFrameAt(INT_MAX, frame));
  EXPECT_EQ(reader->framesRead(), INT_MAX);
  ASSERT_TRUE(reader->readNextFrame(frame));
  EXPECT_EQ(frame.number, 5);
  EXPECT_EQ(reader->framesRead(), INT_MAX);
  ASSERT_EQ(reader->nextFrameNumber(), 6);
  ASSERT_TRUE(reader->skipFrame());
  EXPECT_EQ(reader->framesRead(), INT_MAX);
}

TEST_F(ZrRDFileReaderTest, FrameIndexFollowsTheHeaderCount) {
  for (ZrRDFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    ZrRDFrame frame;

    // Claims more than the file holds: the build meets the end and fails,
    // and the reader is back where it was.
    auto tooMany = Open(NumberedFile(format, 7, {1, 2, 3, 4, 5}));
    EXPECT_FALSE(tooMany->buildFrameIndex());
    Strings messages = TakeMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "Unable to read frame number.");
    EXPECT_FALSE(tooMany->readFrameAt(1, frame));
    EXPECT_EQ(TakeMessages(), Strings{"Frame 1 does not exist."});
    ASSERT_TRUE(tooMany->readNextFrame(frame));
    ExpectNumbered(frame, 1, 0);

    // Claims fewer: only that many are indexed.
    auto tooFew = Open(NumberedFile(format, 3, {1, 2, 3, 4, 5}));
    ASSERT_TRUE(tooFew->buildFrameIndex());
    ASSERT_TRUE(tooFew->readFrameAt(3, frame));
    EXPECT_FALSE(tooFew->readFrameAt(4, frame));
    EXPECT_EQ(TakeMessages(), Strings{"Frame 4 does not exist."});
  }
}

TEST_F(ZrRDFileReaderTest, FrameIndexAfterSomeFramesWereRead) {
  auto reader = Open(NumberedFile(ZrRDFormat::Text, 4, {1, 2, 3, 4}));
  ZrRDFrame frame;
  ASSERT_TRUE(reader->readNextFrame(frame));
  ASSERT_TRUE(reader->readNextFrame(frame));
  ASSERT_TRUE(reader->buildFrameIndex());
  // Sequential reading starts again at the first frame scanned.
  ASSERT_TRUE(reader->readNextFrame(frame));
  ExpectNumbered(frame, 3, 2);
  EXPECT_FALSE(reader->readFrameAt(1, frame));
  EXPECT_EQ(TakeMessages(), Strings());
  ASSERT_TRUE(reader->readFrameAt(4, frame));
  ExpectNumbered(frame, 4, 3);
}

TEST_F(ZrRDFileReaderTest, RandomAccessNeedsASeekableStream) {
  const std::string bytes = NumberedFile(ZrRDFormat::Text, 2, {1, 2});
  ZrRDFrame frame;

  std::istringstream seekable(bytes);
  ZrRDFileReader onString(seekable);
  ASSERT_TRUE(onString.buildFrameIndex());
  ASSERT_TRUE(onString.readFrameAt(2, frame));
  ExpectNumbered(frame, 2, 1);

  UnseekableBuf anonymousBuf(bytes);
  std::istream anonymous(&anonymousBuf);
  ZrRDFileReader onPipe(anonymous);
  EXPECT_FALSE(onPipe.buildFrameIndex());
  EXPECT_EQ(TakeMessages(), Strings{"Random access is not possible on this input stream."});

  UnseekableBuf namedBuf(bytes);
  std::istream named(&namedBuf);
  ZrRDFileReader onNamedPipe(named, "camera feed");
  EXPECT_FALSE(onNamedPipe.readFrameAt(1, frame));
  EXPECT_EQ(TakeMessages(), Strings{"Random access is not possible on \"camera feed\"."});
  // The refusals left sequential reading alone.
  ASSERT_TRUE(onNamedPipe.readNextFrame(frame));
  ExpectNumbered(frame, 1, 0);
}

TEST_F(ZrRDFileReaderTest, ReaderWithoutAStreamDoesNothing) {
  std::string path = dir_ / "missing.raw";
  ZrRDFileReader reader(path.c_str());
  EXPECT_FALSE(reader.isOpen());
  EXPECT_TRUE(ZnMessages.errorPending());  // the opening's own report
  ZnClearMessages();

  ZrRDFrame frame;
  int timecode = 5;
  EXPECT_EQ(reader.nextFrameNumber(&timecode), 0);
  EXPECT_EQ(timecode, 5);
  EXPECT_FALSE(reader.readFrame(frame));
  EXPECT_FALSE(reader.readNextFrame(frame));
  EXPECT_FALSE(reader.buildFrameIndex());
  EXPECT_FALSE(reader.readFrameAt(1, frame));
  EXPECT_FALSE(reader.atEndOfData());
  EXPECT_TRUE(reader.close());
  EXPECT_EQ(TakeMessages(), Strings());
}

TEST_F(ZrRDFileReaderTest, CompressedFileReadThroughGunzip) {
  if (!HaveProgram("gzip") || !HaveProgram("gunzip")) GTEST_SKIP() << "no gzip";
  const std::string plain = dir_ / "take.raw";
  WriteFile(plain, NumberedFile(ZrRDFormat::Binary, 3, {1, 2, 3}));
  ASSERT_EQ(std::system(("gzip " + plain).c_str()), 0);

  // By its full name, and by the plain name whose ".gz" form is what exists.
  for (const std::string& name : {plain + ".gz", plain}) {
    SCOPED_TRACE(name);
    ZrRDFileReader reader(name.c_str());
    ASSERT_TRUE(reader.isOpen());
    EXPECT_TRUE(reader.isBinary());
    ZrRDFrame frame;
    for (int k = 0; k < 3; ++k) {
      ASSERT_TRUE(reader.readNextFrame(frame));
      ExpectNumbered(frame, k + 1, k);
    }
    EXPECT_FALSE(reader.buildFrameIndex());
    EXPECT_EQ(TakeMessages(), Strings{"Random access is not possible on \"" + name + "\"."});
    EXPECT_EQ(reader.nextFrameNumber(), 0);
    EXPECT_TRUE(reader.atEndOfData());
    ZnClearMessages();
    EXPECT_TRUE(reader.close());
    EXPECT_EQ(TakeMessages(), Strings());
  }
}

TEST_F(ZrRDFileReaderTest, CloseReportsACorruptCompressedFile) {
  if (!HaveProgram("gzip") || !HaveProgram("gunzip")) GTEST_SKIP() << "no gzip";
  const std::string plain = dir_ / "take.raw";
  std::vector<int> numbers;
  for (int n = 1; n <= 200; ++n) numbers.push_back(n);
  WriteFile(plain, NumberedFile(ZrRDFormat::Text, 200, numbers));
  ASSERT_EQ(std::system(("gzip " + plain).c_str()), 0);
  const std::string gz = plain + ".gz";
  std::string compressed = ReadFile(gz);
  WriteFile(gz, compressed.substr(0, compressed.size() / 2));

  ZrRDFileReader reader(gz.c_str());
  ASSERT_TRUE(reader.isOpen());
  ZrRDFrame frame;
  while (reader.readNextFrame(frame)) {
  }
  ZnClearMessages();
  EXPECT_FALSE(reader.close());
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Decompressor 'gunzip' failed for \"" + gz + "\".");
}

#ifdef HDRMEND_RDGEN
// The generator's exit status, or -1 when it did not exit.
int RunGenerator(const std::string& arguments, const std::string& path) {
  std::string command =
      std::string(HDRMEND_RDGEN) + " " + arguments + " '" + path + "' 2>/dev/null";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ZrRDFileReaderTest, GeneratorOutputReadsBackAsGenerated) {
  const bool haveGzip = HaveProgram("gzip") && HaveProgram("gunzip");
  RandomFrameSettings settings;
  settings.cameras = 3;
  settings.minGlobs = 0;
  settings.maxGlobs = 20;
  settings.firstNumber = 5;
  settings.seed = 7;
  settings.timecodes = true;
  ASSERT_TRUE(ZnPackedTimecodeParse(ZnStr("23:59:59:28/30"), &settings.timecodeStart, false));
  const std::string common =
      "--frames 40 --cameras 3 --min-globs 0 --max-globs 20 --first-number 5 --seed 7 "
      "--timecodes=23:59:59:28/30 --header-offset -2";

  struct Case {
    ZrRDFormat format;
    const char* name;
  } cases[] = {{ZrRDFormat::Text, "gen.txt"},
               {ZrRDFormat::Binary, "gen.raw"},
               {ZrRDFormat::Text, "gen.txt.gz"},
               {ZrRDFormat::Binary, "gen.raw.gz"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_ / c.name;
    if (path.size() > 3 && path.substr(path.size() - 3) == ".gz" && !haveGzip) continue;
    settings.format = c.format;
    ASSERT_EQ(RunGenerator(common + " --format " + FormatName(c.format), path), 0);

    ZrRDFileReader reader(path.c_str());
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.isBinary(), c.format == ZrRDFormat::Binary);
    EXPECT_EQ(reader.frameCount(), 38);
    EXPECT_EQ(reader.cameraCount(), 3);
    RandomFrames source(settings);
    ZrRDFrame expected;
    ZrRDFrame frame;
    for (int i = 0; i < 40; ++i) {
      source.next(expected);
      ASSERT_TRUE(reader.readNextFrame(frame)) << "frame " << i;
      EXPECT_EQ(frame.number, expected.number);
      EXPECT_EQ(frame.timecode, expected.timecode);
      EXPECT_TRUE(frame == expected) << "frame " << i;
    }
    EXPECT_EQ(reader.nextFrameNumber(), 0);
    EXPECT_TRUE(reader.atEndOfData());
    ZnClearMessages();
    EXPECT_TRUE(reader.close());
  }
}

// Every recording the generator, the writer and the data set write is of
// the recorder's form: a count takes every frame, and so does the reference
// reader. Both encodings, frames without timecodes and with timecodes of
// every rate, running over midnight.
TEST_F(ZrRDFileReaderTest, WhatTheWritersWriteIsOfTheRecordersForm) {
  constexpr int kFrames = 70;  // over two seconds at any rate
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    for (int rate = 0; rate <= 30; ++rate) {
      SCOPED_TRACE(std::string(FormatName(format)) + ", rate " + std::to_string(rate));
      const std::string start = "23:59:58:00/" + std::to_string(rate);
      RandomFrameSettings settings;
      settings.format = format;
      settings.maxGlobs = 3;
      settings.seed = static_cast<uint64_t>(rate) + 1;
      settings.timecodes = rate > 0;
      ZnPackedTimecodeParse(ZnStr(start.c_str()), &settings.timecodeStart, false);
      const std::string generated = dir_ / "generated";
      ASSERT_EQ(RunGenerator("--frames 70 --max-globs 3 --seed " + std::to_string(rate + 1) +
                                 " --format " + FormatName(format) +
                                 (rate > 0 ? " --timecodes=" + start : ""),
                             generated),
                0);
      const std::string written = dir_ / "written";
      const std::string saved = dir_ / "saved";
      {
        ZrRDFileWriter writer(written.c_str(), kFrames, settings.cameras, format);
        ZrRDSet set;
        set.setFormat(format);
        RandomFrames source(settings);
        ZrRDFrame frame;
        for (int k = 0; k < kFrames; ++k) {
          source.next(frame);
          writer.writeFrame(frame);
          set.addFrame(frame);
        }
        ASSERT_TRUE(writer.close());
        ASSERT_TRUE(set.save(saved.c_str()));
      }
      for (const std::string& path : {generated, written, saved}) {
        SCOPED_TRACE(path);
        const std::string bytes = ReadFile(path);
        auto reader = Open(bytes);
        int64_t counted = 0;
        EXPECT_EQ(ZrRDCountFrames(*reader, &counted), ZrRDCountEnd::kClean);
        EXPECT_EQ(counted, kFrames);
        const testsupport::ReferenceReading reading = testsupport::ReadReference(bytes);
        EXPECT_TRUE(reading.whole);
        EXPECT_EQ(reading.frames.size(), static_cast<std::size_t>(kFrames));
      }
      ZnClearMessages();
    }
  }
}

TEST_F(ZrRDFileReaderTest, GeneratorIsDeterministicAndCutsWhereAsked) {
  const std::string arguments = "--frames 5 --cameras 2 --max-globs 30 --seed 11";
  const std::string first = dir_ / "first.raw";
  const std::string second = dir_ / "second.raw";
  const std::string cut = dir_ / "cut.raw";
  ASSERT_EQ(RunGenerator(arguments, first), 0);
  ASSERT_EQ(RunGenerator(arguments, second), 0);
  const std::string bytes = ReadFile(first);
  EXPECT_EQ(ReadFile(second), bytes);

  const std::string size = std::to_string(bytes.size() - 1);
  ASSERT_EQ(RunGenerator(arguments + " --truncate " + size, cut), 0);
  EXPECT_EQ(ReadFile(cut), bytes.substr(0, bytes.size() - 1));
  // Cutting beyond the end would lengthen the file instead.
  EXPECT_EQ(RunGenerator(arguments + " --truncate " + std::to_string(bytes.size() + 1), cut), 1);

  for (const char* wrong : {"--format xml", "--min-globs 5 --max-globs 2", "--frames -1",
                            "--header-frames 3 --header-offset 1", "--text-decimals"}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(RunGenerator(wrong, cut), 2);
  }
}
#endif  // HDRMEND_RDGEN

}  // namespace
