// The built command, ready to run where permissions apply: as the current
// user when that is not root; as root, as the unprivileged user
// (testsupport::UnprivilegedUser()) from a copy in a fresh directory of mode
// 0755, since the build tree may lie where that user cannot go (root's home, a
// directory of mode 0700). The command is linked statically against our
// libraries, so the copy runs anywhere; a sanitizer build finds its runtime in
// the system's library folder.
//
// The copy and its directory belong to the object and go with it. When the
// command cannot be run so, whyNot() says why and a test skips with it.
#ifndef HDRMEND_TESTS_APP_UNPRIVILEGEDCOMMAND_H_
#define HDRMEND_TESTS_APP_UNPRIVILEGEDCOMMAND_H_

#include <memory>
#include <string>

#include "app/CommandRunner.h"
#include "support/TestSupport.h"

class UnprivilegedCommand {
 public:
  explicit UnprivilegedCommand(const std::string& program);
  UnprivilegedCommand(const UnprivilegedCommand&) = delete;
  UnprivilegedCommand& operator=(const UnprivilegedCommand&) = delete;

  // "" when the command can run; else why not.
  const std::string& whyNot() const { return whyNot_; }
  // The path to run: the copy, or the program itself when no switch is needed.
  const std::string& program() const { return program_; }
  // The user's ids where the run must switch to them; -1 where it need not.
  int uid() const { return uid_; }
  int gid() const { return gid_; }
  // `options` with the user to run as, where a switch is needed.
  CommandOptions apply(CommandOptions options) const;

 private:
  std::unique_ptr<testsupport::TempDir> copyDir_;
  std::string program_;
  std::string whyNot_;
  int uid_ = -1;
  int gid_ = -1;
};

#endif  // HDRMEND_TESTS_APP_UNPRIVILEGEDCOMMAND_H_
