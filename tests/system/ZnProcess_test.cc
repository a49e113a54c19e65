#include "system/ZnProcess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "system/SystemTestSupport.h"

namespace {

using testsupport::MessageTexts;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteExecutable;
using Texts = std::vector<std::string>;

std::string Text(const ZnStr& s) { return s.c_str(); }

TEST(ProcessTest, ErrorTextIsTheSystemsDescription) {
  char* text = ZnErrorText(ENOENT);
  EXPECT_STREQ(text, strerror(ENOENT));
  free(text);
  text = ZnErrorText(99999);
  EXPECT_STREQ(text, "Unknown error 99999");
  free(text);
}

TEST(ProcessTest, ProcessExistsOnlyForLiveProcesses) {
  EXPECT_TRUE(ZnProcessExists(getpid()));
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(ZnProcessExists(child));
  // These address process groups, which kill() would accept.
  EXPECT_FALSE(ZnProcessExists(0));
  EXPECT_FALSE(ZnProcessExists(-1));
}

TEST(ProcessTest, BootIdIsOneLineCutToTheBuffer) {
  char whole[64];
  int length = ZnReadBootId(whole, sizeof whole);
  if (length == 0) GTEST_SKIP() << "no boot id on this system";
  EXPECT_EQ(length, 37);  // a UUID and its newline
  EXPECT_EQ(whole[36], '\n');
  char part[10];
  EXPECT_EQ(ZnReadBootId(part, sizeof part), 9);
  EXPECT_EQ(std::string(part), std::string(whole, 9));
  EXPECT_EQ(ZnReadBootId(part, 1), 0);
}

TEST(TerminalTest, CommandTextByOptionsGiven) {
  EXPECT_EQ(Text(ZnTerminalCommand("make", "Build")),
            "rxvt -title \"Build\" -e sh -c 'make;echo \"Command COMPLETE\";read' &");
  EXPECT_EQ(Text(ZnTerminalCommand("make", "Build", "B")),
            "rxvt -title \"Build\" -n \"B\" -e sh -c 'make;echo \"Command COMPLETE\";read' &");
  EXPECT_EQ(Text(ZnTerminalCommand("ls -l", nullptr, "L")),
            "rxvt -n \"L\" -e sh -c 'ls -l;echo \"Command COMPLETE\";read' &");
  EXPECT_EQ(Text(ZnTerminalCommand("ls")), "rxvt -e sh -c 'ls;echo \"Command COMPLETE\";read' &");
}

// Titles and the command reach rxvt as they are, quotes and all: a stand-in
// rxvt lists the arguments it gets, one per line.
TEST(TerminalTest, QuotesInTitlesAndCommandReachTheTerminalUnchanged) {
  TempDir dir;
  std::string list = dir / "args";
  ASSERT_TRUE(WriteExecutable(dir / "rxvt", "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$ARGS\"\n"));
  ScopedEnv path("PATH", (dir.path() + ":/usr/bin:/bin").c_str());
  ScopedEnv args("ARGS", list.c_str());
  const std::string title = "it's \"$HOME\" `id` \\ done";
  const std::string icon = "a$(touch MARKER)";
  const std::string command = "echo 'one' \"$HOME\"";
  std::string text = Text(ZnTerminalCommand(command.c_str(), title.c_str(), icon.c_str()));
  ASSERT_EQ(text.substr(text.size() - 2), " &");
  // The text minus its "&", so that it runs to the end before we look.
  ASSERT_EQ(RunProgram({"sh", "-c", "cd " + dir.path() + " && " + text.substr(0, text.size() - 2)}),
            0);
  EXPECT_EQ(ReadFile(list), "-title\n" + title + "\n-n\n" + icon + "\n-e\nsh\n-c\n" + command +
                                ";echo \"Command COMPLETE\";read\n");
  EXPECT_FALSE(testsupport::Exists(dir / "MARKER"));
}

TEST(TerminalTest, MissingTerminalIsReported) {
  TempDir dir;
  ZnClearMessages();
  ScopedEnv path("PATH", dir.path().c_str());
  ZnRunInTerminal("make", "Build");
  EXPECT_EQ(
      MessageTexts(),
      Texts({"The command \"rxvt\" is required for this operation.  Install and try again."}));
  ZnClearMessages();
}

}  // namespace
