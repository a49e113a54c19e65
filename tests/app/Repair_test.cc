// The repair end to end: the built command run on real files in a scratch
// directory, what it printed compared byte for byte, and the file it left read
// back through the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "app/UnprivilegedCommand.h"
#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::EndsWith;
using testsupport::FindProgram;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const char kTimecodeStart[] = "23:59:59:25/30";  // runs over midnight

// A file as rdgen writes it, and the frames a copy of it must hold.
struct Recording {
  ZrRDFormat format = ZrRDFormat::Binary;
  int frames = 20;
  std::optional<int> claimed;  // the header's count; unset: `frames`
  int cameras = 2;
  int minGlobs = 0;
  int maxGlobs = 6;
  int firstNumber = 1;
  bool timecodes = false;
  bool sixDecimals = false;

  Recording& text() { return format = ZrRDFormat::Text, *this; }
  Recording& withSixDecimals() { return sixDecimals = true, text(); }
  Recording& holding(int n) { return frames = n, *this; }
  Recording& claiming(int n) { return claimed = n, *this; }
  Recording& withCameras(int n) { return cameras = n, *this; }
  Recording& withGlobs(int low, int high) { return minGlobs = low, maxGlobs = high, *this; }
  Recording& withTimecodes() { return timecodes = true, *this; }
  int claim() const { return claimed ? *claimed : frames; }

  std::vector<std::string> arguments() const {
    std::vector<std::string> a = {"--format",        format == ZrRDFormat::Text ? "text" : "binary",
                                  "--frames",        std::to_string(frames),
                                  "--header-frames", std::to_string(claim()),
                                  "--cameras",       std::to_string(cameras),
                                  "--min-globs",     std::to_string(minGlobs),
                                  "--max-globs",     std::to_string(maxGlobs),
                                  "--first-number",  std::to_string(firstNumber),
                                  "--seed",          "5"};
    if (timecodes) a.push_back(std::string("--timecodes=") + kTimecodeStart);
    if (sixDecimals) a.push_back("--text-decimals");
    return a;
  }

  RandomFrameSettings settings() const {
    RandomFrameSettings s;
    s.format = format;
    s.cameras = cameras;
    s.minGlobs = minGlobs;
    s.maxGlobs = maxGlobs;
    s.firstNumber = firstNumber;
    s.timecodes = timecodes;
    s.textDecimals = sixDecimals;
    s.seed = 5;
    if (timecodes) ZnPackedTimecodeParse(ZnStr(kTimecodeStart), &s.timecodeStart, false);
    return s;
  }

  // The first `count` frames as a text copy holds them: coordinates rounded to
  // four decimals.
  std::vector<ZrRDFrame> expected(int count) const {
    RandomFrames source(settings());
    std::vector<ZrRDFrame> frames;
    ZrRDFrame frame;
    for (int i = 0; i < count; ++i) {
      source.next(frame);
      for (int c = 0; c < frame.cameraCount() && sixDecimals; ++c) {
        for (ZrRDGlob& glob : frame.camera(c)->globs) {
          char text[64];
          snprintf(text, sizeof text, "%.4f %.4f", glob.x, glob.y);
          sscanf(text, "%f %f", &glob.x, &glob.y);
        }
      }
      frames.push_back(frame);
    }
    return frames;
  }
};

// A file read back through the library, up to its clean end.
struct Contents {
  bool binary = false;
  int claimed = 0;
  int cameras = 0;
  std::vector<ZrRDFrame> frames;
};

Contents ReadBack(const std::string& path) {
  Contents c;
  ZrRDFileReader reader(path.c_str());
  EXPECT_TRUE(reader.isOpen()) << path;
  c.binary = reader.isBinary();
  c.claimed = reader.frameCount();
  c.cameras = reader.cameraCount();
  ZrRDFrame frame;
  while (reader.readNextFrame(frame)) c.frames.push_back(frame);
  EXPECT_TRUE(reader.atEndOfData()) << path << " is damaged after frame " << c.frames.size();
  ZnClearMessages();
  EXPECT_TRUE(reader.close()) << path;
  ZnClearMessages();
  return c;
}

void ExpectFrames(const std::vector<ZrRDFrame>& actual, const std::vector<ZrRDFrame>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].number, expected[i].number) << "frame " << i;
    EXPECT_EQ(actual[i].timecode, expected[i].timecode) << "frame " << i;
    EXPECT_TRUE(actual[i] == expected[i]) << "cameras or globs of frame " << i;
  }
}

std::string CountReport(int specified, int counted) {
  return std::to_string(specified) + " frames specified in the file\n" + std::to_string(counted) +
         " frames actually in the file\n";
}

// The first line of the block of a repair that left `name` as it was.
std::string Refused(const std::string& name) {
  return "\n\nERROR: Unable to repair \"" + name + "\".  The file was not changed.\n";
}

// The block's last lines where the damage is what a salvage rescues.
const char kSalvageLines[] =
    "       To keep every frame that reads whole, run 'hdrmend --salvage' on the\n"
    "       file; it keeps the original beside the result.\n";

// Whether a number in the text has six decimals.
bool HasSixDecimals(const std::string& text) {
  for (size_t dot = text.find('.'); dot != std::string::npos; dot = text.find('.', dot + 1)) {
    size_t digits = 0;
    while (dot + 1 + digits < text.size() &&
           isdigit(static_cast<unsigned char>(text[dot + 1 + digits]))) {
      ++digits;
    }
    if (digits == 6) return true;
  }
  return false;
}

// The text with every "<pid>" replaced by the process id: the command names
// its copy after it.
std::string WithPid(std::string text, pid_t pid) {
  for (size_t at = text.find("<pid>"); at != std::string::npos; at = text.find("<pid>", at)) {
    text.replace(at, 5, std::to_string(pid));
  }
  return text;
}

// The named pipes of the compressing streams now in /var/tmp.
std::vector<std::string> FilterPipes() {
  std::vector<std::string> pipes;
  for (const std::string& name : testsupport::Listing("/var/tmp")) {
    if (name.rfind("compifstream", 0) == 0 || name.rfind("compofstream", 0) == 0) {
      pipes.push_back(name);
    }
  }
  return pipes;
}

class RepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    children_.insert(getpid());
  }

  // Pipes are named <prefix><serial>.<process id>.
  void TearDown() override {
    for (const std::string& pipe : FilterPipes()) {
      if (children_.count(atoi(pipe.substr(pipe.rfind('.') + 1).c_str())) != 0) {
        ADD_FAILURE() << "named pipe left behind: /var/tmp/" << pipe;
      }
    }
  }

  std::string path(const std::string& name) const { return dir_ / name; }

  // Runs the command on `name`, relative to the scratch directory.
  // Runs the command (`program`: a copy of it) on `name`.
  CommandResult Repair(const std::string& name, CommandOptions options = CommandOptions(),
                       const std::string& program = HDRMEND_BINARY) {
    if (options.directory.empty()) options.directory = dir_.path();
    options.timeoutSeconds = 30;
    CommandResult r = RunCommand(program, {name}, options);
    children_.insert(r.pid);
    return r;
  }

  // Writes the recording to `name` in the scratch directory; returns rdgen's
  // exit status.
  int Generate(const Recording& recording, const std::string& name,
               const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = recording.arguments();
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(name);
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_RDGEN, args, options);
    children_.insert(r.pid);
    EXPECT_EQ(r.err, "") << name;
    return r.status;
  }

  // The names in the scratch directory, or in one below it.
  std::set<std::string> Listing(const std::string& sub = "") const {
    return testsupport::Listing(sub.empty() ? dir_.path() : path(sub));
  }

  TempDir dir_;
  std::set<pid_t> children_;  // and this process: the pipes they may have made
};

TEST_F(RepairTest, WrongCountIsRepairedInTheFilesEncodingWithEveryFrame) {
  const std::string gzip = FindProgram("gzip");
  struct Case {
    const char* name;
    Recording recording;
  } cases[] = {
      {"high.raw", Recording().claiming(23).withTimecodes()},
      {"low.raw", Recording().claiming(17)},
      {"high.txt", Recording().text().claiming(26).withTimecodes()},
      {"rounded.txt", Recording().withSixDecimals().claiming(3)},
      {"nonsense.txt", Recording().text().claiming(-7)},
      {"nocameras.raw", Recording().withCameras(0).claiming(1000000)},
      {"many.raw.gz", Recording().holding(400).claiming(404).withGlobs(5, 40).withTimecodes()},
      {"low.txt.gz", Recording().withSixDecimals().claiming(18)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Recording& rec = c.recording;
    const bool compressed = EndsWith(c.name, ".gz");
    if (compressed && gzip.empty()) continue;
    ASSERT_EQ(Generate(rec, c.name), 0);
    const bool rounds = rec.sixDecimals && !compressed;
    if (rounds) {
      ASSERT_TRUE(HasSixDecimals(ReadFile(path(c.name))));
    }

    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, CountReport(rec.claim(), rec.frames));
    if (compressed) {
      // Complete the moment the command has ended: gzip has finished it.
      EXPECT_EQ(ReadFile(path(c.name)).substr(0, 2), "\x1f\x8b");
      EXPECT_EQ(RunCommand(gzip, {"-t", path(c.name)}).status, 0);
    }
    Contents copy = ReadBack(path(c.name));
    EXPECT_EQ(copy.binary, rec.format == ZrRDFormat::Binary);
    EXPECT_EQ(copy.claimed, rec.frames);
    EXPECT_EQ(copy.cameras, rec.cameras);
    ExpectFrames(copy.frames, rec.expected(rec.frames));
    if (rounds) {
      EXPECT_FALSE(HasSixDecimals(ReadFile(path(c.name))));
    }
    EXPECT_EQ(Listing(), std::set<std::string>({c.name}));

    const std::string repaired = ReadFile(path(c.name));
    r = Repair(c.name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CountReport(rec.frames, rec.frames));
    EXPECT_EQ(ReadFile(path(c.name)), repaired);
    unlink(path(c.name).c_str());
  }
}

TEST_F(RepairTest, RightCountLeavesTheFileUntouched) {
  const bool haveGzip = !FindProgram("gzip").empty();
  struct Case {
    const char* name;
    Recording recording;
  } cases[] = {
      {"right.raw", Recording().withTimecodes()},
      {"right.txt", Recording().text()},
      {"right.raw.gz", Recording()},
      {"headeronly.txt", Recording().text().holding(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (EndsWith(c.name, ".gz") && !haveGzip) continue;
    ASSERT_EQ(Generate(c.recording, c.name), 0);
    // Long ago, so that a rewrite within the same second still shows.
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path(c.name).c_str(), old, 0), 0);
    const std::string bytes = ReadFile(path(c.name));

    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, CountReport(c.recording.frames, c.recording.frames));
    EXPECT_EQ(ReadFile(path(c.name)), bytes);
    struct stat st;
    ASSERT_EQ(stat(path(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, old[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_EQ(Listing(), std::set<std::string>({c.name}));
    unlink(path(c.name).c_str());
  }
}

TEST_F(RepairTest, FileWithoutFramesBecomesAHeaderOnlyFile) {
  for (Recording rec :
       {Recording().holding(0).claiming(5), Recording().text().holding(0).claiming(5)}) {
    SCOPED_TRACE(rec.format == ZrRDFormat::Text ? "text" : "binary");
    ASSERT_EQ(Generate(rec, "empty"), 0);
    ASSERT_EQ(Generate(Recording(rec).claiming(0), "reference"), 0);
    CommandResult r = Repair("empty");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CountReport(5, 0));
    EXPECT_EQ(ReadFile(path("empty")), ReadFile(path("reference")));
  }
}

// Frame numbers are not checked beyond the steps a recording makes (see
// the damage matrix), except that 0 ends the count where nothing but an
// empty tail follows it; with frames behind it, it is damage, and nothing is
// dropped.
TEST_F(RepairTest, FrameNumbersAreCopiedAsTheyStandUpToAZeroAtTheEnd) {
  struct Case {
    std::vector<int> numbers;
    size_t counted;
    bool repaired;
  } cases[] = {
      // Steps up to the farthest a recording's numbers jump, 2^24, and round
      // from the largest number to the smallest as a 32-bit counter does.
      {{3, 3, 1, -5, 2, 16777218, 2}, 7, true},
      {{2147483646, 2147483647, -2147483647 - 1, -2147483647}, 4, true},
      {{-2, -1, 5, 1, 0}, 4, true},
      {{-2, -1, 0, 1, 2}, 2, false},
      {{0, 1, 2}, 0, false},
  };
  for (Recording rec : {Recording(), Recording().text().withTimecodes()}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << (rec.format == ZrRDFormat::Text ? "text, " : "binary, ") << c.numbers.size()
                   << " frames, " << c.counted << " counted");
      std::vector<ZrRDFrame> frames = rec.expected(static_cast<int>(c.numbers.size()));
      {
        ZrRDFileWriter writer(path("numbers").c_str(), 9, rec.cameras, rec.format);
        for (size_t i = 0; i < frames.size(); ++i) {
          frames[i].number = c.numbers[i];
          // The last frame numbered 0 is the end marker: only its header.
          if (c.numbers[i] == 0 && i + 1 == frames.size()) {
            frames[i].clearCameras();
            std::ostringstream header;
            if (rec.format == ZrRDFormat::Binary) {
              ZrRDWriteBinaryFrameHeader(header, frames[i]);
            } else {
              ZrRDWriteTextFrameHeader(header, frames[i]);
            }
            ASSERT_TRUE(writer.close());
            WriteFile(path("numbers"), ReadFile(path("numbers")) + header.str());
            break;
          }
          writer.writeFrame(frames[i]);
        }
        writer.close();
      }
      const std::string bytes = ReadFile(path("numbers"));
      CommandResult r = Repair("numbers");
      if (!c.repaired) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, Refused("numbers") + "       Frame record " +
                             std::to_string(c.counted + 1) +
                             " is numbered 0, and more data follows it.\n" + kSalvageLines +
                             "\n");
        EXPECT_EQ(ReadFile(path("numbers")), bytes);
        EXPECT_EQ(Listing(), std::set<std::string>({"numbers"}));
        continue;
      }
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, CountReport(9, static_cast<int>(c.counted)));
      frames.resize(c.counted);
      Contents copy = ReadBack(path("numbers"));
      EXPECT_EQ(copy.claimed, static_cast<int>(c.counted));
      ExpectFrames(copy.frames, frames);
    }
  }
}

TEST_F(RepairTest, WhiteSpaceAfterTheLastTextFrameIsACleanEnd) {
  Recording rec = Recording().text().claiming(30);
  ASSERT_EQ(Generate(rec, "spaced.txt"), 0);
  WriteFile(path("spaced.txt"), ReadFile(path("spaced.txt")) + " \n\n\t  \n ");
  CommandResult r = Repair("spaced.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, CountReport(30, rec.frames));
  ExpectFrames(ReadBack(path("spaced.txt")).frames, rec.expected(rec.frames));
}

TEST_F(RepairTest, CompressedFileStaysCompressedTheSameWay) {
  const std::string compress = FindProgram("compress");
  if (compress.empty() || FindProgram("uncompress").empty()) {
    GTEST_SKIP() << "compress is not installed: \".Z\" files cannot be tested";
  }
  // Random binary coordinates do not compress at all; text does.
  for (Recording rec : {Recording().claiming(25), Recording().text().claiming(2)}) {
    SCOPED_TRACE(rec.format == ZrRDFormat::Text ? "text" : "binary");
    ASSERT_EQ(Generate(rec, "take.raw"), 0);
    ASSERT_EQ(RunCommand(compress, {"-f", path("take.raw")}).status, 0);
    CommandResult r = Repair("take.raw.Z");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CountReport(rec.claim(), rec.frames));
    EXPECT_EQ(ReadFile(path("take.raw.Z")).substr(0, 2), "\x1f\x9d");
    ExpectFrames(ReadBack(path("take.raw.Z")).frames, rec.expected(rec.frames));
    EXPECT_EQ(Listing(), std::set<std::string>({"take.raw.Z"}));
    unlink(path("take.raw.Z").c_str());
  }
}

// A ".jpeg" recording goes through cjpeg -gsi and djpeg -gsi, options that
// the cjpeg and djpeg Debian ships reject. Stand-ins on the search path that
// take -gsi and pass the bytes through carry a repair; either program
// rejecting -gsi fails the run with that program named.
TEST_F(RepairTest, JpegRecordingGoesThroughCjpegAndDjpegTakingGsi) {
  struct Case {
    bool cjpegTakesGsi;
    bool djpegTakesGsi;
    int status;
    std::string err;  // "<pid>": the command's process id; "<bin>": the stand-ins' folder
    // A compressor that ends at once may do so before the first write or
    // after it: the write then fails on the pipe it closed.
    std::string errWriteFirst = "";
  } cases[] = {
      {true, true, 0, CountReport(25, 20)},
      {true, false, 1,
       "<bin>/djpeg: unknown option -gsi\n"
       "\n\nERROR: Unable to repair \"take.raw.jpeg\".  The file was not changed.\n"
       "       Decompressor 'djpeg' failed for \"take.raw.jpeg\".\n"
       "       Unable to read raw data statistics.\n"
       "       Unable to read number of cameras.\n\n"},
      {false, true, 1,
       CountReport(25, 20) + "<bin>/cjpeg: unknown option -gsi\n"
       "\n\nERROR: Unable to repair \"take.raw.jpeg\".  The file was not changed.\n"
       "       Unable to write \"take.raw.<pid>.jpeg\".\n"
       "       Compressor 'cjpeg' failed for \"take.raw.<pid>.jpeg\".\n\n",
       CountReport(25, 20) + "<bin>/cjpeg: unknown option -gsi\n"
       "\n\nERROR: Unable to repair \"take.raw.jpeg\".  The file was not changed.\n"
       "       Compressor 'cjpeg' failed for \"take.raw.<pid>.jpeg\".\n"
       "       Unable to write \"take.raw.<pid>.jpeg\".\n"
       "       Broken pipe.\n\n"},
  };
  Recording rec = Recording().claiming(25);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("cjpeg ") + (c.cjpegTakesGsi ? "takes" : "rejects") + " -gsi, djpeg " +
                 (c.djpegTakesGsi ? "takes" : "rejects") + " it");
    TempDir bin;
    for (const auto& [program, takesGsi] : {std::pair<std::string, bool>{"cjpeg", c.cjpegTakesGsi},
                                            std::pair<std::string, bool>{"djpeg", c.djpegTakesGsi}}) {
      const std::string script =
          takesGsi ? "#!/bin/sh\n[ \"$1\" = -gsi ] || exit 1\nshift\nexec cat \"$@\"\n"
                   : "#!/bin/sh\necho \"$0: unknown option -gsi\" >&2\nexit 1\n";
      WriteFile(bin / program, script);
      ASSERT_EQ(chmod((bin / program).c_str(), 0755), 0);
    }
    ASSERT_EQ(Generate(rec, "take.raw"), 0);
    ASSERT_EQ(rename(path("take.raw").c_str(), path("take.raw.jpeg").c_str()), 0);
    const std::string original = ReadFile(path("take.raw.jpeg"));
    CommandOptions options;
    options.env = {"PATH=" + bin.path() + ":/usr/bin:/bin"};
    CommandResult r = Repair("take.raw.jpeg", options);
    EXPECT_EQ(r.status, c.status);
    auto expected = [&](const std::string& text) {
      std::string err = WithPid(text, r.pid);
      for (size_t at; (at = err.find("<bin>")) != std::string::npos;) err.replace(at, 5, bin.path());
      return err;
    };
    if (c.errWriteFirst.empty() || r.err != expected(c.errWriteFirst)) {
      EXPECT_EQ(r.err, expected(c.err));
    }
    EXPECT_EQ(Listing(), std::set<std::string>({"take.raw.jpeg"}));
    if (c.status == 0) {
      // The stand-ins pass the bytes through: the ".jpeg" holds the recording.
      WriteFile(path("check.raw"), ReadFile(path("take.raw.jpeg")));
      ExpectFrames(ReadBack(path("check.raw")).frames, rec.expected(rec.frames));
      unlink(path("check.raw").c_str());
    } else {
      EXPECT_EQ(ReadFile(path("take.raw.jpeg")), original);
    }
    unlink(path("take.raw.jpeg").c_str());
  }
}

// Named without its ".gz", the file is read from the compressed file and the
// copy stored uncompressed under the name typed; the compressed file stays.
TEST_F(RepairTest, PlainNameOfACompressedFileGetsAnUncompressedCopy) {
  if (FindProgram("gunzip").empty()) GTEST_SKIP() << "gunzip is not installed";
  Recording rec = Recording().text().claiming(99).withTimecodes();
  ASSERT_EQ(Generate(rec, "take.txt.gz"), 0);
  const std::string compressed = ReadFile(path("take.txt.gz"));
  CommandResult r = Repair("take.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, CountReport(99, rec.frames));
  EXPECT_EQ(ReadFile(path("take.txt.gz")), compressed);
  EXPECT_EQ(ReadFile(path("take.txt")).substr(0, 5), "2\n20\n");
  ExpectFrames(ReadBack(path("take.txt")).frames, rec.expected(rec.frames));
  EXPECT_EQ(Listing(), std::set<std::string>({"take.txt", "take.txt.gz"}));
}

TEST_F(RepairTest, NameThatIsOnlyDotGzIsAPlainFile) {
  Recording rec = Recording().claiming(7);
  ASSERT_EQ(Generate(rec, "plain"), 0);
  ASSERT_EQ(rename(path("plain").c_str(), path(".gz").c_str()), 0);
  CommandResult r = Repair(".gz");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, CountReport(7, rec.frames));
  EXPECT_EQ(Listing(), std::set<std::string>({".gz"}));
  // Read back under another name: the library would take ".gz" for gzip's.
  const std::string bytes = ReadFile(path(".gz"));
  EXPECT_EQ(bytes.substr(0, 3), "Kyo");
  WriteFile(path("check.raw"), bytes);
  ExpectFrames(ReadBack(path("check.raw")).frames, rec.expected(rec.frames));
}

TEST_F(RepairTest, BodyCutShortIsReportedAndNothingIsWritten) {
  struct Case {
    const char* name;
    Recording recording;
    // Bytes cut from the end; -1: cut before the last glob line; -2: cut at
    // the last decimal point.
    long long shorterBy;
    const char* lines;  // under the refusal
  } cases[] = {
      // The y coordinate of the second glob of the last frame keeps one byte.
      {"cut.raw", Recording().holding(3).withCameras(1).withGlobs(2, 2), 1,
       "       Unable to read frame 3\n"
       "       Cannot read camera 1\n"
       "       Unable to read glob 2\n"
       "       Cannot read Y coordinate.\n"
       "       Hit end of file.\n"},
      // The last frame's only camera announces a glob that is not there.
      {"cut.txt", Recording().text().holding(3).withCameras(1).withGlobs(1, 1), -1,
       "       Unable to read frame 3\n"
       "       An error occurred reading the first camera.\n"
       "       Cannot read data for camera.\n"
       "       Unable to read data for glob.\n"
       "       Unable to read number of pixels.\n"},
      // The last coordinate keeps its digits before the point: it was being
      // written, and is no value.
      {"number.txt", Recording().text().holding(3).withCameras(1).withGlobs(1, 1), -2,
       "       Unable to read frame 3\n"
       "       The data ends inside a number, which may have been cut off.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recording rec = Recording(c.recording).claiming(1);
    ASSERT_EQ(Generate(rec, "whole"), 0);
    const std::string whole = ReadFile(path("whole"));
    size_t keep = c.shorterBy >= 0   ? whole.size() - static_cast<size_t>(c.shorterBy)
                  : c.shorterBy == -1 ? whole.rfind('\n', whole.size() - 2) + 1
                                      : whole.rfind('.');
    ASSERT_EQ(Generate(rec, c.name, {"--truncate", std::to_string(keep)}), 0);
    const std::string bytes = ReadFile(path(c.name));
    ASSERT_EQ(bytes, whole.substr(0, keep));

    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Refused(c.name) + c.lines + kSalvageLines + "\n");
    EXPECT_EQ(ReadFile(path(c.name)), bytes);
    EXPECT_EQ(Listing(), std::set<std::string>({"whole", c.name}));
    unlink(path("whole").c_str());
    unlink(path(c.name).c_str());
  }
}

// Copying would drop every frame behind the damage without a word.
TEST_F(RepairTest, UnreadableFrameHeaderWithFramesAfterItIsNotRepaired) {
  Recording rec = Recording().text().holding(5).claiming(3).withCameras(1).withGlobs(1, 1);
  rec.firstNumber = 101;
  ASSERT_EQ(Generate(rec, "mid.txt"), 0);
  std::string bytes = ReadFile(path("mid.txt"));
  size_t header = bytes.find("\n103\n");
  ASSERT_NE(header, std::string::npos);
  bytes.replace(header, 5, "\ngarbled line\n");
  WriteFile(path("mid.txt"), bytes);

  CommandResult r = Repair("mid.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, Refused("mid.txt") +
                       "       The header of frame record 3 cannot be read, and more data "
                       "follows it.\n"
                       "       Unable to read frame number.\n" +
                       kSalvageLines + "\n");
  EXPECT_EQ(ReadFile(path("mid.txt")), bytes);
  EXPECT_EQ(Listing(), std::set<std::string>({"mid.txt"}));
}

// A cut through the trailer delivers every frame and shows only in gunzip's
// exit status; a cut in the middle also ends inside a frame; a cut inside
// gzip's own header delivers nothing, not even the file header, and gunzip's
// failure leads the header's messages.
TEST_F(RepairTest, CorruptCompressedFileIsNotRepaired) {
  if (FindProgram("gunzip").empty()) GTEST_SKIP() << "gunzip is not installed";
  Recording rec = Recording().holding(300).claiming(302);
  ASSERT_EQ(Generate(rec, "whole.raw.gz"), 0);
  const size_t size = ReadFile(path("whole.raw.gz")).size();
  struct Case {
    size_t keep;
    const char* newest;
  } cases[] = {
      {size - 4, "Decompressor 'gunzip' failed for \"cut.raw.gz\"."},
      {size / 2, "Decompressor 'gunzip' failed for \"cut.raw.gz\"."},
      {12, "Decompressor 'gunzip' failed for \"cut.raw.gz\"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keep);
    ASSERT_EQ(Generate(rec, "cut.raw.gz", {"--truncate", std::to_string(c.keep)}), 0);
    const std::string bytes = ReadFile(path("cut.raw.gz"));
    CommandResult r = Repair("cut.raw.gz");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(Refused("cut.raw.gz") + "       " + c.newest + "\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("frames specified"), std::string::npos);
    // Without the file header there is nothing a salvage could keep.
    if (c.keep == 12) {
      EXPECT_TRUE(EndsWith(r.err, "\n       Unable to read raw data statistics.\n"
                                  "       Unable to read number of cameras.\n\n"))
          << r.err;
    } else {
      EXPECT_TRUE(EndsWith(r.err, std::string(kSalvageLines) + "\n")) << r.err;
    }
    EXPECT_EQ(ReadFile(path("cut.raw.gz")), bytes);
    EXPECT_EQ(Listing(), std::set<std::string>({"whole.raw.gz", "cut.raw.gz"}));
  }
}

// gunzip is stopped in the middle of a large file that is no recording at
// all: that ending is ours, not a fault of the file.
TEST_F(RepairTest, CompressedFileThatIsNoRecordingBlamesOnlyTheHeader) {
  const std::string gzip = FindProgram("gzip");
  if (gzip.empty() || FindProgram("gunzip").empty()) GTEST_SKIP() << "gzip is not installed";
  std::string notes;
  for (int i = 0; notes.size() < (4u << 20); ++i) notes += "line " + std::to_string(i) + "\n";
  ASSERT_TRUE(WriteFile(path("notes"), notes));
  ASSERT_EQ(RunCommand(gzip, {"-f", path("notes")}).status, 0);
  const std::string bytes = ReadFile(path("notes.gz"));
  CommandResult r = Repair("notes.gz");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, Refused("notes.gz") +
                       "       Unable to read raw data statistics.\n"
                       "       Unable to read number of cameras.\n\n");
  EXPECT_EQ(ReadFile(path("notes.gz")), bytes);
  EXPECT_EQ(Listing(), std::set<std::string>({"notes.gz"}));
}

// No name reaches a shell: a command hidden in one would create the marker.
TEST_F(RepairTest, AnyCharacterInTheNameIsJustPartOfTheName) {
  const bool haveGzip = !FindProgram("gzip").empty();
  const char* names[] = {
      "two words.raw",
      "it's \"quoted\".txt",
      "$(touch pwned).raw",
      "a;touch pwned;b.raw",
      "`touch pwned`.txt",
      "new\nline.raw",
      "%s%n%d.raw",
      "-x.raw",
      "-$(touch pwned) `touch pwned`;'q' \"d\" %s.raw.gz",
  };
  for (const std::string name : names) {
    SCOPED_TRACE(name);
    const bool compressed = EndsWith(name, ".gz");
    if (compressed && !haveGzip) continue;
    Recording rec = Recording().claiming(21);
    if (EndsWith(name, ".txt")) rec.text();
    const std::string made = compressed ? "made.raw.gz" : "made";
    ASSERT_EQ(Generate(rec, made), 0);
    ASSERT_EQ(rename(path(made).c_str(), path(name).c_str()), 0);

    CommandResult r = Repair(name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, CountReport(21, rec.frames));
    Contents copy = ReadBack(path(name));
    EXPECT_EQ(copy.claimed, rec.frames);
    ExpectFrames(copy.frames, rec.expected(rec.frames));
    EXPECT_EQ(Listing(), std::set<std::string>({name}));
    unlink(path(name).c_str());
  }
}

TEST_F(RepairTest, CopyKeepsPermissionsOwnerAndGroup) {
  const bool root = geteuid() == 0;
  const bool haveGzip = !FindProgram("gzip").empty();
  struct Case {
    const char* name;
    mode_t mode;
  } cases[] = {{"a.raw", 0640}, {"b.txt", 0604}, {"c.raw", 0600}, {"d.raw.gz", 0751}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (EndsWith(c.name, ".gz") && !haveGzip) continue;
    ASSERT_EQ(Generate(Recording().claiming(2), c.name), 0);
    ASSERT_EQ(chmod(path(c.name).c_str(), c.mode), 0);
    // Without privileges a file cannot be given away; then only the mode counts.
    const uid_t owner = root ? 1234 : geteuid();
    const gid_t group = root ? 1234 : getegid();
    ASSERT_EQ(chown(path(c.name).c_str(), owner, group), 0);

    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CountReport(2, 20));
    struct stat st;
    ASSERT_EQ(stat(path(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
    EXPECT_EQ(ReadBack(path(c.name)).claimed, 20);
  }
}

TEST_F(RepairTest, LinkStaysALinkToTheRepairedFile) {
  ASSERT_EQ(mkdir(path("data").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(path("links").c_str(), 0700), 0);
  Recording rec = Recording().claiming(50);
  ASSERT_EQ(Generate(rec, "data/take.raw"), 0);
  ASSERT_EQ(symlink("../data/take.raw", path("links/take.raw").c_str()), 0);

  CommandResult r = Repair("links/take.raw");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, CountReport(50, rec.frames));
  char target[256] = {};
  ASSERT_EQ(readlink(path("links/take.raw").c_str(), target, sizeof target - 1), 16);
  EXPECT_STREQ(target, "../data/take.raw");
  Contents copy = ReadBack(path("data/take.raw"));
  EXPECT_EQ(copy.claimed, rec.frames);
  ExpectFrames(copy.frames, rec.expected(rec.frames));
  EXPECT_EQ(Listing("data"), std::set<std::string>({"take.raw"}));
  EXPECT_EQ(Listing("links"), std::set<std::string>({"take.raw"}));
}

// The file-size limit makes the copy's writes fail as a full disk would.
TEST_F(RepairTest, CopyThatCannotBeWrittenIsRemovedAndTheFileKept) {
  const bool haveGzip = !FindProgram("gzip").empty();
  struct Case {
    const char* name;
    std::string block;
  } cases[] = {
      {"big.raw",
       "\n\nERROR: Unable to repair \"big.raw\".  The file was not changed.\n"
       "       Unable to write \"big.raw.<pid>\".\n"
       "       File too large.\n\n"},
      {"big.raw.gz",
       "\n\nERROR: Unable to repair \"big.raw.gz\".  The file was not changed.\n"
       "       Unable to write \"big.raw.<pid>.gz\".\n"
       "       Compressor '" + testsupport::GzipCompressor() + "' failed for \"big.raw.<pid>.gz\".\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (EndsWith(c.name, ".gz") && !haveGzip) continue;
    ASSERT_EQ(Generate(Recording().holding(300).claiming(303), c.name), 0);
    const std::string bytes = ReadFile(path(c.name));
    ASSERT_GT(bytes.size(), 8192u);
    CommandOptions options;
    options.fileSizeLimit = 4096;
    options.ignoreSigxfsz = true;

    CommandResult r = Repair(c.name, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The compressor adds a line of its own before the block.
    ASSERT_EQ(r.err.find(CountReport(303, 300)), 0u) << r.err;
    EXPECT_TRUE(EndsWith(r.err, WithPid(c.block, r.pid))) << r.err;
    EXPECT_EQ(ReadFile(path(c.name)), bytes);
    EXPECT_EQ(Listing(), std::set<std::string>({c.name}));
    unlink(path(c.name).c_str());
  }
}

TEST_F(RepairTest, FileThatCannotBeOpenedIsReported) {
  ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
  struct Case {
    const char* name;
    const char* block;
  } cases[] = {
      {"missing.raw", "       Unable to open \"missing.raw\".\n       File does not exist.\n\n"},
      {"missing.raw.gz",
       "       Unable to open \"missing.raw.gz\".\n       File does not exist.\n\n"},
      {"%s%n.raw", "       Unable to open \"%s%n.raw\".\n       File does not exist.\n\n"},
      {"folder", "       folder is a directory.\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Refused(c.name) + c.block);
    EXPECT_EQ(Listing(), std::set<std::string>({"folder"}));
  }
}

// A name of the longest length a folder takes leaves no room for the
// copy's usual name: the copy takes a shorter one, and one that keeps the
// compression extension last, so that the copy is compressed as before.
TEST_F(RepairTest, CopyOfALongestNameTakesAShorterName) {
  if (FindProgram("gzip").empty()) GTEST_SKIP() << "gzip is not installed";
  const std::string name = std::string(248, 'n') + ".raw.gz";
  ASSERT_EQ(Generate(Recording().claiming(3), name), 0);
  CommandResult r = Repair(name);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, CountReport(3, 20));
  EXPECT_EQ(ReadFile(path(name)).substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(ReadBack(path(name)).claimed, 20);
  EXPECT_EQ(Listing(), std::set<std::string>({name}));
}

// Run as root, the command drops to an unprivileged user, whom permissions
// stop; run as any other user, it stays that user.
TEST_F(RepairTest, PermissionsThatForbidTheRepairAreReported) {
  const UnprivilegedCommand command(HDRMEND_BINARY);
  if (!command.whyNot().empty()) GTEST_SKIP() << command.whyNot();
  const CommandOptions unprivileged = command.apply(CommandOptions());
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(Generate(Recording(), "locked.raw"), 0);
  ASSERT_EQ(chmod(path("locked.raw").c_str(), 0), 0);
  CommandResult r = Repair("locked.raw", unprivileged, command.program());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Refused("locked.raw") +
                       "       Unable to read \"locked.raw\".\n"
                       "       Insufficient access to read file.  Check permissions.\n\n");

  ASSERT_EQ(mkdir(path("ro").c_str(), 0755), 0);
  ASSERT_EQ(Generate(Recording().claiming(4), "ro/x.raw"), 0);
  const std::string bytes = ReadFile(path("ro/x.raw"));
  ASSERT_EQ(chmod(path("ro").c_str(), 0555), 0);
  r = Repair("ro/x.raw", unprivileged, command.program());
  chmod(path("ro").c_str(), 0755);
  EXPECT_EQ(r.status, 1);
  // The folder is named, not the copy the user never asked for.
  EXPECT_EQ(r.err, CountReport(4, 20) + Refused("ro/x.raw") +
                       "       Insufficient access to create file in \"ro\".  Check "
                       "permissions.\n\n");
  EXPECT_EQ(ReadFile(path("ro/x.raw")), bytes);
  EXPECT_EQ(Listing("ro"), std::set<std::string>({"x.raw"}));
}

// What a crash leaves after the last whole frame, zero bytes of a block the
// file system had given the file, is an empty tail: the frames before it
// are kept. So is a header line at the very end without its line feed, cut
// off (its number may be), though without cameras it would be a frame.
TEST_F(RepairTest, EmptyTailsAndAFinalLineWithoutFeedKeepEveryFrame) {
  Recording rec = Recording().text().holding(6).claiming(9).withTimecodes();
  ASSERT_EQ(Generate(rec, "zeros.txt"), 0);
  WriteFile(path("zeros.txt"), ReadFile(path("zeros.txt")) + std::string(4096, '\0'));
  CommandResult r = Repair("zeros.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, CountReport(9, 6));
  Contents copy = ReadBack(path("zeros.txt"));
  EXPECT_EQ(copy.claimed, 6);
  ExpectFrames(copy.frames, rec.expected(6));

  WriteFile(path("nocameras.txt"), "0\n5\n1\n\n2\n\n3");
  r = Repair("nocameras.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, CountReport(5, 2));
  EXPECT_EQ(ReadFile(path("nocameras.txt")), "0\n2\n1\n\n2\n\n");
}

// Damage in the middle is never taken for the end: the frames behind it
// stay, and so does the file.
TEST_F(RepairTest, DamageInTheMiddleIsRefusedAndNothingIsDropped) {
  struct Case {
    const char* name;
    Recording recording;
    std::function<std::string(std::string)> damage;
    const char* block;
    const char* check = nullptr;  // what --check says, where it matters
  } cases[] = {
      {"zeroed.raw", Recording().holding(10).claiming(12).withCameras(1).withGlobs(1, 1),
       [](std::string b) {
         // The fifth frame header: 38 bytes of file header, 4 of each frame
         // before (size byte, number) and 2 + 4 of its one camera.
         return b.replace(38 + 4 * 11, 5, std::string(5, '\0'));
       },
       "       Frame record 5 is numbered 0, and more data follows it.\n"},
      // Garbage that reads as a header of 6 bytes, whose number 1651999984
      // would let later frames swallow the real ones.
      {"garbage.raw", Recording().holding(10).withCameras(1).withGlobs(1, 1),
       [](std::string b) {
         return b.replace(38 + 4 * 11, 5, std::string("\x06\xf0\x84\x77\x62\0\0", 7));
       },
       "       Frame record 5, at byte 82, is not of the form a recorder writes: its\n"
       "       header is 6 bytes long.\n",
       "garbage.raw: damaged (frame record 5, at byte 82, is not of the form a recorder writes: its "
       "header is 6 bytes long)\n"},
      {"zero.txt", Recording().text().holding(10).claiming(12).withCameras(1).withGlobs(1, 1),
       [](std::string b) { return b.replace(b.find("\n5\n") + 1, 1, "0"); },
       "       Frame record 5 is numbered 0, and more data follows it.\n"},
      // A NUL before a timecode does not make it vanish.
      {"nul.txt", Recording().text().holding(10).claiming(12).withCameras(1).withTimecodes(),
       [](std::string b) { return b.insert(b.find("\n5 23:59:") + 3, std::string("\0 ", 2)); },
       "       The header of frame record 5 cannot be read, and more data follows it.\n"
       "       Unable to convert \"\\0 23:59:59:29\" to timecode.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Generate(c.recording, c.name), 0);
    const std::string bytes = c.damage(ReadFile(path(c.name)));
    WriteFile(path(c.name), bytes);
    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Refused(c.name) + c.block + kSalvageLines + "\n");
    EXPECT_EQ(ReadFile(path(c.name)), bytes);
    EXPECT_EQ(Listing(), std::set<std::string>({c.name}));
    if (c.check != nullptr) {
      CommandOptions options;
      options.directory = dir_.path();
      EXPECT_EQ(RunCommand(HDRMEND_BINARY, {"--check", c.name}, options).out, c.check);
    }
    unlink(path(c.name).c_str());
  }
}

// Bytes flipped in the middle of a deflate stream: what gunzip delivers after
// them ends the count, and gunzip's verdict on the rest must be heard.
TEST_F(RepairTest, FlippedBytesInACompressedRecordingAreRefused) {
  if (FindProgram("gunzip").empty()) GTEST_SKIP() << "gunzip is not installed";
  Recording rec = Recording().holding(3000).claiming(3001).withGlobs(0, 8).withTimecodes();
  ASSERT_EQ(Generate(rec, "flipped.raw.gz"), 0);
  std::string bytes = ReadFile(path("flipped.raw.gz"));
  for (std::size_t k = bytes.size() / 2; k < bytes.size() / 2 + 16; ++k) bytes[k] ^= 0x5A;
  WriteFile(path("flipped.raw.gz"), bytes);
  CommandResult r = Repair("flipped.raw.gz");
  EXPECT_EQ(r.status, 1);
  // After gunzip's own words, the block names it first.
  const std::size_t block = r.err.find("\n\nERROR: ");
  ASSERT_NE(block, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(block).find(Refused("flipped.raw.gz") +
                                     "       Decompressor 'gunzip' failed for \"flipped.raw.gz\".\n"),
            0u)
      << r.err;
  EXPECT_EQ(r.err.find("frames specified"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(path("flipped.raw.gz")), bytes);
  EXPECT_EQ(Listing(), std::set<std::string>({"flipped.raw.gz"}));
}

// A value the copy could not carry exactly fails the repair; nothing is
// rounded to infinity.
TEST_F(RepairTest, CoordinatesBeyondAFloatAreRefused) {
  for (const char* value : {"1e39", "-1e39", "3.5e38"}) {
    SCOPED_TRACE(value);
    const std::string bytes = std::string("1\n3\n1\n1\n5 1.0000 2.0000\n\n2\n1\n5 ") + value +
                              " 2.0000\n\n";
    WriteFile(path("huge.txt"), bytes);
    CommandResult r = Repair("huge.txt");
    EXPECT_EQ(r.status, 1);
    char shown[32];
    snprintf(shown, sizeof shown, "%g", atof(value));
    EXPECT_EQ(r.err, Refused("huge.txt") +
                         "       Unable to read frame 2\n"
                         "       An error occurred reading the first camera.\n"
                         "       Cannot read data for camera.\n"
                         "       Unable to read data for glob.\n"
                         "       Error reading value for x.\n"
                         "       The coordinate " +
                         shown + " is beyond the range of a float.\n" + kSalvageLines + "\n");
    EXPECT_EQ(ReadFile(path("huge.txt")), bytes);
  }
}

// Only a regular file is read: anything else is refused before it is opened,
// so that nothing can block.
TEST_F(RepairTest, WhatIsNoRegularFileIsRefusedWithoutOpeningIt) {
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/null", path("device").c_str()), 0);
  struct Case {
    const char* name;
    const char* block;
  } cases[] = {
      {"pipe", "       \"pipe\" is a named pipe, not a regular file.\n\n"},
      // A link is followed, and the file it leads to named.
      {"device", "       \"/dev/null\" is a character device, not a regular file.\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandOptions options;
    options.timeoutSeconds = 10;
    CommandResult r = Repair(c.name, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Refused(c.name) + c.block);
  }
  EXPECT_EQ(Listing(), std::set<std::string>({"pipe", "device"}));
}

// Timecodes of 50 and 60 frames per second, whose frame parts go up to 59,
// are carried byte for byte: the repaired file is the recording with only
// its frame count changed.
TEST_F(RepairTest, TimecodesOfAnyFrameRateAreCopiedByteForByte) {
  auto le32 = [](unsigned v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  std::string frames;
  for (unsigned n = 1; n <= 300; ++n) {
    const unsigned part = (n + 15) % 60;  // 0 to 59
    frames += std::string("\x09", 1) + le32(n) + "\x04" + static_cast<char>(0) +
              static_cast<char>(59) + static_cast<char>(n / 60 % 60) + static_cast<char>(part);
    frames += std::string("\x01\x00", 2) + le32(0x03000200 + n);  // one camera, one glob
  }
  const std::string head = "Kyo Raw Data File Binary\nv1.00\n\x06\x01";
  WriteFile(path("fast.raw"), head + std::string(1, '\0') + le32(302) + frames);
  CommandResult r = Repair("fast.raw");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, CountReport(302, 300));
  EXPECT_EQ(ReadFile(path("fast.raw")), head + std::string(1, '\0') + le32(300) + frames);
}

// --in-place writes the count where it lies (in text right-aligned, spaces
// before a shorter one) and cuts an empty tail; the file stays the same file,
// so a hard link sees the change. What it cannot do so is refused, the file
// untouched.
TEST_F(RepairTest, InPlaceChangesOnlyTheCountAndCutsAnEmptyTail) {
  struct Case {
    const char* name;
    Recording recording;
    std::string tail;
    int padding;          // spaces before the new text count; -1: refused
    const char* refusal;  // the reason, unwrapped
  } cases[] = {
      {"take.raw", Recording().claiming(25), std::string(3000, '\0'), 0, ""},
      {"take.txt", Recording().text().claiming(100), " \n\n\t \n ", 1, ""},
      {"long.txt", Recording().text().claiming(9), "", -1,
       "The count 20 does not fit where the header states 9; 'hdrmend long.txt' repairs it "
       "through a copy."},
      {"take.raw.gz", Recording().claiming(25), "", -1,
       "A compressed recording cannot be changed in place; 'hdrmend take.raw.gz' repairs it "
       "through a copy."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (EndsWith(c.name, ".gz") && FindProgram("gzip").empty()) continue;
    Recording right = c.recording;
    ASSERT_EQ(Generate(right.claiming(right.frames), "right"), 0);
    std::string expected = ReadFile(path("right"));
    if (c.padding > 0) expected.insert(2, std::string(c.padding, ' '));
    ASSERT_EQ(Generate(c.recording, c.name), 0);
    const std::string original = ReadFile(path(c.name)) + c.tail;
    WriteFile(path(c.name), original);
    ASSERT_EQ(link(path(c.name).c_str(), path("link").c_str()), 0);
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_BINARY, {"--in-place", c.name}, options);
    std::string err = r.err;
    for (size_t at; (at = err.find("\n       ")) != std::string::npos;) err.replace(at, 8, " ");
    if (c.padding < 0) {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(err.find(c.refusal), std::string::npos) << r.err;
      EXPECT_EQ(ReadFile(path(c.name)), original);
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, CountReport(c.recording.claim(), c.recording.frames));
      EXPECT_EQ(ReadFile(path("link")), expected);
    }
    EXPECT_EQ(Listing(), std::set<std::string>({"right", "link", c.name}));
    for (const char* name : {"right", "link", c.name}) unlink(path(name).c_str());
  }
}

}  // namespace
