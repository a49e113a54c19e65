#include "system/ZnCleanup.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "system/SystemTestSupport.h"

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Runs `body` in a forked child, so that the handlers, the tables and the
// signals stay there, and returns the child's wait status.
int RunInChild(const std::function<void()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return status;
}

bool EndedBySignal(int status, int signal) {
  return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

struct Files {
  explicit Files(const TempDir& dir)
      : plain(dir / "copy"), checked(dir / "pipe"), replaced(dir / "replaced"), pid(dir / "pid") {}
  std::string plain;     // registered by name
  std::string checked;   // registered with its identity
  std::string replaced;  // registered with its identity, then replaced
  std::string pid;       // where the child notes its helper process
};

// Registers the three files and a helper process the way the streams and the
// command do; the helper's id goes to files.pid.
void RegisterAll(const Files& files) {
  struct stat st;
  WriteFile(files.plain, "partial copy");
  WriteFile(files.checked, "");
  WriteFile(files.replaced, "old");
  ZnCleanupAddFile(files.plain.c_str());
  stat(files.checked.c_str(), &st);
  ZnCleanupAddFile(files.checked.c_str(), st.st_dev, st.st_ino);
  stat(files.replaced.c_str(), &st);
  ZnCleanupAddFile(files.replaced.c_str(), st.st_dev, st.st_ino);
  // Someone else's file now stands under that name. The old one is moved
  // aside rather than removed, so that the new one cannot get its inode.
  rename(files.replaced.c_str(), (files.replaced + ".old").c_str());
  WriteFile(files.replaced, "someone else's");
  const pid_t helper = fork();
  if (helper == 0) {
    execlp("sleep", "sleep", "1000", static_cast<char*>(nullptr));
    _exit(127);
  }
  ZnCleanupAddProcess(helper);
  WriteFile(files.pid, std::to_string(helper));
}

void ExpectCleanedUp(const Files& files) {
  EXPECT_FALSE(Exists(files.plain));
  EXPECT_FALSE(Exists(files.checked));
  EXPECT_EQ(ReadFile(files.replaced), "someone else's");
  const pid_t helper = static_cast<pid_t>(std::stol("0" + ReadFile(files.pid)));
  ASSERT_GT(helper, 0);
  EXPECT_NE(kill(helper, 0), 0) << "the helper process still runs";
  kill(helper, SIGKILL);
}

TEST(CleanupTest, EachInterruptCleansUpAndEndsTheProcessByItself) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    Files files(dir);
    const int status = RunInChild([&] {
      RegisterAll(files);
      ZnInstallInterruptHandlers();
      raise(signal);
    });
    EXPECT_TRUE(EndedBySignal(status, signal)) << status;
    ExpectCleanedUp(files);
  }
}

// Under nohup SIGHUP is ignored, and must stay so.
TEST(CleanupTest, IgnoredSignalStaysIgnored) {
  TempDir dir;
  Files files(dir);
  const int status = RunInChild([&] {
    WriteFile(files.plain, "x");
    ZnCleanupAddFile(files.plain.c_str());
    signal(SIGHUP, SIG_IGN);
    ZnInstallInterruptHandlers();
    raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(Exists(files.plain));
}

// Both signals wait while blocked, as when `timeout` signals the command and
// then its process group. Once let through, the first starts the clean-up;
// the second waits for it to finish, and the process ends by the first.
TEST(CleanupTest, SecondSignalWaitsForTheCleanUp) {
  TempDir dir;
  Files files(dir);
  const int status = RunInChild([&] {
    RegisterAll(files);
    ZnInstallInterruptHandlers();
    ZnBlockInterrupts();
    raise(SIGHUP);
    raise(SIGTERM);
    ZnUnblockInterrupts();
    _exit(3);
  });
  EXPECT_TRUE(EndedBySignal(status, SIGHUP)) << status;
  ExpectCleanedUp(files);
}

// The command renames its finished copy and drops it from the list with
// interrupts held back: a signal meanwhile must not remove the finished copy.
TEST(CleanupTest, BlockedInterruptWaitsForTheRenameAndTheRemoval) {
  TempDir dir;
  const std::string copy = dir / "copy";
  const std::string final = dir / "final";
  const int status = RunInChild([&] {
    WriteFile(copy, "complete");
    const int slot = ZnCleanupAddFile(copy.c_str());
    ZnInstallInterruptHandlers();
    ZnBlockInterrupts();
    ZnBlockInterrupts();  // nested: the outer block still holds
    raise(SIGINT);
    ZnUnblockInterrupts();
    if (rename(copy.c_str(), final.c_str()) != 0) _exit(4);
    // A file of the old name after the rename is not the copy's to lose.
    WriteFile(copy, "new");
    ZnCleanupRemoveFile(slot);
    ZnUnblockInterrupts();
    _exit(3);
  });
  EXPECT_TRUE(EndedBySignal(status, SIGINT)) << status;
  EXPECT_EQ(ReadFile(final), "complete");
  EXPECT_EQ(ReadFile(copy), "new");
}

// A child made by fork() alone inherits the list but must not clean up what
// belongs to its parent.
TEST(CleanupTest, ForkedChildLeavesItsParentsEntriesAlone) {
  TempDir dir;
  const std::string copy = dir / "copy";
  const int status = RunInChild([&] {
    WriteFile(copy, "x");
    ZnCleanupAddFile(copy.c_str());
    ZnInstallInterruptHandlers();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      raise(SIGTERM);
      _exit(5);
    }
    int inner = 0;
    waitpid(grandchild, &inner, 0);
    _exit(EndedBySignal(inner, SIGTERM) && Exists(copy) ? 0 : 6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(CleanupTest, FullTableRefusesAndFreedSlotsAreReused) {
  const int status = RunInChild([] {
    int slots[kCleanupFileSlots];
    for (int& slot : slots) {
      slot = ZnCleanupAddFile("/nonexistent/file");
      if (slot < 0) _exit(10);
    }
    if (ZnCleanupAddFile("/nonexistent/one-more") != -1) _exit(11);
    ZnCleanupRemoveFile(slots[3]);
    if (ZnCleanupAddFile("/nonexistent/one-more") != slots[3]) _exit(12);
    if (ZnCleanupAddFile(std::string(PATH_MAX, 'x').c_str()) != -1) _exit(13);
    if (ZnCleanupAddProcess(0) != -1) _exit(14);
    _exit(0);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
