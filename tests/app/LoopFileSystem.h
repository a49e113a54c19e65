// A small file system made on a file in a scratch directory and mounted
// through a loop device, for the tests that need what a real one does:
// extents shared between files, a disk that fills up.
//
// Making one needs root, loop devices, the file system's mkfs program and
// the right to mount; whyNot() says which is missing, for the test to skip
// with. The object undoes all it did when it goes, a failed test included:
// unmounted, the loop device detached, the files removed.
#ifndef HDRMEND_TESTS_APP_LOOPFILESYSTEM_H_
#define HDRMEND_TESTS_APP_LOOPFILESYSTEM_H_

#include <string>

#include "support/TestSupport.h"

class LoopFileSystem {
 public:
  // `type` is "xfs" (made with reflink), "btrfs" or "ext4"; `megabytes` its
  // size (mkfs.xfs takes 300 and more, mkfs.btrfs 114).
  LoopFileSystem(const std::string& type, int megabytes);
  ~LoopFileSystem();
  LoopFileSystem(const LoopFileSystem&) = delete;
  LoopFileSystem& operator=(const LoopFileSystem&) = delete;

  // "" when mounted; else why not.
  const std::string& whyNot() const { return whyNot_; }
  // A name in the mounted file system (whose top is of mode 0755).
  std::string operator/(const std::string& name) const { return mount_ + "/" + name; }
  // The bytes an ordinary user may still take, once everything written is
  // on the disk.
  long long freeBytes() const;
  // Takes all but `bytes` of the free space with a file of its own.
  bool fillLeaving(long long bytes) const;

 private:
  testsupport::TempDir dir_;
  std::string mount_;
  std::string device_;
  bool mounted_ = false;
  std::string whyNot_;
};

#endif  // HDRMEND_TESTS_APP_LOOPFILESYSTEM_H_
