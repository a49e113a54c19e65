// The recording a run reads, opened once, by descriptor, and only when it is
// a regular file.
//
// A named pipe without a writer, a device or a socket would block the run or
// feed it without end, and a directory reads as nothing; so the name is
// looked at first and refused unless it leads to a regular file, and the
// descriptor opened then is checked again, so that a name swapped in between
// cannot slip through. Every pass reads the same file through that
// descriptor (through its decompressor for a compressed name), whatever
// happens to the name meanwhile.
//
// Failures are reported through the message list and answered with false.
#ifndef HDRMEND_APP_SOURCEFILE_H_
#define HDRMEND_APP_SOURCEFILE_H_

#include <sys/stat.h>

#include <memory>

#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDSalvage.h"

class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // The file a name stands for: a symbolic link is followed, so that the
  // file it leads to is read (and repaired) and the link stays a link.
  static ZnStr Followed(const char* path);
  // Asks open() to leave the file's access time as it was, where the user
  // may ask that of the system (the file's owner): a check leaves files
  // exactly as they were.
  void leaveAccessTime() { noAccessTime_ = true; }

  // Opens the file that `name` stands for: `name` itself, or its ".gz" or
  // ".Z" form when no file of that name exists (a symbolic link that leads
  // nowhere is refused, not passed over). Messages: those of ZnCanRead(), or
  // "\"<file>\" is a named pipe, not a regular file." (a character device, a
  // block device, a socket, a special file), or "<file> is a directory.", or
  // "\"<name>\" is a symbolic link to \"<target>\", which cannot be
  // followed." over the system's reason.
  bool open(const ZnStr& name);

  // A reader from the start of the file, for one pass. Its opening's
  // messages are pending when it failed.
  std::unique_ptr<ZrRDFileReader> reader();

  // Another reader of a plain file, on a stream of its own (a file
  // description of its own: the two may read at once, from threads of their
  // own), at its first frame; null for a compressed file.
  std::unique_ptr<ZrRDFileReader> secondReader();
  // Reads the file's bytes at an offset, for a plain file.
  ZrRDBytesAt bytesAt() const;

  // The file read (the compressed form when that is what exists).
  const ZnStr& path() const { return path_; }
  // Its status when it was opened: permission bits, owner, group, size.
  const struct stat& status() const { return status_; }
  int fd() const { return fd_; }

 private:
  ZnStr path_;
  int fd_ = -1;
  bool noAccessTime_ = false;
  // The second reader's own file description, while it lives.
  int secondFd_ = -1;
  struct stat status_ = {};
};

#endif  // HDRMEND_APP_SOURCEFILE_H_
