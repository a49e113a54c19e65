// Feeds arbitrary bytes to the raw data file reader the way the repair
// command does: the header, then every frame counted by checking it, then the
// counted frames read again in full for the copy; then the same bytes through
// the frame index. Either encoding is chosen by the first byte, as for a file.
//
// Checking a frame, reading it and copying it must agree: the copy pass reads
// exactly the frames the counting pass accepted, with the same numbers, and
// each copied record holds the frame the full reading built.
#include <algorithm>
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
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"
#include "tests/support/RecordCheck.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
// Every frame takes at least a byte, so this only bounds pathological inputs.
constexpr int kMaxFrames = 100000;

// The counting pass: the numbers of the frames it accepted. False when the
// header cannot be read.
bool CountLikeTheCommand(const std::string& bytes, std::vector<int>* numbers) {
  std::istringstream in(bytes);
  ZrRDFileReader reader(in, "fuzz input");
  if (ZnMessages.errorPending()) return false;
  FUZZ_CHECK(reader.cameraCount() >= 0 && reader.cameraCount() <= 65535);
  for (int i = 0; i < kMaxFrames; ++i) {
    int timecode = 0;
    const int number = reader.nextFrameNumber(&timecode);
    if (number == 0) break;
    FUZZ_CHECK(timecode >= -1);
    if (!reader.skipFrame()) {
      FUZZ_CHECK(ZnMessages.errorPending());
      break;
    }
    numbers->push_back(number);
  }
  if (ZnMessages.errorPending()) reader.atEndOfData();
  reader.close();
  return true;
}

// The copy pass: the counted frames read in full, and read again as the
// command copies them; each copied record must hold the frame the full
// reading built.
void CopyLikeTheCommand(const std::string& bytes, const std::vector<int>& numbers) {
  std::istringstream in(bytes);
  ZrRDFileReader reader(in, "fuzz input");
  std::istringstream copiedIn(bytes);
  ZrRDFileReader copier(copiedIn, "fuzz input");
  FUZZ_CHECK(!ZnMessages.errorPending());
  ZrRDFrame frame;
  for (int number : numbers) {
    FUZZ_CHECK(reader.readNextFrame(frame));
    FUZZ_CHECK(frame.number == number);
    FUZZ_CHECK(frame.cameraCount() == reader.cameraCount());
    for (int c = 0; c < frame.cameraCount(); ++c) {
      FUZZ_CHECK(frame.camera(c) != nullptr && frame.camera(c)->id == c + 1);
    }
    std::ostringstream record;
    FUZZ_CHECK(copier.copyNextFrame(record));
    FUZZ_CHECK(!ZnMessages.errorPending());
    ZnClearMessages();
    FUZZ_CHECK(testsupport::CopiedRecordHoldsFrame(record.str(), frame, reader.isBinary()));
  }
  FUZZ_CHECK(!ZnMessages.errorPending());
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
  std::vector<int> numbers;
  const bool headerRead = CountLikeTheCommand(bytes, &numbers);
  ZnClearMessages();
  if (headerRead) {
    CopyLikeTheCommand(bytes, numbers);
    ZnClearMessages();
    numbers.resize(std::min<size_t>(numbers.size(), 8));
    ReadThroughTheIndex(bytes, numbers);
    ZnClearMessages();
  }
  return 0;
}
