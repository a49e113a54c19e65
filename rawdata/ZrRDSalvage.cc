#include "rawdata/ZrRDSalvage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"

namespace {

// What the newest message says, without its full stop.
std::string Reason() {
  std::string text = ZnMessages.first() != nullptr ? ZnMessages.first()->text().c_str() : "";
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// The bytes of the data, a block at a time around where they are asked for,
// so that the byte-by-byte search for a frame costs a read per block. The
// bytes of the frames looked at from there go through a smaller block of
// their own, so that they do not push the search's block out.
class Bytes {
 public:
  explicit Bytes(const ZrRDBytesAt& source)
      : source_(source), scan_(kScanBlock), probe_(kProbeBlock) {}

  // Up to n bytes at `at` into `out`; the count, fewer at the end, -1 on
  // failure.
  int64_t read(int64_t at, std::size_t n, char* out) {
    if (scan_.serve(at, n, out)) return static_cast<int64_t>(n);
    return probe_.read(*this, at, n, out);
  }

  // The byte at `at`, or -1 past the end.
  int at(int64_t at) {
    char c;
    return scan_.read(*this, at, 1, &c) == 1 ? static_cast<unsigned char>(c) : -1;
  }

  // Whether every byte from `at` to the end is zero.
  bool zerosFrom(int64_t at) {
    char chunk[65536];
    for (;;) {
      const int64_t got = fetch(at, sizeof chunk, chunk);
      if (got < 0) return false;
      if (got == 0) return true;
      for (int64_t k = 0; k < got; ++k) {
        if (chunk[k] != 0) return false;
      }
      at += got;
    }
  }

  // The reads of the source so far, and others made elsewhere.
  int64_t reads() const { return reads_; }
  void charge(int64_t reads) { reads_ += reads; }

 private:
  static constexpr std::size_t kScanBlock = 64 * 1024;
  static constexpr std::size_t kProbeBlock = 4 * 1024;

  struct Block {
    explicit Block(std::size_t size) : size(size) {}
    bool serve(int64_t at, std::size_t n, char* out) const {
      if (at < start || at + static_cast<int64_t>(n) > start + length) return false;
      std::memcpy(out, bytes.get() + (at - start), n);
      return true;
    }
    int64_t read(Bytes& from, int64_t at, std::size_t n, char* out) {
      if (serve(at, n, out)) return static_cast<int64_t>(n);
      if (n > size / 2) return from.fetch(at, n, out);
      if (!bytes) bytes.reset(new char[size]);
      const int64_t got = from.fetch(at, size, bytes.get());
      if (got < 0) return -1;
      start = at;
      length = got;
      const int64_t served = std::min<int64_t>(got, static_cast<int64_t>(n));
      std::memcpy(out, bytes.get(), static_cast<std::size_t>(served));
      return served;
    }
    std::size_t size;
    std::unique_ptr<char[]> bytes;
    int64_t start = 0;
    int64_t length = 0;
  };

  int64_t fetch(int64_t at, std::size_t n, char* out) {
    ++reads_;
    return source_(at, n, out);
  }

  const ZrRDBytesAt& source_;
  Block scan_;
  Block probe_;
  int64_t reads_ = 0;
};

int32_t Le32(const unsigned char* b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 |
                              static_cast<uint32_t>(b[3]) << 24);
}

// A binary frame at `at`, from its bytes: it reads whole exactly when they
// are all there. Gives its number, where its header ends and where the frame
// ends. Only headers of the recorder's form are taken: in damaged bytes any
// size byte can stand, and a long header of garbage swallowing the real
// frames behind it would read whole just as well.
// `accept` is asked about the number before the cameras are looked at.
template <typename Accept>
bool BinaryFrameAt(Bytes& bytes, int64_t at, int cameras, int32_t* number, int64_t* headerEnd,
                   int64_t* end, Accept accept) {
  unsigned char record[256] = {};
  if (bytes.read(at, 1, reinterpret_cast<char*>(record)) != 1) return false;
  const std::size_t size = record[0];
  if (!ZrRDBinaryHeaderInForm(record, 1)) return false;
  if (bytes.read(at + 1, size, reinterpret_cast<char*>(record + 1)) !=
      static_cast<int64_t>(size)) {
    return false;
  }
  if (!ZrRDBinaryHeaderInForm(record, 1 + size)) return false;
  *number = Le32(record + 1);
  *headerEnd = at + 1 + static_cast<int64_t>(size);
  if (!accept(*number)) return false;
  int64_t next = *headerEnd;
  for (int c = 0; c < cameras; ++c) {
    unsigned char count[2];
    if (bytes.read(next, 2, reinterpret_cast<char*>(count)) != 2) return false;
    next += 2 + 4 * static_cast<int64_t>(count[0] | count[1] << 8);
  }
  // The last glob's last byte must be there too.
  char last;
  if (next > *headerEnd + 2 * cameras && bytes.read(next - 1, 1, &last) != 1) return false;
  *end = next;
  return true;
}

// Whether a frame numbered `number` may start again after a frame kept that
// was numbered `floor`: above it, and of the recorder's form after it. A
// floor of 0 or INT64_MIN names no frame: then any number but 0.
bool FollowsFloor(int32_t number, int64_t floor) {
  if (number == 0 || number <= floor) return false;
  return floor == 0 || floor == INT64_MIN ||
         ZrRDFrameNumberInForm(static_cast<int32_t>(floor), number);
}

// Whether binary frames read whole again at `at`: a frame numbered above
// `floor`, then two more, or the end of the data after fewer.
bool BinaryFramesFrom(Bytes& bytes, int64_t at, int cameras, int64_t floor) {
  int32_t number = 0;
  int64_t headerEnd = 0;
  int64_t end = 0;
  if (!BinaryFrameAt(bytes, at, cameras, &number, &headerEnd, &end,
                     [floor](int32_t n) { return FollowsFloor(n, floor); })) {
    return false;
  }
  for (int k = 0; k < 2; ++k) {
    if (bytes.zerosFrom(end)) return true;
    const int32_t previous = number;
    // A frame numbered 0 ends the data, when anything does, after its header.
    bool marker = false;
    const auto follows = [previous, &marker](int32_t n) {
      marker = n == 0;
      return !marker && ZrRDFrameNumberInForm(previous, n);
    };
    if (!BinaryFrameAt(bytes, end, cameras, &number, &headerEnd, &end, follows)) {
      return marker && bytes.zerosFrom(headerEnd);
    }
  }
  return true;
}

// Whether a text frame header could start at `at`, from its bytes: a frame
// number above `floor` (not 0), then the end of the line, or blanks and a
// timecode's first part (digits and a colon). Spares the reader the number
// tokens of glob lines, which a damaged stretch of text is full of.
bool TextHeaderCouldStart(Bytes& bytes, int64_t at, int64_t floor) {
  char line[64];
  const int64_t got = bytes.read(at, sizeof line, line);
  int k = 0;
  const bool negative = got > 0 && line[0] == '-';
  if (got > 0 && (line[0] == '-' || line[0] == '+')) ++k;
  const int digits = k;
  int64_t value = 0;
  while (k < got && line[k] >= '0' && line[k] <= '9' && k - digits < 11) {
    value = value * 10 + (line[k] - '0');
    ++k;
  }
  if (k == digits) return false;
  if (negative) value = -value;
  if (value == 0 || value <= floor) return false;
  while (k < got && (line[k] == ' ' || line[k] == '\t')) ++k;
  if (k == got || line[k] == '\n' || line[k] == '\r') return true;
  const int first = k;
  while (k < got && line[k] >= '0' && line[k] <= '9') ++k;
  return k > first && k < got && (line[k] == ':' || line[k] == ';');
}

// Whether the frame whose header the reader just read, numbered `number`,
// is of the recorder's form after one numbered `previous` (none when 0),
// and reads whole; *why says how it departs from the form.
bool RecorderFrame(ZrRDFileReader& reader, int32_t number, int64_t previous, std::string* why) {
  if (!reader.headerInForm(why)) return false;
  if (previous != 0 && !ZrRDFrameNumberInForm(static_cast<int32_t>(previous), number, why)) {
    return false;
  }
  return reader.skipFrame(why) && why->empty();
}

// The same for text frames, read by the reader from `at`.
bool TextFramesFrom(ZrRDFileReader& reader, int64_t at, int64_t floor) {
  const ZnMessage* mark = ZnMessages.first();
  bool whole = false;
  std::string why;
  if (reader.resumeAt(at)) {
    int number = reader.nextFrameNumber();
    if (FollowsFloor(number, floor) && !reader.headerCutOff() &&
        RecorderFrame(reader, number, 0, &why)) {
      whole = true;
      for (int k = 0; k < 2 && whole; ++k) {
        const int previous = number;
        number = reader.nextFrameNumber();
        if (number == 0 || reader.headerCutOff()) {
          whole = reader.atEndOfData();
          break;
        }
        whole = RecorderFrame(reader, number, previous, &why);
      }
    }
  }
  ZnMessages.removeNewerThan(mark);
  return whole;
}

bool IsDigitOrSign(int c) { return (c >= '0' && c <= '9') || c == '+' || c == '-'; }

// Whether a number token could go on through c: a text frame number starts
// after anything else.
bool InNumber(int c) { return IsDigitOrSign(c) || c == '.' || c == 'e' || c == 'E'; }

// The reads of the data a search for frames may make: this many, and one
// more for every kSearchBytesPerRead bytes it has passed. Crafted bytes can
// make every place look like frames whose records run far (many cameras,
// glob counts that leap), and looking at one place can then cost a read for
// every camera of three frames; the allowance keeps the search's time
// linear in the bytes it looks at, and past it the search gives up. Real
// damage costs a read every few hundred bytes.
constexpr int64_t kSearchReads = 256 * 1024;
constexpr int64_t kSearchBytesPerRead = 16;
// What looking at a text place costs in reads: the reader fills its buffer
// where it resumes, and reads a block for every so many bytes after.
constexpr int64_t kTextResumeReads = 16;
constexpr int64_t kTextBytesPerRead = 16 * 1024;

// The first place after `from` where frames read whole again; -1 when there
// is none, or the search gave up.
int64_t Resynchronise(ZrRDFileReader& reader, Bytes& bytes, int64_t from, int64_t floor) {
  const bool binary = reader.isBinary();
  const int cameras = reader.cameraCount();
  const int64_t spent = bytes.reads();
  int previous = bytes.at(from - 1);
  for (int64_t p = from;; ++p) {
    const int c = bytes.at(p);
    if (c < 0) return -1;
    // A text frame starts with its number, where no number token was going on.
    const bool candidate = binary ? c == 4 || c == 9 : IsDigitOrSign(c) && !InNumber(previous);
    previous = c;
    if (!candidate) continue;
    if (bytes.reads() - spent > kSearchReads + (p - from) / kSearchBytesPerRead) return -1;
    if (binary) {
      if (BinaryFramesFrom(bytes, p, cameras, floor)) return p;
    } else if (TextHeaderCouldStart(bytes, p, floor)) {
      const bool found = TextFramesFrom(reader, p, floor);
      bytes.charge(kTextResumeReads + std::max<int64_t>(reader.position() - p, 0) / kTextBytesPerRead);
      if (found) return p;
    }
  }
}

}  // namespace

bool ZrRDPlanSalvage(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, ZrRDSalvagePlan* plan) {
  *plan = ZrRDSalvagePlan();
  int64_t runStart = reader.position();
  if (runStart < 0) {
    ZnReportError("Unable to tell where the frames lie in the data.");
    return false;
  }
  const bool canResume = bytesAt != nullptr && reader.seekable();
  Bytes bytes(bytesAt);
  int64_t runFrames = 0;
  int64_t last = 0;  // the number of the last frame kept, or 0
  // The last frame kept, while the run goes on after it: where it starts,
  // and the number kept before it.
  int64_t lastStart = 0;
  int64_t beforeLast = 0;
  auto closeRun = [&](int64_t end) {
    if (runFrames == 0) return;
    plan->kept.push_back({runStart, end, runFrames});
    plan->frames += runFrames;
    runFrames = 0;
  };
  for (;;) {
    const ZnMessage* mark = ZnMessages.first();
    int64_t at = reader.position();
    const int number = reader.nextFrameNumber();
    std::string reason;
    std::string why;
    if (number != 0 && !reader.headerCutOff()) {
      if (runFrames > 0 &&
          reader.recordHoldsFrames(lastStart, at, static_cast<int32_t>(last), number, &why)) {
        // The frame kept last holds frames: it is the damage, and the
        // frames inside it are looked for again.
        --runFrames;
        at = lastStart;
        last = beforeLast;
      } else if (RecorderFrame(reader, number, last, &why)) {
        ZnMessages.removeNewerThan(mark);
        ++runFrames;
        beforeLast = last;
        last = number;
        lastStart = at;
        continue;
      }
      reason = why.empty() ? Reason() : "A frame not of the form a recorder writes: " + why;
    } else {
      reason = ZnMessages.errorPending()  ? Reason()
               : reader.headerCutOff() ? "A frame header cut off by the end of the data"
                                           : "A frame numbered 0 has more data behind it";
      if (reader.atEndOfData()) {
        ZnMessages.removeNewerThan(mark);
        closeRun(at);
        plan->end = reader.position();
        return true;
      }
    }
    ZnMessages.removeNewerThan(mark);
    closeRun(at);
    if (static_cast<int>(plan->dropped.size()) == ZrRDMaxDroppedStretches) {
      ZnReportError("The recording is damaged in more than %d places.", ZrRDMaxDroppedStretches);
      return false;
    }
    const int64_t resume = canResume ? Resynchronise(reader, bytes, at + 1, last) : -1;
    if (resume < 0) {
      // Nothing reads whole behind the damage: it runs to the end, which a
      // decompressor is read to for its verdict.
      reader.resumeAt(at);
      reader.drain();
      plan->end = std::max(reader.position(), at);
      plan->dropped.push_back({at, plan->end, plan->frames, reason});
      return true;
    }
    plan->dropped.push_back({at, resume, plan->frames, reason});
    reader.resumeAt(resume);
    runStart = resume;
  }
}

int64_t ZrRDFindFrames(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, int64_t from,
                       int64_t floor) {
  Bytes bytes(bytesAt);
  return Resynchronise(reader, bytes, from, floor);
}

bool ZrRDCopySalvaged(ZrRDFileReader& reader, ZrRDFileWriter& writer, const ZrRDSalvagePlan& plan,
                      const std::function<void(int64_t)>& progress) {
  int64_t copied = 0;
  for (const ZrRDKeptRun& run : plan.kept) {
    if (reader.position() != run.start && !reader.resumeAt(run.start)) {
      ZnReportError("The recording changed after its frames were counted.");
      return false;
    }
    for (int64_t k = 0; k < run.frames; ++k) {
      if (!writer.copyFrame(reader)) return false;
      if (progress) progress(++copied);
    }
    if (reader.position() != run.end) {
      ZnReportError("The recording changed after its frames were counted.");
      return false;
    }
  }
  return true;
}
