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

#endif  // HDRMEND_APP_VERBATIMCOPY_H_
