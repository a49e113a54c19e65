#include "rawdata/ZrRDSalvage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"

namespace {

// How many frames kept before the last one are remembered: a chain of
// frames whose camera records hold the frames after them is followed back
// that far when the last of them goes. Each link takes damage of its own.
constexpr std::size_t kEarlierFrames = 16;

// What the newest message says, without its full stop.
std::string Reason() {
  std::string text = ZnMessages.first() != nullptr ? ZnMessages.first()->text().c_str() : "";
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// The bytes of the data as the search looks at them: a block held around the
// place being searched, which moves on with it, so that the byte-by-byte
// search costs a read per block; and, further ahead, the few bytes a walk
// asks for, read as they are asked for (a walk of damaged bytes jumps far,
// and a block read there would serve one jump).
class Bytes {
 public:
  explicit Bytes(const ZrRDBytesAt& source) : source_(source) {}

  // Up to n bytes at `at` into `out`; the count, fewer at the end, -1 on
  // failure.
  int64_t read(int64_t at, std::size_t n, char* out) {
    const int64_t blockEnd = start_ + length_;
    if (at >= start_ && (at + static_cast<int64_t>(n) <= blockEnd || (atEnd_ && at <= blockEnd))) {
      const int64_t served = std::min<int64_t>(static_cast<int64_t>(n), blockEnd - at);
      std::memcpy(out, block_.get() + (at - start_), static_cast<std::size_t>(served));
      return served;
    }
    if (atEnd_ && at > blockEnd && at >= start_) return 0;
    ++farReads_;
    return source_(at, n, out);
  }

  // The byte at `at`, or -1 past the end: the place being searched, which
  // the block follows, half a block ahead at least for the walks of the
  // frames that start there.
  int at(int64_t at) {
    const int64_t blockEnd = start_ + length_;
    if (at < start_ || at >= blockEnd || (!atEnd_ && at + kHalf > blockEnd)) {
      if (atEnd_ && at >= blockEnd && at >= start_) return -1;
      if (!block_) block_.reset(new char[kBlock]);
      const int64_t got = source_(at, kBlock, block_.get());
      start_ = at;
      length_ = std::max<int64_t>(got, 0);
      atEnd_ = got < static_cast<int64_t>(kBlock);
      if (length_ == 0) return -1;
    }
    return static_cast<unsigned char>(block_[at - start_]);
  }

  // Whether nothing but zero bytes follow `at`. The answer holds for every
  // place up to the first byte that is not zero, which is kept, so that a run
  // of zeros is read once however many candidates end in it.
  bool emptyFrom(int64_t at) {
    if (at >= emptyStart_ && at <= emptyEnd_) return emptyEnd_ == kEnd;
    char chunk[4096];
    for (int64_t k = at;;) {
      const int64_t got = read(k, sizeof chunk, chunk);
      if (got < 0) return false;
      if (got == 0) {
        emptyStart_ = at;
        emptyEnd_ = kEnd;
        return true;
      }
      for (int64_t i = 0; i < got; ++i) {
        if (chunk[i] != 0) {
          emptyStart_ = at;
          emptyEnd_ = k + i;
          return false;
        }
      }
      k += got;
    }
  }

  // Reads made outside the block so far.
  int64_t farReads() const { return farReads_; }

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  static constexpr int64_t kHalf = kBlock / 2;
  static constexpr int64_t kEnd = INT64_MAX;
  const ZrRDBytesAt& source_;
  std::unique_ptr<char[]> block_;
  int64_t start_ = 0;
  int64_t length_ = 0;
  bool atEnd_ = false;  // the block reaches the end of the data
  int64_t farReads_ = 0;
  // [emptyStart_, emptyEnd_) is empty; emptyEnd_ is kEnd when that runs to
  // the end of the data.
  int64_t emptyStart_ = -1;
  int64_t emptyEnd_ = -1;
};

int32_t Le32(const unsigned char* b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 |
                              static_cast<uint32_t>(b[3]) << 24);
}

// Whether the binary frame header at hand, `got` bytes from its size byte
// on, is all there and of the recorder's form.
bool WholeHeaderInForm(const unsigned char* header, int64_t got) {
  return got >= 1 && got >= 1 + header[0] &&
         ZrRDBinaryHeaderInForm(header, static_cast<std::size_t>(1 + header[0]));
}

// The frames of the recording so far, as far as a place to go on from must
// fit them: the last frame kept and the largest step forward between two
// frames kept one after the other.
struct Sequence {
  bool any = false;     // a frame was kept
  int64_t last = 0;     // its number
  int64_t lastEnd = 0;  // where it ends
  int64_t maxStep = 1;
  bool timecode = false;  // the last frame kept carries one
  // The smallest frame record the camera count allows, in bytes.
  int64_t smallest = 1;

  // Whether a frame numbered `number` at `at` may follow the last frame
  // kept: above it, and no further than the frames the bytes between could
  // have held, each one step on. Any number, but 0, while none was kept.
  bool admits(int64_t number, int64_t at) const {
    if (number == 0) return false;
    if (!any) return true;
    const int64_t frames = (at - lastEnd) / smallest + 1;
    return number > last && (number - last - 1) / maxStep < frames;
  }

  // Whether a frame numbered `next` goes on from one numbered `number` the
  // way the recording goes: a step forward no larger than those seen.
  bool continues(int64_t number, int64_t next) const {
    return next > number && next <= number + maxStep;
  }

  void keep(int64_t number, bool withTimecode, int64_t at, int64_t end) {
    if (any && at == lastEnd && number - last > maxStep) maxStep = number - last;
    any = true;
    last = number;
    timecode = withTimecode;
    lastEnd = end;
  }
};

// The walks of the search are paid from a budget that every byte the search
// passes adds to, so that the search as a whole takes time linear in the
// bytes it looks at: in damaged bytes a binary frame's camera records can
// jump through the rest of the data, from every candidate again. A walk the
// budget cannot pay is given up, and its candidate passed over. A frame that
// is really there has two bytes or more per camera, so passing one pays for
// the walk of the next.
class Budget {
 public:
  explicit Budget(int cameras) : units_(kPerFarRead * (static_cast<int64_t>(cameras) + 2)) {}

  void passed(int64_t bytes) { units_ += kPerByte * bytes; }
  bool left() const { return units_ >= 0; }
  // Spends `steps` and the reads made outside the block since the last call;
  // false when the budget is used up.
  bool spend(int64_t steps, const Bytes& bytes) {
    units_ -= steps + kPerFarRead * (bytes.farReads() - farReadsPaid_);
    farReadsPaid_ = bytes.farReads();
    return units_ >= 0;
  }

 private:
  static constexpr int64_t kPerByte = 8;
  // A read outside the block is a system call: as costly as many steps.
  static constexpr int64_t kPerFarRead = 64;
  int64_t units_;
  int64_t farReadsPaid_ = 0;
};

// A place where the recording goes on after damage, and whether the frame
// kept last goes with the damage.
struct Place {
  int64_t at = -1;
  bool lastGoes = false;
  bool goesOnFromLast = false;  // its number fits the frames kept
  int64_t number = 0;           // of the frame there
};

// The search for the first place after damage from which frames read whole
// again.
class Search {
 public:
  Search(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt)
      : reader_(reader),
        bytes_(bytesAt),
        binary_(reader.isBinary()),
        cameras_(reader.cameraCount()),
        budget_(reader.cameraCount()) {}

  // Where nothing is known of the sequence, any step the form allows goes
  // on, backwards too.
  void takeAnyStep() { anyStep_ = true; }

  // Whether the binary frame record [start, end), numbered `previous`, holds
  // frames that a frame numbered `next` skips (ZrRDBinaryCamerasHoldFrames());
  // *heldAt is then where the first of them starts. Reads no more than the
  // record's last bytes, which the search has passed.
  bool holdsFrames(int64_t start, int64_t end, int64_t previous, int64_t next, int64_t* heldAt,
                   std::string* why) {
    const int32_t from32 = static_cast<int32_t>(previous);
    const int32_t to32 = static_cast<int32_t>(next);
    unsigned char size = 0;
    if (!binary_ || !ZrRDNumbersSkip(from32, to32) ||
        bytes_.read(start, 1, reinterpret_cast<char*>(&size)) != 1) {
      return false;
    }
    const int64_t from = std::max<int64_t>(start + 1 + size, end - ZrRDHeldFramesWindow);
    if (from >= end) return false;
    std::vector<char> records(static_cast<std::size_t>(end - from));
    std::size_t first = 0;
    if (bytes_.read(from, records.size(), records.data()) !=
            static_cast<int64_t>(records.size()) ||
        !ZrRDBinaryCamerasHoldFrames(reinterpret_cast<const unsigned char*>(records.data()),
                                     records.size(), cameras_, from32, to32, why, &first)) {
      return false;
    }
    *heldAt = from + static_cast<int64_t>(first);
    return true;
  }

  // The number of a frame header of the form at `at`, or false.
  bool numberAt(int64_t at, int64_t* number) {
    bool timecode = false;
    return binary_ ? BinaryNumber(at, number, &timecode) : TextNumber(at, number, &timecode);
  }

  // The smallest frame record for the camera count: a binary frame header
  // of 4 bytes and its size byte, two bytes per camera; a text frame number
  // and its line end, "0" and a line end per camera, or the empty line of a
  // frame without cameras.
  int64_t smallestFrame() const {
    return binary_ ? 5 + 2 * static_cast<int64_t>(cameras_)
                   : 2 + std::max<int64_t>(1, 2 * static_cast<int64_t>(cameras_));
  }

  // The first place in [from, until) where a frame of the form reads whole
  // and the recording goes on from it: the frame after it goes on from it
  // (one step forward at most) and reads whole, or the data ends; and
  //  - at `damage` or after, its number fits `kept`: the frames kept go on;
  //  - or, with `without` given (the frames kept but the last, which may
  //    have read on past its end), before `damage`, or after it where the
  //    number is no higher than the last frame kept, or while `without`
  //    holds no frame, its number fits `without`: the last frame kept goes;
  //  - or, at `damage` or after, its number is above the last frame kept
  //    however far, and two frames go on from it: a stretch of frames was
  //    lost whole, or the numbers jumped.
  // Every frame of these carries a timecode, or none does, as the frame
  // kept last (`without`'s last where the last frame kept goes).
  // The end of the data will do for the frame after only where a frame
  // kept bounds the number (in the first case, and in the second for frames
  // inside the last one kept), and for a text frame that starts a line;
  // where any number would do, a text frame must start a line.
  Place find(int64_t from, int64_t until, int64_t damage, const Sequence& kept,
             const Sequence* without) {
    int previous = from > 0 ? bytes_.at(from - 1) : '\n';
    bool lineStart = previous == '\n' || previous == '\r';
    for (int64_t p = from; p < until; ++p) {
      const int c = bytes_.at(p);
      if (c < 0) break;
      budget_.passed(1);
      // A text frame starts with its number, where no number token was going
      // on (the line end before it may be lost with the frame before).
      const bool candidate = binary_ ? c == 4 || c == 9 : IsDigitOrSign(c) && !InNumber(previous);
      const bool startsLine = lineStart;
      if (c != ' ' && c != '\t') lineStart = c == '\n' || c == '\r';
      previous = c;
      if (!candidate) continue;
      int64_t number = 0;
      bool timecode = false;
      if (!(binary_ ? BinaryNumber(p, &number, &timecode) : TextNumber(p, &number, &timecode))) {
        continue;
      }
      // A recording's frames carry a timecode all or none.
      const bool likeKept = !kept.any || kept.timecode == timecode;
      const bool inside = p < damage;
      const bool goesOn = !inside && likeKept && kept.admits(number, p);
      const bool lastGoes = without != nullptr && without->admits(number, p) &&
                            (!without->any || without->timecode == timecode) &&
                            (inside || number <= kept.last || !without->any);
      const bool jump = !inside && likeKept && kept.any && number > kept.last;
      if (!goesOn && !lastGoes && !jump) continue;
      // Where any number would do, a text frame must start a line: glob
      // counts one above another pass for numbers going on.
      const bool anyNumber = goesOn ? !kept.any : !jump && !without->any;
      if (!binary_ && anyNumber && !startsLine) continue;
      // The end of the data is too little to go on where any number would
      // have done, where the frame kept last goes although the damage lies
      // behind it, or where the numbers leap. Where any number would do,
      // two frames must go on, as where the numbers leap: one header after
      // a frame is a small number on a line of its own in text, as glob
      // counts are, and pieces of frames make such pairs.
      const int frames = (goesOn || lastGoes) && !anyNumber ? 1 : 2;
      const bool endWillDo = (binary_ || startsLine) &&
                             (goesOn ? kept.any : lastGoes && inside && without->any);
      if (binary_ ? BinaryFramesGoOn(p, frames, kept.maxStep, endWillDo, timecode)
                  : TextFramesGoOn(p, frames, kept.maxStep, endWillDo, timecode)) {
        return {p, !goesOn && lastGoes, goesOn, number};
      }
    }
    return {};
  }

 private:
  static bool IsDigitOrSign(int c) { return (c >= '0' && c <= '9') || c == '+' || c == '-'; }
  // A timecode's parts are no frame numbers either.
  static bool InNumber(int c) {
    return IsDigitOrSign(c) || c == '.' || c == 'e' || c == 'E' || c == ':' || c == ';' ||
           c == '/';
  }

  // Whether a frame numbered `next` goes on from one numbered `number`.
  bool Steps(int64_t number, int64_t next, int64_t step) const {
    if (anyStep_) {
      return ZrRDFrameNumberInForm(static_cast<int32_t>(number), static_cast<int32_t>(next));
    }
    return next > number && next <= number + step;
  }

  // Whether a binary frame header of the form holds a timecode.
  static bool WithTimecode(const unsigned char* header) { return header[0] == 9 && header[5] != 0; }

  // The number of a binary frame header of the form at `at`, and whether it
  // holds a timecode, which cost nothing to look at.
  bool BinaryNumber(int64_t at, int64_t* number, bool* timecode) {
    unsigned char header[10];
    const int64_t got = bytes_.read(at, sizeof header, reinterpret_cast<char*>(header));
    if (!WholeHeaderInForm(header, got)) return false;
    *number = Le32(header + 1);
    *timecode = WithTimecode(header);
    return *number != 0;
  }

  // Whether binary frames read whole from `at`, `frames` of them each going
  // on from the one before by `step` at most, with a timecode or without as
  // `timecode` says, followed by a frame going on from the last that reads
  // whole, or, if `endWillDo`, by the end of the data (then fewer will do).
  bool BinaryFramesGoOn(int64_t at, int frames, int64_t step, bool endWillDo, bool timecode) {
    unsigned char header[10];
    for (int k = 0; k < frames; ++k) {
      bytes_.read(at, sizeof header, reinterpret_cast<char*>(header));
      const int32_t number = Le32(header + 1);
      const int64_t end = BinaryFrameEnd(at + 1 + header[0]);
      if (end < 0) return false;
      // A frame that ends inside a run of zeros at the end could be made of
      // them: where nothing follows to go on from it, its last byte must be
      // no zero.
      char lastByte = 0;
      if (bytes_.emptyFrom(end)) {
        return endWillDo && bytes_.read(end - 1, 1, &lastByte) == 1 && lastByte != 0;
      }
      const int64_t got = bytes_.read(end, sizeof header, reinterpret_cast<char*>(header));
      if (!WholeHeaderInForm(header, got)) return false;
      const int32_t next = Le32(header + 1);
      // A frame numbered 0 ends the data when only an empty tail follows it.
      if (next == 0) return endWillDo && bytes_.emptyFrom(end + 1 + header[0]);
      if (!Steps(number, next, step) || WithTimecode(header) != timecode) return false;
      at = end;
    }
    // The frame going on reads whole too: a header that goes on is a few
    // bytes, which pieces of frames make.
    return BinaryFrameEnd(at + 1 + header[0]) >= 0;
  }

  // Where the camera records from `at` end, when all their bytes are there;
  // -1 when they run past the end, or the budget cannot pay for the walk.
  int64_t BinaryFrameEnd(int64_t at) {
    int64_t next = at;
    for (int c = 0; c < cameras_; ++c) {
      unsigned char count[2];
      if (!budget_.spend(1, bytes_) ||
          bytes_.read(next, 2, reinterpret_cast<char*>(count)) != 2) {
        return -1;
      }
      next += 2 + 4 * static_cast<int64_t>(count[0] | count[1] << 8);
    }
    // The last glob's last byte must be there too.
    char last;
    const bool whole = next == at + 2 * static_cast<int64_t>(cameras_) ||
                       bytes_.read(next - 1, 1, &last) == 1;
    return whole ? next : -1;
  }

  // BinaryFramesGoOn() for text, the frames read by the reader. The
  // reader's buffer holds what is near, so a frame close to the last one read
  // costs no reading again.
  bool TextFramesGoOn(int64_t at, int frames, int64_t step, bool endWillDo, bool timecode) {
    // A walk through the reader cannot be stopped half-way: it is paid for
    // afterwards, and none starts while the budget is used up.
    if (!budget_.left()) return false;
    const ZnMessage* mark = ZnMessages.first();
    bool goesOn = false;
    std::string why;
    if (reader_.resumeAt(at)) {
      int number = reader_.nextFrameNumber();
      bool inForm = number != 0 && !reader_.headerCutOff() && reader_.headerInForm(&why);
      for (int k = 0; k < frames && inForm; ++k) {
        if (!reader_.skipFrame(&why) || !why.empty()) break;
        int nextTimecode = -1;
        const int next = reader_.nextFrameNumber(&nextTimecode);
        if (next == 0 || reader_.headerCutOff()) {
          goesOn = endWillDo && reader_.atEndOfData();
          break;
        }
        inForm = reader_.headerInForm(&why) && Steps(number, next, step) &&
                 (nextTimecode >= 0) == timecode;
        goesOn = inForm && k + 1 == frames && reader_.skipFrame(&why) && why.empty();
        number = next;
      }
    }
    budget_.spend(std::max<int64_t>(reader_.position() - at, 0), bytes_);
    ZnMessages.removeNewerThan(mark);
    return goesOn;
  }

  // The number of a text frame header line that could start at `at`, from
  // its bytes: a number, then the end of the line, or blanks and the first
  // part of a timecode (digits and a colon). Spares the reader the lines
  // that are no frame header.
  bool TextNumber(int64_t at, int64_t* number, bool* timecode) {
    char line[64];
    const int64_t got = bytes_.read(at, sizeof line, line);
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
    *number = negative ? -value : value;
    if (*number == 0 || *number < INT32_MIN || *number > INT32_MAX) return false;
    while (k < got && (line[k] == ' ' || line[k] == '\t')) ++k;
    *timecode = !(k == got || line[k] == '\n' || line[k] == '\r');
    if (!*timecode) return true;
    const int first = k;
    while (k < got && line[k] >= '0' && line[k] <= '9') ++k;
    return k > first && k < got && (line[k] == ':' || line[k] == ';');
  }

  ZrRDFileReader& reader_;
  Bytes bytes_;
  const bool binary_;
  const int cameras_;
  Budget budget_;
  bool anyStep_ = false;
};

}  // namespace

bool ZrRDPlanSalvage(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, ZrRDSalvagePlan* plan) {
  *plan = ZrRDSalvagePlan();
  int64_t runStart = reader.position();
  if (runStart < 0) {
    ZnReportError("Unable to tell where the frames lie in the data.");
    return false;
  }
  const bool canResume = bytesAt != nullptr && reader.seekable();
  Search search(reader, bytesAt);
  Sequence sequence;
  sequence.smallest = search.smallestFrame();
  int64_t runFrames = 0;
  // The last frame kept, while no frame after it has shown that it ends
  // where it seems to (the next header in place and going on from it): where
  // it starts, and the sequence before it.
  bool unconfirmed = false;
  int64_t lastStart = 0;
  Sequence beforeLast;
  // The same for the frames kept before it in the run, the latest last, as
  // far back as a chain of frames that hold frames is followed.
  struct Earlier {
    int64_t start;
    Sequence before;
    bool goesOn;  // as lastGoesOn for the frame kept last
  };
  std::deque<Earlier> earlier;
  // Whether the last frame kept goes on from the frame before it, or is
  // where the search found the recording going on; and whether the next
  // frame is.
  bool lastGoesOn = false;
  bool resumed = false;
  // The end of the last frame kept whose held frames were read again: they
  // are read again once, so that frames held in frames held cost no more
  // than reading them twice.
  int64_t heldFrom = -1;
  auto closeRun = [&](int64_t end) {
    if (runFrames == 0) return;
    plan->kept.push_back({runStart, end, runFrames});
    plan->frames += runFrames;
    runFrames = 0;
    earlier.clear();
  };
  // The frame kept last goes, [*start, *resume) with it: the frame kept
  // before it in the run now meets the frame at *resume in the copy, and
  // when its camera records hold the frames that number skips, as a count
  // of the copy would find, it goes too, and those frames are read again;
  // the frame before that then meets the first of them, and so on. A place
  // numbered no higher than the frames then kept (held frames read again
  // may be) would step back after the damage: the search goes on from the
  // frames kept, and where it finds nothing, a frame kept last whose number
  // jumped from the frame before it goes, as out of their sequence, and the
  // search is made for the frames before it. *resume is -1 where nothing
  // goes on.
  auto framesBeforeMayGo = [&](int64_t* start, int64_t* resume, std::string* reason) {
    int64_t next = 0;
    int64_t heldAt = -1;
    std::string why;
    while (*resume >= 0 && search.numberAt(*resume, &next)) {
      if (!earlier.empty() &&
          search.holdsFrames(earlier.back().start, *start, sequence.last, next, &heldAt, &why)) {
        *reason = "A frame not of the form a recorder writes: " + why;
        if (heldFrom != *start) {
          heldFrom = *start;
          *resume = heldAt;
        }
      } else if (!sequence.any || next > sequence.last) {
        return;
      } else {
        const Place again = search.find(*start + 1, INT64_MAX, *start + 1, sequence, nullptr);
        if (again.at >= 0) {
          *resume = again.at;
          continue;
        }
        if (earlier.empty() || earlier.back().goesOn) {
          *resume = -1;
          return;
        }
        *reason = "A frame out of the sequence of the frames around it";
      }
      --runFrames;
      sequence = earlier.back().before;
      *start = earlier.back().start;
      earlier.pop_back();
    }
  };
  // Drops [start, the end of the data): nothing reads whole behind the
  // damage. A decompressor is read to the end for its verdict.
  auto dropToEnd = [&](int64_t start, int64_t at, const std::string& reason) {
    closeRun(start);
    reader.resumeAt(at);
    reader.drain();
    plan->end = std::max(reader.position(), at);
    plan->dropped.push_back({start, plan->end, plan->frames, reason});
  };
  // Drops [start, resume), resumes there; false when the plan is full.
  auto drop = [&](int64_t start, int64_t resume, const std::string& reason) {
    closeRun(start);
    if (static_cast<int>(plan->dropped.size()) == ZrRDMaxDroppedStretches) {
      ZnReportError("The recording is damaged in more than %d places.", ZrRDMaxDroppedStretches);
      return false;
    }
    plan->dropped.push_back({start, resume, plan->frames, reason});
    reader.resumeAt(resume);
    runStart = resume;
    unconfirmed = false;
    resumed = true;
    return true;
  };

  for (;;) {
    const ZnMessage* mark = ZnMessages.first();
    const int64_t at = reader.position();
    int timecode = -1;
    int number = reader.nextFrameNumber(&timecode);
    std::string why;
    const bool headerRead = number != 0 && !reader.headerCutOff();
    const bool ofForm = headerRead && reader.headerInForm(&why) &&
                        (!sequence.any ||
                         ZrRDFrameNumberInForm(static_cast<int32_t>(sequence.last), number, &why));
    const bool jumps = ofForm && unconfirmed && canResume &&
                       !sequence.continues(sequence.last, number);
    // A jump in the numbers, or the last frame read on into others: it goes
    // when frames that go on from the frame before it start inside it (its
    // camera records lost bytes, or its header's size changed).
    Place inside;
    if (jumps) {
      inside = search.find(lastStart + 1, at, at, sequence, &beforeLast);
      ZnMessages.removeNewerThan(mark);
    }
    // It goes too when its camera records hold, whole, the frames this
    // number skips, as the count of the copy would find; those frames, which
    // the window of numbers may not admit where frames were lost with them,
    // are read again, once for each place where frames hold frames.
    int64_t heldAt = -1;
    std::string held;
    if (ofForm && unconfirmed && canResume &&
        search.holdsFrames(lastStart, at, sequence.last, number, &heldAt, &held)) {
      if (heldFrom == at) heldAt = at;
      heldFrom = at;
      inside.at = inside.at >= 0 ? std::min(inside.at, heldAt) : heldAt;
    }
    if (inside.at >= 0) {
      --runFrames;
      sequence = beforeLast;
      int64_t start = lastStart;
      int64_t resume = inside.at;
      std::string reason = held.empty() ? "Frames that read whole start inside the frame read here"
                                        : "A frame not of the form a recorder writes: " + held;
      framesBeforeMayGo(&start, &resume, &reason);
      if (resume < 0) {
        dropToEnd(start, at, reason);
        return true;
      }
      if (!drop(start, resume, reason)) return false;
      continue;
    }
    if (jumps) {
      // A frame that the frames on either side of it do not go on from,
      // while they go on from each other, is no frame of the sequence: its
      // number changed, or pieces of frames read as one. So is a frame whose
      // number jumped from the frame before it when the frame after it does
      // not go on from it either but lies above the frame before: nothing
      // bears it out, and the frames lost with the bytes between may be
      // more than the bytes left could hold.
      if ((beforeLast.admits(number, at) &&
           (!beforeLast.any || beforeLast.timecode == (timecode >= 0))) ||
          (beforeLast.any && !lastGoesOn && number > beforeLast.last)) {
        --runFrames;
        sequence = beforeLast;
        int64_t start = lastStart;
        int64_t resume = at;
        std::string reason = "A frame out of the sequence of the frames around it";
        framesBeforeMayGo(&start, &resume, &reason);
        if (resume < 0) {
          dropToEnd(start, at, reason);
          return true;
        }
        if (!drop(start, resume, reason)) return false;
        // The frame after it fits the window of the frames before, which no
        // frame after it has borne out yet: no place the search found, unless
        // the frames before it went too and the place moved.
        resumed = resume != at;
        continue;
      }
      reader.resumeAt(at);
      number = reader.nextFrameNumber(&timecode);
    }
    if (ofForm && unconfirmed && !canResume &&
        reader.recordHoldsFrames(lastStart, at, static_cast<int32_t>(sequence.last), number, &why)) {
      // The frame kept last holds the frames this number skips: it is the
      // damage, and data that cannot be searched again is lost from it on.
      ZnMessages.removeNewerThan(mark);
      --runFrames;
      sequence = beforeLast;
      closeRun(lastStart);
      reader.drain();
      plan->end = std::max(reader.position(), at);
      plan->dropped.push_back(
          {lastStart, plan->end, plan->frames, "A frame not of the form a recorder writes: " + why});
      return true;
    }
    // Only a header that goes on from it bears the frame kept last out; after
    // a jump either way it stays in doubt until a frame is kept after it.
    if (ofForm && sequence.continues(sequence.last, number)) unconfirmed = false;
    std::string reason;
    if (headerRead && !ofForm) {
      reason = "A frame not of the form a recorder writes: " + why;
    } else if (headerRead) {
      if (reader.skipFrame(&why) && why.empty()) {
        ZnMessages.removeNewerThan(mark);
        if (runFrames > 0) {
          earlier.push_back({lastStart, beforeLast, lastGoesOn});
          if (earlier.size() > kEarlierFrames) earlier.pop_front();
        }
        lastGoesOn = resumed || (sequence.any && sequence.continues(sequence.last, number));
        resumed = false;
        beforeLast = sequence;
        sequence.keep(number, timecode >= 0, at, reader.position());
        lastStart = at;
        unconfirmed = true;
        ++runFrames;
        continue;
      }
      reason = why.empty() ? Reason() : "A frame not of the form a recorder writes: " + why;
    } else {
      reason = ZnMessages.errorPending() ? Reason()
               : reader.headerCutOff()   ? "A frame header cut off by the end of the data"
                                         : "A frame numbered 0 has more data behind it";
      if (reader.atEndOfData()) {
        ZnMessages.removeNewerThan(mark);
        // In a recording damaged elsewhere, a last frame whose number jumped
        // from the frame before it has no frame on either side to bear it
        // out: bytes of damage can take a frame's form, and the end, unlike
        // a frame after it, tells nothing of the number.
        const bool lastGoes = unconfirmed && !lastGoesOn && !plan->dropped.empty();
        if (lastGoes) --runFrames;
        closeRun(lastGoes ? lastStart : at);
        plan->end = reader.position();
        if (lastGoes) {
          plan->dropped.push_back({lastStart, plan->end, plan->frames,
                                   "A frame out of the sequence of the frames before it ends "
                                   "the data"});
        }
        return true;
      }
    }
    ZnMessages.removeNewerThan(mark);
    // The frame kept last may itself be damaged: one whose camera records
    // lost bytes reads on into the frames behind, one whose number changed
    // leaves the frames after it no room.
    int64_t start = at;
    Place place;
    if (canResume) {
      place = unconfirmed ? search.find(lastStart + 1, INT64_MAX, at, sequence, &beforeLast)
                          : search.find(at + 1, INT64_MAX, at, sequence, nullptr);
    }
    int64_t resume = place.at;
    // A frame that goes on from no frame before it, nor any frame after it
    // from it, is no more likely a frame than the damage behind it: a first
    // frame, or one after a jump in the numbers. Nor is one after a jump
    // when the place after the damage goes on from the frames before it as
    // well: it is out of their sequence.
    const bool outOfStep = unconfirmed && !lastGoesOn && resume >= 0 && beforeLast.any &&
                           beforeLast.timecode == sequence.timecode &&
                           beforeLast.admits(place.number, place.at);
    if (place.lastGoes || outOfStep || (unconfirmed && !lastGoesOn && !place.goesOnFromLast)) {
      start = lastStart;
      sequence = beforeLast;
      --runFrames;
      // The place was found above that frame, or none was where it bound
      // the search (its number or its timecode, as a zeroed header has
      // none); the frames kept before it are what it must go on from now.
      if (sequence.any && (resume < 0 || place.number <= sequence.last)) {
        place = search.find(start + 1, INT64_MAX, at, sequence, nullptr);
        resume = place.at;
      }
    }
    // The frame kept last may hold the frames that the numbers after the
    // damage skip (its camera records read on into them), as a count of the
    // copy, where the two meet, would find: it goes with the damage, and the
    // frames it holds are read again, once for each place of damage.
    why.clear();
    if (resume >= 0 && start == at && runFrames > 0 &&
        search.holdsFrames(lastStart, at, sequence.last, place.number, &heldAt, &why)) {
      start = lastStart;
      sequence = beforeLast;
      --runFrames;
      reason = "A frame not of the form a recorder writes: " + why;
      if (heldFrom != at) {
        heldFrom = at;
        resume = heldAt;
      }
    }
    if (resume >= 0 && start == lastStart && start != at) {
      framesBeforeMayGo(&start, &resume, &reason);
    }
    if (resume < 0) {
      dropToEnd(start, at, reason);
      return true;
    }
    if (!drop(start, resume, reason)) return false;
  }
}

int64_t ZrRDFindFrames(ZrRDFileReader& reader, const ZrRDBytesAt& bytesAt, int64_t from,
                       int64_t floor) {
  Search search(reader, bytesAt);
  search.takeAnyStep();
  Sequence sequence;
  sequence.smallest = search.smallestFrame();
  if (floor != INT64_MIN) {
    sequence.any = true;
    sequence.last = std::max<int64_t>(floor, INT32_MIN);
    sequence.lastEnd = from;
    sequence.maxStep = INT32_MAX;
  }
  return search.find(from, INT64_MAX, from, sequence, nullptr).at;
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
