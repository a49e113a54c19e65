#include "app/VerbatimCopy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "foundation/ZnMessage.h"
#include "system/ZnProcess.h"

namespace {

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
      char* text = ZnErrorText(errno);
      ZnReportError("%s.", text != nullptr ? text : "Unknown error");
      free(text);
      ZnReportError("Unable to write \"%s\".", name);
      *writeFailed = true;
      return false;
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
  int64_t copied = 0;
  auto copyFrames = [&](int64_t upTo) {
    for (; copied < upTo; ++copied) {
      if (!writer.copyFrame(reader)) return false;
      if (progress && copied % 4096 == 0) progress(copied + 1);
    }
    return true;
  };
  for (const ZrRDVerbatimRun& run : count.verbatim) {
    if (!copyFrames(run.firstFrame)) return false;
    // What the writer holds goes first; the kernel then writes after it.
    if (!writer.flush()) {
      *writeFailed = true;
      return false;
    }
    if (!CopyBytes(source, run.start, run.end - run.start, target, name, writeFailed)) return false;
    copied += run.frames;
    if (progress) progress(copied);
    if (!reader.resumeAt(run.end)) {
      ZnReportError("The recording changed after its frames were counted.");
      return false;
    }
  }
  if (!copyFrames(count.frames)) return false;
  if (progress) progress(copied);
  // What follows was an empty tail when the frames were counted.
  const ZnMessage* mark = ZnMessages.first();
  const bool ended = reader.nextFrameNumber() == 0 && reader.atEndOfData();
  ZnMessages.removeNewerThan(mark);
  if (ended) return true;
  ZnReportError("The recording changed after its frames were counted.");
  return false;
}
