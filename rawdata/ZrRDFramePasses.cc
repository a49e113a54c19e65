#include "rawdata/ZrRDFramePasses.h"

#include "foundation/ZnMessage.h"


ZrRDCountEnd ZrRDCountFrames(ZrRDFileReader& reader, int64_t* counted, int64_t limit,
                             const std::function<void(int64_t)>& progress) {
  *counted = 0;
  const ZnMessage* mark = nullptr;
  for (;;) {
    mark = ZnMessages.first();
    if (reader.nextFrameNumber() == 0) break;
    if (*counted >= limit) {
      ZnReportError("The recording holds more than %lld frames, more than its header can state.",
                    static_cast<long long>(limit));
      return ZrRDCountEnd::kTooManyFrames;
    }
    ++*counted;
    // The frames only need to be readable; nothing of them is kept.
    if (!reader.skipFrame()) return ZrRDCountEnd::kFrameDamaged;
    if (progress) progress(*counted);
  }
  // Either a header that could not be read (its messages are pending) or a
  // frame numbered 0.
  const bool unreadable = ZnMessages.errorPending();
  if (reader.atEndOfData()) {
    ZnMessages.removeNewerThan(mark);
    return ZrRDCountEnd::kClean;
  }
  const long long record = static_cast<long long>(*counted) + 1;
  if (unreadable) {
    ZnReportError("The header of frame record %lld cannot be read, and more data follows it.",
                  record);
  } else {
    ZnReportError("Frame record %lld is numbered 0, and more data follows it.", record);
  }
  return ZrRDCountEnd::kDamageFollows;
}

bool ZrRDCopyFrames(ZrRDFileReader& reader, ZrRDFileWriter& writer, int64_t frames,
                    const std::function<void(int64_t)>& progress) {
  for (int64_t i = 0; i < frames; ++i) {
    if (!writer.copyFrame(reader)) return false;
    if (progress) progress(i + 1);
  }
  // What follows was an empty tail when the frames were counted; a frame
  // there now means the recording is not what was counted.
  const ZnMessage* mark = ZnMessages.first();
  const bool ended = reader.nextFrameNumber() == 0 && reader.atEndOfData();
  ZnMessages.removeNewerThan(mark);
  if (ended) return true;
  ZnReportError("The recording changed after its frames were counted.");
  return false;
}
