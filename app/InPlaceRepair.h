// The repair of a plain recording's header where it lies (hdrmend
// --in-place), for a disk too full for a copy or a recording too large to
// copy for four bytes.
//
// After the full count, only the bytes of the header's frame count are
// written, with one pwrite, and flushed; then an empty tail after the last
// frame is cut (ftruncate) and the file flushed again; then the header is
// read back and the frames counted once more. The file keeps its inode, its
// links, owner, mode, ACLs and extended attributes. What this gives up is
// the replacement in one rename: the count's bytes lie in the first sector,
// which a disk writes whole, and a crash between the two steps leaves the
// right count before an empty tail, which reads as the end.
//
// Failures are printed as a message block on the standard error stream.
#ifndef HDRMEND_APP_INPLACEREPAIR_H_
#define HDRMEND_APP_INPLACEREPAIR_H_

#include <cstdint>
#include <string>

#include "app/FrameCountRepair.h"

// Repairs the file at `path` in place. Refuses, with the file untouched and
// the block PrintRefusal() prints, a compressed recording and a count that
// does not fit where the header's count lies. A failure once the count was
// written says "Unable to repair \"<path>\" in place." over its reason.
RepairOutcome RepairInPlace(const char* path);

// The bytes that state `frames` where the header of the plain recording read
// through `fd` keeps its frame count, and their offset: in binary the four
// bytes of the count, in text the number right-aligned in the old number's
// place, spaces before it. The header with them is read back in memory
// first: it must state `frames`, the same cameras, and end where the old one
// did. False, reporting nothing, when the number does not fit or the place
// cannot be told.
bool HeaderCountInPlace(int fd, int64_t frames, int64_t* offset, std::string* bytes);

#endif  // HDRMEND_APP_INPLACEREPAIR_H_
