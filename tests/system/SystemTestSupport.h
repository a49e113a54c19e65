// Helpers for tests that run programs and read the messages they leave, on
// top of the helpers every test folder shares.
#ifndef HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_
#define HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// The pending messages, oldest first, as reported.
inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> newestFirst = PendingMessages();
  return std::vector<std::string>(newestFirst.rbegin(), newestFirst.rend());
}

inline bool WriteExecutable(const std::string& path, const std::string& text) {
  return WriteFile(path, text) && chmod(path.c_str(), 0755) == 0;
}

// Runs a program found on PATH with its standard input and output redirected
// to files (empty: inherited); its exit status, or -1 when it did not exit.
inline int RunProgram(const std::vector<std::string>& args, const std::string& input = "",
                      const std::string& output = "") {
  pid_t pid = fork();
  if (pid == 0) {
    if (!input.empty()) {
      int fd = open(input.c_str(), O_RDONLY);
      if (fd < 0 || dup2(fd, 0) < 0) _exit(126);
    }
    if (!output.empty()) {
      int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    }
    // Programs that fail on purpose in tests would only add noise.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_
