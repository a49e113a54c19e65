// The two passes of a repair over a recording read with ZrRDFileReader: the
// count of the frames that read whole, and the copy of that many frames.
//
// Both hold to one rule for the end of the data: the frames end at a frame
// header that the end of the data cut off (a recorder's, as far as it goes),
// or at a frame header that cannot be read, or a frame numbered 0, when
// nothing but an empty tail follows (see ZrRDFileReader::atEndOfData()).
// Anything else there is damage, and a repair that took it for the end would
// drop every frame behind it. The count takes only frames of the form a
// recording's writer gives them (see "The recorder's form" in ZrRDFormat.h):
// bytes that merely read as a frame are damage too.
//
// Failures are reported through the message list, the most general message
// newest, and answered with false. Neither pass closes the reader: a
// decompressor's verdict, which a repair must know before it trusts a count,
// comes with ZrRDFileReader::close().
#ifndef HDRMEND_RAWDATA_ZRRDFRAMEPASSES_H_
#define HDRMEND_RAWDATA_ZRRDFRAMEPASSES_H_

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDSalvage.h"

// How the count of ZrRDCountFrames() ended.
enum class ZrRDCountEnd {
  kClean,          // the data ended after the frames counted
  kFrameDamaged,   // a frame's body could not be read
  kDamageFollows,  // a header that could not be read, or a frame numbered 0,
                   // with more than an empty tail behind it
  kTooManyFrames,  // more frames than the limit
  kStopped,        // stopped where asked (ZrRDCountOptions::stopAt)
  kNotInForm,      // a frame that reads whole, but not of the recorder's form
};

// Frames whose bytes [start, end) of the data are exactly what
// ZrRDFileReader::copyNextFrame() writes for them, and so can be copied as
// they lie: frames firstFrame to firstFrame + frames - 1, counted from 0.
struct ZrRDVerbatimRun {
  int64_t start = 0;
  int64_t end = 0;
  int64_t firstFrame = 0;
  int64_t frames = 0;
};

// The most verbatim runs a count collects; frames after them are copied the
// ordinary way.
constexpr int ZrRDMaxVerbatimRuns = 4096;

struct ZrRDCountOptions {
  // More frames than this fail the count (kTooManyFrames); a header's count
  // is an int, so lower only in tests.
  int64_t limit = INT_MAX;
  // Told the frames counted so far after each.
  std::function<void(int64_t)> progress;
  // When not -1: the count stops (kStopped) once a frame ends at or past this
  // position of the data.
  int64_t stopAt = -1;
  // Collect the verbatim runs.
  bool verbatim = false;
  // Frames counted before the reader's position, by an earlier count that
  // this one goes on from: they count towards the limit and the frame
  // records named, and `progress` is told them too.
  int64_t countedBefore = 0;
  // The number of the frame before the reader's position, which the first
  // frame counted must follow (see ZrRDFrameNumberInForm()); none for the
  // first of a recording.
  std::optional<int32_t> previous;
  // ZrRDCountFramesSplit() splits data longer than this.
  int64_t splitAbove = 32 * 1024 * 1024;
};

struct ZrRDCount {
  ZrRDCountEnd how = ZrRDCountEnd::kClean;
  int64_t frames = 0;
  // Where the last frame counted ends (after its last field; a text frame's
  // closing line feed follows), or where the count started; -1 when the
  // reader cannot tell.
  int64_t end = -1;
  std::vector<ZrRDVerbatimRun> verbatim;
  // The numbers of the first and the last frame counted.
  std::optional<int32_t> first;
  std::optional<int32_t> last;
};

// Counts the frames from the reader's position on, checking each whole
// without keeping it, until the data ends; *counted gets the frames that
// read whole. kClean: the data ended cleanly after them, and the messages of
// the read that met the end are dropped. Otherwise the reason is pending:
//  - kFrameDamaged: the reader's messages, ending with "Unable to read frame
//    <number>";
//  - kDamageFollows: "The header of frame record <k> cannot be read, and
//    more data follows it." over the header's messages, or "Frame record <k>
//    is numbered 0, and more data follows it.";
//  - kNotInForm: "Frame record <k>, at byte <offset>, is not of the form a
//    recorder writes: <why>." (ZrRDFormat.h says what <why> is; the offset
//    is left out where the reader cannot tell it);
//  - kTooManyFrames: "The recording holds more than <limit> frames, more than
//    its header can state." (a header's count is an int; `limit` is lower
//    only in tests).
// Frame records are counted from 1 at the reader's position. `progress`,
// when given, is told the frames counted so far after each.
ZrRDCountEnd ZrRDCountFrames(ZrRDFileReader& reader, int64_t* counted, int64_t limit = INT_MAX,
                             const std::function<void(int64_t)>& progress = nullptr);
// The same with options, telling more.
ZrRDCountEnd ZrRDCountFrames(ZrRDFileReader& reader, const ZrRDCountOptions& options,
                             ZrRDCount* count);

// The same for data of `length` bytes that can be positioned, on the cores
// there are: a helper thread counts from a place near the middle where frames
// read whole (found in the bytes, as a salvage finds them), through `second`,
// a reader of the same data on a stream of its own, while `reader` counts up
// to that place. When `reader` does not land exactly there, or the helper
// meets anything but the clean end, the rest is counted by `reader` alone, so
// the result and messages are always those of ZrRDCountFrames(). stopAt is
// not taken.
ZrRDCountEnd ZrRDCountFramesSplit(ZrRDFileReader& reader, ZrRDFileReader& second,
                                  const ZrRDBytesAt& bytesAt, int64_t length,
                                  const ZrRDCountOptions& options, ZrRDCount* count);

// Copies the next `frames` frames from the reader to the writer (see
// ZrRDFileWriter::copyFrame()), then makes sure the data ends right there, as
// it did when the frames were counted. `progress`, when given, is told the
// frames copied so far after each. False when a frame could not be read or
// written (their messages), or when the data goes on: "The recording changed
// after its frames were counted."
bool ZrRDCopyFrames(ZrRDFileReader& reader, ZrRDFileWriter& writer, int64_t frames,
                    const std::function<void(int64_t)>& progress = nullptr);

// Copies the frames of a count as ZrRDCopyFrames() does, the same bytes
// coming out, but the verbatim runs as they lie: for each, after the writer
// has handed on what it holds, `asItLies` is asked to append bytes
// [start, start + length) of the data to the writer's file (in the kernel,
// say) and answers whether it did, having reported why not. `progress` as
// for ZrRDCopyFrames().
bool ZrRDCopyCountedFrames(ZrRDFileReader& reader, ZrRDFileWriter& writer, const ZrRDCount& count,
                           const std::function<bool(int64_t start, int64_t length)>& asItLies,
                           const std::function<void(int64_t)>& progress = nullptr);

#endif  // HDRMEND_RAWDATA_ZRRDFRAMEPASSES_H_
