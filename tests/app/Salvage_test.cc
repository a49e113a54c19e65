// The salvage end to end: recordings damaged as a crash or a disk damages
// them, salvaged by the built command, and compared byte for byte with the
// recording the kept frames make.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "rawdata/ZrRDFormat.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::EndsWith;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr int kFrames = 40;
constexpr int kClaimed = 45;

// A recording, and the encoded frames it is made of.
struct Recording {
  std::string header;               // as written, claiming kClaimed frames
  std::vector<std::string> frames;  // each frame record
  ZrRDFormat format;
  int cameras = 2;

  std::string bytes() const {
    std::string all = header;
    for (const std::string& f : frames) all += f;
    return all;
  }
  std::size_t start(int k) const {
    std::size_t at = header.size();
    for (int i = 0; i < k; ++i) at += frames[i].size();
    return at;
  }
  // The file the frames `kept` make, with their count in the header.
  std::string with(const std::vector<int>& kept) const {
    std::ostringstream os;
    ZrRDWriteFileHeader(os, format, static_cast<int>(kept.size()), cameras);
    for (int k : kept) os << frames[k];
    return os.str();
  }
};

Recording Make(ZrRDFormat format) {
  RandomFrameSettings settings;
  settings.format = format;
  settings.cameras = 2;
  settings.minGlobs = 1;
  settings.maxGlobs = 6;
  settings.timecodes = true;
  settings.seed = 11;
  RandomFrames source(settings);
  Recording r;
  r.format = format;
  std::ostringstream header;
  ZrRDWriteFileHeader(header, format, kClaimed, settings.cameras);
  r.header = header.str();
  ZrRDFrame frame;
  for (int k = 0; k < kFrames; ++k) {
    source.next(frame);
    std::ostringstream os;
    ZrRDWriteFrame(os, frame, format);
    r.frames.push_back(os.str());
  }
  return r;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int k = from; k < to; ++k) v.push_back(k);
  return v;
}

std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SalvageTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  CommandResult Run(const std::vector<std::string>& args) {
    CommandOptions options;
    options.directory = dir_.path();
    return RunCommand(HDRMEND_BINARY, args, options);
  }

  std::string Tool(const std::vector<std::string>& args) {
    CommandOptions options;
    options.directory = dir_.path();
    const std::string program = args[0];
    return RunCommand(testsupport::FindProgram(program),
                      std::vector<std::string>(args.begin() + 1, args.end()), options)
        .out;
  }

  TempDir dir_;
};

// Damage in the middle and at the end of uncompressed recordings: the frames
// on both sides are kept, exactly as the frames make them, and the original
// is kept byte for byte.
TEST_F(SalvageTest, KeepsEveryFrameThatReadsWholeAndTheOriginal) {
  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    const Recording r = Make(format);
    const bool binary = format == ZrRDFormat::Binary;
    struct Case {
      const char* what;
      std::string damaged;
      std::vector<int> kept;
      int stretches;
    } cases[] = {
        {"body cut off", r.bytes().substr(0, r.start(kFrames - 1) + r.frames.back().size() / 2),
         Range(0, kFrames - 1), 1},
        // A text number the end touches may have been cut: no value.
        {"last coordinate cut",
         r.bytes().substr(0, binary ? r.bytes().size() - 1 : r.bytes().rfind('.')),
         Range(0, kFrames - 1), 1},
        {"frame 20 of no recorder's form",
         [&] {
           std::string b = r.bytes();
           const std::size_t countLine = r.frames[20].find('\n', r.frames[20].find('\n') + 1);
           return binary ? b.replace(r.start(20), 1, "\x06")
                         : b.replace(r.start(20) + countLine, 1, " ");
         }(),
         Join(Range(0, 20), Range(21, kFrames)), 1},
        {"frame 20 overwritten",
         r.bytes().replace(r.start(20), r.frames[20].size(), std::string(r.frames[20].size(), 'x')),
         Join(Range(0, 20), Range(21, kFrames)), 1},
        {"frames 10 and 11 zeroed and garbage before frame 30",
         [&] {
           std::string b = r.bytes();
           b.insert(r.start(30), binary ? std::string("\x07\xff\xff\x13", 4) : "garbage 17\n");
           return b.replace(r.start(10), r.frames[10].size() + r.frames[11].size(),
                            r.frames[10].size() + r.frames[11].size(), '\0');
         }(),
         Join(Join(Range(0, 10), Range(12, 30)), Range(30, kFrames)), 2},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(binary ? "binary, " : "text, ") + c.what);
      WriteFile(path("take.raw"), c.damaged);
      CommandResult result = Run({"--salvage", "take.raw"});
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(ReadFile(path("take.raw")), r.with(c.kept));
      EXPECT_EQ(ReadFile(path("take.raw.orig")), c.damaged);
      EXPECT_EQ(result.err.find(std::to_string(kClaimed) + " frames specified in the file\n" +
                                std::to_string(c.kept.size()) + " frames actually in the file\n"),
                0u)
          << result.err;
      std::size_t lines = 0;
      for (std::size_t at = 0; (at = result.err.find("\nDropped bytes ", at)) != std::string::npos;
           ++at) {
        ++lines;
      }
      EXPECT_EQ(lines, static_cast<std::size_t>(c.stretches)) << result.err;
      EXPECT_TRUE(EndsWith(result.err, "The original was kept as \"take.raw.orig\".\n"));
      // Now it reads whole: the repair has nothing left to do.
      CommandResult again = Run({"take.raw"});
      EXPECT_EQ(again.status, 0);
      unlink(path("take.raw").c_str());
      unlink(path("take.raw.orig").c_str());
    }
  }
}

// A ".gz" whose deflate stream ends early keeps what gunzip delivered whole;
// the original stays beside it as take.raw.orig.gz.
TEST_F(SalvageTest, CompressedRecordingCutInItsStreamKeepsWhatWasDelivered) {
  if (!testsupport::HaveProgram("gzip")) GTEST_SKIP() << "gzip is not installed";
  const Recording r = Make(ZrRDFormat::Binary);
  std::string data = r.bytes();
  WriteFile(path("plain"), data);
  const std::string packed = Tool({"gzip", "-9", "-c", "plain"});
  const std::string cut = packed.substr(0, packed.size() * 2 / 3);
  WriteFile(path("take.raw.gz"), cut);
  const std::string delivered = Tool({"gzip", "-dc", "take.raw.gz"});
  int whole = 0;
  while (whole < kFrames && r.start(whole + 1) <= delivered.size()) ++whole;
  ASSERT_GT(whole, 0);
  ASSERT_LT(whole, kFrames);

  CommandResult result = Run({"--salvage", "take.raw.gz"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(path("take.raw.orig.gz")), cut);
  EXPECT_EQ(Tool({"gzip", "-dc", "take.raw.gz"}), r.with(Range(0, whole)));
  EXPECT_EQ(testsupport::Listing(dir_.path()),
            std::set<std::string>({"plain", "take.raw.gz", "take.raw.orig.gz"}));
}

// What a salvage refuses leaves the file as it was and keeps nothing.
TEST_F(SalvageTest, RefusedSalvagesLeaveEverythingAsItWas) {
  const Recording r = Make(ZrRDFormat::Binary);
  const std::string damaged = r.bytes().substr(0, r.start(5) + 12);  // in frame 5's body
  struct Case {
    const char* what;
    std::string bytes;
    bool origExists;
    const char* message;
  } cases[] = {
      {"an existing .orig", damaged, true, "\"take.raw.orig\" exists; the original cannot be kept there."},
      {"no file header", r.header.substr(0, 20), false, "Unable to salvage \"take.raw\".  The file was not changed."},
      {"no frame reads whole", r.header + std::string("\x04\x01\0\0\0\x01", 6), false,
       "No frame of \"take.raw\" reads whole."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(path("take.raw"), c.bytes);
    if (c.origExists) WriteFile(path("take.raw.orig"), "mine\n");
    CommandResult result = Run({"--salvage", "take.raw"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(path("take.raw")), c.bytes);
    if (c.origExists) {
      EXPECT_EQ(ReadFile(path("take.raw.orig")), "mine\n");
      unlink(path("take.raw.orig").c_str());
    }
    EXPECT_EQ(testsupport::Listing(dir_.path()), std::set<std::string>({"take.raw"}));
  }
}

// An undamaged recording is repaired as the repair does it: no .orig.
TEST_F(SalvageTest, UndamagedRecordingIsRepairedWithoutAnOriginalKept) {
  const Recording r = Make(ZrRDFormat::Text);
  WriteFile(path("take.raw"), r.bytes());
  CommandResult result = Run({"--salvage", "take.raw"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, std::to_string(kClaimed) + " frames specified in the file\n" +
                            std::to_string(kFrames) + " frames actually in the file\n");
  EXPECT_EQ(ReadFile(path("take.raw")), r.with(Range(0, kFrames)));
  EXPECT_EQ(testsupport::Listing(dir_.path()), std::set<std::string>({"take.raw"}));
}

}  // namespace
