// Finding the frames of a damaged recording that still read whole: the plan
// of a salvage.
//
// The frames are read from the reader's position (just after the file
// header) as a repair reads them, and only frames of the recorder's form
// (see ZrRDFormat.h) that read whole are kept. Where a frame departs from it
// or cannot be read, or a frame numbered 0 has more than an empty tail
// behind it, a damaged stretch starts. In data that can be positioned (an
// uncompressed file) it ends at the first place where the recording goes on:
//  - a frame of the form that reads whole, numbered above the last frame
//    kept and no further above it than the frames the skipped bytes could
//    have held (their length over the smallest frame the camera count
//    allows, plus one), each the largest step on that the recording has
//    taken between two frames kept one after the other (1 before any); any
//    number but 0 while no frame is kept, a text frame then starting a line
//    and the frame after it reading whole too, as below for two frames;
//  - followed by a frame of the form that reads whole and whose number goes
//    on from it by one such step at most, or by the end of the data (an
//    empty tail, or a frame numbered 0 and an empty tail) where a frame kept
//    bounds the number; a text frame then starts a line, and a binary one
//    ends in a byte that is no zero of the run that ends the data;
//  - or, above the window however far, followed by two frames that go on
//    so: a stretch lost whole, or numbers that jumped;
//  - each of them carrying a timecode exactly when the frame kept last does.
// A frame kept just before damage, or before a frame that does not go on from
// it, may itself be damaged: camera records that lost bytes read on into the
// frames behind, a number changed. When a place where the recording goes on
// from the frame before it starts inside it, right after it, or after the
// damage numbered no higher than it, it is dropped with the damage; so is one
// that goes on from no frame before it (the first, or one after a jump in the
// numbers) when no frame after the damage goes on from it (the place after
// the damage is then searched again where it was found above that frame
// alone, or where none was found); so is a binary frame whose camera records hold the frames that the
// number of the next frame, after damage or right after it, skips
// (ZrRDBinaryCamerasHoldFrames()), or of the frame it meets in the copy when
// the frames after it go (followed back through up to sixteen frames kept
// before), and the frames it holds are read again (where they lie above the
// frames kept before it; else the search goes on, and where it finds
// nothing, a frame kept last whose number jumped from the frame before it
// goes and the search is made for the frames before it). A frame whose
// number jumped from the frame before it is dropped when the frame after it
// does not go on from it but lies above the frame before, and in a
// recording damaged elsewhere when it is the last, or when the place after
// the damage behind it goes on from the frames before it as well. In
// data that cannot be positioned (a decompressor's output) the damaged
// stretch runs to the end.
//
// The search judges each place first by what costs nothing (the header's
// form and its number), and only then walks its camera records; the walks
// are paid from an allowance that grows with the bytes the search passes, so
// that its time stays linear in the bytes it looks at whatever they hold. A
// place whose walk the allowance cannot pay is passed over; a frame really
// there has two bytes or more per camera, so the allowance recovers within a
// frame or two after crafted bytes.
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
// salvage re-synchronises with nothing kept (a frame of the form numbered
// above `floor` and not 0, then a frame header of the form with any number
// but 0, or the end of the data; without a floor, two frames of the form
// that read whole, then such a header); -1 when there is none. Moves the
// reader.
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
