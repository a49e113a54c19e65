#include "app/LoopFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

#include "app/CommandRunner.h"

namespace {

// A system program: on PATH, or where Debian keeps those for root.
std::string SystemProgram(const std::string& name) {
  const std::string found = testsupport::FindProgram(name);
  if (!found.empty()) return found;
  for (const char* dir : {"/usr/sbin/", "/sbin/"}) {
    if (access((dir + name).c_str(), X_OK) == 0) return dir + name;
  }
  return "";
}

// Runs a program to its end; "" when it succeeded, else what it said.
std::string Run(const std::string& program, const std::vector<std::string>& args,
                std::string* out = nullptr) {
  const CommandResult r = RunCommand(program, args);
  if (out != nullptr) *out = r.out;
  return r.status == 0 ? "" : program + " failed: " + r.err;
}

}  // namespace

LoopFileSystem::LoopFileSystem(const std::string& type, int megabytes) {
  const std::string mkfs = SystemProgram("mkfs." + type);
  const std::string losetup = SystemProgram("losetup");
  if (geteuid() != 0) {
    whyNot_ = "making and mounting a file system needs root";
  } else if (access("/dev/loop-control", F_OK) != 0) {
    whyNot_ = "no loop devices here (/dev/loop-control)";
  } else if (mkfs.empty() || losetup.empty()) {
    whyNot_ = "mkfs." + type +
              " or losetup is not installed (tools/install-deps --with-filesystems installs them)";
  }
  if (!whyNot_.empty()) return;
  const std::string image = dir_ / "image";
  const int fd = open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  const bool sized = fd >= 0 && ftruncate(fd, static_cast<off_t>(megabytes) << 20) == 0;
  if (fd >= 0) close(fd);
  if (!sized) {
    whyNot_ = "cannot make the image " + image;
    return;
  }
  std::vector<std::string> options = {"-q"};
  if (type == "xfs") options = {"-q", "-m", "reflink=1"};
  if (type == "ext4") options = {"-q", "-F"};
  options.push_back(image);
  std::string device;
  whyNot_ = Run(mkfs, options);
  if (whyNot_.empty()) whyNot_ = Run(losetup, {"--find", "--show", image}, &device);
  if (!whyNot_.empty()) return;
  device_ = device.substr(0, device.find('\n'));
  mount_ = dir_ / "mount";
  mkdir(mount_.c_str(), 0755);
  whyNot_ = Run(SystemProgram("mount"), {"-t", type, device_, mount_});
  mounted_ = whyNot_.empty();
  if (mounted_) chmod(mount_.c_str(), 0755);
}

LoopFileSystem::~LoopFileSystem() {
  if (mounted_ && !Run(SystemProgram("umount"), {mount_}).empty()) {
    // Something still holds it: it goes once that lets go.
    Run(SystemProgram("umount"), {"-l", mount_});
  }
  if (!device_.empty()) Run(SystemProgram("losetup"), {"-d", device_});
}

long long LoopFileSystem::freeBytes() const {
  sync();
  struct statvfs fs;
  if (statvfs(mount_.c_str(), &fs) != 0) return -1;
  return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

bool LoopFileSystem::fillLeaving(long long bytes) const {
  const int fd = open((*this / "filler").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  const bool filled = posix_fallocate(fd, 0, static_cast<off_t>(freeBytes() - bytes)) == 0;
  close(fd);
  return filled;
}
