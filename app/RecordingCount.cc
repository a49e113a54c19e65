#include "app/RecordingCount.h"

#include <unistd.h>

#include <memory>

#include "foundation/ZnMessage.h"
#include "system/ZnPathUtils.h"

bool CountRecording(SourceFile& source, const char* name, Progress& progress,
                    RecordingCount* result) {
  *result = RecordingCount();
  result->plain = !ZnFindCompressionExtension(source.path());
  std::unique_ptr<ZrRDFileReader> reader = source.reader();
  if (ZnMessages.errorPending()) {
    // The reader is closed first: a decompressor that failed (a compressed
    // file cut inside its own header delivers nothing at all) then adds its
    // report, which names the real cause. One stopped early on a file that
    // is merely no recording ends on its broken pipe, which is no failure.
    result->decompressorFailed = !reader->close();
    return false;
  }
  result->headerRead = true;
  result->format = reader->isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
  result->specified = reader->frameCount();
  result->cameras = reader->cameraCount();

  // A decompressor reads the file through the same description, so the
  // offset tells how far it got.
  const int fd = source.fd();
  progress.begin(name, "counting", [fd] { return static_cast<int64_t>(lseek(fd, 0, SEEK_CUR)); },
                 source.status().st_size);
  ZrRDCountOptions options;
  options.verbatim = result->plain;
  options.progress = [&progress](int64_t) { progress.tick(); };
  std::unique_ptr<ZrRDFileReader> second = result->plain ? source.secondReader() : nullptr;
  if (second != nullptr && !ZnMessages.errorPending()) {
    result->end = ZrRDCountFramesSplit(*reader, *second, source.bytesAt(), source.status().st_size,
                                       options, &result->count);
  } else {
    // Without a second reader the count is done by one.
    ZnClearMessages();
    result->end = ZrRDCountFrames(*reader, options, &result->count);
  }
  progress.end();
  const bool whole = result->end == ZrRDCountEnd::kClean;
  // A decompressor that failed is the real cause of what it delivered: all of
  // its data is read, so that closing learns its verdict.
  if (!whole) reader->drain();
  // Closing tells whether a decompressor delivered all of its data; a
  // truncated compressed file must not be taken for a short recording.
  const bool sound = reader->close();
  result->decompressorFailed = !sound;
  return whole && sound && !ZnMessages.errorPending();
}
