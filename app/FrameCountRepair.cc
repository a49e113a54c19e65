#include "app/FrameCountRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/SourceFile.h"
#include "app/TemporaryCopy.h"
#include "app/VerbatimCopy.h"
#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFramePasses.h"
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

// Reports what kept a reader from opening its file or reading its header.
// The reader is closed first: a decompressor that failed (a compressed file
// cut inside its own header delivers nothing at all) then adds its report,
// which names the real cause. A decompressor stopped early on a file that is
// merely no recording ends on its broken pipe, which is no failure.
bool OpenFailed(ZrRDFileReader& reader) {
  if (ZnMessages.errorPending()) reader.close();
  return ZnFlushMessages();
}

// Flushes a directory to stable storage, so that a rename in it is durable.
bool SyncDirectory(const char* path) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

// Starts the disk writes of the copy while it is still being written, so that
// the flush before the rename finds little left to do. A hint only: what
// fails here is left to the flush, which reports.
class EarlyWriteback {
 public:
  explicit EarlyWriteback(int fd) : fd_(fd) {}

  // Call once per frame written.
  void frameWritten() {
    if (++frames_ % kFramesPerStart == 0) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

 private:
  // A few megabytes of frames.
  static constexpr int kFramesPerStart = 4096;
  int fd_;
  int frames_ = 0;
};

// Ends a failed repair after the copy was begun: the incomplete copy goes and
// the file named on the command line stays as it was. Both files are closed
// first, for two reasons: a filter that died is only reported when its stream
// is closed, and it is usually the real cause (a write into a dead compressor
// fails with no more than "Broken pipe"); and the copy must not be removed
// before its compressor has ended. A failure to write the copy says so on top
// of its cause.
int Abandon(ZrRDFileWriter& writer, ZrRDFileReader& reader, TemporaryCopy& copy,
            const ZnStr& name, bool writeFailed) {
  writer.close();
  reader.close();
  if (writeFailed) {
    ZnReportError("Unable to repair \"%s\".  The file was not changed.", name.c_str());
  }
  ZnFlushMessages();
  copy.discard();
  return 1;
}

}  // namespace

int RepairFrameCount(const char* program, const char* path) {
  const ZnStr name = FileToRepair(path);
  SourceFile source;
  if (!source.open(name)) {
    ZnFlushMessages();
    return 1;
  }
  ZrRDFormat format;
  int specified = 0;
  int64_t counted = 0;
  // A plain recording is counted on both cores, and the frames a copy can
  // take as they lie are noted.
  const bool plain = !ZnFindCompressionExtension(source.path());
  ZrRDCount count;
  {
    std::unique_ptr<ZrRDFileReader> reader = source.reader();
    if (OpenFailed(*reader)) return 1;
    format = reader->isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
    specified = reader->frameCount();
    ZrRDCountOptions options;
    options.verbatim = plain;
    ZrRDCountEnd end;
    if (plain) {
      std::unique_ptr<ZrRDFileReader> second = source.secondReader();
      if (second != nullptr && !ZnMessages.errorPending()) {
        end = ZrRDCountFramesSplit(*reader, *second, source.bytesAt(), source.status().st_size,
                                   options, &count);
      } else {
        // Without a second reader the count is done by one.
        ZnClearMessages();
        end = ZrRDCountFrames(*reader, options, &count);
      }
    } else {
      end = ZrRDCountFrames(*reader, options, &count);
    }
    counted = count.frames;
    const bool whole = end == ZrRDCountEnd::kClean;
    if (!whole) {
      // A frame that could not be read says why; damage where the data
      // should have ended, or too many frames, say what the repair did not.
      if (end != ZrRDCountEnd::kFrameDamaged) {
        ZnReportError("Unable to repair \"%s\".  The file was not changed.", name.c_str());
      }
      // A decompressor that failed is the real cause of what it delivered:
      // all of its data is read, so that closing learns its verdict.
      reader->drain();
    }
    // Closing tells whether a decompressor delivered all of its data; a
    // truncated compressed file must not be taken for a short recording.
    reader->close();
    if (ZnFlushMessages() || !whole) return 1;
  }

  std::cerr << specified << " frames specified in the file\n";
  std::cerr << counted << " frames actually in the file\n";
  if (specified == counted) return 0;

  std::unique_ptr<ZrRDFileReader> reader = source.reader();
  if (OpenFailed(*reader)) return 1;

  TemporaryCopy copy;
  if (!copy.create(name)) {
    reader->close();
    ZnFlushMessages();
    return 1;
  }
  ZrRDFileWriter writer(copy.fd(), copy.name().c_str(), static_cast<int>(counted),
                        reader->cameraCount(), format);
  if (ZnMessages.errorPending()) return Abandon(writer, *reader, copy, name, false);

  // The frames go from the reader to the writer as they are read, already
  // encoded: what reads back the same is taken as it is, frame headers
  // (timecodes of any rate) as they stand; between plain files the frames
  // that are already what the copy would write go in the kernel.
  EarlyWriteback writeback(copy.fd());
  bool writeFailed = false;
  const bool copied =
      plain ? CopyCountedFrames(*reader, source.fd(), writer, copy.fd(), copy.name().c_str(), count,
                                [&](int64_t) { writeback.frameWritten(); }, &writeFailed)
            : ZrRDCopyFrames(*reader, writer, counted, [&](int64_t) { writeback.frameWritten(); });
  if (!copied) return Abandon(writer, *reader, copy, name, writeFailed || !writer.isOpen());
  // The copy is complete only when its compressor, if any, has finished.
  writer.close();
  if (ZnMessages.errorPending()) return Abandon(writer, *reader, copy, name, true);
  reader->close();
  if (ZnMessages.errorPending()) return Abandon(writer, *reader, copy, name, false);

  if (!copy.finish(source.status())) return Abandon(writer, *reader, copy, name, true);
  if (!copy.commit(program)) return 1;
  // Make the rename itself durable, so that a crash now cannot bring back the
  // old directory entry without the new one.
  ZnStr directory = ZnDirName(name);
  if (directory.length() == 0) directory = ".";
  if (!SyncDirectory(directory.c_str())) {
    ZnReportWarning("Unable to flush the directory \"%s\" to disk.", directory.c_str());
    ZnFlushMessages();
  }
  return 0;
}
