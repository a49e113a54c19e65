// The fault-injection library that the fault tests preload into the command:
// every call that writes is counted and cut at the exact byte, the fault
// fires once and only in the process and files it is meant for, and a
// descriptor number reused for another file is judged by that file. Checked on
// tools/writeby, which writes its files through the call it is told to use.
#include "app/FaultPoint.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const char* const kCalls[] = {"write",   "writev",    "pwrite",   "pwrite64",
                              "pwritev", "pwritev64", "pwritev2", "copy_file_range"};
const long long kSourceSize = 300000;
const int kChunk = 65536;

class FaultPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    for (long long i = 0; static_cast<long long>(source_.size()) < kSourceSize; ++i) {
      source_ += std::to_string(i * 7919 % 100003) + ",";
    }
    source_.resize(kSourceSize);
    ASSERT_TRUE(WriteFile(path("source"), source_));
  }

  std::string path(const std::string& name) const { return dir_ / name; }

  // Runs writeby with the fault's environment and `extra` after it.
  CommandResult Write(const FaultPoint& fault, const std::string& call, const std::string& closing,
                      const std::vector<std::string>& targets,
                      const std::vector<std::string>& extra = {},
                      std::function<void(pid_t)> whenStopped = nullptr) {
    std::vector<std::string> args = {call, closing, std::to_string(kChunk), path("source")};
    for (const std::string& target : targets) args.push_back(path(target));
    CommandOptions options;
    options.env = fault.environment();
    options.env.insert(options.env.end(), extra.begin(), extra.end());
    options.whenStopped = std::move(whenStopped);
    return RunCommand(HDRMEND_WRITEBY, args, options);
  }

  TempDir dir_;
  std::string source_;
};

// Stopped at the fault, the file holds exactly the bytes before it; continued,
// the cut call writes the rest where it belongs. Killed there instead, the
// file keeps exactly those bytes.
TEST_F(FaultPointTest, EveryWritingCallIsCutAtTheExactByte) {
  // Before the first byte, after it, inside a call, at the end of a call, at
  // the very last byte.
  const long long points[] = {0, 1, 100000, 2 * kChunk, kSourceSize};
  for (const char* call : kCalls) {
    for (long long point : points) {
      SCOPED_TRACE(std::string(call) + " at " + std::to_string(point));
      FaultPoint fault("writeby", "/out", point, SIGSTOP);
      std::string atStop = "(never stopped)";
      CommandResult r = Write(fault, call, "close", {"out"}, {}, [&](pid_t) {
        atStop = ReadFile(path("out"));
        EXPECT_EQ(fault.report(), fault.firedHere());
      });
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.stops, 1);
      EXPECT_EQ(atStop, source_.substr(0, point));
      EXPECT_EQ(ReadFile(path("out")), source_);
    }
    SCOPED_TRACE(std::string(call) + " killed");
    FaultPoint kill("writeby", "/out", 100000, SIGKILL);
    CommandResult r = Write(kill, call, "close", {"out"});
    EXPECT_EQ(r.signal, SIGKILL) << r.err;
    EXPECT_EQ(kill.report(), kill.firedHere());
    EXPECT_EQ(ReadFile(path("out")), source_.substr(0, 100000));
  }
}

TEST_F(FaultPointTest, FaultNotReachedOrMeantForOthersChangesNothing) {
  struct Case {
    const char* what;
    const char* program;
    const char* pathPart;
    long long bytes;
    std::vector<std::string> extra;  // settings that override the fault's
    const char* message;             // on standard error
  } cases[] = {
      {"threshold past the end", "writeby", "/out", kSourceSize + 1, {}, ""},
      {"another file", "writeby", "/elsewhere", 0, {}, ""},
      {"another program", "gzip", "/out", 0, {}, ""},
      {"program named by a part of its name", "write", "/out", 0, {}, ""},
      {"malformed threshold",
       "writeby",
       "/out",
       0,
       {"FAULTPOINT_BYTES=12x"},
       "faultpoint: FAULTPOINT_BYTES \"12x\" is not valid; no fault.\n"},
      {"negative threshold",
       "writeby",
       "/out",
       0,
       {"FAULTPOINT_BYTES=-1"},
       "faultpoint: FAULTPOINT_BYTES \"-1\" is not valid; no fault.\n"},
      {"no such signal",
       "writeby",
       "/out",
       0,
       {"FAULTPOINT_SIGNAL=99"},
       "faultpoint: FAULTPOINT_SIGNAL \"99\" is not valid; no fault.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultPoint fault(c.program, c.pathPart, c.bytes, SIGKILL);
    CommandResult r = Write(fault, "write", "close", {"out"}, c.extra);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(fault.report(), "");
    EXPECT_EQ(ReadFile(path("out")), source_);
  }
}

// Three files written one after the other on the same descriptor number, the
// middle one not matching: the fault must fire 100000 bytes into the third,
// however the number changed hands.
TEST_F(FaultPointTest, ReusedDescriptorIsJudgedByItsNewFile) {
  for (const char* closing : {"close", "fclose", "dup2"}) {
    SCOPED_TRACE(closing);
    FaultPoint fault("writeby", "/match-", kSourceSize + 100000, SIGKILL);
    CommandResult r = Write(fault, "write", closing, {"match-1", "other", "match-2"});
    EXPECT_EQ(r.signal, SIGKILL) << r.err;
    EXPECT_EQ(fault.report(), fault.firedHere());
    EXPECT_EQ(ReadFile(path("match-1")), source_);
    EXPECT_EQ(ReadFile(path("other")), source_);
    EXPECT_EQ(ReadFile(path("match-2")), source_.substr(0, 100000));
  }
}

// A link is refused on request, as fs.protected_hardlinks refuses it; a
// fault at byte 0 of a link's path fires right after the link is made.
TEST_F(FaultPointTest, LinkIsRefusedOrInterruptedOnceMade) {
  FaultPoint refusing("writeby", "/link", 1, SIGKILL);
  CommandResult r = Write(refusing, "linkat", "close", {"link"}, {"FAULTPOINT_LINKS=refuse"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Operation not permitted"), std::string::npos) << r.err;
  EXPECT_FALSE(testsupport::Exists(path("link")));
  FaultPoint fault("writeby", "/link", 0, SIGKILL);
  r = Write(fault, "linkat", "close", {"link", "link2"});
  EXPECT_EQ(r.signal, SIGKILL) << r.err;
  EXPECT_EQ(fault.report(), fault.firedHere());
  EXPECT_EQ(ReadFile(path("link")), source_);
  EXPECT_FALSE(testsupport::Exists(path("link2")));
}

}  // namespace
