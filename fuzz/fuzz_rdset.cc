// Loads arbitrary bytes as a whole raw data set, then copies, compares,
// appends and walks what was loaded.
//
// A set keeps one slot per frame number up to the highest, so a single frame
// numbered two billion legitimately asks for gigabytes. Inputs holding a
// frame number above kMaxFrameNumber are therefore skipped; a quick scan with
// the same decoders finds them before the load.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"
#include "rawdata/ZrRDSet.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int kMaxFrameNumber = 100000;

// False when a frame the load would store carries a number above the cap.
bool FrameNumbersWithinCap(const std::string& bytes) {
  std::istringstream in(bytes);
  const bool binary = ZrRDIsBinary(in);
  if (binary && !ZrRDCheckIdentification(in)) return true;
  int cameras = 0;
  int frames = 0;
  const bool counted = binary ? ZrRDReadBinaryCounts(in, &cameras, &frames)
                              : ZrRDReadTextCounts(in, &cameras, &frames);
  if (!counted || in.fail()) return true;
  // A camera count beyond what the input could describe fails the first
  // frame's body anyway; the scan must not allocate for it.
  cameras = std::clamp(cameras, 0, 65535);
  ZrRDFrame frame;
  for (int read = 0; read < frames; ++read) {
    if (!ZrRDReadFrameHeader(in, binary, frame)) return true;
    if (frame.number > kMaxFrameNumber) return false;
    frame.setCameraCount(cameras);
    if (!ZrRDReadCameras(in, binary, frame) || in.fail()) return true;
  }
  return true;
}

void Walk(const ZrRDSet& set) {
  int visited = 0;
  for (int n = set.firstFrameNumber(); n != 0; n = set.frameNumberAfter(n)) {
    FUZZ_CHECK(set.frame(n) != nullptr && set.frame(n)->number == n);
    FUZZ_CHECK(set.frameNumberBefore(n) < n);
    ++visited;
  }
  FUZZ_CHECK(visited <= set.frames().count());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const bool withinCap = FrameNumbersWithinCap(bytes);
  ZnClearMessages();
  if (!withinCap) return 0;

  ZrRDSet set;
  std::istringstream in(bytes);
  if (set.load(in)) {
    FUZZ_CHECK(!ZnMessages.errorPending());
    Walk(set);
    ZrRDSet copy(set);
    FUZZ_CHECK(copy == set);
    FUZZ_CHECK(copy.cameraCount() == set.cameraCount());
    if (copy.append(set)) {
      FUZZ_CHECK(copy.frames().count() == 2 * set.frames().count());
      Walk(copy);
    }
    copy.addCameras(1);
    copy = set;
    FUZZ_CHECK(copy == set);
  } else {
    FUZZ_CHECK(ZnMessages.errorPending());
    FUZZ_CHECK(set.frames().count() == 0 && set.frameCount() == 0);
  }
  ZnClearMessages();
  return 0;
}
