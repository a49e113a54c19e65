// Tests of what permissions forbid, wherever the suite runs: as an ordinary
// user, permissions already apply to the test process itself; as root, they
// stop nobody, so the checks run in a child process switched to an
// unprivileged user. A test that cannot get either skips and says why.
#ifndef HDRMEND_TESTS_SUPPORT_UNPRIVILEGED_H_
#define HDRMEND_TESTS_SUPPORT_UNPRIVILEGED_H_

#include <sys/types.h>

#include <functional>
#include <string>

namespace testsupport {

struct UserIds {
  uid_t uid;
  gid_t gid;
};

// Whether this process has root's rights, which file permissions do not stop.
bool RunningAsRoot();

// The user root's tests switch to: "nobody" from the user database, or
// 65534 (its usual number) where there is no such entry.
UserIds UnprivilegedUser();

// Makes this process `user`, with no supplementary groups. False, with errno
// set, when this process may not.
bool BecomeUser(const UserIds& user);

// "" when a child of this process can become `user`; otherwise why not.
std::string WhyUserSwitchFails(const UserIds& user);

// Runs `checks` where permissions apply: right here when this process is not
// root; as root, in a child process that became UnprivilegedUser(). The
// child's failed assertions are printed as they happen and count here as one
// failure. Returns "" when the checks ran, else the reason they could not
// (the caller skips with it). Whatever the checks touch must be reachable by
// that user: a scratch directory of mode 0755, for example.
std::string RunWherePermissionsApply(const std::function<void()>& checks);

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SUPPORT_UNPRIVILEGED_H_
