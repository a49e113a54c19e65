// The count pass of a recording, as the repair and the check run it.
//
// Reads the header, counts the frames (a plain file on two threads, noting
// the frames a copy can take as they lie), and for a compressed file reads
// the data to its end and closes the reader, so that the decompressor's
// verdict comes with the count. The reader is always closed.
//
// Failures are left pending in the message list, newest the most general:
// the header's messages, the count's (see ZrRDCountFrames()), a
// decompressor's failure on top.
#ifndef HDRMEND_APP_RECORDINGCOUNT_H_
#define HDRMEND_APP_RECORDINGCOUNT_H_

#include <cstdint>

#include "app/Progress.h"
#include "app/SourceFile.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFramePasses.h"

struct RecordingCount {
  bool headerRead = false;
  ZrRDFormat format = ZrRDFormat::Text;
  int specified = 0;  // the header's frame count
  int cameras = 0;
  bool plain = false;  // no decompressor: the frames lie in the file as counted
  ZrRDCountEnd end = ZrRDCountEnd::kClean;
  ZrRDCount count;
  bool decompressorFailed = false;  // closing the reader failed: a decompressor did

  // After a failed count: whether the cause is damage to a recording whose
  // header reads, from which a salvage keeps the frames that read whole.
  bool salvageable() const {
    return headerRead && end != ZrRDCountEnd::kTooManyFrames && end != ZrRDCountEnd::kStopped;
  }
};

// True when the recording reads whole to its end (and its decompressor, if
// any, succeeded). `name` names the file in the status line.
bool CountRecording(SourceFile& source, const char* name, Progress& progress,
                    RecordingCount* result);

#endif  // HDRMEND_APP_RECORDINGCOUNT_H_
