#include "rawdata/ZrRDFileWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "rawdata/ZrRDFileReader.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::Exists;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TakeMessages;
using testsupport::TempDir;

using Strings = std::vector<std::string>;

const std::string kBinaryId = "Kyo Raw Data File Binary\nv1.00\n";

// A frame with `globs` globs in each of `cameras` cameras.
void FillFrame(ZrRDFrame& frame, int number, int cameras, int globs) {
  frame.number = number;
  frame.setCameraCount(0);
  for (int c = 0; c < cameras; ++c) {
    std::vector<ZrRDGlob> list;
    for (int g = 0; g < globs; ++g) list.push_back({g + 1, 1.25f * g, 100.5f + c});
    RDAddCamera(frame, list);
  }
}

class ZrRDFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }

  TempDir dir_;
};

TEST_F(ZrRDFileWriterTest, HeaderOnlyFiles) {
  struct Case {
    ZrRDFormat format;
    int frames;
    std::string bytes;
  } cases[] = {
      {ZrRDFormat::Text, 0, "3\n0\n"},
      {ZrRDFormat::Text, 5, "3\n5\n"},
      {ZrRDFormat::Binary, 0, kBinaryId + RDBytes({6, 3, 0, 0, 0, 0, 0})},
      {ZrRDFormat::Binary, 70000, kBinaryId + RDBytes({6, 3, 0, 0x70, 0x11, 1, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::string path = dir_ / "header.raw";
    ZrRDFileWriter writer(path.c_str(), c.frames, 3, c.format);
    EXPECT_TRUE(writer.isOpen());
    EXPECT_TRUE(writer.close());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(ReadFile(path), c.bytes);
    EXPECT_EQ(TakeMessages(), Strings());
  }
}

TEST_F(ZrRDFileWriterTest, CreationInAMissingDirectoryFails) {
  std::string parent = dir_ / "nowhere";
  std::string path = parent + "/take.raw";
  ZrRDFileWriter writer(path.c_str(), 0, 1, ZrRDFormat::Text);
  EXPECT_FALSE(writer.isOpen());
  EXPECT_EQ(TakeMessages(), (Strings{"File \"" + path + "\" is unwritable.",
                                     "Parent directory \"" + parent + "\" does not exist."}));
  ZrRDFrame frame;
  FillFrame(frame, 1, 1, 1);
  EXPECT_FALSE(writer.writeFrame(frame));
  EXPECT_FALSE(writer.close());
  EXPECT_EQ(TakeMessages(), Strings());
  EXPECT_FALSE(Exists(path));
}

TEST_F(ZrRDFileWriterTest, FramesWithAndWithoutTimecode) {
  ZrRDFrame timed;
  timed.number = 1;
  timed.timecode = RDPacked(1, 2, 3, 4);
  RDAddCamera(timed, {{5, 12.5f, 3.25f}});
  ZrRDFrame plain;
  plain.number = 2;
  RDAddCamera(plain, {});

  struct Case {
    ZrRDFormat format;
    std::string bytes;
  } cases[] = {
      {ZrRDFormat::Text, "1\n2\n1 01:02:03:04\n1\n5 12.5000  3.2500  \n2\n0\n"},
      {ZrRDFormat::Binary,
       kBinaryId + RDBytes({6, 1, 0, 2, 0, 0, 0}) +
           RDBytes({9, 1, 0, 0, 0, 4, 1, 2, 3, 4, 1, 0, 0x40, 0x06, 0xa0, 0x01}) +
           RDBytes({4, 2, 0, 0, 0, 0, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::string path = dir_ / "frames.raw";
    ZrRDFileWriter writer(path.c_str(), 2, 1, c.format);
    EXPECT_TRUE(writer.writeFrame(timed));
    EXPECT_TRUE(writer.writeFrame(plain));
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(ReadFile(path), c.bytes);
  }
}

TEST_F(ZrRDFileWriterTest, GzipNameGivesACompressedFile) {
  if (!HaveProgram("gzip") || !HaveProgram("gunzip")) GTEST_SKIP() << "no gzip";
  const std::string plain = dir_ / "take.raw";
  const std::string gz = dir_ / "take.raw.gz";
  for (const std::string& path : {plain, gz}) {
    ZrRDFileWriter writer(path.c_str(), 20, 2, ZrRDFormat::Text);
    ZrRDFrame frame;
    for (int n = 1; n <= 20; ++n) {
      FillFrame(frame, n, 2, n);
      ASSERT_TRUE(writer.writeFrame(frame));
    }
    ASSERT_TRUE(writer.close());
  }
  EXPECT_EQ(ReadFile(gz).substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(std::system(("gunzip -t " + gz).c_str()), 0);
  ASSERT_EQ(std::system(("gunzip -c " + gz + " > " + (dir_ / "unzipped")).c_str()), 0);
  EXPECT_EQ(ReadFile(dir_ / "unzipped"), ReadFile(plain));
  EXPECT_EQ(TakeMessages(), Strings());
}

TEST_F(ZrRDFileWriterTest, FullDeviceIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Strings full = {"Unable to write \"/dev/full\".", "No space left on device."};

  // Small enough to stay in the stream's buffer: the failure shows at close.
  {
    ZrRDFileWriter writer("/dev/full", 0, 2, ZrRDFormat::Binary);
    EXPECT_TRUE(writer.isOpen());
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(TakeMessages(), full);
  }

  ZrRDFileWriter writer("/dev/full", 1000, 2, ZrRDFormat::Text);
  ZrRDFrame frame;
  FillFrame(frame, 1, 2, 50);
  int written = 0;
  while (written < 1000 && writer.writeFrame(frame)) ++written;
  EXPECT_LT(written, 1000);
  EXPECT_FALSE(writer.isOpen());
  EXPECT_EQ(TakeMessages(), full);
  // Reported once: later calls fail quietly.
  EXPECT_FALSE(writer.writeFrame(frame));
  EXPECT_FALSE(writer.close());
  EXPECT_EQ(TakeMessages(), Strings());
}

// Writes frames under a file-size limit of 8 KiB with SIGXFSZ ignored, so
// that writes fail with EFBIG, then prints the messages, newest first, each
// followed by '|', and ends the process with 0 when the writer said it
// failed. Runs in a child that set up its own scratch directory, and removes
// it, since no destructor runs after _exit.
void WriteUnderSizeLimit(const std::string& path) {
  struct rlimit limit = {8192, 8192};
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, SIG_IGN);
  ZrRDFileWriter writer(path.c_str(), 2000, 4, ZrRDFormat::Binary);
  RandomFrameSettings settings;
  settings.cameras = 4;
  settings.minGlobs = 50;
  settings.maxGlobs = 50;
  RandomFrames source(settings);
  ZrRDFrame frame;
  bool ok = true;
  for (int i = 0; i < 2000 && ok; ++i) {
    source.next(frame);
    ok = writer.writeFrame(frame);
  }
  ok = writer.close() && ok;
  for (const std::string& text : TakeMessages()) fprintf(stderr, "%s|", text.c_str());
  fflush(stderr);
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ignored);
  _exit(ok ? 1 : 0);
}

TEST_F(ZrRDFileWriterTest, FileSizeLimitIsReported) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  // The child runs this test again and so names its own directory.
  EXPECT_EXIT(WriteUnderSizeLimit(dir_ / "limited.raw"), ::testing::ExitedWithCode(0),
              "^Unable to write \"[^\"]*/limited\\.raw\"\\.\\|File too large\\.\\|$");

  if (!HaveProgram("gzip")) GTEST_SKIP() << "no gzip";
  // The compressor inherits the limit and dies; how our writes notice varies,
  // but the failed compressor is always named.
  EXPECT_EXIT(WriteUnderSizeLimit(dir_ / "limited.raw.gz"), ::testing::ExitedWithCode(0),
              "Compressor '" + testsupport::GzipCompressor() +
                  "' failed for \"[^\"]*/limited\\.raw\\.gz\"\\.");
}

}  // namespace
