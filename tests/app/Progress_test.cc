// The status line: on a terminal a phase longer than a second shows it and
// erases it before anything else is printed; anywhere else nothing but the
// command's own output appears. The command is paused by the fault library
// in the middle of its copy for longer than the second, so the phase is long
// on any machine.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "app/FaultPoint.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Frames out of the encoder's form are copied one by one, so the line is
    // redrawn as they go.
    CommandOptions options;
    options.directory = dir_.path();
    ASSERT_EQ(RunCommand(HDRMEND_RDGEN,
                         {"--format", "text", "--text-decimals", "--frames", "20000",
                          "--header-offset", "1", "take.txt"},
                         options)
                  .status,
              0);
  }

  std::vector<std::string> Environment(const FaultPoint& pause) {
    std::vector<std::string> env = pause.environment();
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    return env;
  }

  TempDir dir_;
};

TEST_F(ProgressTest, ShownOnATerminalOnlyAndErasedBeforeOtherOutput) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    GTEST_SKIP() << "no pseudo-terminal to be had here";
  }
  FaultPoint pause("hdrmend", dir_ / "take.txt.", 200000, SIGSTOP);
  const std::vector<std::string> env = Environment(pause);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    dup2(slave, 2);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(HDRMEND_BINARY), const_cast<char*>("take.txt"), nullptr};
    execve(HDRMEND_BINARY, argv, envp.data());
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  close(slave);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "the command never paused";
  // Longer than the second a phase must take before the line shows.
  usleep(1300 * 1000);
  kill(pid, SIGCONT);
  std::string shown;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the command has gone
    shown.append(buffer, static_cast<size_t>(n));
  }
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  EXPECT_EQ(pause.report(), pause.firedHere());
  // The count lines, then the line of the copy, erased at its end.
  EXPECT_EQ(shown.find("20001 frames specified in the file\r\n20000 frames actually in the file\r\n"),
            0u)
      << shown;
  EXPECT_NE(shown.find("\rtake.txt: copying "), std::string::npos) << shown;
  EXPECT_NE(shown.find("MB/s"), std::string::npos) << shown;
  EXPECT_TRUE(testsupport::EndsWith(shown, "\r\033[K")) << shown;
}

TEST_F(ProgressTest, NeverAnywhereElse) {
  FaultPoint pause("hdrmend", dir_ / "take.txt.", 200000, SIGSTOP);
  CommandOptions options;
  options.directory = dir_.path();
  options.env = pause.environment();
  options.whenStopped = [](pid_t) { usleep(1300 * 1000); };
  CommandResult r = RunCommand(HDRMEND_BINARY, {"take.txt"}, options);
  EXPECT_EQ(pause.report(), pause.firedHere());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "20001 frames specified in the file\n20000 frames actually in the file\n");
}

}  // namespace
