// Damages a recording and plans its salvage, in memory, and judges the plan
// against the recording as it was. The input chooses the recording (the
// encoding, timecodes, where the numbers start, cameras, globs, frames, the
// seed of tools/RandomFrames.h) in its first four bytes, then the damage: a
// list of overwrites with garbage, stretches lost, garbage inserted and
// stretches zeroed, anywhere after the file header. The garbage comes from a
// generator seeded by the input, so that it is as random as a disk's, not a
// frame the fuzzer forged. Checked, with the reference reader
// (tests/support/ReferenceReader.h):
//  - the kept runs and dropped stretches follow one another in order from
//    the first frame on, and only an empty tail may follow the last;
//  - every kept run, read on its own after the file header, holds exactly
//    the frames the plan counts for it, whole; a run after damage starts
//    with a frame numbered above the last frame kept before it;
//  - every kept frame is a frame of the undamaged recording, in its order:
//    as it reads, or changed where it stands, its header on bytes of that
//    frame's header (the encodings carry no check, so bytes changed or
//    lost inside a frame that still reads whole in the recorder's form are
//    kept as they read), or one that lost its header line where a line
//    before it reads as its number; never one whose header was no frame's
//    header, but
//    for a frame alone between damage and the end of the data, which
//    nothing after it can tell from pieces of frames, and where nothing is
//    dropped (the count's frames);
//  - an undamaged recording loses nothing;
//  - the copy reads whole and holds the kept frames, in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDSalvage.h"
#include "tests/support/ReferenceReader.h"
#include "tools/RandomFrames.h"

namespace {

constexpr size_t kMaxInput = 4096;

// The recording before the damage: its bytes, where its frame records start
// (and the end), and for each byte of the damaged data the byte of the
// recording whose place it holds, changed or not, or -1 for garbage
// inserted.
struct Damaged {
  std::string original;
  std::vector<size_t> frames;
  std::vector<size_t> headerLengths;  // of each frame's header, its line end included
  std::string bytes;
  std::vector<int32_t> origin;  // 32-bit: the damage moves it about
};

Damaged Make(const uint8_t* data, size_t size) {
  RandomFrameSettings settings;
  settings.format = data[0] & 1 ? ZrRDFormat::Text : ZrRDFormat::Binary;
  settings.timecodes = (data[0] & 2) != 0;
  const int firsts[] = {1, 100, 1000000, -100};
  settings.firstNumber = firsts[(data[0] >> 2) & 3];
  settings.maxGlobs = data[0] >> 4;
  settings.cameras = data[1] % 4 + 1;
  settings.seed = data[3];
  RandomFrames source(settings);
  std::ostringstream os;
  ZrRDWriteFileHeader(os, settings.format, 7, settings.cameras);
  Damaged d;
  const size_t header = os.str().size();
  ZrRDFrame frame;
  for (int k = 0; k <= data[2] % 48; ++k) {
    d.frames.push_back(os.str().size());
    source.next(frame);
    ZrRDWriteFrame(os, frame, settings.format);
  }
  d.frames.push_back(os.str().size());
  d.original = os.str();
  for (size_t k = 0; k + 1 < d.frames.size(); ++k) {
    d.headerLengths.push_back(settings.format == ZrRDFormat::Binary
                                  ? 1 + static_cast<unsigned char>(d.original[d.frames[k]])
                                  : d.original.find('\n', d.frames[k]) + 1 - d.frames[k]);
  }
  d.bytes = d.original;
  for (size_t k = 0; k < d.bytes.size(); ++k) d.origin.push_back(static_cast<int32_t>(k));

  // splitmix64, seeded by each operation's bytes.
  uint64_t state = 0;
  auto garbage = [&state] {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<char>(z ^ (z >> 31));
  };
  for (size_t at = 4; at + 4 <= size; at += 4) {
    const size_t room = d.bytes.size() - header;
    if (room == 0) break;
    const size_t where = header + (data[at + 1] | data[at + 2] << 8) % room;
    const size_t length = std::min<size_t>(data[at + 3] % 64 + 1, d.bytes.size() - where);
    state = data[at] | static_cast<uint64_t>(data[at + 3]) << 8 | at << 16;
    switch (data[at] % 4) {
      case 0:
        for (size_t k = where; k < where + length; ++k) d.bytes[k] = garbage();
        break;
      case 1:
        d.bytes.erase(where, length);
        d.origin.erase(d.origin.begin() + where, d.origin.begin() + where + length);
        break;
      case 2: {
        // At once, not byte by byte: this is most of a run's time otherwise.
        // The bytes stand in the order they had when each went in at `where`.
        std::string inserted(length, '\0');
        for (size_t k = length; k > 0; --k) inserted[k - 1] = garbage();
        d.bytes.insert(where, inserted);
        d.origin.insert(d.origin.begin() + where, length, -1);
        break;
      }
      default:
        for (size_t k = where; k < where + length; ++k) d.bytes[k] = '\0';
    }
  }
  return d;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool SameFrame(const testsupport::ReferenceFrame& a, const testsupport::ReferenceFrame& b) {
  if (a.number != b.number || a.header != b.header || a.cameras.size() != b.cameras.size()) {
    return false;
  }
  for (size_t c = 0; c < a.cameras.size(); ++c) {
    if (a.cameras[c].size() != b.cameras[c].size()) return false;
    for (size_t g = 0; g < a.cameras[c].size(); ++g) {
      const testsupport::ReferenceGlob& x = a.cameras[c][g];
      const testsupport::ReferenceGlob& y = b.cameras[c][g];
      if (x.pixels != y.pixels || x.x != y.x || x.y != y.y) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > kMaxInput) return 0;
  const Damaged d = Make(data, size);
  const std::string& bytes = d.bytes;
  ZnClearMessages();

  std::istringstream in(bytes);
  ZrRDFileReader reader(in, "fuzz input");
  FUZZ_CHECK(!ZnMessages.errorPending());
  const bool binary = reader.isBinary();
  const int64_t headerEnd = reader.position();
  const ZrRDBytesAt bytesAt = [&bytes](int64_t offset, std::size_t n, char* out) -> int64_t {
    if (offset < 0) return -1;
    if (static_cast<std::size_t>(offset) >= bytes.size()) return 0;
    const std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, bytes.data() + offset, got);
    return static_cast<int64_t>(got);
  };
  ZrRDSalvagePlan plan;
  FUZZ_CHECK(ZrRDPlanSalvage(reader, bytesAt, &plan));
  FUZZ_CHECK(!ZnMessages.errorPending());
  ZnClearMessages();

  // Runs and stretches in order, each starting where the one before ended.
  int64_t at = headerEnd;
  std::size_t d2 = 0;
  int64_t frames = 0;
  testsupport::ReferenceReading kept;
  int32_t last = 0;
  // A text header's counts end at their last digit: a line feed keeps them
  // apart from what follows.
  const std::string header =
      bytes.substr(0, static_cast<std::size_t>(headerEnd)) + (binary ? "" : "\n");
  for (const ZrRDKeptRun& run : plan.kept) {
    bool afterDamage = false;
    while (d2 < plan.dropped.size() && plan.dropped[d2].start < run.start) {
      FUZZ_CHECK(plan.dropped[d2].start == at && plan.dropped[d2].end > at);
      FUZZ_CHECK(plan.dropped[d2].framesBefore == frames);
      at = plan.dropped[d2].end;
      afterDamage = true;
      ++d2;
    }
    FUZZ_CHECK(run.start == at && run.end > run.start && run.frames > 0);
    // A text run ends at its last number; the line end after it is the
    // frame's, which the reference reader wants to see (a number at the end
    // of the data may have been cut).
    const testsupport::ReferenceReading alone = testsupport::ReadReference(
        header +
        bytes.substr(static_cast<std::size_t>(run.start),
                     static_cast<std::size_t>(run.end - run.start)) +
        (binary ? "" : "\n"));
    FUZZ_CHECK(alone.headerRead && alone.whole);
    FUZZ_CHECK(static_cast<int64_t>(alone.frames.size()) == run.frames);
    if (afterDamage && frames > 0) FUZZ_CHECK(alone.frames.front().number > last);
    last = alone.frames.back().number;
    kept.frames.insert(kept.frames.end(), alone.frames.begin(), alone.frames.end());
    frames += run.frames;
    at = run.end;
  }
  for (; d2 < plan.dropped.size(); ++d2) {
    FUZZ_CHECK(plan.dropped[d2].start == at && plan.dropped[d2].end >= at);
    at = plan.dropped[d2].end;
  }
  FUZZ_CHECK(frames == plan.frames && at <= plan.end);
  FUZZ_CHECK(plan.end == static_cast<int64_t>(bytes.size()));
  if (bytes == d.original) {
    FUZZ_CHECK(plan.dropped.empty() && plan.frames == static_cast<int64_t>(d.frames.size()) - 1);
  }

  // Every kept frame against the frames of the recording as it was, in
  // order: it stands where one of them stood, intact or changed, or it reads
  // as one of them. A kept frame's bytes run from its first character (text:
  // past the line end before it) to the end of what was read of it.
  // The frames as they read, read when a kept frame first needs them.
  std::vector<testsupport::ReferenceFrame> was;
  const auto readWas = [&] {
    if (!was.empty()) return;
    was = testsupport::ReadReference(d.original).frames;
    FUZZ_CHECK(was.size() + 1 == d.frames.size());
  };
  std::istringstream walk(bytes);
  ZrRDFileReader frameReader(walk, "fuzz input");
  size_t next = 0;  // the first frame of the recording a kept frame may be
  for (size_t r = 0; r < plan.kept.size(); ++r) {
    const ZrRDKeptRun& run = plan.kept[r];
    // A frame alone after damage with only the end of the data after it: the
    // end bears out any number the window of the frames lost admits, and
    // pieces of frames may read as one such frame (a limit the salvage
    // states). It is held to the form and the window above, not to a place.
    // And where nothing is dropped, the data reads whole in the form and
    // the salvage keeps what the count counts, as fuzz_rddamage judges it:
    // garbage can take the form of a whole recording.
    const bool formOnly =
        plan.dropped.empty() ||
        (r > 0 && r + 1 == plan.kept.size() && run.frames == 1 &&
         std::none_of(plan.dropped.begin(), plan.dropped.end(),
                      [&run](const ZrRDDroppedStretch& s) { return s.start >= run.end; }));
    FUZZ_CHECK(frameReader.resumeAt(run.start));
    for (int64_t k = 0; k < run.frames; ++k) {
      size_t start = static_cast<size_t>(frameReader.position());
      FUZZ_CHECK(frameReader.nextFrameNumber() != 0 && frameReader.skipFrame());
      const size_t end = static_cast<size_t>(frameReader.position());
      while (!binary && IsBlank(bytes[start])) ++start;
      // Where it stands: a byte of its header, changed or not, was a byte of
      // the header of the frame it is, changed where it stands (its number
      // may have lost a sign, taken on a digit of the line before or
      // changed, its records anything that still reads whole).
      const size_t headerEnd =
          std::min(end, binary ? start + 1 + static_cast<unsigned char>(bytes[start])
                               : bytes.find('\n', start) + 1);
      size_t j = d.frames.size() - 1;
      for (size_t q = start; q < headerEnd && j + 1 == d.frames.size(); ++q) {
        const int64_t from = d.origin[q];
        for (size_t f = next; f + 1 < d.frames.size(); ++f) {
          if (from >= static_cast<int64_t>(d.frames[f]) &&
              from < static_cast<int64_t>(d.frames[f] + d.headerLengths[f])) {
            j = f;
          }
        }
      }
      // Or it reads as one of them, come to stand elsewhere: garbage before
      // it may end in the byte it lost, a text number may have taken on a
      // digit of the line before it whose line end was lost.
      if (j + 1 == d.frames.size()) {
        const testsupport::ReferenceReading read = testsupport::ReadReference(
            header + bytes.substr(start, end - start) + (binary ? "" : "\n"));
        FUZZ_CHECK(read.frames.size() == 1);
        readWas();
        for (size_t k = next; j + 1 == d.frames.size() && k < was.size(); ++k) {
          if (SameFrame(read.frames[0], was[k])) j = k;
        }
        // Or it bears the number of the frame whose body it ends in, its
        // header line lost: a line before it (a glob count) reads as that
        // number, and the body may be changed where it stands.
        const int64_t body = d.origin[end - 1];
        for (size_t k = next; j + 1 == d.frames.size() && k < was.size(); ++k) {
          if (body >= static_cast<int64_t>(d.frames[k] + d.headerLengths[k]) &&
              body < static_cast<int64_t>(d.frames[k + 1]) &&
              read.frames[0].number == was[k].number) {
            j = k;
          }
        }
      }
      if (formOnly && j + 1 == d.frames.size()) continue;
      FUZZ_CHECK(j + 1 < d.frames.size());
      next = j + 1;
    }
  }
  ZnClearMessages();

  if (plan.frames == 0) return 0;
  std::istringstream again(bytes);
  ZrRDFileReader source(again, "fuzz input");
  std::ostringstream copy;
  ZrRDFileWriter writer(copy, static_cast<int>(plan.frames), source.cameraCount(),
                        binary ? ZrRDFormat::Binary : ZrRDFormat::Text);
  FUZZ_CHECK(ZrRDCopySalvaged(source, writer, plan));
  FUZZ_CHECK(writer.close());
  ZnClearMessages();
  kept.headerRead = true;
  kept.whole = true;
  kept.binary = binary;
  kept.cameras = source.cameraCount();
  std::string why;
  const bool same = testsupport::SameFramesAsCopied(kept, testsupport::ReadReference(copy.str()), &why);
  if (!same) std::fprintf(stderr, "the copy: %s\n", why.c_str());
  FUZZ_CHECK(same);
  return 0;
}
