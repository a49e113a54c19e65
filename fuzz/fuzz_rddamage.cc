// Runs the repair's two passes in memory on arbitrary bytes (a recording
// mutated by the fuzzer) and judges the outcome with the reference reader
// (tests/support/ReferenceReader.h), which reads the bytes apart from the
// library:
//  - the count ends cleanly exactly when the reference reader finds the data
//    whole to its end, and then with the frames it finds; it refuses a frame
//    as of no recorder's form exactly where the reference reader does (a
//    binary frame whose camera records hold the frames that the next
//    frame's number skips among them);
//  - the copy of those frames holds exactly them, as the reference reader
//    reads the copy: never a frame missing that read whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFramePasses.h"
#include "tests/support/ReferenceReader.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ZnClearMessages();
  const testsupport::ReferenceReading expected = testsupport::ReadReference(bytes);

  std::istringstream in(bytes);
  ZrRDFileReader reader(in, "fuzz input");
  const bool headerRead = !ZnMessages.errorPending();
  FUZZ_CHECK(headerRead == expected.headerRead);
  ZnClearMessages();
  if (!headerRead) return 0;
  FUZZ_CHECK(reader.isBinary() == expected.binary);
  FUZZ_CHECK(reader.cameraCount() == expected.cameras && reader.frameCount() == expected.claimed);

  int64_t counted = 0;
  const ZrRDCountEnd end = ZrRDCountFrames(reader, &counted);
  ZnClearMessages();
  FUZZ_CHECK((end == ZrRDCountEnd::kClean) == expected.whole);
  FUZZ_CHECK((end == ZrRDCountEnd::kNotInForm) == expected.departs);
  if (end == ZrRDCountEnd::kNotInForm) FUZZ_CHECK(counted == static_cast<int64_t>(expected.frames.size()));
  if (!expected.whole) return 0;
  FUZZ_CHECK(counted == static_cast<int64_t>(expected.frames.size()));

  std::istringstream again(bytes);
  ZrRDFileReader source(again, "fuzz input");
  std::ostringstream copy;
  const ZrRDFormat format = source.isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
  ZrRDFileWriter writer(copy, static_cast<int>(counted), source.cameraCount(), format);
  FUZZ_CHECK(ZrRDCopyFrames(source, writer, counted));
  FUZZ_CHECK(writer.close());
  FUZZ_CHECK(!ZnMessages.errorPending());
  ZnClearMessages();
  std::string why;
  const bool same = testsupport::SameFramesAsCopied(expected, testsupport::ReadReference(copy.str()), &why);
  if (!same) std::fprintf(stderr, "the copy: %s\n", why.c_str());
  FUZZ_CHECK(same);
  return 0;
}
