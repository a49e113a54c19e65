// The two ways a repair copies frames give the same bytes: between plain
// files the frames that are already what the copy writes go in the kernel as
// they lie, and the count runs on two threads; through a compressor every
// frame is read and written. The same recording repaired both ways must come
// out byte for byte the same once decompressed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "app/LoopFileSystem.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Replace(std::string bytes, const std::string& from, const std::string& to,
                    int times = 1 << 30) {
  for (std::size_t at = 0; times-- > 0 && (at = bytes.find(from, at)) != std::string::npos;
       at += to.size()) {
    bytes.replace(at, from.size(), to);
  }
  return bytes;
}

class CopyPathsTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  CommandResult Run(const std::string& program, const std::vector<std::string>& args) {
    CommandOptions options;
    options.directory = dir_.path();
    return RunCommand(program, args, options);
  }

  std::string Generate(const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    all.push_back("made");
    EXPECT_EQ(Run(HDRMEND_RDGEN, all).status, 0);
    const std::string bytes = ReadFile(path("made"));
    unlink(path("made").c_str());
    return bytes;
  }

  TempDir dir_;
};

TEST_F(CopyPathsTest, KernelCopyAndFrameCopyGiveTheSameBytes) {
  if (!testsupport::HaveProgram("gzip")) GTEST_SKIP() << "gzip is not installed";
  const std::vector<std::string> big = {"--frames", "15000", "--cameras", "3", "--max-globs", "6",
                                        "--timecodes", "--header-offset", "3"};
  std::vector<std::string> bigText = big;
  bigText.insert(bigText.end(), {"--format", "text"});
  std::vector<std::string> decimals = bigText;
  decimals.push_back("--text-decimals");
  const std::string binary = Generate(big);
  const std::string text = Generate(bigText);
  const std::string sixDecimals = Generate(decimals);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"binary", binary},
      {"binary with a zero tail", binary + std::string(5000, '\0')},
      {"text", text},
      {"text with six decimals", sixDecimals},
      {"text with CR LF line ends here and there", Replace(text, "0\n", "0\r\n", 1000)},
      {"text with blank lines between frames", Replace(text, "\n\n", "\n\n \n", 800)},
      {"text whose timecodes carry a rate", Replace(text, ":00\n", ":00/30\n")},
      {"text with an end marker", text + "0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(path("take.raw"), c.bytes);
    WriteFile(path("plain"), c.bytes);
    WriteFile(path("take.raw.gz"), Run(testsupport::FindProgram("gzip"), {"-1", "-c", "plain"}).out);
    CommandResult plain = Run(HDRMEND_BINARY, {"take.raw"});
    CommandResult compressed = Run(HDRMEND_BINARY, {"take.raw.gz"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(compressed.status, 0) << compressed.err;
    EXPECT_EQ(plain.err, compressed.err);
    const std::string byFrames =
        Run(testsupport::FindProgram("gzip"), {"-dc", "take.raw.gz"}).out;
    EXPECT_EQ(ReadFile(path("take.raw")), byFrames);
    EXPECT_NE(byFrames, c.bytes);
    for (const char* name : {"take.raw", "take.raw.gz", "plain"}) unlink(path(name).c_str());
  }
}

// On a file system that shares extents the copy of a recording whose frames
// go as they lie is a clone: with a hard link keeping the old file, the
// repair takes no room beyond a few blocks, where a copy takes the
// recording's size; both give the bytes of a recording written right. Frames
// that come out shorter than they lie (CR LF line ends) cannot go over a
// clone begun, which then makes way for the copy.
class CloneOrCopy : public CopyPathsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CloneOrCopy, GiveTheSameBytes) {
  const std::string type = GetParam();
  LoopFileSystem fs(type, type == "xfs" ? 300 : 128);
  if (!fs.whyNot().empty()) GTEST_SKIP() << fs.whyNot();
  const std::vector<std::string> binary = {"--frames", "20000", "--cameras", "8"};
  // Text counts that end in 0 keep their length when one is added.
  const std::vector<std::string> text = {"--frames", "3000", "--cameras", "8", "--format", "text"};
  struct Case {
    const char* what;
    std::vector<std::string> recording;
    bool crlf;
  } cases[] = {{"binary", binary, false}, {"text", text, false}, {"text, CR LF", text, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string right = Generate(c.recording);
    std::vector<std::string> wrong = c.recording;
    wrong.insert(wrong.end(), {"--header-offset", "1"});
    std::string bytes = Generate(wrong);
    // After the first frames, so that the clone is begun.
    if (c.crlf) {
      bytes = bytes.substr(0, 100000) + Replace(bytes.substr(100000), "0\n", "0\r\n", 100);
    }
    WriteFile(fs / "take.raw", bytes + std::string(5000, '\0'));
    ASSERT_EQ(link((fs / "take.raw").c_str(), (fs / "kept").c_str()), 0);
    const long long before = fs.freeBytes();
    CommandResult r = Run(HDRMEND_BINARY, {fs / "take.raw"});
    const long long used = before - fs.freeBytes();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(fs / "take.raw"), right);
    if (type != "ext4" && !c.crlf) {
      EXPECT_LT(used, 1 << 20);
    } else {
      EXPECT_GT(used, static_cast<long long>(right.size()) * 9 / 10);
    }
    for (const char* name : {"take.raw", "kept"}) unlink((fs / name).c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, CloneOrCopy, ::testing::Values("xfs", "btrfs", "ext4"));

}  // namespace
