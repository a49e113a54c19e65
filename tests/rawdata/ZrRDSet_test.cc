#include "rawdata/ZrRDSet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/RDTestFiles.h"
#include "support/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TakeMessages;
using testsupport::TempDir;
using testsupport::WriteFile;

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }
bool HaveGzip() { return HaveProgram("gzip") && HaveProgram("gunzip"); }

// A frame whose cameras hold globs that both encodings store exactly (pixels
// 1, coordinates in quarters of a pixel); `seed` varies the content.
ZrRDFrame MakeFrame(int number, int cameras, int seed = 0) {
  ZrRDFrame frame;
  frame.number = number;
  if ((number + seed) % 2 == 0) frame.timecode = RDPacked(1, 2, 3, (number + seed) % 30);
  frame.setCameraCount(cameras);
  for (int i = 0; i < cameras; ++i) {
    ZrRDCamera* camera = new ZrRDCamera(i + 1);
    int globs = ((number + seed + i) % 3 + 3) % 3;
    camera->globs.resize(globs);
    for (int g = 0; g < globs; ++g) {
      camera->globs[g] = {1, 0.25f * (number + g), 0.5f * (seed + i + g)};
    }
    frame.setCamera(i, camera);
  }
  return frame;
}

ZrRDSet MakeSet(std::initializer_list<int> numbers, int cameras = 2, int seed = 0) {
  ZrRDSet set;
  for (int n : numbers) set.addFrame(MakeFrame(n, cameras, seed));
  return set;
}

ZrRDSet MakeRange(int first, int last, int cameras = 2, int seed = 0) {
  ZrRDSet set;
  for (int n = first; n <= last; ++n) set.addFrame(MakeFrame(n, cameras, seed));
  return set;
}

// A file with the header's counts and the frames in the order given.
std::string EncodeFile(ZrRDFormat format, int headerFrames, int cameras,
                       const std::vector<int>& numbers) {
  std::ostringstream os;
  ZrRDWriteFileHeader(os, format, headerFrames, cameras);
  for (int n : numbers) ZrRDWriteFrame(os, MakeFrame(n, cameras), format);
  return os.str();
}

std::vector<int> Occupied(const ZrRDSet& set) {
  std::vector<int> numbers;
  for (int i = 0; i < set.frames().count(); ++i) {
    if (set.frames()[i] != nullptr) numbers.push_back(i + 1);
  }
  return numbers;
}

void ExpectEmpty(const ZrRDSet& set) {
  EXPECT_EQ(set.frames().count(), 0);
  EXPECT_EQ(set.frameCount(), 0);
  EXPECT_EQ(set.cameraCount(), 0);
}

// Each slot holds the frame of its number, equal to the one MakeFrame made.
void ExpectFramesMatch(const ZrRDSet& set, int cameras = 2, int seed = 0) {
  for (int n : Occupied(set)) {
    const ZrRDFrame* frame = set.frame(n);
    EXPECT_EQ(frame->number, n);
    EXPECT_EQ(*frame, MakeFrame(n, cameras, seed)) << "frame " << n;
  }
}

class CancelHook {
 public:
  explicit CancelHook(ZnCancelCallback callback, void* argument)
      : previous_(ZnSetCancelHook(callback, argument)) {}
  ~CancelHook() { ZnSetCancelHook(previous_.callback, previous_.argument); }

 private:
  ZnCancelHookRecord previous_;
};

class FactoryOverride {
 public:
  explicit FactoryOverride(ZrRDFrameFactory factory)
      : previous_(ZrRDSetFrameFactoryForTesting(factory)) {}
  ~FactoryOverride() { ZrRDSetFrameFactoryForTesting(previous_); }

 private:
  ZrRDFrameFactory previous_;
};

class ZrRDSetTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }
};

// ---- Files written by hand, loaded and saved back ----

const std::string kTextFile =
    "2\n3\n"
    "1 01:02:03:04\n2\n5 12.5000  3.2500  \n9 100.0000 7.1250  \n0\n"
    "2\n0\n1\n3 1.0000   2.0000  \n"
    "4\n0\n0\n";

const std::string kBinaryFile =
    "Kyo Raw Data File Binary\nv1.00\n" +
    RDBytes({0x06, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00,                    // 1 camera, 2 frames
             0x09, 0x01, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04,  // frame 1, 01:02:03:04
             0x01, 0x00, 0x40, 0x05, 0x20, 0x0A,                          // one glob 10.5, 20.25
             0x04, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00});                  // frame 3, no globs

TEST_F(ZrRDSetTest, HandWrittenFilesLoadAndSaveByteForByte) {
  TempDir dir;
  struct Case {
    std::string data;
    ZrRDFormat format;
    int cameras;
    std::vector<int> numbers;
  };
  for (const Case& c : {Case{kTextFile, ZrRDFormat::Text, 2, {1, 2, 4}},
                        Case{kBinaryFile, ZrRDFormat::Binary, 1, {1, 3}}}) {
    SCOPED_TRACE(c.format == ZrRDFormat::Text ? "text" : "binary");
    std::string in = dir / "in", out = dir / "out";
    WriteFile(in, c.data);
    ZrRDSet set;
    set.setFormat(c.format == ZrRDFormat::Text ? ZrRDFormat::Binary : ZrRDFormat::Text);
    ASSERT_TRUE(set.load(in.c_str())) << ::testing::PrintToString(TakeMessages());
    EXPECT_EQ(set.format(), c.format);
    EXPECT_EQ(set.cameraCount(), c.cameras);
    EXPECT_EQ(set.frameCount(), static_cast<int>(c.numbers.size()));
    EXPECT_EQ(Occupied(set), c.numbers);
    EXPECT_EQ(set.frames().count(), c.numbers.back());
    ASSERT_TRUE(set.save(out.c_str()));
    EXPECT_EQ(ReadFile(out), c.data);
    EXPECT_FALSE(ZnMessages.hasMessages());
  }
}

TEST_F(ZrRDSetTest, HandWrittenTextFileContent) {
  std::istringstream in(kTextFile);
  ZrRDSet set;
  ASSERT_TRUE(set.load(in));
  const ZrRDFrame* first = set.frame(1);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->timecode.has_value());
  EXPECT_EQ(*first->timecode, RDPacked(1, 2, 3, 4));
  ASSERT_EQ(first->cameraCount(), 2);
  const ZrRDCamera& camera = *first->camera(0);
  ASSERT_EQ(camera.globs.count(), 2);
  EXPECT_EQ(camera.globs[1], (ZrRDGlob{9, 100.0f, 7.125f}));
  EXPECT_EQ(first->camera(1)->globs.count(), 0);
  EXPECT_FALSE(set.frame(2)->timecode.has_value());
  EXPECT_EQ(set.frame(3), nullptr);
}

// Every encoding, plain and compressed: what is saved loads back equal, and
// the compressed file holds exactly the bytes of the plain one.
TEST_F(ZrRDSetTest, SaveLoadRoundTrips) {
  TempDir dir;
  bool gzip = HaveGzip();
  ZrRDSet original = MakeSet({1, 2, 3, 5, 9}, 3);
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    SCOPED_TRACE(static_cast<int>(format));
    original.setFormat(format);
    std::string plain = dir / "plain", packed = dir / "packed.gz";
    ASSERT_TRUE(original.save(plain.c_str()));
    ZrRDSet loaded;
    ASSERT_TRUE(loaded.load(plain.c_str()));
    EXPECT_EQ(loaded.format(), format);
    EXPECT_EQ(loaded.cameraCount(), 3);
    EXPECT_EQ(Occupied(loaded), (std::vector<int>{1, 2, 3, 5, 9}));
    EXPECT_TRUE(loaded == original);
    ExpectFramesMatch(loaded, 3);
    for (int n : Occupied(loaded))
      EXPECT_EQ(loaded.frame(n)->timecode, original.frame(n)->timecode);

    if (!gzip) continue;
    ASSERT_TRUE(original.save(packed.c_str())) << ::testing::PrintToString(TakeMessages());
    ASSERT_TRUE(Shell("gunzip -c '" + packed + "' > '" + (dir / "unpacked") + "'"));
    EXPECT_EQ(ReadFile(dir / "unpacked"), ReadFile(plain));
    ZrRDSet fromGzip;
    ASSERT_TRUE(fromGzip.load(packed.c_str())) << ::testing::PrintToString(TakeMessages());
    EXPECT_EQ(fromGzip.format(), format);
    EXPECT_TRUE(fromGzip == original);
  }
  EXPECT_FALSE(ZnMessages.hasMessages());
  if (!gzip) GTEST_SKIP() << "gzip is not installed; compressed round trips not run";
}

// ---- Loading ----

TEST_F(ZrRDSetTest, LoadPlacesFramesBySlot) {
  std::istringstream three(EncodeFile(ZrRDFormat::Text, 3, 2, {1, 2, 3}));
  ZrRDSet set;
  ASSERT_TRUE(set.load(three));
  EXPECT_EQ(set.frames().count(), 3);
  EXPECT_EQ(set.frameCount(), 3);

  std::istringstream scattered(EncodeFile(ZrRDFormat::Binary, 3, 2, {2, 7, 5}));
  ASSERT_TRUE(set.load(scattered));
  EXPECT_EQ(set.format(), ZrRDFormat::Binary);
  EXPECT_EQ(set.frames().count(), 7);
  EXPECT_EQ(Occupied(set), (std::vector<int>{2, 5, 7}));
  ExpectFramesMatch(set);
  EXPECT_EQ(set.firstFrameNumber(), 2);
  EXPECT_EQ(set.frameNumberAfter(2), 5);
  EXPECT_EQ(set.frameNumberBefore(5), 2);
  EXPECT_EQ(set.frameNumberAfter(7), 0);
  EXPECT_EQ(set.frameNumberBefore(2), 0);
  EXPECT_EQ(set.frameNumberAfter(5), 7);
  EXPECT_EQ(set.frameNumberBefore(100), 7);
  EXPECT_EQ(set.frameNumberAfter(-4), 2);
  EXPECT_EQ(set.frameNumberBefore(INT_MIN), 0);
  EXPECT_EQ(set.frameNumberAfter(INT_MAX), 0);
}

TEST_F(ZrRDSetTest, HeaderCountsDecideHowManyFramesLoad) {
  ZrRDSet set = MakeSet({1, 2});
  std::istringstream none(EncodeFile(ZrRDFormat::Text, 0, 4, {}));
  ASSERT_TRUE(set.load(none));
  EXPECT_EQ(set.frames().count(), 0);
  EXPECT_EQ(set.frameCount(), 0);
  EXPECT_EQ(set.cameraCount(), 4);

  // Frames beyond the header's count are not read.
  std::istringstream fewer(EncodeFile(ZrRDFormat::Binary, 2, 2, {1, 2, 3, 4}));
  ASSERT_TRUE(set.load(fewer));
  EXPECT_EQ(Occupied(set), (std::vector<int>{1, 2}));
  EXPECT_EQ(set.frameCount(), 2);
  EXPECT_FALSE(ZnMessages.hasMessages());
}

TEST_F(ZrRDSetTest, LoadWithGivenFormatKeepsFormat) {
  ZrRDSet set;
  set.setFormat(ZrRDFormat::Binary);
  std::istringstream text(EncodeFile(ZrRDFormat::Text, 1, 1, {1}));
  ASSERT_TRUE(set.load(text, ZrRDFormat::Text));
  EXPECT_EQ(set.format(), ZrRDFormat::Binary);
  EXPECT_EQ(set.frameCount(), 1);

  // Any value but Binary reads text.
  std::istringstream other(EncodeFile(ZrRDFormat::Text, 1, 1, {1}));
  ASSERT_TRUE(set.load(other, static_cast<ZrRDFormat>(7)));

  std::istringstream notBinary(EncodeFile(ZrRDFormat::Text, 1, 1, {1}));
  EXPECT_FALSE(set.load(notBinary, ZrRDFormat::Binary));
  EXPECT_EQ(TakeMessages(),
            (Strings{"File is not a Kyo Raw Data File.", "Invalid datafile header id."}));
  ExpectEmpty(set);
}

struct CancelState {
  const ZrRDSet* set = nullptr;
  int cancelAtCall = 0;  // 0: never
  std::vector<int> lengthsSeen;
};

bool RecordAndMaybeCancel(void* argument) {
  CancelState* state = static_cast<CancelState*>(argument);
  state->lengthsSeen.push_back(state->set->frames().count());
  return static_cast<int>(state->lengthsSeen.size()) == state->cancelAtCall;
}

// The hook sees the frame array between frames, after every 50th.
TEST_F(ZrRDSetTest, FrameArrayGrowsInStepsOf500) {
  ZrRDSet set;
  CancelState state;
  state.set = &set;
  CancelHook hook(RecordAndMaybeCancel, &state);

  std::vector<int> numbers{1200};
  for (int n = 1; n <= 149; ++n) numbers.push_back(n);
  std::istringstream in(EncodeFile(ZrRDFormat::Binary, 150, 1, numbers));
  ASSERT_TRUE(set.load(in));
  EXPECT_EQ(state.lengthsSeen, (std::vector<int>{1500, 1500, 1500}));
  EXPECT_EQ(set.frames().count(), 1200);
  EXPECT_EQ(set.frameCount(), 150);

  state.lengthsSeen.clear();
  std::vector<int> low;
  for (int n = 1; n <= 99; ++n) low.push_back(n);
  std::istringstream small(EncodeFile(ZrRDFormat::Text, 99, 1, low));
  ASSERT_TRUE(set.load(small));
  EXPECT_EQ(state.lengthsSeen, (std::vector<int>{500}));
  EXPECT_EQ(set.frames().count(), 99);
}

TEST_F(ZrRDSetTest, CancelStopsLoad) {
  TempDir dir;
  std::vector<int> numbers;
  for (int n = 1; n <= 120; ++n) numbers.push_back(n);
  std::string path = dir / "long";
  WriteFile(path, EncodeFile(ZrRDFormat::Text, 120, 2, numbers));

  ZrRDSet set = MakeSet({1});
  CancelState state;
  state.set = &set;
  state.cancelAtCall = 2;
  CancelHook hook(RecordAndMaybeCancel, &state);
  std::ifstream in(path);
  EXPECT_FALSE(set.load(in));
  EXPECT_EQ(TakeMessages(), Strings{"Canceled."});
  EXPECT_EQ(state.lengthsSeen.size(), 2u);
  ExpectEmpty(set);

  state.lengthsSeen.clear();
  state.cancelAtCall = 1;
  EXPECT_FALSE(set.load(path.c_str()));
  EXPECT_EQ(TakeMessages(),
            (Strings{"Unable to read raw data file \"" + path + "\".", "Canceled."}));
  ExpectEmpty(set);
}

// Every way a load can fail: the messages newest first, and an empty set.
TEST_F(ZrRDSetTest, LoadFailures) {
  const std::string id = "Kyo Raw Data File Binary\nv1.00\n";
  const std::string binaryCounts = RDBytes({0x06, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00});
  const std::string binaryFrame4 = RDBytes({0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
  struct Case {
    const char* name;
    std::string data;
    Strings messages;
  };
  const Case cases[] = {
      {"empty file", "", {"Unable to read number of cameras."}},
      {"text frames count missing", "2\n", {"Unable to read number of frames."}},
      {"binary counts missing", id, {"Unable to read header information."}},
      {"binary counts cut short",
       id + RDBytes({0x06, 0x01, 0x00}),
       {"Unable to read header information."}},
      // Each frame gets a slot per camera up front: a count no file can back
      // must not claim the memory.
      {"text camera count too high",
       "2000000000 1\n1\n",
       {"Unable to read header information.", "Invalid number of cameras 2000000000."}},
      {"text camera count negative",
       "-1 1\n1\n",
       {"Unable to read header information.", "Invalid number of cameras -1."}},
      {"text header claims more frames",
       EncodeFile(ZrRDFormat::Text, 3, 1, {1, 2}),
       {"The last successfully read frame was 2.", "Unable to read frame header.",
        "Unable to read frame number."}},
      {"text first frame header missing",
       "1\n1\n",
       {"An error occurred while reading the first frame.", "Unable to read frame header.",
        "Unable to read frame number."}},
      {"text header line ending at the end right after its number",
       "1\n1\n5",
       {"An error occurred while reading the first frame.", "Unable to read frame header.",
        "Unable to read timecode."}},
      {"text timecode unreadable",
       "1\n1\n1 1:xx\n0\n\n",
       {"An error occurred while reading the first frame.", "Unable to read frame header.",
        "Unable to convert \"1:xx\" to timecode."}},
      {"binary header claims more frames",
       id + binaryCounts + binaryFrame4,
       {"The last successfully read frame was 4.", "Unable to read frame header.",
        "Unable to read frame number.", "Unable to read frame number."}},
      {"text body cut short",
       "1\n2\n7\n1\n5 1.0 ",
       {"An error occurred while reading the first frame.", "Unable to read frame data.",
        "An error occurred reading the first camera.", "Cannot read data for camera.",
        "Unable to read data for glob.", "Error reading value for y."}},
      {"text second camera missing",
       "2\n2\n1\n0\n0\n\n2\n0\n",
       {"The last successfully read frame was 1.", "Unable to read frame data.",
        "The last successfully read camera was 1.", "Cannot read data for camera.",
        "Error reading number of globs for camera."}},
      {"binary body cut short",
       id + binaryCounts + binaryFrame4 + RDBytes({0x04, 0x02, 0, 0, 0, 0x01}),
       {"Unable to read frame data.", "Cannot read camera 1", "File read error.",
        "Hit end of file."}},
      {"text frame number 0", "1\n2\n0\n0\n\n", {"Invalid frame number."}},
      {"binary negative frame number",
       id + binaryCounts + RDBytes({0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}),
       {"Invalid frame number."}},
      {"text duplicate",
       EncodeFile(ZrRDFormat::Text, 2, 1, {4, 4}),
       {"The last successfully read frame was 4.", "Duplicate frame number."}},
      // The context names the highest number stored, not the last read.
      {"text duplicate after a lower frame",
       EncodeFile(ZrRDFormat::Text, 3, 1, {4, 2, 2}),
       {"The last successfully read frame was 4.", "Duplicate frame number."}},
      {"binary duplicate",
       EncodeFile(ZrRDFormat::Binary, 2, 1, {4, 4}),
       {"Duplicate frame number."}},
      {"binary version 2",
       "Kyo Raw Data File Binary\nv2.00\n" + binaryCounts,
       {"File is not a Kyo Raw Data File.",
        "Unsupported datafile version 2.00.  Application uses version 1.00."}},
      {"binary identification wrong",
       "Kyo Raw Data Fiel Binary\nv1.00\n" + binaryCounts,
       {"File is not a Kyo Raw Data File.", "Invalid datafile header id."}},
  };
  TempDir dir;
  const std::string path = dir / "bad";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZrRDSet set = MakeSet({1, 2});
    std::istringstream in(c.data);
    EXPECT_FALSE(set.load(in));
    EXPECT_EQ(TakeMessages(), c.messages);
    ExpectEmpty(set);

    WriteFile(path, c.data);
    set = MakeSet({1, 2});
    EXPECT_FALSE(set.load(path.c_str()));
    Strings expected = c.messages;
    expected.insert(expected.begin(), "Unable to read raw data file \"" + path + "\".");
    EXPECT_EQ(TakeMessages(), expected);
    ExpectEmpty(set);
  }
}

TEST_F(ZrRDSetTest, UnopenableFileLeavesSetUntouched) {
  TempDir dir;
  ZrRDSet set = MakeSet({1, 3}, 2);
  set.setFormat(ZrRDFormat::Binary);
  const ZrRDSet before = set;
  std::string missing = dir / "missing";
  EXPECT_FALSE(set.load(missing.c_str()));
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  for (const std::string& m : messages)
    EXPECT_EQ(m.find("Unable to read raw data file"), std::string::npos);
  EXPECT_TRUE(set == before);
  EXPECT_EQ(Occupied(set), (std::vector<int>{1, 3}));
  EXPECT_EQ(set.format(), ZrRDFormat::Binary);
}

// An unflushed error of an earlier step must not fail a load that succeeds.
TEST_F(ZrRDSetTest, EarlierPendingErrorDoesNotFailLoad) {
  ZnReportError("Something unrelated went wrong.");
  std::istringstream in(EncodeFile(ZrRDFormat::Text, 2, 1, {1, 2}));
  ZrRDSet set;
  EXPECT_TRUE(set.load(in));
  EXPECT_EQ(set.frameCount(), 2);
  EXPECT_EQ(TakeMessages(), Strings{"Something unrelated went wrong."});
}

TEST_F(ZrRDSetTest, CorruptCompressedFileFailsLoad) {
  if (!HaveGzip()) GTEST_SKIP() << "gzip is not installed";
  TempDir dir;
  std::string plain = dir / "data", packed = dir / "data.gz";
  WriteFile(plain, EncodeFile(ZrRDFormat::Text, 2, 1, {1, 2}));
  ASSERT_TRUE(Shell("gzip -9 -c '" + plain + "' > '" + packed + "'"));
  // Without its trailer the data still decodes, but gunzip fails at the end.
  std::string bytes = ReadFile(packed);
  WriteFile(packed, bytes.substr(0, bytes.size() - 8));
  ZrRDSet set = MakeSet({1});
  EXPECT_FALSE(set.load(packed.c_str()));
  Strings messages = TakeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Unable to read raw data file \"" + packed + "\".");
  EXPECT_NE(messages[1].find("Decompressor"), std::string::npos) << messages[1];
  ExpectEmpty(set);
}

ZrRDFrame* NoFrame() { return nullptr; }
ZrRDFrame* NoFrameCopy(const ZrRDFrame&) { return nullptr; }

int framesBeforeExhaustion = 0;
ZrRDFrame* FramesUntilExhausted() {
  return framesBeforeExhaustion-- > 0 ? ZrRDNewFrame() : nullptr;
}

TEST_F(ZrRDSetTest, LoadWithoutMemoryForFramesFailsCleanly) {
  std::string data = EncodeFile(ZrRDFormat::Text, 4, 1, {3, 1, 2, 4});
  ZrRDSet set = MakeSet({1});
  {
    FactoryOverride factory({NoFrame, nullptr});
    std::istringstream in(data);
    EXPECT_FALSE(set.load(in));
  }
  EXPECT_EQ(TakeMessages(), (Strings{"An error occurred while reading the first frame.",
                                     "Not enough memory for another frame."}));
  ExpectEmpty(set);

  framesBeforeExhaustion = 2;
  {
    FactoryOverride factory({FramesUntilExhausted, nullptr});
    std::istringstream in(data);
    EXPECT_FALSE(set.load(in));
  }
  EXPECT_EQ(TakeMessages(), (Strings{"The last successfully read frame was 3.",
                                     "Not enough memory for another frame."}));
  ExpectEmpty(set);
}

TEST(ZrRDSetDeathTest, CopyWithoutMemoryAborts) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ZrRDSet set = MakeSet({1, 2});
  EXPECT_DEATH(
      {
        ZrRDSetFrameFactoryForTesting({nullptr, NoFrameCopy});
        ZrRDSet copy(set);
      },
      "Unable to allocate memory!");
  EXPECT_DEATH(
      {
        ZrRDSetFrameFactoryForTesting({nullptr, NoFrameCopy});
        ZrRDSet other;
        other.addFrame(MakeFrame(1, 1));
      },
      "Unable to allocate memory!");
}

// ---- Saving ----

TEST_F(ZrRDSetTest, SaveWithUnknownFormatWritesEmptyFile) {
  TempDir dir;
  ZrRDSet set = MakeSet({1, 2});
  set.setFormat(static_cast<ZrRDFormat>(0));
  std::string path = dir / "nothing";
  EXPECT_TRUE(set.save(path.c_str()));
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_FALSE(ZnMessages.hasMessages());
}

TEST_F(ZrRDSetTest, SaveRefusesUnwritablePath) {
  TempDir dir;
  ZrRDSet set = MakeSet({1});
  std::string path = dir / "no/such/dir/file";
  EXPECT_FALSE(set.save(path.c_str()));
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "File \"" + path + "\" is unwritable.");
  EXPECT_NE(access((dir / "no").c_str(), F_OK), 0);
}

TEST_F(ZrRDSetTest, SaveReportsFullDisk) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable";
  ZrRDSet set = MakeRange(1, 20);
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    set.setFormat(format);
    EXPECT_FALSE(set.save("/dev/full"));
    EXPECT_EQ(TakeMessages(), Strings{"Unable to write raw data file \"/dev/full\"."});
  }
}

TEST_F(ZrRDSetTest, SaveReportsFailedCompressor) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "bin").c_str(), 0755), 0);
  // In the place of the compressor that runs: pigz where it is installed.
  std::string fake = dir / ("bin/" + testsupport::GzipCompressor());
  WriteFile(fake, "#!/bin/sh\ncat >/dev/null\nexit 1\n");
  ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
  const char* oldPath = getenv("PATH");
  std::string saved = oldPath != nullptr ? oldPath : "";
  setenv("PATH", ((dir / "bin") + ":" + saved).c_str(), 1);

  ZrRDSet set = MakeRange(1, 5);
  std::string path = dir / "out.gz";
  bool saved_ok = set.save(path.c_str());
  Strings messages = TakeMessages();
  setenv("PATH", saved.c_str(), 1);
  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(messages, (Strings{"Unable to write raw data file \"" + path + "\".",
                               "Compressor '" + testsupport::GzipCompressor() + "' failed for \"" + path + "\"."}));
}

// ---- Copies, appending and adding ----

TEST_F(ZrRDSetTest, CopiesAreDeepAndKeepEmptySlots) {
  ZrRDSet original = MakeSet({2, 5}, 3);
  original.setFormat(ZrRDFormat::Binary);

  ZrRDSet copy(original);
  EXPECT_EQ(copy.format(), ZrRDFormat::Binary);
  EXPECT_EQ(copy.frameCount(), 2);
  EXPECT_EQ(copy.cameraCount(), 3);
  EXPECT_EQ(copy.frames().count(), 5);
  EXPECT_EQ(Occupied(copy), (std::vector<int>{2, 5}));
  EXPECT_NE(copy.frame(2), original.frame(2));
  EXPECT_TRUE(copy == original);

  ZrRDSet assigned = MakeSet({1, 2, 3, 4, 5, 6, 7});
  assigned = original;
  EXPECT_EQ(assigned.format(), ZrRDFormat::Text);  // assignment keeps its own format
  EXPECT_EQ(Occupied(assigned), (std::vector<int>{2, 5}));
  EXPECT_TRUE(assigned == original);

  ZrRDSet& alias = assigned;
  assigned = alias;
  EXPECT_EQ(Occupied(assigned), (std::vector<int>{2, 5}));

  // Changing the original leaves the copies alone.
  original.replaceFrame(MakeFrame(2, 3, 7));
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(*copy.frame(2), MakeFrame(2, 3));
  EXPECT_EQ(*assigned.frame(2), MakeFrame(2, 3));
}

TEST_F(ZrRDSetTest, AppendRenumbersAfterTheLastFrame) {
  ZrRDSet set = MakeRange(1, 100);
  ZrRDSet more = MakeRange(1, 50, 2, 1);
  set.setFormat(ZrRDFormat::Binary);
  ASSERT_TRUE(set.append(more));
  EXPECT_EQ(set.frameCount(), 150);
  EXPECT_EQ(set.frames().count(), 150);
  EXPECT_EQ(set.format(), ZrRDFormat::Binary);
  for (int n = 1; n <= 150; ++n) {
    const ZrRDFrame* frame = set.frame(n);
    ASSERT_NE(frame, nullptr) << n;
    EXPECT_EQ(frame->number, n);
    EXPECT_EQ(*frame, n <= 100 ? MakeFrame(n, 2) : MakeFrame(n - 100, 2, 1)) << n;
  }
  EXPECT_EQ(more.frameCount(), 50);  // the source stays as it was
  EXPECT_EQ(more.frame(1)->number, 1);
}

TEST_F(ZrRDSetTest, AppendEdgeCases) {
  // Different camera counts: refused, nothing changes.
  ZrRDSet set = MakeRange(1, 3, 2);
  const ZrRDSet before = set;
  EXPECT_FALSE(set.append(MakeRange(1, 2, 4)));
  EXPECT_EQ(TakeMessages(), Strings{"Cannot append raw data with differing number of cameras."});
  EXPECT_TRUE(set == before);

  // An empty other changes nothing, whatever its camera count.
  EXPECT_TRUE(set.append(ZrRDSet()));
  EXPECT_TRUE(set == before);

  // An empty set becomes a copy, camera count included, format kept.
  ZrRDSet empty;
  empty.setFormat(ZrRDFormat::Binary);
  EXPECT_TRUE(empty.append(MakeSet({2, 4}, 4)));
  EXPECT_EQ(Occupied(empty), (std::vector<int>{2, 4}));
  EXPECT_EQ(empty.cameraCount(), 4);
  EXPECT_EQ(empty.format(), ZrRDFormat::Binary);

  // Gaps in the other set stay gaps, shifted by this set's length.
  ZrRDSet gappy = MakeSet({2, 5, 7});
  EXPECT_TRUE(set.append(gappy));
  EXPECT_EQ(Occupied(set), (std::vector<int>{1, 2, 3, 5, 8, 10}));
  EXPECT_EQ(set.frames().count(), 10);
  EXPECT_EQ(set.frameCount(), 6);
  EXPECT_EQ(*set.frame(8), MakeFrame(5, 2));
  EXPECT_EQ(set.frame(8)->number, 8);

  // A set appended to itself doubles.
  ZrRDSet twice = MakeSet({1, 3});
  EXPECT_TRUE(twice.append(twice));
  EXPECT_EQ(Occupied(twice), (std::vector<int>{1, 3, 4, 6}));
  EXPECT_EQ(twice.frameCount(), 4);
  EXPECT_EQ(*twice.frame(6), MakeFrame(3, 2));

  // A negative header count loads no frames; doubling it stops at the limit.
  ZrRDSet negative;
  std::istringstream in("1\n-2000000000\n");
  ASSERT_TRUE(negative.load(in));
  EXPECT_TRUE(negative.append(negative));
  EXPECT_EQ(negative.frameCount(), INT_MIN);
  EXPECT_FALSE(ZnMessages.hasMessages());
}

TEST_F(ZrRDSetTest, AddFrame) {
  ZrRDSet set;
  EXPECT_EQ(set.addFrame(MakeFrame(3, 4)), 1);
  EXPECT_EQ(set.cameraCount(), 4);
  EXPECT_EQ(set.frames().count(), 3);
  EXPECT_EQ(set.addFrame(MakeFrame(1, 2)), 2);
  EXPECT_EQ(set.cameraCount(), 4);  // set by the first frame only
  EXPECT_EQ(set.frames().count(), 3);

  // Numbers below 1 are refused.
  for (int bad : {0, -1, INT_MIN}) {
    EXPECT_EQ(set.addFrame(MakeFrame(bad, 4)), 2);
    EXPECT_EQ(TakeMessages(), Strings{"Invalid frame number."});
  }
  EXPECT_EQ(Occupied(set), (std::vector<int>{1, 3}));

  // An occupied slot is replaced; the count stays.
  EXPECT_EQ(set.addFrame(MakeFrame(3, 4, 1)), 2);
  EXPECT_EQ(*set.frame(3), MakeFrame(3, 4, 1));
  // Even by a copy of the frame the slot holds.
  EXPECT_EQ(set.addFrame(*set.frame(3)), 2);
  EXPECT_EQ(*set.frame(3), MakeFrame(3, 4, 1));
  EXPECT_FALSE(ZnMessages.hasMessages());
}

TEST_F(ZrRDSetTest, ReplaceFrame) {
  ZrRDSet set = MakeSet({1, 3});
  EXPECT_TRUE(set.replaceFrame(MakeFrame(3, 2, 5)));
  EXPECT_EQ(*set.frame(3), MakeFrame(3, 2, 5));
  EXPECT_EQ(set.frame(3)->timecode, MakeFrame(3, 2, 5).timecode);
  EXPECT_TRUE(set.replaceFrame(*set.frame(1)));

  for (int missing : {2, 4, 0, -7}) {
    EXPECT_FALSE(set.replaceFrame(MakeFrame(missing, 2)));
    EXPECT_EQ(TakeMessages(), Strings{"Frame " + std::to_string(missing) + " does not exist."});
  }
  EXPECT_EQ(Occupied(set), (std::vector<int>{1, 3}));
}

TEST_F(ZrRDSetTest, AddCameras) {
  ZrRDSet set = MakeSet({1, 4}, 2);
  set.addCameras(2);
  EXPECT_EQ(set.cameraCount(), 4);
  for (int n : {1, 4}) {
    const ZrRDFrame& frame = *set.frame(n);
    ASSERT_EQ(frame.cameraCount(), 4);
    EXPECT_EQ(*frame.camera(0), *MakeFrame(n, 2).camera(0));
    EXPECT_EQ(*frame.camera(1), *MakeFrame(n, 2).camera(1));
    EXPECT_EQ(frame.camera(2)->id, 3);
    EXPECT_EQ(frame.camera(3)->id, 4);
    EXPECT_EQ(frame.camera(3)->globs.count(), 0);
  }
  set.addCameras(0);
  set.addCameras(-3);
  EXPECT_EQ(set.cameraCount(), 4);
  EXPECT_EQ(set.frame(1)->cameraCount(), 4);
}

TEST_F(ZrRDSetTest, ClearKeepsFormat) {
  ZrRDSet set = MakeSet({1, 2});
  set.setFormat(ZrRDFormat::Binary);
  set.clear();
  ExpectEmpty(set);
  EXPECT_EQ(set.format(), ZrRDFormat::Binary);
  EXPECT_EQ(ZrRDSet().format(), ZrRDFormat::Text);
}

TEST_F(ZrRDSetTest, NavigationOnEmptySet) {
  ZrRDSet set;
  EXPECT_EQ(set.firstFrameNumber(), 0);
  for (int n : {INT_MIN, -1, 0, 1, 2, INT_MAX}) {
    EXPECT_EQ(set.frameNumberBefore(n), 0);
    EXPECT_EQ(set.frameNumberAfter(n), 0);
    EXPECT_EQ(set.frame(n), nullptr);
  }
}

TEST_F(ZrRDSetTest, Equality) {
  EXPECT_TRUE(ZrRDSet() == ZrRDSet());
  ZrRDSet a = MakeSet({1, 3});
  EXPECT_TRUE(a == MakeSet({1, 3}));
  EXPECT_TRUE(a != MakeSet({1, 2}));        // an empty slot against a frame
  EXPECT_TRUE(a != MakeSet({1, 3, 4}));     // frame counts differ
  EXPECT_TRUE(a != MakeSet({1, 3}, 2, 1));  // frame contents differ
  // Frames beyond the frame count are not compared: {1, 3} and {1, 4} agree
  // on numbers 1 and 2.
  EXPECT_TRUE(a == MakeSet({1, 4}));
  // Format is not compared.
  ZrRDSet b = a;
  b.setFormat(ZrRDFormat::Binary);
  EXPECT_TRUE(a == b);
}

// ---- Single frames from a file ----

std::string FourFrames(ZrRDFormat format) { return EncodeFile(format, 4, 2, {1, 2, 3, 6}); }

TEST_F(ZrRDSetTest, ReadFrameFromStream) {
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    SCOPED_TRACE(static_cast<int>(format));
    for (int n : {1, 2, 3, 6}) {
      std::istringstream in(FourFrames(format));
      ZrRDFrame frame;
      EXPECT_TRUE(ZrRDReadFrame(in, n, frame));
      EXPECT_EQ(frame.number, n);
      EXPECT_EQ(frame, MakeFrame(n, 2));
      EXPECT_FALSE(ZnMessages.hasMessages());
    }
    // Missing numbers, below the last and beyond it: the frame holds frame 6.
    for (int n : {5, 9, 0}) {
      std::istringstream in(FourFrames(format));
      ZrRDFrame frame;
      EXPECT_FALSE(ZrRDReadFrame(in, n, frame));
      EXPECT_EQ(TakeMessages(), Strings{"Frame " + std::to_string(n) + " does not exist."});
      EXPECT_EQ(frame.number, n == 0 ? 1 : 6);
    }
  }
}

TEST_F(ZrRDSetTest, ReadFrameFailures) {
  // A header that cannot be read.
  std::istringstream empty("");
  ZrRDFrame frame;
  EXPECT_FALSE(ZrRDReadFrame(empty, 1, frame));
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Unable to read raw data statistics.");

  // A file that ends before its header's count.
  std::istringstream shortFile(EncodeFile(ZrRDFormat::Text, 3, 1, {1}));
  EXPECT_FALSE(ZrRDReadFrame(shortFile, 2, frame));
  EXPECT_EQ(TakeMessages(), Strings{"Unable to read frame number."});
}

TEST_F(ZrRDSetTest, ReadFrameFromPath) {
  TempDir dir;
  std::vector<std::string> paths{dir / "text", dir / "binary"};
  WriteFile(paths[0], FourFrames(ZrRDFormat::Text));
  WriteFile(paths[1], FourFrames(ZrRDFormat::Binary));
  if (HaveGzip()) {
    paths.push_back(dir / "packed.gz");
    ASSERT_TRUE(Shell("gzip -9 -c '" + paths[1] + "' > '" + paths.back() + "'"));
  }
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ZrRDFrame frame;
    EXPECT_TRUE(ZrRDReadFrame(path.c_str(), 3, frame));
    EXPECT_EQ(frame, MakeFrame(3, 2));
    EXPECT_FALSE(ZnMessages.hasMessages());
    EXPECT_FALSE(ZrRDReadFrame(path.c_str(), 4, frame));
    EXPECT_EQ(TakeMessages(), (Strings{"Unable to read raw data file \"" + path + "\".",
                                       "Frame 4 does not exist."}));
  }
  std::string missing = dir / "missing";
  ZrRDFrame frame;
  EXPECT_FALSE(ZrRDReadFrame(missing.c_str(), 1, frame));
  Strings messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Unable to open raw data file \"" + missing + "\".");
}

TEST_F(ZrRDSetTest, IsBinaryFile) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string data;
    bool binary;
  };
  std::vector<Case> cases{{"binary", kBinaryFile, true},
                          {"text", kTextFile, false},
                          {"empty", "", false},
                          {"K only", "K", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / c.name;
    WriteFile(path, c.data);
    EXPECT_EQ(ZrRDIsBinaryFile(path.c_str()), c.binary);
    EXPECT_FALSE(ZnMessages.hasMessages());
  }
  if (HaveGzip()) {
    std::string packed = dir / "binary.gz";
    ASSERT_TRUE(Shell("gzip -9 -c '" + (dir / "binary") + "' > '" + packed + "'"));
    EXPECT_TRUE(ZrRDIsBinaryFile(packed.c_str()));
    EXPECT_FALSE(ZnMessages.hasMessages());
  }
  std::string missing = dir / "missing";
  EXPECT_FALSE(ZrRDIsBinaryFile(missing.c_str()));
  EXPECT_EQ(TakeMessages(),
            (Strings{"Unable to open \"" + missing + "\".", "File does not exist."}));
}

}  // namespace
