// Checks a frame record that ZrRDFileReader::copyNextFrame() wrote against
// the frame a full reading of the same data built. Shared by the reader's
// tests and the fuzz targets.
#ifndef HDRMEND_TESTS_SUPPORT_RECORDCHECK_H_
#define HDRMEND_TESTS_SUPPORT_RECORDCHECK_H_

#include <sstream>
#include <string>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

namespace testsupport {

// True when `record` holds `frame`: its header reads back to the frame's
// number and timecode, and what follows is exactly what the encoder writes
// for the frame's cameras (and, for text, the closing line feed). Leaves the
// message list as it found it.
inline bool CopiedRecordHoldsFrame(const std::string& record, const ZrRDFrame& frame,
                                   bool binary) {
  ZnMessage* before = ZnMessages.first();
  std::istringstream in(record);
  ZrRDFrame header;
  const bool read = binary ? ZrRDReadBinaryFrameHeader(in, header)
                           : ZrRDReadTextFrameHeader(in, header);
  while (ZnMessages.first() != before) ZnMessages.removeNewest();
  if (!read || header.number != frame.number || header.timecode != frame.timecode) return false;
  const std::streamoff end = in.tellg();
  if (end < 0) return false;
  std::ostringstream cameras;
  if (binary) {
    ZrRDWriteBinaryCameras(cameras, frame);
  } else {
    ZrRDWriteTextCameras(cameras, frame);
    cameras << "\n";
  }
  // The text header reader takes its line feed with it.
  return record.substr(static_cast<std::size_t>(end)) == cameras.str();
}

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SUPPORT_RECORDCHECK_H_
