// Feeds arbitrary bytes to the raw data file reader: the header, then every
// frame the way the repair command reads them, then the same bytes again
// through the frame index. Either encoding is chosen by the first byte, as for
// a file.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFrame.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
// Every frame takes at least a byte, so this only bounds pathological inputs.
constexpr int kMaxFrames = 100000;

// The sequential pass; returns the frame numbers seen, at most a few.
std::vector<int> ReadLikeTheCommand(const std::string& bytes) {
  std::vector<int> numbers;
  std::istringstream in(bytes);
  ZrRDFileReader reader(in, "fuzz input");
  if (ZnMessages.errorPending()) return numbers;
  FUZZ_CHECK(reader.cameraCount() >= 0 && reader.cameraCount() <= 65535);
  ZrRDFrame frame;
  for (int i = 0; i < kMaxFrames; ++i) {
    int timecode = 0;
    const int number = reader.nextFrameNumber(&timecode);
    if (number == 0) break;
    FUZZ_CHECK(timecode >= -1);
    if (numbers.size() < 8) numbers.push_back(number);
    if (!reader.readFrame(frame)) {
      FUZZ_CHECK(ZnMessages.errorPending());
      FUZZ_CHECK(frame.cameraCount() == 0);
      break;
    }
    FUZZ_CHECK(frame.number == number);
    FUZZ_CHECK(frame.cameraCount() == reader.cameraCount());
    for (int c = 0; c < frame.cameraCount(); ++c) {
      FUZZ_CHECK(frame.camera(c) != nullptr && frame.camera(c)->id == c + 1);
    }
  }
  if (ZnMessages.errorPending()) reader.atEndOfData();
  reader.close();
  return numbers;
}

void ReadThroughTheIndex(const std::string& bytes, const std::vector<int>& numbers) {
  std::istringstream in(bytes);
  ZrRDFileReader reader(in);
  if (ZnMessages.errorPending() || !reader.buildFrameIndex()) return;
  ZrRDFrame frame;
  for (int number : numbers) reader.readFrameAt(number, frame);
  for (int number : {0, -1, INT_MIN}) FUZZ_CHECK(!reader.readFrameAt(number, frame));
  reader.readFrameAt(INT_MAX, frame);
  reader.readNextFrame(frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<int> numbers = ReadLikeTheCommand(bytes);
  ZnClearMessages();
  ReadThroughTheIndex(bytes, numbers);
  ZnClearMessages();
  return 0;
}
