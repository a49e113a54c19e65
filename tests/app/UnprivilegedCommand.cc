#include "app/UnprivilegedCommand.h"

#include <sys/stat.h>

#include "support/Unprivileged.h"

using testsupport::TempDir;
using testsupport::UnprivilegedUser;
using testsupport::UserIds;

UnprivilegedCommand::UnprivilegedCommand(const std::string& program) : program_(program) {
  if (!testsupport::RunningAsRoot()) return;
  const UserIds user = UnprivilegedUser();
  whyNot_ = testsupport::WhyUserSwitchFails(user);
  if (!whyNot_.empty()) return;
  copyDir_ = std::make_unique<TempDir>();
  const std::string copy = *copyDir_ / "hdrmend";
  const std::string bytes = testsupport::ReadFile(program);
  if (copyDir_->path().empty() || bytes.empty() || chmod(copyDir_->path().c_str(), 0755) != 0 ||
      !testsupport::WriteFile(copy, bytes) || chmod(copy.c_str(), 0755) != 0) {
    whyNot_ = "cannot copy " + program + " where the unprivileged user can run it";
    return;
  }
  program_ = copy;
  uid_ = static_cast<int>(user.uid);
  gid_ = static_cast<int>(user.gid);
}

CommandOptions UnprivilegedCommand::apply(CommandOptions options) const {
  options.uid = uid_;
  options.gid = gid_;
  return options;
}
