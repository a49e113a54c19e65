// Crafted recordings that once made the repair's memory or time grow with
// the input: each run must stay within 16 MiB of resident memory (as the
// kernel counts it for the command and the filters it waited for) and end
// well within the runner's timeout, with the outcome the data calls for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

constexpr long kMemoryLimitKiB = 16 * 1024;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HDRMEND_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HDRMEND_TEST_SANITIZED 1
#endif

// The bound a run's peak resident memory must stay under. A sanitized build's
// runtime holds memory of its own (shadow, allocator, quarantine) whatever the
// input, so there the bound is what a run that reads nothing takes, plus the
// same 16 MiB.
//
// The sanitizer's quarantine keeps freed memory up to 256 MiB by default, so a
// run that allocates and frees much would grow by it alone: the runs here
// keep it small, which still finds a use after free of what was freed last.
std::vector<std::string> SanitizerEnv() {
#ifdef HDRMEND_TEST_SANITIZED
  const char* asan = getenv("ASAN_OPTIONS");
  return {"ASAN_OPTIONS=" + (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
          "quarantine_size_mb=1"};
#else
  return {};
#endif
}

long MemoryLimitKiB() {
#ifdef HDRMEND_TEST_SANITIZED
  CommandOptions options;
  options.env = SanitizerEnv();
  static const long limit =
      kMemoryLimitKiB + RunCommand(HDRMEND_BINARY, {"--version"}, options).maxResidentKiB;
  return limit;
#else
  return kMemoryLimitKiB;
#endif
}

std::string Le16(unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Le32(unsigned v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::string BinaryHeader(unsigned cameras, unsigned frames) {
  return "Kyo Raw Data File Binary\nv1.00\n" + std::string(1, '\x06') + Le16(cameras) + Le32(frames);
}

class Bounds : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  // Writes `pieces` repeated `times` times after `head` to `name`, through
  // gzip when the name ends in ".gz", without holding the whole in memory.
  void Write(const std::string& name, const std::string& head, const std::string& piece,
             long times, const std::string& tail = "") {
    const bool gz = testsupport::EndsWith(name, ".gz");
    FILE* out = gz ? popen(("gzip -1 > '" + path(name) + "'").c_str(), "w")
                   : fopen(path(name).c_str(), "w");
    ASSERT_NE(out, nullptr);
    fwrite(head.data(), 1, head.size(), out);
    for (long k = 0; k < times; ++k) fwrite(piece.data(), 1, piece.size(), out);
    fwrite(tail.data(), 1, tail.size(), out);
    ASSERT_EQ(gz ? pclose(out) : fclose(out), 0);
  }

  CommandResult Repair(const std::string& name) {
    CommandOptions options;
    options.directory = dir_.path();
    options.timeoutSeconds = 120;
    return RunCommand(HDRMEND_BINARY, {name}, options);
  }

  TempDir dir_;
};

// One frame of 1000 cameras of 65535 globs each, 262 MB that gzip keeps in a
// quarter of a megabyte, is copied in pieces, not held whole.
TEST_F(Bounds, AHugeFrameIsCopiedInPieces) {
  if (!testsupport::HaveProgram("gzip") || !testsupport::HaveProgram("gunzip")) {
    GTEST_SKIP() << "gzip is not installed";
  }
  const std::string camera = Le16(65535) + std::string(4 * 65535, '\0');
  Write("huge.raw.gz", BinaryHeader(1000, 2) + "\x04" + Le32(1), camera, 1000);
  CommandResult r = Repair("huge.raw.gz");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "2 frames specified in the file\n1 frames actually in the file\n");
  EXPECT_LT(r.maxResidentKiB, MemoryLimitKiB());
}

// The searches for frames, the split count's for where its second half
// starts and the salvage's past damage, stay linear in the bytes they look
// at. Here every byte looks like a frame header whose 65535 cameras run far;
// the searches once took hours, and now give up within the test's timeout.
TEST_F(Bounds, SearchesForFramesStayLinearOnCraftedBytes) {
  Write("fours.raw", BinaryHeader(65535, 2), std::string(1 << 20, '\x04'), 64, "");
  const std::string bytes = ReadFile(path("fours.raw"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"fours.raw"}, {"--check", "fours.raw"}, {"--salvage", "fours.raw"}}) {
    SCOPED_TRACE(args[0]);
    CommandOptions options;
    options.directory = dir_.path();
    options.timeoutSeconds = 120;
    CommandResult r = RunCommand(HDRMEND_BINARY, args, options);
    EXPECT_EQ(r.status, args[0] == "--check" ? 2 : 1) << r.err;
  }
  EXPECT_EQ(ReadFile(path("fours.raw")), bytes);
}

TEST_F(Bounds, MemoryStaysFlatOnCraftedRecordings) {
  struct Case {
    const char* name;
    std::string head;
    std::string piece;
    long times;
    std::string tail;
    int status;
  } cases[] = {
      // The most cameras a header can state, in one frame.
      {"cameras.raw", BinaryHeader(65535, 2) + "\x04" + Le32(1), Le16(1) + Le32(0x01000100), 65535,
       "", 0},
      // 10 MB of frame headers that each draw the same warning (and are of no
      // recorder's form: refused at the first).
      {"warnings.raw", BinaryHeader(1, 1),
       std::string("\x09\x01\0\0\0\x02\x01\x02\x03\x04", 10) + Le16(0), 870000, "", 1},
      // A number token of 100 MB.
      {"token.txt", "1\n2\n1\n1\n", std::string(1000, '7'), 100000, " 1.0 2.0\n", 1},
      // A header line of 100 MB of blanks around its timecode, read in time
      // proportional to its length.
      {"blanks.txt", "0\n2\n1", std::string(1000, ' '), 100000, "01:02:03:04  \n\n", 0},
      // A header line of 100 MB that is no timecode.
      {"line.txt", "0\n2\n1 ", std::string(1000, 'x'), 100000, "\n\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.head, c.piece, c.times, c.tail);
    CommandResult r = Repair(c.name);
    EXPECT_EQ(r.status, c.status) << r.err.substr(0, 2000);
    EXPECT_LT(r.maxResidentKiB, MemoryLimitKiB());
    unlink(path(c.name).c_str());
  }
}

// Crafted recordings on which the salvage's search for frames took time
// quadratic in their length (a megabyte in half a minute): from every byte,
// frames whose records run on to the end. Each is refused, no frame reading
// whole, in time linear in its length.
TEST_F(Bounds, SalvageSearchStaysLinearOnCraftedRecordings) {
  struct Case {
    const char* name;
    std::string head;
    std::string piece;
    long times;
  } cases[] = {
      // 64 MB of frame headers of 65535 cameras of 1028 globs each.
      {"cameras.raw", BinaryHeader(65535, 5), std::string(1 << 20, '\x04'), 64},
      // 64 MB of glob counts of one camera that swallow the lines after them.
      {"counts.txt", "1\n5\n", "9\n99999999\n", 6100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.head, c.piece, c.times);
    CommandOptions options;
    options.directory = dir_.path();
    options.timeoutSeconds = 120;
    options.env = SanitizerEnv();
    CommandResult r = RunCommand(HDRMEND_BINARY, {"--salvage", c.name}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("No frame of \"" + std::string(c.name) + "\" reads whole."),
              std::string::npos)
        << r.err;
    EXPECT_LT(r.maxResidentKiB, MemoryLimitKiB());
    unlink(path(c.name).c_str());
  }
}

}  // namespace
