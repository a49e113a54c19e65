#include "support/Unprivileged.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace testsupport {

namespace {

// Exit statuses of the child that runs the checks; a failed switch carries
// its errno above kSwitchFailed.
constexpr int kChecksFailed = 1;
constexpr int kSwitchFailed = 100;

// Ends a child of the test process without running the parent's exit hooks
// (gtest's own among them), once what it printed is out.
[[noreturn]] void EndChild(int status) {
  std::cout.flush();
  fflush(nullptr);
  _exit(status);
}

// Waits for a child; its exit status, or -1 when it did not exit.
int ExitStatus(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SwitchFailure(const UserIds& user, int error) {
  return "root here cannot become the unprivileged user " + std::to_string(user.uid) + ": " +
         strerror(error);
}

}  // namespace

bool RunningAsRoot() { return geteuid() == 0; }

UserIds UnprivilegedUser() {
  if (const struct passwd* nobody = getpwnam("nobody")) return {nobody->pw_uid, nobody->pw_gid};
  return {65534, 65534};
}

bool BecomeUser(const UserIds& user) {
  return setgroups(0, nullptr) == 0 && setgid(user.gid) == 0 && setuid(user.uid) == 0;
}

std::string WhyUserSwitchFails(const UserIds& user) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) EndChild(BecomeUser(user) ? 0 : kSwitchFailed + errno % 100);
  if (child < 0) return std::string("cannot start a process: ") + strerror(errno);
  const int status = ExitStatus(child);
  if (status == 0) return "";
  return SwitchFailure(user, status > kSwitchFailed ? status - kSwitchFailed : EPERM);
}

std::string RunWherePermissionsApply(const std::function<void()>& checks) {
  if (!RunningAsRoot()) {
    checks();
    return "";
  }
  const UserIds user = UnprivilegedUser();
  std::cout.flush();
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    if (!BecomeUser(user)) EndChild(kSwitchFailed + errno % 100);
    checks();
    EndChild(::testing::Test::HasFailure() ? kChecksFailed : 0);
  }
  if (child < 0) return std::string("cannot start a process: ") + strerror(errno);
  const int status = ExitStatus(child);
  if (status > kSwitchFailed) return SwitchFailure(user, status - kSwitchFailed);
  EXPECT_EQ(status, 0) << "the checks failed as user " << user.uid << " (printed above)";
  return "";
}

}  // namespace testsupport
