#include "app/FrameCountRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFramePasses.h"
#include "foundation/ZnSStream.h"
#include "system/ZnPathUtils.h"

namespace {

// The file to repair. A symbolic link is followed, so that the file it points
// to is repaired and the link stays a link.
ZnStr FileToRepair(const char* path) {
  struct stat status;
  if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) return ZnStr(resolved);
  }
  return ZnStr(path);
}

// The name of the copy: the file's name, a dot and the process id, with a
// compression extension kept last so that the copy is compressed the same way.
ZnStr TemporaryName(const ZnStr& name) {
  ZnStr extension;
  ZnOSStream os;
  if (ZnFindCompressionExtension(name, &extension)) {
    os << name.dropRight(extension.length() + 1) << "." << getpid() << "." << extension;
  } else {
    os << name << "." << getpid();
  }
  return ZnStr(os.str());
}

// Reports what kept a reader from opening its file or reading its header.
// The reader is closed first: a decompressor that failed (a compressed file
// cut inside its own header delivers nothing at all) then adds its report,
// which names the real cause. A decompressor stopped early on a file that is
// merely no recording ends on its broken pipe, which is no failure.
bool OpenFailed(ZrRDFileReader& reader) {
  if (ZnMessages.errorPending()) reader.close();
  return ZnFlushMessages();
}

// Refuses, without opening it, anything but a regular file (a symbolic link
// to one included): a directory reads as nothing, a named pipe without a
// writer or a device would block the run for good. A name that does not exist
// is left to the opening, which says so.
bool IsRegularFile(const ZnStr& name) {
  const ZnStr source = ZnCompressedVariant(name);
  struct stat status;
  if (stat(source.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return true;
  if (S_ISDIR(status.st_mode)) {
    // The text the file checks have always given a directory.
    ZnReportError("%s is a directory.", source.c_str());
    return false;
  }
  const char* kind = S_ISFIFO(status.st_mode)   ? "a named pipe"
                     : S_ISCHR(status.st_mode)  ? "a character device"
                     : S_ISBLK(status.st_mode)  ? "a block device"
                     : S_ISSOCK(status.st_mode) ? "a socket"
                                                : "a special file";
  ZnReportError("\"%s\" is %s, not a regular file.", source.c_str(), kind);
  return false;
}

// Makes the copy carry the permission bits, owner and group of the file it
// replaces. Changing the owner fails without privileges; that is no reason to
// give up the repair.
void CopyOwnership(const ZnStr& from, const ZnStr& to) {
  struct stat status;
  if (stat(ZnCompressedVariant(from).c_str(), &status) != 0) return;
  if (chown(to.c_str(), status.st_uid, status.st_gid) != 0) {
    // Keep at least the group where that is allowed.
    if (chown(to.c_str(), static_cast<uid_t>(-1), status.st_gid) != 0) {
    }
  }
  chmod(to.c_str(), status.st_mode & 07777);
}

// Flushes a file (or directory) to stable storage.
bool SyncToDisk(const char* path, bool directory) {
  int fd = open(path, O_RDONLY | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

// Starts the disk writes of the copy while it is still being written, so that
// the flush before the rename finds little left to do. A hint only: what
// fails here is left to the flush, which reports. The copy of a compressed
// file is created by its compressor, perhaps a moment after the writer
// opened; until then there is nothing to start.
class EarlyWriteback {
 public:
  explicit EarlyWriteback(const ZnStr& path) : path_(path) {}
  ~EarlyWriteback() {
    if (fd_ >= 0) close(fd_);
  }
  EarlyWriteback(const EarlyWriteback&) = delete;
  EarlyWriteback& operator=(const EarlyWriteback&) = delete;

  // Call once per frame written.
  void frameWritten() {
    if (++frames_ % kFramesPerStart != 0) return;
    if (fd_ < 0) fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

 private:
  // A few megabytes of frames.
  static constexpr int kFramesPerStart = 4096;
  ZnStr path_;
  int fd_ = -1;
  int frames_ = 0;
};

// Ends a failed repair after the copy was begun: the incomplete copy goes and
// the file named on the command line stays as it was. Both files are closed
// first, for two reasons: a filter that died is only reported when its stream
// is closed, and it is usually the real cause (a write into a dead compressor
// fails with no more than "Broken pipe"); and the copy must not be removed
// before its compressor has ended, whose shell may not even have created it
// yet. A failure to write the copy says so on top of its cause.
int Abandon(ZrRDFileWriter& writer, ZrRDFileReader& reader, const ZnStr& temporary,
            const ZnStr& name, bool writeFailed) {
  writer.close();
  reader.close();
  if (writeFailed) {
    ZnReportError("Unable to repair \"%s\".  The file was not changed.", name.c_str());
  }
  ZnFlushMessages();
  unlink(temporary.c_str());
  return 1;
}

}  // namespace

int RepairFrameCount(const char* program, const char* path) {
  const ZnStr name = FileToRepair(path);
  if (!IsRegularFile(name)) {
    ZnFlushMessages();
    return 1;
  }
  ZrRDFormat format;
  int specified = 0;
  int64_t counted = 0;
  {
    ZrRDFileReader reader(name.c_str());
    if (OpenFailed(reader)) return 1;
    format = reader.isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
    specified = reader.frameCount();
    const ZrRDCountEnd end = ZrRDCountFrames(reader, &counted);
    const bool whole = end == ZrRDCountEnd::kClean;
    if (!whole) {
      // A frame that could not be read says why; damage where the data
      // should have ended, or too many frames, say what the repair did not.
      if (end != ZrRDCountEnd::kFrameDamaged) {
        ZnReportError("Unable to repair \"%s\".  The file was not changed.", name.c_str());
      }
      // A decompressor that failed is the real cause of what it delivered:
      // all of its data is read, so that closing learns its verdict.
      reader.drain();
    }
    // Closing tells whether a decompressor delivered all of its data; a
    // truncated compressed file must not be taken for a short recording.
    reader.close();
    if (ZnFlushMessages() || !whole) return 1;
  }

  std::cerr << specified << " frames specified in the file\n";
  std::cerr << counted << " frames actually in the file\n";
  if (specified == counted) return 0;

  ZrRDFileReader reader(name.c_str());
  if (OpenFailed(reader)) return 1;

  const ZnStr temporary = TemporaryName(name);
  ZrRDFileWriter writer(temporary.c_str(), counted, reader.cameraCount(), format);
  if (ZnMessages.errorPending()) return Abandon(writer, reader, temporary, name, false);

  // The frames go from the reader to the writer as they are read, already
  // encoded: what reads back the same is taken as it is, frame headers
  // (timecodes of any rate) as they stand.
  EarlyWriteback writeback(temporary);
  if (!ZrRDCopyFrames(reader, writer, counted, [&](int64_t) { writeback.frameWritten(); })) {
    return Abandon(writer, reader, temporary, name, !writer.isOpen());
  }
  // The copy is complete only when its compressor, if any, has finished.
  writer.close();
  if (ZnMessages.errorPending()) return Abandon(writer, reader, temporary, name, true);
  reader.close();
  if (ZnMessages.errorPending()) return Abandon(writer, reader, temporary, name, false);

  CopyOwnership(name, temporary);
  if (!SyncToDisk(temporary.c_str(), false)) {
    ZnReportError("Unable to flush \"%s\" to disk: %s.", temporary.c_str(), strerror(errno));
    return Abandon(writer, reader, temporary, name, true);
  }
  if (rename(temporary.c_str(), name.c_str()) != 0) {
    ZnOSStream text;
    text << program << ":rename " << temporary << " to " << name;
    perror(text.str());
    return 1;
  }
  // Make the rename itself durable, so that a crash now cannot bring back the
  // old directory entry without the new one.
  ZnStr directory = ZnDirName(name);
  if (directory.length() == 0) directory = ".";
  if (!SyncToDisk(directory.c_str(), true)) {
    ZnReportWarning("Unable to flush the directory \"%s\" to disk.", directory.c_str());
    ZnFlushMessages();
  }
  return 0;
}
