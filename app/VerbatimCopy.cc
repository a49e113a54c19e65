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
bool WriteFailed(const char* name, bool* writeFailed) {
  char* text = ZnErrorText(errno);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
  ZnReportError("Unable to write \"%s\".", name);
  *writeFailed = true;
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
      return WriteFailed(name, writeFailed);
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

bool CopiesAllButTheHeader(const ZrRDCount& count, int64_t headerLength) {
  // The runs may come in pieces that meet (a count split over two threads).
  int64_t at = headerLength;
  int64_t frames = 0;
  for (const ZrRDVerbatimRun& run : count.verbatim) {
    if (run.start != at || run.firstFrame != frames) return false;
    at = run.end;
    frames += run.frames;
  }
  return count.frames > 0 && frames == count.frames;
}

CloneResult CloneCountedFrames(ZrRDFileReader& reader, ZrRDFileWriter& headerWriter, int source,
                               int target, const char* name, const std::string& header,
                               const ZrRDCount& count, bool* writeFailed) {
  *writeFailed = false;
  if (ioctl(target, FICLONE, source) != 0) {
    // Whatever the reason, the copy can still be made the usual way.
    if (ftruncate(target, 0) == 0) return CloneResult::kRefused;
    WriteFailed(name, writeFailed);
    return CloneResult::kFailed;
  }
  const int64_t end = count.verbatim.back().end;
  struct stat status;
  if (fstat(target, &status) != 0 || status.st_size < end) {
    ZnReportError("The recording changed after its frames were counted.");
    return CloneResult::kFailed;
  }
  // The header's block is the only one the clone gets of its own.
  for (size_t written = 0; written < header.size();) {
    const ssize_t n = pwrite(target, header.data() + written, header.size() - written,
                             static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      WriteFailed(name, writeFailed);
      return CloneResult::kFailed;
    }
    written += static_cast<size_t>(n);
  }
  if (ftruncate(target, end) != 0) {
    WriteFailed(name, writeFailed);
    return CloneResult::kFailed;
  }
  // The clone holds the frames already: the pass over the run only makes
  // sure the data still ends where it was counted.
  const bool ends = ZrRDCopyCountedFrames(reader, headerWriter, count,
                                          [](int64_t, int64_t) { return true; });
  return ends ? CloneResult::kCloned : CloneResult::kFailed;
}
