// Plans the salvage of arbitrary bytes (a recording mutated by the fuzzer)
// and copies what it keeps, in memory, and judges both with the reference
// reader (tests/support/ReferenceReader.h):
//  - the kept runs and dropped stretches follow one another in order from
//    the first frame on, and only an empty tail may follow the last;
//  - every kept run, read on its own after the file header, holds exactly
//    the frames the plan counts for it, whole;
//  - a run after a dropped stretch starts with a frame numbered above the
//    last frame kept before it;
//  - every frame before the first damage is kept, and an undamaged
//    recording loses nothing;
//  - the copy reads whole and holds the kept frames, in order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDSalvage.h"
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
  if (ZnMessages.errorPending()) {
    ZnClearMessages();
    return 0;
  }
  const int64_t headerEnd = reader.position();
  const ZrRDBytesAt bytesAt = [&bytes](int64_t offset, std::size_t n, char* out) -> int64_t {
    if (offset < 0) return -1;
    if (static_cast<std::size_t>(offset) >= bytes.size()) return 0;
    const std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, bytes.data() + offset, got);
    return static_cast<int64_t>(got);
  };
  ZrRDSalvagePlan plan;
  const bool planned = ZrRDPlanSalvage(reader, bytesAt, &plan);
  FUZZ_CHECK(planned);
  FUZZ_CHECK(!ZnMessages.errorPending());
  ZnClearMessages();

  // Runs and stretches in order, each starting where the one before ended.
  int64_t at = headerEnd;
  std::size_t d = 0;
  int64_t frames = 0;
  testsupport::ReferenceReading kept;
  int32_t last = 0;
  // A text header's counts end at their last digit: a line feed keeps them
  // apart from what follows.
  const std::string header =
      bytes.substr(0, static_cast<std::size_t>(headerEnd)) + (reader.isBinary() ? "" : "\n");
  for (const ZrRDKeptRun& run : plan.kept) {
    bool afterDamage = false;
    while (d < plan.dropped.size() && plan.dropped[d].start < run.start) {
      FUZZ_CHECK(plan.dropped[d].start == at && plan.dropped[d].end > at);
      FUZZ_CHECK(plan.dropped[d].framesBefore == frames);
      at = plan.dropped[d].end;
      afterDamage = true;
      ++d;
    }
    FUZZ_CHECK(run.start == at && run.end > run.start && run.frames > 0);
    // A text run ends at its last number: a line feed ends that, as the
    // copy's does.
    const testsupport::ReferenceReading alone = testsupport::ReadReference(
        header +
        bytes.substr(static_cast<std::size_t>(run.start), static_cast<std::size_t>(run.end - run.start)) +
        (reader.isBinary() ? "" : "\n"));
    FUZZ_CHECK(alone.headerRead && alone.whole);
    FUZZ_CHECK(static_cast<int64_t>(alone.frames.size()) == run.frames);
    if (afterDamage) FUZZ_CHECK(alone.frames.front().number > last);
    last = alone.frames.back().number;
    kept.frames.insert(kept.frames.end(), alone.frames.begin(), alone.frames.end());
    frames += run.frames;
    at = run.end;
  }
  for (; d < plan.dropped.size(); ++d) {
    FUZZ_CHECK(plan.dropped[d].start == at && plan.dropped[d].end >= at);
    at = plan.dropped[d].end;
  }
  FUZZ_CHECK(frames == plan.frames && at <= plan.end);
  FUZZ_CHECK(plan.end == static_cast<int64_t>(bytes.size()));

  // Nothing before the first damage is lost, nothing at all without damage.
  // A frame of no recorder's form starts damage, though it reads whole.
  FUZZ_CHECK(kept.frames.size() >= expected.frames.size());
  for (std::size_t k = 0; k < expected.frames.size(); ++k) {
    FUZZ_CHECK(kept.frames[k].header == expected.frames[k].header);
  }
  if (expected.whole) {
    FUZZ_CHECK(plan.dropped.empty() && kept.frames.size() == expected.frames.size());
  }

  if (plan.frames == 0) return 0;
  std::istringstream again(bytes);
  ZrRDFileReader source(again, "fuzz input");
  std::ostringstream copy;
  ZrRDFileWriter writer(copy, static_cast<int>(plan.frames), source.cameraCount(),
                        source.isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text);
  FUZZ_CHECK(ZrRDCopySalvaged(source, writer, plan));
  FUZZ_CHECK(writer.close());
  ZnClearMessages();
  kept.headerRead = true;
  kept.whole = true;
  kept.binary = source.isBinary();
  kept.cameras = source.cameraCount();
  std::string why;
  FUZZ_CHECK(testsupport::SameFramesAsCopied(kept, testsupport::ReadReference(copy.str()), &why));
  return 0;
}
