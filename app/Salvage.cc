#include "app/Salvage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "app/FrameCountRepair.h"
#include "app/Progress.h"
#include "app/Refusal.h"
#include "app/SourceFile.h"
#include "app/TemporaryCopy.h"
#include "foundation/ZnMessage.h"
#include "foundation/ZnSStream.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFramePasses.h"
#include "rawdata/ZrRDSalvage.h"
#include "system/ZnCleanup.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// The name the original is kept under: the base name and ".orig", with a
// compression extension kept last (take.raw.orig, take.raw.orig.gz).
ZnStr OriginalName(const ZnStr& name) {
  ZnStr extension;
  ZnOSStream os;
  if (ZnFindCompressionExtension(name, &extension)) {
    os << name.dropRight(extension.length() + 1) << ".orig." << extension;
  } else {
    os << name << ".orig";
  }
  return ZnStr(os.str());
}

// The original's bytes kept under `kept` before the recording is replaced:
// a hard link to it (no space, no copy), or where the file system or its
// rules refuse one (fs.protected_hardlinks for a user who does not own the
// recording), a flushed copy made exclusively. Until the recording is
// replaced, the kept original is registered for removal on interrupt, from
// before it exists: the link's identity is the recording's, known
// beforehand; the copy is created and registered with interrupts held off.
// Either goes only while its name still leads to what was made here.
class KeptOriginal {
 public:
  ~KeptOriginal() { undo(); }

  bool keep(const ZnStr& kept, const SourceFile& source) {
    name_ = kept;
    // The link is made to the file that was read, through its descriptor,
    // whatever its name leads to by now.
    const std::string opened = "/proc/self/fd/" + std::to_string(source.fd());
    ZnBlockInterrupts();
    claim(source.status().st_dev, source.status().st_ino);
    const bool linked =
        linkat(AT_FDCWD, opened.c_str(), AT_FDCWD, kept.c_str(), AT_SYMLINK_FOLLOW) == 0;
    const int error = errno;
    if (!linked) forget();
    ZnUnblockInterrupts();
    if (linked) return true;
    if (error == EEXIST) return refuseExisting();
    return copy(source);
  }

  // The recording has been replaced: the kept original stays for good.
  void settle() { forget(); }

  // The recording stays as it was: the kept original goes, if it is still
  // the file made here.
  void undo() {
    if (!made_) return;
    struct stat status;
    if (lstat(name_.c_str(), &status) == 0 && status.st_dev == device_ &&
        status.st_ino == inode_) {
      unlink(name_.c_str());
    }
    forget();
  }

 private:
  void claim(dev_t device, ino_t inode) {
    device_ = device;
    inode_ = inode;
    made_ = true;
    slot_ = ZnCleanupAddFile(name_.c_str(), device_, inode_);
  }

  void forget() {
    ZnCleanupRemoveFile(slot_);
    slot_ = -1;
    made_ = false;
  }

  bool refuseExisting() {
    ZnReportError("\"%s\" exists; the original cannot be kept there.", name_.c_str());
    return false;
  }

  bool copy(const SourceFile& source) {
    ZnBlockInterrupts();
    const int fd = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int error = errno;
    struct stat made;
    if (fd >= 0 && fstat(fd, &made) == 0) claim(made.st_dev, made.st_ino);
    ZnUnblockInterrupts();
    if (fd < 0) {
      if (error == EEXIST) return refuseExisting();
      return fail(error, -1);
    }
    if (!made_) {
      // Created here a moment ago, and not to be told apart from another
      // file of that name: removed by name.
      const int unknown = errno;
      close(fd);
      unlink(name_.c_str());
      return fail(unknown, -1);
    }
    loff_t from = 0;
    for (;;) {
      const ssize_t n = copy_file_range(source.fd(), &from, fd, nullptr, 1 << 30, 0);
      if (n == 0) break;
      if (n < 0) return fail(errno, fd);
    }
    const struct stat& like = source.status();
    if (fchown(fd, like.st_uid, like.st_gid) != 0 &&
        fchown(fd, static_cast<uid_t>(-1), like.st_gid) != 0) {
    }
    if (fchmod(fd, like.st_mode & 07777) != 0 || fsync(fd) != 0) return fail(errno, fd);
    close(fd);
    return true;
  }

  bool fail(int error, int fd) {
    if (fd >= 0) {
      close(fd);
      undo();
    }
    char* text = ZnErrorText(error);
    ZnReportError("%s.", text != nullptr ? text : "Unknown error");
    free(text);
    ZnReportError("Unable to keep the original as \"%s\".", name_.c_str());
    return false;
  }

  ZnStr name_;
  bool made_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int slot_ = -1;
};

}  // namespace

RepairOutcome SalvageRecording(const char* program, const char* path) {
  const auto refuse = [path] {
    PrintRefusal("salvage", path);
    return RepairOutcome::kRefused;
  };
  const ZnStr name = SourceFile::Followed(path);
  SourceFile source;
  if (!source.open(name)) return refuse();
  // The original is replaced, so it is kept first; unless what was read is
  // the compressed form of a plain name, which stays as it is.
  const bool replacesOriginal = source.path() == name;
  const ZnStr kept = OriginalName(name);
  if (replacesOriginal && !TemporaryCopy::NameFits(kept)) {
    ZnReportError(ZnStr("The original cannot be kept as \"") + ZnBaseName(kept) +
                  "\": the name is longer than the file system takes.");
    return refuse();
  }
  const bool compressed = ZnFindCompressionExtension(source.path());
  {
    // A recording the repair can read whole is repaired as the repair does
    // it: no frame is judged by the salvage's stricter eye.
    std::unique_ptr<ZrRDFileReader> reader = source.reader();
    int64_t counted = 0;
    const bool whole = !ZnMessages.errorPending() &&
                       ZrRDCountFrames(*reader, &counted) == ZrRDCountEnd::kClean;
    if (whole) reader->drain();
    const bool sound = reader->close();
    ZnClearMessages();
    if (whole && sound) return RepairFrameCount(program, path, true);
  }
  ZrRDSalvagePlan plan;
  int specified = 0;
  bool binary = false;
  int cameras = 0;
  std::string decompressorFailure;
  {
    std::unique_ptr<ZrRDFileReader> reader = source.reader();
    if (ZnMessages.errorPending()) {
      // No file header, nothing to salvage.
      reader->close();
      return refuse();
    }
    specified = reader->frameCount();
    binary = reader->isBinary();
    cameras = reader->cameraCount();
    const int fd = source.fd();
    const ZrRDBytesAt bytesAt = source.bytesAt();
    Progress& progress = Progress::standardError();
    progress.begin(name.c_str(), "looking for the frames that read whole",
                   [fd] { return static_cast<int64_t>(lseek(fd, 0, SEEK_CUR)); },
                   source.status().st_size);
    const bool planned = ZrRDPlanSalvage(*reader, compressed ? ZrRDBytesAt() : bytesAt, &plan);
    progress.end();
    if (!planned) {
      reader->close();
      return refuse();
    }
    // A decompressor that failed lost what it did not deliver, even where
    // the frames it delivered end cleanly.
    const ZnMessage* mark = ZnMessages.first();
    if (!reader->close() && ZnMessages.errorPending()) {
      decompressorFailure = ZnMessages.first()->text().c_str();
      if (!decompressorFailure.empty() && decompressorFailure.back() == '.') {
        decompressorFailure.pop_back();
      }
    }
    ZnMessages.removeNewerThan(mark);
  }
  // An undamaged recording is repaired as the repair does it.
  if (plan.dropped.empty() && decompressorFailure.empty()) {
    return RepairFrameCount(program, path, true);
  }
  if (plan.frames == 0) {
    ZnReportError("No frame of \"%s\" reads whole.", source.path().c_str());
    return refuse();
  }
  struct stat existing;
  if (replacesOriginal && lstat(kept.c_str(), &existing) == 0) {
    ZnReportError("\"%s\" exists; the original cannot be kept there.", kept.c_str());
    return refuse();
  }

  std::cerr << specified << " frames specified in the file\n";
  std::cerr << plan.frames << " frames actually in the file\n";
  for (const ZrRDDroppedStretch& dropped : plan.dropped) {
    std::cerr << "Dropped bytes " << dropped.start << " to " << dropped.end << " ("
              << dropped.end - dropped.start << " bytes) after " << dropped.framesBefore
              << " frames kept: " << dropped.reason << ".\n";
  }
  if (!decompressorFailure.empty()) {
    std::cerr << "Dropped what the decompressor did not deliver after byte " << plan.end << ": "
              << decompressorFailure << ".\n";
  }

  std::unique_ptr<ZrRDFileReader> reader = source.reader();
  TemporaryCopy copy;
  if (ZnMessages.errorPending() || !copy.create(name)) {
    reader->close();
    return refuse();
  }
  const ZrRDFormat format = binary ? ZrRDFormat::Binary : ZrRDFormat::Text;
  bool written = false;
  {
    ZrRDFileWriter writer(copy.fd(), copy.name().c_str(), static_cast<int>(plan.frames), cameras,
                          format);
    Progress& progress = Progress::standardError();
    const int copyFd = copy.fd();
    progress.begin(name.c_str(), "copying",
                   [copyFd] { return static_cast<int64_t>(lseek(copyFd, 0, SEEK_CUR)); },
                   source.status().st_size);
    written = !ZnMessages.errorPending() &&
              ZrRDCopySalvaged(*reader, writer, plan, [&progress](int64_t) { progress.tick(); });
    progress.end();
    written = writer.close() && written;
  }
  // The decompressor of a damaged file fails again, or ends on the pipe
  // closed early: neither is news.
  const ZnMessage* mark = ZnMessages.first();
  reader->close();
  if (written) ZnMessages.removeNewerThan(mark);
  if (!written || !copy.finish(source.status())) {
    copy.discard();
    return refuse();
  }

  KeptOriginal original;
  if (replacesOriginal && !original.keep(kept, source)) {
    copy.discard();
    return refuse();
  }
  // The copy takes the recording's place and the kept original stays, both
  // or neither, whatever signal comes.
  ZnBlockInterrupts();
  const bool replaced = copy.commit(program);
  if (replaced) original.settle();
  ZnUnblockInterrupts();
  if (!replaced) return refuse();
  ZnStr directory = ZnDirName(name);
  if (directory.length() == 0) directory = ".";
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    ZnReportWarning("Unable to flush the directory \"%s\" to disk.", directory.c_str());
    ZnFlushMessages();
  }
  if (fd >= 0) close(fd);
  if (replacesOriginal) {
    std::cerr << "The original was kept as \"" << kept.c_str() << "\".\n";
  }
  return RepairOutcome::kRepaired;
}
