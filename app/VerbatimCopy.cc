#include "app/VerbatimCopy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFramePasses.h"
#include "system/ZnProcess.h"

namespace {

// Reports the write into the copy that failed, with the system's reason.
bool WriteFailed(const char* name) {
  char* text = ZnErrorText(errno);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
  ZnReportError("Unable to write \"%s\".", name);
  return false;
}

// Copies [from, from + length) of `source` to the current offset of `target`:
// in the kernel where it can, through a buffer where it cannot (another file
// system, a kernel without it). *writeFailed tells a failed write from a recording that ran short.
bool CopyBytes(int source, int64_t from, int64_t length, int target, const char* name,
               bool* writeFailed) {
  constexpr int64_t kPiece = 64 * 1024 * 1024;
  loff_t in = from;
  bool kernel = true;
  std::unique_ptr<char[]> buffer;
  while (length > 0) {
    const size_t piece = static_cast<size_t>(length < kPiece ? length : kPiece);
    ssize_t done = -1;
    if (kernel) {
      done = copy_file_range(source, &in, target, nullptr, piece, 0);
      if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EINVAL)) {
        kernel = false;
        continue;
      }
    } else {
      if (!buffer) buffer.reset(new char[1 << 20]);
      done = pread(source, buffer.get(), piece < (1u << 20) ? piece : (1u << 20), in);
      if (done > 0) {
        for (ssize_t written = 0; written < done;) {
          const ssize_t n = write(target, buffer.get() + written, static_cast<size_t>(done - written));
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            done = -1;
            break;
          }
          written += n;
        }
        if (done > 0) in += done;
      }
    }
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) {
        // The recording is shorter than when it was counted.
        ZnReportError("The recording changed after its frames were counted.");
        return false;
      }
      *writeFailed = true;
      return WriteFailed(name);
    }
    length -= done;
  }
  return true;
}

}  // namespace

bool CopyCountedFrames(ZrRDFileReader& reader, int source, ZrRDFileWriter& writer, int target,
                       const char* name, const ZrRDCount& count,
                       const std::function<void(int64_t)>& progress, bool* writeFailed) {
  *writeFailed = false;
  return ZrRDCopyCountedFrames(
      reader, writer, count,
      [&](int64_t start, int64_t length) {
        return CopyBytes(source, start, length, target, name, writeFailed);
      },
      progress);
}

bool CopyLinesUp(const ZrRDCount& count, int64_t headerLength) {
  return !count.verbatim.empty() && count.verbatim[0].firstFrame == 0 &&
         count.verbatim[0].start == headerLength;
}

CloneResult CloneCountedFrames(ZrRDFileReader& reader, int source, int target, const char* name,
                               const ZrRDCount& count, int cameras, ZrRDFormat format) {
  // Any refusal leaves the copy to be made the usual way.
  const auto refuse = [target, name] {
    if (ftruncate(target, 0) == 0 && lseek(target, 0, SEEK_SET) == 0) return CloneResult::kRefused;
    WriteFailed(name);
    return CloneResult::kFailed;
  };
  struct stat cloned;
  if (ioctl(target, FICLONE, source) != 0 || fstat(target, &cloned) != 0) return refuse();
  // The writer shares the copy's offset: it writes the header and the frames
  // between the runs where they stand, and each run is passed over.
  bool linedUp = true;
  ZrRDFileWriter writer(target, name, static_cast<int>(count.frames), cameras, format);
  bool copied = !ZnMessages.errorPending() &&
                ZrRDCopyCountedFrames(reader, writer, count, [&](int64_t start, int64_t length) {
                  linedUp = lseek(target, 0, SEEK_CUR) == start;
                  return linedUp && lseek(target, start + length, SEEK_SET) == start + length;
                });
  if (!writer.close()) copied = false;
  if (!linedUp) return refuse();
  if (!copied) return CloneResult::kFailed;
  const off_t end = lseek(target, 0, SEEK_CUR);
  if (end > cloned.st_size) {
    // The recording is shorter than when it was counted.
    ZnReportError("The recording changed after its frames were counted.");
    return CloneResult::kFailed;
  }
  if (end < 0 || ftruncate(target, end) != 0) {
    WriteFailed(name);
    return CloneResult::kFailed;
  }
  return CloneResult::kCloned;
}
