#include "rawdata/ZrRDSalvage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/ZnMessage.h"

namespace {

// What the newest message says, without its full stop.
std::string Reason() {
  std::string text = ZnMessages.first() != nullptr ? ZnMessages.first()->text().c_str() : "";
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// The bytes of the data, a block at a time around where they are asked for,
// so that the byte-by-byte search for a frame costs a read per block.
class Bytes {
 public:
  explicit Bytes(const ZrRDBytesAt& source) : source_(source) {}

  // Up to n bytes at `at` into `out`; the count, fewer at the end, -1 on
  // failure.
  int64_t read(int64_t at, std::size_t n, char* out) {
    if (at >= start_ && at + static_cast<int64_t>(n) <= start_ + length_) {
      std::memcpy(out, block_.get() + (at - start_), n);
      return static_cast<int64_t>(n);
    }
    if (n > kBlock / 2) return source_(at, n, out);
    if (!block_) block_.reset(new char[kBlock]);
    const int64_t got = source_(at, kBlock, block_.get());
    if (got < 0) return -1;
    start_ = at;
    length_ = got;
    const int64_t served = std::min<int64_t>(got, static_cast<int64_t>(n));
    std::memcpy(out, block_.get(), static_cast<std::size_t>(served));
    return served;
  }

  // The byte at `at`, or -1 past the end.
  int at(int64_t at) {
    char c;
    return read(at, 1, &c) == 1 ? static_cast<unsigned char>(c) : -1;
  }

  // Whether every byte from `at` to the end is zero.
  bool zerosFrom(int64_t at) {
    char chunk[65536];
    for (;;) {
      const int64_t got = source_(at, sizeof chunk, chunk);
      if (got < 0) return false;
      if (got == 0) return true;
      for (int64_t k = 0; k < got; ++k) {
        if (chunk[k] != 0) return false;
      }
      at += got;
    }
  }

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  const ZrRDBytesAt& source_;
  std::unique_ptr<char[]> block_;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

int32_t Le32(const unsigned char* b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 |
                              static_cast<uint32_t>(b[3]) << 24);
}

// A binary frame at `at`, from its bytes: it reads whole exactly when they
// are all there. Gives its number, where its header ends and where the frame
// ends (a frame numbered 0 ends the data, when anything does, after its
// header). Only headers of the forms a recorder writes are taken (4 bytes, or
// 9 with a part count of 4): in damaged bytes any size byte can stand, and a
// long header of garbage swallowing the real frames behind it would read
// whole just as well.
bool BinaryFrameAt(Bytes& bytes, int64_t at, int cameras, int32_t* number, int64_t* headerEnd,
                   int64_t* end) {
  unsigned char record[256] = {};
  if (bytes.read(at, 1, reinterpret_cast<char*>(record)) != 1) return false;
  const std::size_t size = record[0];
  if (size != 4 && size != 9) return false;
  if (bytes.read(at + 1, size, reinterpret_cast<char*>(record + 1)) !=
      static_cast<int64_t>(size)) {
    return false;
  }
  if (size == 9 && record[5] != 4) return false;
  *number = Le32(record + 1);
  *headerEnd = at + 1 + static_cast<int64_t>(size);
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

// Whether binary frames read whole again at `at`: a frame numbered above
// `floor`, then two more, or the end of the data after fewer.
bool BinaryFramesFrom(Bytes& bytes, int64_t at, int cameras, int64_t floor) {
  int32_t number = 0;
  int64_t headerEnd = 0;
  int64_t end = 0;
  if (!BinaryFrameAt(bytes, at, cameras, &number, &headerEnd, &end) || number == 0 ||
      number <= floor) {
    return false;
  }
  for (int k = 0; k < 2; ++k) {
    if (bytes.zerosFrom(end)) return true;
    if (!BinaryFrameAt(bytes, end, cameras, &number, &headerEnd, &end)) return false;
    if (number == 0) return bytes.zerosFrom(headerEnd);
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

// The same for text frames, read by the reader from `at`.
bool TextFramesFrom(ZrRDFileReader& reader, int64_t at, int64_t floor) {
  const ZnMessage* mark = ZnMessages.first();
  bool whole = false;
  if (reader.resumeAt(at)) {
    const int number = reader.nextFrameNumber();
    if (number != 0 && number > floor && reader.skipFrame()) {
      whole = true;
      for (int k = 0; k < 2 && whole; ++k) {
        if (reader.nextFrameNumber() == 0) {
          whole = reader.atEndOfData();
          break;
        }
        whole = reader.skipFrame();
      }
    }
  }
  ZnMessages.removeNewerThan(mark);
  return whole;
}

// Whether the binary frame header the reader just read at `at` is of a form
// a recorder writes.
bool RecorderHeader(const ZrRDFileReader& reader, int64_t at) {
  const unsigned char* header =
      reinterpret_cast<const unsigned char*>(reader.bufferedBytes(at, at + 6));
  if (header == nullptr) return true;  // not to be seen without reading again
  return header[0] == 4 || (header[0] == 9 && header[5] == 4);
}

bool IsDigitOrSign(int c) { return (c >= '0' && c <= '9') || c == '+' || c == '-'; }

// Whether a number token could go on through c: a text frame number starts
// after anything else.
bool InNumber(int c) { return IsDigitOrSign(c) || c == '.' || c == 'e' || c == 'E'; }

// The first place after `from` where frames read whole again; -1 when there
// is none.
int64_t Resynchronise(ZrRDFileReader& reader, Bytes& bytes, int64_t from, int64_t floor) {
  const bool binary = reader.isBinary();
  const int cameras = reader.cameraCount();
  int previous = bytes.at(from - 1);
  for (int64_t p = from;; ++p) {
    const int c = bytes.at(p);
    if (c < 0) return -1;
    // A text frame starts with its number, where no number token was going on.
    const bool candidate = binary ? c == 4 || c == 9 : IsDigitOrSign(c) && !InNumber(previous);
    previous = c;
    if (!candidate) continue;
    if (binary ? BinaryFramesFrom(bytes, p, cameras, floor)
               : TextHeaderCouldStart(bytes, p, floor) && TextFramesFrom(reader, p, floor)) {
      return p;
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
  auto closeRun = [&](int64_t end) {
    if (runFrames == 0) return;
    plan->kept.push_back({runStart, end, runFrames});
    plan->frames += runFrames;
    runFrames = 0;
  };
  for (;;) {
    const ZnMessage* mark = ZnMessages.first();
    const int64_t at = reader.position();
    const int number = reader.nextFrameNumber();
    std::string reason;
    if (number != 0 && reader.isBinary() && !RecorderHeader(reader, at)) {
      reason = "A frame header of a form no recorder writes";
    } else if (number != 0) {
      if (reader.skipFrame()) {
        ZnMessages.removeNewerThan(mark);
        ++runFrames;
        last = number;
        continue;
      }
      reason = Reason();
    } else {
      reason = ZnMessages.errorPending() ? Reason()
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
