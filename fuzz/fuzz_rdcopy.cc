// The two ways of counting and the two ways of copying must agree on any
// bytes (a recording mutated by the fuzzer):
//  - the count split over two threads gives what the plain count gives:
//    the end, the frames, where they end, the messages, and runs that cover
//    the same bytes;
//  - the copy that takes the verbatim runs as they lie comes out byte for
//    byte as the frame-by-frame copy.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFramePasses.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

std::vector<std::string> TakeMessages() {
  std::vector<std::string> texts;
  for (ZnMessage* m = ZnMessages.first(); m != nullptr; m = m->next()) {
    texts.push_back(m->text().c_str());
  }
  ZnClearMessages();
  return texts;
}

std::string Covered(const std::string& bytes, const std::vector<ZrRDVerbatimRun>& runs) {
  std::string covered;
  for (const ZrRDVerbatimRun& run : runs) covered += bytes.substr(run.start, run.end - run.start);
  return covered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput || size == 0) return 0;
  // The first byte picks where the split may fall; the rest is the data.
  const std::size_t splitAbove = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  ZnClearMessages();

  ZrRDCountOptions options;
  options.verbatim = true;
  options.splitAbove = static_cast<int64_t>(splitAbove);
  std::istringstream plainIn(bytes);
  ZrRDFileReader plain(plainIn);
  if (ZnMessages.errorPending()) {
    ZnClearMessages();
    return 0;
  }
  ZrRDCount expected;
  const ZrRDCountEnd expectedHow = ZrRDCountFrames(plain, options, &expected);
  const std::vector<std::string> expectedMessages = TakeMessages();

  std::istringstream in(bytes);
  ZrRDFileReader reader(in);
  std::istringstream secondIn(bytes);
  ZrRDFileReader second(secondIn);
  ZnClearMessages();
  const ZrRDBytesAt at = [&bytes](int64_t offset, std::size_t n, char* out) -> int64_t {
    if (offset < 0) return -1;
    if (static_cast<std::size_t>(offset) >= bytes.size()) return 0;
    const std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, bytes.data() + offset, got);
    return static_cast<int64_t>(got);
  };
  ZrRDCount split;
  FUZZ_CHECK(ZrRDCountFramesSplit(reader, second, at, static_cast<int64_t>(bytes.size()), options,
                                  &split) == expectedHow);
  FUZZ_CHECK(TakeMessages() == expectedMessages);
  FUZZ_CHECK(split.frames == expected.frames && split.end == expected.end);
  FUZZ_CHECK(Covered(bytes, split.verbatim) == Covered(bytes, expected.verbatim));
  if (expectedHow != ZrRDCountEnd::kClean) return 0;

  const ZrRDFormat format = plain.isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
  std::istringstream framesIn(bytes);
  ZrRDFileReader frames(framesIn);
  std::ostringstream byFrames;
  ZrRDFileWriter frameWriter(byFrames, static_cast<int>(expected.frames), frames.cameraCount(),
                             format);
  FUZZ_CHECK(ZrRDCopyFrames(frames, frameWriter, expected.frames));
  FUZZ_CHECK(frameWriter.close());

  std::istringstream runsIn(bytes);
  ZrRDFileReader runs(runsIn);
  std::ostringstream asTheyLie;
  ZrRDFileWriter runWriter(asTheyLie, static_cast<int>(expected.frames), runs.cameraCount(),
                           format);
  FUZZ_CHECK(ZrRDCopyCountedFrames(runs, runWriter, expected, [&](int64_t start, int64_t length) {
    asTheyLie.write(bytes.data() + start, static_cast<std::streamsize>(length));
    return true;
  }));
  FUZZ_CHECK(runWriter.close());
  FUZZ_CHECK(!ZnMessages.errorPending());
  ZnClearMessages();
  FUZZ_CHECK(asTheyLie.str() == byFrames.str());
  return 0;
}
