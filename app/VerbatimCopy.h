// The copy pass of a repair between two plain files: frames whose bytes are
// exactly what the copy writes for them (the count's verbatim runs) go from
// the recording to the copy in the kernel (copy_file_range), without passing
// through this process; the frames between them are read and written as
// usual. The copy comes out byte for byte as the frame-by-frame copy makes
// it.
//
// Failures are reported through the message list and answered with false.
#ifndef HDRMEND_APP_VERBATIMCOPY_H_
#define HDRMEND_APP_VERBATIMCOPY_H_

#include <cstdint>
#include <functional>

#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFramePasses.h"

// Copies the `count.frames` frames of `reader` (a new reader of the
// recording, at its first frame; `source` its file) to `writer` (header
// written; `target` its file, whose offset the writer shares), then makes
// sure the data ends where it was counted, as ZrRDCopyFrames() does.
// `progress` is told the frames copied so far. Messages: those of the
// reader and writer; for a failed kernel copy the system's reason and
// "Unable to write \"<name>\"." (`name`, the copy's); "The recording changed
// after its frames were counted.". *writeFailed tells whether writing the
// copy is what failed.
bool CopyCountedFrames(ZrRDFileReader& reader, int source, ZrRDFileWriter& writer, int target,
                       const char* name, const ZrRDCount& count,
                       const std::function<void(int64_t)>& progress, bool* writeFailed);

// Whether the copy of a count's frames lines up with the recording: a header
// of `headerLength` bytes, as long as the recording's, and the first frame on
// as it lies, so that each verbatim run stands in the copy where it stands in
// the recording.
bool CopyLinesUp(const ZrRDCount& count, int64_t headerLength);

enum class CloneResult { kCloned, kRefused, kFailed };

// Makes the copy of such a count's frames by sharing the recording's
// extents: `target` (empty, ours alone; `name` its name) becomes a clone of
// all of `source` (FICLONE, no data copied); then a writer of `frames`
// frames, `cameras` cameras and `format` writes the header and whatever
// frames are not in verbatim runs over the clone where they belong, the runs
// staying as they are, and the copy is cut at the end of the counted frames.
// `reader` (a new reader of the recording, at its first frame) makes sure
// the data ends where it was counted, as CopyCountedFrames() does. The result
// is byte for byte what CopyCountedFrames() writes, and takes room only for
// the blocks written. kRefused, reporting nothing and leaving `target` empty
// at offset 0, where the file system cannot clone (another file system, no
// shared extents, any error) or a frame written does not take the length it
// had in the recording: the copy is then made as usual, with a new reader.
// kFailed with the messages of CopyCountedFrames().
CloneResult CloneCountedFrames(ZrRDFileReader& reader, int source, int target, const char* name,
                               const ZrRDCount& count, int cameras, ZrRDFormat format);

#endif  // HDRMEND_APP_VERBATIMCOPY_H_
