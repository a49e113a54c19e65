#include "streams/ZnFilterProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "system/SystemTestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

class FilterProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    pipe_ = dir_ / "pipe";
    ASSERT_EQ(mkfifo(pipe_.c_str(), 0600), 0);
  }
  TempDir dir_;
  std::string pipe_;
};

// A filter that ends before it opens the pipe: the shell cannot open the file
// on its other side, or the script simply leaves. Connecting must give up
// rather than wait for a partner that never comes.
TEST_F(FilterProcessTest, FilterEndingBeforeOpeningThePipeDoesNotHang) {
  struct Case {
    const char* what;
    const char* script;
    ZnFilterProcess::Direction direction;
  };
  const Case cases[] = {
      {"reader leaves", "exit 3", ZnFilterProcess::kToFilter},
      {"writer leaves", "exit 3", ZnFilterProcess::kFromFilter},
      {"reader's file missing", "exec cat <\"$2\" >/dev/null <\"$1\"", ZnFilterProcess::kToFilter},
      {"writer's file missing", "exec cat <\"$1\" >\"$2\"", ZnFilterProcess::kFromFilter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZnFilterProcess filter;
    std::string missing = dir_ / "missing";
    const char* first = c.direction == ZnFilterProcess::kToFilter ? pipe_.c_str() : missing.c_str();
    const char* second =
        c.direction == ZnFilterProcess::kToFilter ? missing.c_str() : pipe_.c_str();
    ASSERT_EQ(filter.start(c.script, first, second, pipe_.c_str(), c.direction), 0);
    EXPECT_FALSE(filter.connect());
    EXPECT_EQ(filter.error(), 0);
    EXPECT_FALSE(filter.running());
    EXPECT_FALSE(filter.finish(false));
  }
}

TEST_F(FilterProcessTest, ConnectedFilterCarriesTheDataBothWays) {
  std::string in = dir_ / "in";
  std::string out = dir_ / "out";
  WriteFile(in, "hello\n");
  // From a file through the filter into the pipe, and from there on into
  // another file through a second filter.
  ZnFilterProcess producer;
  ASSERT_EQ(producer.start("exec cat <\"$1\" >\"$2\"", in.c_str(), pipe_.c_str(), pipe_.c_str(),
                           ZnFilterProcess::kFromFilter),
            0);
  ASSERT_TRUE(producer.connect());
  ZnFilterProcess consumer;
  std::string second = dir_ / "second";
  ASSERT_EQ(mkfifo(second.c_str(), 0600), 0);
  ASSERT_EQ(consumer.start("exec cat <\"$1\" >\"$2\"", second.c_str(), out.c_str(), second.c_str(),
                           ZnFilterProcess::kToFilter),
            0);
  ASSERT_TRUE(consumer.connect());
  {
    std::ifstream from(pipe_);
    std::ofstream to(second);
    producer.releasePipe();
    consumer.releasePipe();
    to << from.rdbuf();
  }
  EXPECT_TRUE(producer.finish(false));
  EXPECT_TRUE(consumer.finish(false));
  EXPECT_EQ(ReadFile(out), "hello\n");
}

// The names are handed over as they are, whatever the shell would make of
// them as text.
TEST_F(FilterProcessTest, ArgumentsReachTheScriptUnchanged) {
  std::string out = dir_ / "out";
  const std::string odd = "a b'c\"d$HOME`id`;e\nf\\g -h";
  ZnFilterProcess filter;
  ASSERT_EQ(filter.start("printf %s \"$1\" >\"$2\"", odd.c_str(), pipe_.c_str(), pipe_.c_str(),
                         ZnFilterProcess::kFromFilter),
            0);
  ASSERT_TRUE(filter.connect());
  std::ifstream from(pipe_);
  filter.releasePipe();
  std::string received((std::istreambuf_iterator<char>(from)), std::istreambuf_iterator<char>());
  EXPECT_EQ(received, odd);
  EXPECT_TRUE(filter.finish(false));
}

TEST_F(FilterProcessTest, BrokenPipeCountsAsSuccessOnlyWhenAsked) {
  for (bool brokenPipeIsSuccess : {true, false}) {
    ZnFilterProcess filter;
    ASSERT_EQ(filter.start("kill -PIPE $$", "", "", pipe_.c_str(), ZnFilterProcess::kToFilter), 0);
    EXPECT_FALSE(filter.connect());
    EXPECT_EQ(filter.finish(brokenPipeIsSuccess), brokenPipeIsSuccess);
  }
}

// A filter that never opens its side and never ends is stopped when its
// owner goes, so nothing is left running.
TEST_F(FilterProcessTest, OwnerEndsAFilterStillRunning) {
  pid_t pid;
  {
    ZnFilterProcess filter;
    ASSERT_EQ(filter.start("exec sleep 300", "", "", pipe_.c_str(), ZnFilterProcess::kToFilter), 0);
    pid = filter.pid();
    EXPECT_TRUE(filter.running());
    EXPECT_FALSE(filter.endedBadly(false));
  }
  EXPECT_NE(kill(pid, 0), 0);
}

// Only the standard descriptors reach the filter.
TEST_F(FilterProcessTest, FilterInheritsNoOtherDescriptors) {
  std::string out = dir_ / "fds";
  int ours = open("/dev/null", O_RDONLY);  // deliberately not close-on-exec
  ASSERT_GE(ours, 0);
  ZnFilterProcess filter;
  ASSERT_EQ(filter.start("exec ls /proc/self/fd >\"$1\" <\"$2\"", out.c_str(), pipe_.c_str(),
                         pipe_.c_str(), ZnFilterProcess::kToFilter),
            0);
  ASSERT_TRUE(filter.connect());
  EXPECT_TRUE(filter.finish(false));
  close(ours);
  // ls itself opens one descriptor to read the directory.
  std::string listed = ReadFile(out);
  EXPECT_EQ(listed, "0\n1\n2\n3\n");
}

}  // namespace
