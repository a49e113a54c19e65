// The corrected copy end to end: made by the command alone, never through a
// name someone else put in its way, readable by nobody else while it is
// written, and given the recording's mode and owner only on its own
// descriptor.
//
// The copy's name holds the command's process id, so a hostile neighbour
// knows it in advance; the tests put things in its way once the process
// exists, before the command starts in it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "app/CommandRunner.h"
#include "app/FaultPoint.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"

namespace {

using testsupport::EndsWith;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string CopyName(const std::string& name, pid_t pid, const std::string& suffix = "") {
  const std::string id = "." + std::to_string(pid) + suffix;
  return EndsWith(name, ".gz") ? name.substr(0, name.size() - 3) + id + ".gz" : name + id;
}

class TemporaryCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    haveGzip_ = testsupport::HaveProgram("gzip") && testsupport::HaveProgram("gunzip");
  }

  std::string path(const std::string& name) const { return dir_ / name; }

  void Generate(const std::string& name) {
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_RDGEN,
                                 {"--frames", "3000", "--header-offset", "2", "--timecodes", name},
                                 options);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  TempDir dir_;
  bool haveGzip_ = false;
};

// A symbolic link (owned by another user where the test runs as root), a
// regular file and a named pipe planted at the copy's name: each is left
// exactly as it was, and the repair goes on under the next free name.
TEST_F(TemporaryCopyTest, WhatStandsAtTheCopysNameIsNeverTouched) {
  const bool root = testsupport::RunningAsRoot();
  const testsupport::UserIds other = testsupport::UnprivilegedUser();
  enum class Planted { kLink, kFile, kFifo };
  for (const char* name : {"take.raw", "take.raw.gz"}) {
    if (EndsWith(name, ".gz") && !haveGzip_) continue;
    for (Planted planted : {Planted::kLink, Planted::kFile, Planted::kFifo}) {
      SCOPED_TRACE(std::string(name) + ", planted " + std::to_string(static_cast<int>(planted)));
      Generate(name);
      ASSERT_EQ(chmod(path(name).c_str(), 0600), 0);
      // The file a link would lead the copy into: root's, mode 600.
      WriteFile(path("victim"), "secret\n");
      ASSERT_EQ(chmod(path("victim").c_str(), 0600), 0);
      std::string planted_name;

      CommandOptions options;
      options.directory = dir_.path();
      options.beforeStart = [&](pid_t pid) {
        planted_name = CopyName(name, pid);
        const std::string at = path(planted_name);
        switch (planted) {
          case Planted::kLink:
            ASSERT_EQ(symlink("victim", at.c_str()), 0);
            if (root) {
              ASSERT_EQ(lchown(at.c_str(), other.uid, other.gid), 0);
            }
            break;
          case Planted::kFile:
            WriteFile(at, "someone else's\n");
            break;
          case Planted::kFifo:
            ASSERT_EQ(mkfifo(at.c_str(), 0644), 0);
            break;
        }
      };
      CommandResult r = RunCommand(HDRMEND_BINARY, {name}, options);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.leftBehind, 0);

      // The victim as it was: content, owner, mode.
      struct stat victim;
      ASSERT_EQ(stat(path("victim").c_str(), &victim), 0);
      EXPECT_EQ(ReadFile(path("victim")), "secret\n");
      EXPECT_EQ(victim.st_mode & 07777, 0600u);
      EXPECT_EQ(victim.st_uid, getuid());
      // What was planted is still there, as it was.
      struct stat at;
      ASSERT_EQ(lstat(path(planted_name).c_str(), &at), 0);
      switch (planted) {
        case Planted::kLink:
          EXPECT_TRUE(S_ISLNK(at.st_mode));
          if (root) {
            EXPECT_EQ(at.st_uid, other.uid);
          }
          break;
        case Planted::kFile:
          EXPECT_EQ(ReadFile(path(planted_name)), "someone else's\n");
          break;
        case Planted::kFifo:
          EXPECT_TRUE(S_ISFIFO(at.st_mode));
          break;
      }
      // The recording was repaired and is a file of its own again, mode 600.
      struct stat recording;
      ASSERT_EQ(lstat(path(name).c_str(), &recording), 0);
      EXPECT_TRUE(S_ISREG(recording.st_mode));
      EXPECT_EQ(recording.st_mode & 07777, 0600u);
      EXPECT_EQ(testsupport::Listing(dir_.path()),
                std::set<std::string>({name, "victim", planted_name}));
      for (const std::string& left : testsupport::Listing(dir_.path())) unlink(path(left).c_str());
    }
  }
}

// The copy is 0600 from the moment it exists, however open the recording's
// own mode: seen half-way through the write.
TEST_F(TemporaryCopyTest, TheCopyIsOursAloneWhileItIsWritten) {
  for (const char* name : {"take.raw", "take.raw.gz"}) {
    if (EndsWith(name, ".gz") && !haveGzip_) continue;
    SCOPED_TRACE(name);
    Generate(name);
    ASSERT_EQ(chmod(path(name).c_str(), 0644), 0);
    const std::string written = EndsWith(name, ".gz") ? "/var/tmp/compofstream0." : path(name) + ".";
    FaultPoint stop("hdrmend", written, 20000, SIGSTOP);
    CommandOptions options;
    options.directory = dir_.path();
    options.env = stop.environment();
    mode_t seen = 07777;
    options.whenStopped = [&](pid_t pid) {
      struct stat copy;
      if (lstat(path(CopyName(name, pid)).c_str(), &copy) == 0) seen = copy.st_mode & 07777;
    };
    CommandResult r = RunCommand(HDRMEND_BINARY, {name}, options);
    ASSERT_EQ(stop.report(), stop.firedHere()) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(seen, 0600u);
    // The repaired recording has its own mode back.
    struct stat recording;
    ASSERT_EQ(stat(path(name).c_str(), &recording), 0);
    EXPECT_EQ(recording.st_mode & 07777, 0644u);
    unlink(path(name).c_str());
  }
}

}  // namespace
