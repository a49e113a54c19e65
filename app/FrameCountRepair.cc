#include "app/FrameCountRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/InPlaceRepair.h"
#include "app/SourceFile.h"
#include "app/Progress.h"
#include "app/Refusal.h"
#include "app/RecordingCount.h"
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

// Whether a reader failed to open its file or read its header. The reader is
// closed first: a decompressor that failed (a compressed file cut inside its
// own header delivers nothing at all) then adds its report, which names the
// real cause. A decompressor stopped early on a file that is merely no
// recording ends on its broken pipe, which is no failure.
bool OpenFailed(ZrRDFileReader& reader) {
  if (!ZnMessages.errorPending()) return false;
  reader.close();
  return true;
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
// before its compressor has ended. A clone has no writer of ours.
RepairOutcome Abandon(ZrRDFileWriter* writer, ZrRDFileReader& reader, TemporaryCopy& copy,
                      const char* verb, const char* path) {
  if (writer != nullptr) writer->close();
  reader.close();
  PrintRefusal(verb, path);
  copy.discard();
  return RepairOutcome::kRefused;
}

// Puts the finished copy in the recording's place.
RepairOutcome Commit(TemporaryCopy& copy, const char* program, const ZnStr& name,
                     const char* verb, const char* path) {
  if (!copy.commit(program)) {
    PrintRefusal(verb, path);
    return RepairOutcome::kRefused;
  }
  // Make the rename itself durable, so that a crash now cannot bring back the
  // old directory entry without the new one.
  ZnStr directory = ZnDirName(name);
  if (directory.length() == 0) directory = ".";
  if (!SyncDirectory(directory.c_str())) {
    ZnReportWarning("Unable to flush the directory \"%s\" to disk.", directory.c_str());
    ZnFlushMessages();
  }
  return RepairOutcome::kRepaired;
}

// The space free for the user beside the recording, and the file system's
// block; free is -1 when the system does not tell.
struct Room {
  int64_t free = -1;
  int64_t block = 0;
};

Room RoomBeside(int fd) {
  struct statvfs fs;
  Room room;
  if (fstatvfs(fd, &fs) != 0) return room;
  // What an ordinary user may take: a copy that ran into the blocks kept for
  // root would fail for anyone else.
  room.free = static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
  room.block = static_cast<int64_t>(fs.f_bsize);
  return room;
}

// Refuses a repair whose copy cannot fit, before anything is written; a
// plain recording whose count fits in its header is pointed to --in-place.
RepairOutcome NoRoom(const SourceFile& source, int64_t needed, const Room& room, bool plain,
                     int64_t counted, const char* verb, const char* path) {
  constexpr int64_t kMB = 1024 * 1024;
  int64_t offset = 0;
  std::string bytes;
  if (plain && HeaderCountInPlace(source.fd(), counted, &offset, &bytes)) {
    ZnReportError(ZnStr("hdrmend --in-place ") + path + " changes only its header.");
  }
  ZnReportError(ZnStr("There is not room for a copy of \"") + path + "\": " +
                std::to_string((needed + kMB - 1) / kMB).c_str() + " MB needed, " +
                std::to_string(room.free / kMB).c_str() + " MB free.");
  PrintRefusal(verb, path);
  return RepairOutcome::kRefused;
}

}  // namespace

RepairOutcome RepairFrameCount(const char* program, const char* path, bool salvaging) {
  const char* verb = salvaging ? "salvage" : "repair";
  const auto refuse = [verb, path](bool offerSalvage) {
    PrintRefusal(verb, path, offerSalvage);
    return RepairOutcome::kRefused;
  };
  Progress& progress = Progress::standardError();
  const ZnStr name = SourceFile::Followed(path);
  SourceFile source;
  if (!source.open(name)) return refuse(false);
  RecordingCount recording;
  if (!CountRecording(source, name.c_str(), progress, &recording)) {
    return refuse(!salvaging && recording.salvageable());
  }
  const ZrRDFormat format = recording.format;
  const int specified = recording.specified;
  const int64_t counted = recording.count.frames;
  const bool plain = recording.plain;
  const ZrRDCount& count = recording.count;

  std::cerr << specified << " frames specified in the file\n";
  std::cerr << counted << " frames actually in the file\n";
  if (specified == counted) return RepairOutcome::kAlreadyRight;

  // When the copy's header is as long as the recording's and its frames go as
  // they lie from the first on, the copy lines up with the recording, and a
  // file system that shares extents makes it without copying them.
  std::ostringstream header;
  ZrRDWriteFileHeader(header, format, static_cast<int>(counted), recording.cameras);
  const bool shareable = plain && CopyLinesUp(count, static_cast<int64_t>(header.str().size()));
  // What the copy takes where it cannot share: the recording's size, for a
  // compressed copy the compressed size as the estimate, for an uncompressed
  // copy of a compressed recording the data counted.
  const bool compressedCopy = ZnFindCompressionExtension(name);
  const int64_t copySize =
      !plain && !compressedCopy && count.end >= 0 ? count.end : source.status().st_size;
  const Room room = RoomBeside(source.fd());
  if (room.free >= 0 && room.free < (shareable ? room.block : copySize)) {
    return NoRoom(source, copySize, room, plain, counted, verb, path);
  }

  std::unique_ptr<ZrRDFileReader> reader = source.reader();
  if (OpenFailed(*reader)) return refuse(false);

  TemporaryCopy copy;
  if (!copy.create(name)) {
    reader->close();
    return refuse(false);
  }
  switch (shareable ? CloneCountedFrames(*reader, source.fd(), copy.fd(), copy.name().c_str(),
                                         count, recording.cameras, format)
                    : CloneResult::kRefused) {
    case CloneResult::kCloned:
      reader->close();
      if (!copy.finish(source.status())) return Abandon(nullptr, *reader, copy, verb, path);
      return Commit(copy, program, name, verb, path);
    case CloneResult::kFailed:
      return Abandon(nullptr, *reader, copy, verb, path);
    case CloneResult::kRefused:
      break;
  }
  if (shareable) {
    // The copy is made the usual way, from the start and with the room for it.
    reader = source.reader();
    if (OpenFailed(*reader)) {
      copy.discard();
      return refuse(false);
    }
    if (room.free >= 0 && room.free < copySize) {
      reader->close();
      copy.discard();
      return NoRoom(source, copySize, room, plain, counted, verb, path);
    }
  }
  ZrRDFileWriter writer(copy.fd(), copy.name().c_str(), static_cast<int>(counted),
                        reader->cameraCount(), format);
  if (ZnMessages.errorPending()) return Abandon(&writer, *reader, copy, verb, path);

  // The frames go from the reader to the writer as they are read, already
  // encoded: what reads back the same is taken as it is, frame headers
  // (timecodes of any rate) as they stand; between plain files the frames
  // that are already what the copy would write go in the kernel.
  EarlyWriteback writeback(copy.fd());
  const int copyFd = copy.fd();
  progress.begin(name.c_str(), "copying",
                 [copyFd] { return static_cast<int64_t>(lseek(copyFd, 0, SEEK_CUR)); },
                 source.status().st_size);
  const auto written = [&](int64_t) {
    writeback.frameWritten();
    progress.tick();
  };
  bool writeFailed = false;  // the refusal is the same either way
  const bool copied =
      plain ? CopyCountedFrames(*reader, source.fd(), writer, copy.fd(), copy.name().c_str(), count,
                                written, &writeFailed)
            : ZrRDCopyFrames(*reader, writer, counted, written);
  progress.end();
  if (!copied) return Abandon(&writer, *reader, copy, verb, path);
  // The copy is complete only when its compressor, if any, has finished.
  writer.close();
  if (ZnMessages.errorPending()) return Abandon(&writer, *reader, copy, verb, path);
  reader->close();
  if (ZnMessages.errorPending()) return Abandon(&writer, *reader, copy, verb, path);

  if (!copy.finish(source.status())) return Abandon(&writer, *reader, copy, verb, path);
  return Commit(copy, program, name, verb, path);
}
