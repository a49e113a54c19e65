#include "system/ZnFileUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "support/Unprivileged.h"
#include "system/SystemTestSupport.h"

namespace {

using testsupport::Exists;
using testsupport::MessageTexts;
using testsupport::ReadFile;
using testsupport::RunWherePermissionsApply;
using testsupport::TempDir;
using testsupport::WriteFile;
using Texts = std::vector<std::string>;

std::string Text(const ZnStr& s) { return s.c_str(); }

class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ZnClearMessages();
  }
  void TearDown() override { ZnClearMessages(); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  TempDir dir_;
};

// Permissions do not stop root: as root, these checks run as an unprivileged
// user, who must reach the scratch directory.
#define AS_UNPRIVILEGED_USER(checks)                                      \
  do {                                                                    \
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);                       \
    const std::string whyNot = RunWherePermissionsApply([&] { checks; }); \
    if (!whyNot.empty()) GTEST_SKIP() << whyNot;                          \
  } while (false)

TEST_F(FileUtilsTest, PlainTestsByKindOfFile) {
  WriteFile(Path("file"), "12345");
  WriteFile(Path("tool"), "#!/bin/sh\n");
  chmod(Path("tool").c_str(), 0750);
  WriteFile(Path("others-only"), "");
  chmod(Path("others-only").c_str(), 0601);
  mkdir(Path("dir").c_str(), 0755);
  mkfifo(Path("fifo").c_str(), 0600);
  symlink(Path("file").c_str(), Path("link").c_str());
  symlink(Path("missing").c_str(), Path("dangling").c_str());
  struct Case {
    std::string path;
    bool exists, directory, pipe, fileOrDirectory, executableFile;
    int64_t size;
  };
  const Case cases[] = {
      {Path("file"), true, false, false, true, false, 5},
      {Path("tool"), true, false, false, true, true, 10},
      {Path("others-only"), true, false, false, true, false, 0},
      {Path("dir"), true, true, false, true, false, -1},
      {Path("fifo"), true, false, true, false, false, 0},
      {Path("link"), true, false, false, true, false, 5},
      {Path("dangling"), false, false, false, false, false, 0},
      {Path("missing"), false, false, false, false, false, 0},
      {"/dev/null", true, false, false, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const char* p = c.path.c_str();
    EXPECT_EQ(ZnFileExists(p), c.exists);
    EXPECT_EQ(ZnIsDirectory(p), c.directory);
    EXPECT_EQ(ZnIsNamedPipe(p), c.pipe);
    EXPECT_EQ(ZnIsFileOrDirectory(p), c.fileOrDirectory);
    EXPECT_EQ(ZnIsExecutableFile(p), c.executableFile);
    if (c.size >= 0) {
      EXPECT_EQ(ZnFileSize(p), c.size);
    }
  }
  EXPECT_FALSE(ZnFileExists(nullptr));
  EXPECT_FALSE(ZnIsDirectory(nullptr));
}

TEST_F(FileUtilsTest, CanReadExplainsWhyNot) {
  WriteFile(Path("file"), "x");
  EXPECT_TRUE(ZnCanRead(Path("file").c_str()));
  EXPECT_EQ(MessageTexts(), Texts());

  EXPECT_FALSE(ZnCanRead(dir_.path().c_str()));
  EXPECT_EQ(MessageTexts(), Texts({dir_.path() + " is a directory."}));

  ZnClearMessages();
  EXPECT_FALSE(ZnCanRead(Path("missing").c_str()));
  EXPECT_EQ(MessageTexts(),
            Texts({"File does not exist.", "Unable to open \"" + Path("missing") + "\"."}));
}

TEST_F(FileUtilsTest, CanReadRefusesAFileWithoutReadPermission) {
  WriteFile(Path("secret"), "x");
  chmod(Path("secret").c_str(), 0200);
  AS_UNPRIVILEGED_USER({
    EXPECT_FALSE(ZnCanRead(Path("secret").c_str()));
    EXPECT_EQ(MessageTexts(), Texts({"Insufficient access to read file.  Check permissions.",
                                     "Unable to read \"" + Path("secret") + "\"."}));
  });
}

TEST_F(FileUtilsTest, CanReadCompressedAcceptsACompressedForm) {
  WriteFile(Path("run.raw.gz"), "x");
  EXPECT_TRUE(ZnCanReadCompressed(Path("run.raw").c_str()));
  EXPECT_FALSE(ZnCanReadCompressed(Path("other.raw").c_str()));
  EXPECT_EQ(MessageTexts(),
            Texts({"File does not exist.", "Unable to open \"" + Path("other.raw") + "\"."}));
}

TEST_F(FileUtilsTest, CanWriteExplainsWhyNot) {
  WriteFile(Path("existing"), "x");
  EXPECT_TRUE(ZnCanWrite(Path("existing").c_str()));
  EXPECT_TRUE(ZnCanWrite(Path("new").c_str()));
  EXPECT_EQ(MessageTexts(), Texts());

  EXPECT_FALSE(ZnCanWrite("/no/such/dir/f"));
  EXPECT_EQ(MessageTexts(), Texts({"Parent directory \"/no/such/dir\" does not exist.",
                                   "File \"/no/such/dir/f\" is unwritable."}));

  ZnClearMessages();
  EXPECT_FALSE(ZnCanWrite(dir_.path().c_str()));
  EXPECT_EQ(MessageTexts(),
            Texts({"File is a directory.", "File \"" + dir_.path() + "\" is unwritable."}));
}

TEST_F(FileUtilsTest, CanWriteTakesABareNameFromTheCurrentDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_TRUE(ZnCanWrite("newfile"));
  // In a directory that was removed no file can be made, and the current
  // directory has no name left to report.
  mkdir("gone", 0755);
  ASSERT_EQ(chdir("gone"), 0);
  rmdir(Path("gone").c_str());
  bool canWrite = ZnCanWrite("newfile");
  ASSERT_EQ(chdir(cwd), 0);
  if (!canWrite) {
    EXPECT_EQ(MessageTexts().back(), "File \"newfile\" is unwritable.");
  }
}

TEST_F(FileUtilsTest, CanWriteRefusesReadOnlyFilesAndDirectories) {
  WriteFile(Path("readonly"), "x");
  chmod(Path("readonly").c_str(), 0444);
  mkdir(Path("locked").c_str(), 0555);
  AS_UNPRIVILEGED_USER({
    EXPECT_FALSE(ZnCanWrite(Path("readonly").c_str()));
    EXPECT_EQ(MessageTexts(),
              Texts({"Insufficient access to write to existing file.  Check permissions.",
                     "File \"" + Path("readonly") + "\" is unwritable."}));
    ZnClearMessages();
    EXPECT_FALSE(ZnCanWrite(Path("locked/new").c_str()));
    EXPECT_EQ(MessageTexts(), Texts({"Insufficient access to create file in \"" + Path("locked") +
                                         "\".  Check permissions.",
                                     "File \"" + Path("locked/new") + "\" is unwritable."}));
  });
}

TEST_F(FileUtilsTest, MakeDirectoryCreatesTheMissingParents) {
  ZnStr failure;
  EXPECT_TRUE(ZnMakeDirectory(Path("p/q/r").c_str(), &failure));
  EXPECT_TRUE(ZnIsDirectory(Path("p/q/r").c_str()));
  EXPECT_TRUE(ZnMakeDirectory(Path("p/q").c_str(), &failure));  // already there
  EXPECT_TRUE(failure.isNull());

  WriteFile(Path("file"), "x");
  EXPECT_FALSE(ZnMakeDirectory(Path("file/sub/dir").c_str(), &failure));
  EXPECT_EQ(Text(failure), Path("file") + " already exists, but is not a directory.");
  EXPECT_FALSE(ZnMakeDirectory(Path("file").c_str()));
}

TEST_F(FileUtilsTest, MakeDirectoryInAnUnwritableParentSaysSo) {
  mkdir(Path("locked").c_str(), 0555);
  AS_UNPRIVILEGED_USER({
    ZnStr failure;
    EXPECT_FALSE(ZnMakeDirectory(Path("locked/new").c_str(), &failure));
    EXPECT_EQ(Text(failure), Path("locked") + " is not writable.");
  });
}

TEST_F(FileUtilsTest, CopyFileCopiesEverything) {
  struct Case {
    const char* what;
    std::string data;
  };
  std::string big;
  for (int i = 0; big.size() < 200000; ++i) big += std::to_string(i) + ",";
  const Case cases[] = {{"empty", ""}, {"small", "abc\n"}, {"several blocks", big}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(Path("src"), c.data);
    WriteFile(Path("dst"), std::string(300000, 'x'));  // longer than any source
    EXPECT_TRUE(ZnCopyFile(Path("src").c_str(), Path("dst").c_str()));
    EXPECT_EQ(ReadFile(Path("dst")), c.data);
  }
  EXPECT_EQ(MessageTexts(), Texts());
}

TEST_F(FileUtilsTest, CopyFileReportsWhatWentWrong) {
  WriteFile(Path("src"), "data");
  struct Case {
    std::string source, destination, message;
  };
  const Case cases[] = {
      {Path("missing"), Path("dst"), "Couldn't open " + Path("missing")},
      {Path("src"), Path("no/dir/dst"), "Couldn't create " + Path("no/dir/dst")},
      {dir_.path(), Path("dst"), "Couldn't read " + dir_.path()},
      {Path("src"), "/dev/full", "Couldn't write /dev/full"},
      // Truncating the destination first would destroy the source.
      {Path("src"), Path("src"), "Couldn't copy " + Path("src") + " onto itself"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ZnClearMessages();
    EXPECT_FALSE(ZnCopyFile(c.source.c_str(), c.destination.c_str()));
    EXPECT_EQ(MessageTexts(), Texts({c.message}));
  }
  EXPECT_EQ(ReadFile(Path("src")), "data");
}

TEST_F(FileUtilsTest, ExecutablePathNamesThisProgram) {
  std::string path = Text(ZnExecutablePath());
  EXPECT_EQ(path.substr(0, 1), "/");
  EXPECT_NE(path.find("_tests"), std::string::npos) << path;
  EXPECT_TRUE(ZnIsExecutableFile(path.c_str()));
}

TEST_F(FileUtilsTest, ModificationTimeOfAFileOrItsCompressedForm) {
  auto setTime = [](const std::string& path, time_t seconds) {
    struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    return utimes(path.c_str(), times) == 0;
  };
  WriteFile(Path("plain"), "x");
  ASSERT_TRUE(setTime(Path("plain"), 1000000000));
  EXPECT_EQ(ZnFileModificationTime(Path("plain").c_str(), false), 1000000000);
  WriteFile(Path("run.raw.gz"), "x");
  ASSERT_TRUE(setTime(Path("run.raw.gz"), 1234567890));
  EXPECT_EQ(ZnFileModificationTime(Path("run.raw").c_str(), true), 1234567890);
  EXPECT_EQ(ZnFileModificationTime(Path("run.raw").c_str(), false), 0);
  EXPECT_EQ(ZnFileModificationTime(Path("missing").c_str(), true), 0);
}

}  // namespace
