// Finding the frames of a damaged recording that still read whole: the plan
// of a salvage.
//
// The frames are read from the reader's position (just after the file
// header) as a repair reads them. Where a frame cannot be read, or a frame
// numbered 0 has more than an empty tail behind it, a damaged stretch starts.
// In data that can be positioned (an uncompressed file) it ends at the first
// place from which frames read whole again: a frame header whose number is
// above the last frame kept (any number above 0 when none was kept yet),
// followed by at least two more frames that read whole, or by the end of the
// data after fewer, binary frame headers of the forms a recorder writes (4
// bytes, or 9 with a part count of 4); the frames from there on are kept. In data that cannot be
// positioned (a decompressor's output) the damaged stretch runs to the end.
//
// In binary data a stretch of garbage reads as frames more often than not
// (any bytes make a header, and a glob count swallows what follows), so a
// binary frame is kept only when its header is of a form a recorder writes:
// 4 bytes, or 9 with a part count of 4; any other header starts a damaged
// stretch. A salvage runs only where the repair found damage, so a recording
// whose odd headers read whole is repaired, not salvaged.
//
// The plan holds the runs of frames kept and the stretches dropped, as byte
// offsets in the (uncompressed) data, so that a copy can take exactly the
// frames kept. Its size is bounded: a recording with more than
// ZrRDMaxDroppedStretches damaged stretches is refused.
//
// The candidates for re-synchronising a binary recording are checked from the
// bytes alone (a binary frame reads whole exactly when its bytes are there),
// through `bytesAt`; text candidates through the reader. Messages of the
// reads that failed are dropped from the message list; a refused plan leaves
// its reason pending.
#ifndef HDRMEND_RAWDATA_ZRRDSALVAGE_H_
#define HDRMEND_RAWDATA_ZRRDSALVAGE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"

constexpr int ZrRDMaxDroppedStretches = 100000;

// Frames kept: those in [start, end) of the data.
struct ZrRDKeptRun {
  int64_t start = 0;
  int64_t end = 0;
  int64_t frames = 0;
};

// Bytes dropped: [start, end) of the data, after `framesBefore` frames kept,
// for `reason` (the newest message of the read that failed there, without
// its full stop).
struct ZrRDDroppedStretch {
  int64_t start = 0;
  int64_t end = 0;
  int64_t framesBefore = 0;
  std::string reason;
};

struct ZrRDSalvagePlan {
  std::vector<ZrRDKeptRun> kept;
  std::vector<ZrRDDroppedStretch> dropped;
  int64_t frames = 0;  // in all kept runs
  int64_t end = 0;     // the length of the data
};

// Reads up to `n` bytes at `offset` of the data into `out`; the count read,
// fewer only at the end of the data, -1 on failure.
using ZrRDBytesAt = std::function<int64_t(int64_t offset, std::size_t n, char* out)>;

// Makes the plan. False, with the reason pending, when the reader cannot
// tell positions, or the data has more damaged stretches than the plan
// holds: "The recording is damaged in more than <n> places.". The reader
// stands at the end of the data afterwards (a decompressor's data read to
// its end, so that closing learns its verdict).
bool ZrRDPlanSalvage(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, ZrRDSalvagePlan* plan);

// The first place at or after `from` where frames read whole again, as the
// salvage re-synchronises (a frame numbered above `floor` and not 0, then
// two more or the end of the data); -1 when there is none. Moves the reader.
int64_t ZrRDFindFrames(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, int64_t from,
                       int64_t floor);

// Copies the frames the plan keeps, run by run, from the reader (a new one,
// at the first frame) to the writer; `progress`, when given, is told the
// frames copied so far. False when a frame cannot be read or written (their
// messages), or the data is no longer as planned: "The recording changed
// after its frames were counted." A run after the first needs data that can
// be positioned.
bool ZrRDCopySalvaged(ZrRDFileReader& reader, ZrRDFileWriter& writer, const ZrRDSalvagePlan& plan,
                      const std::function<void(int64_t)>& progress = nullptr);

#endif  // HDRMEND_RAWDATA_ZRRDSALVAGE_H_
