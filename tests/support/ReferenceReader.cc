#include "support/ReferenceReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"

namespace testsupport {
namespace {

constexpr std::size_t kLongestInt = 32;
constexpr std::size_t kLongestDecimal = 256;
constexpr std::size_t kLongestTimecode = 255;
constexpr double kFloatOverflow = 0x1.ffffffp127;

bool Blank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The bytes with a read position.
struct Input {
  const std::string& bytes;
  std::size_t at = 0;

  bool end() const { return at >= bytes.size(); }
  unsigned char peek() const { return static_cast<unsigned char>(bytes[at]); }
  // Whether the blanks skipped held a line feed.
  bool skipBlanks() {
    bool lineFeed = false;
    for (; !end() && Blank(peek()); ++at) lineFeed = lineFeed || peek() == '\n';
    return lineFeed;
  }
};

// How a frame that is not whole failed: as no recorder writes a frame, by
// showing that the frame before holds frames (as no recorder writes that
// one), or by the end of the data cutting off a recorder's header (the data
// ends there).
enum class Failed { kUnread, kDeparts, kBeforeDeparts, kCutHeader };

// The farthest a recording's frame numbers step.
constexpr long long kMaxStep = 1LL << 24;

bool Steps(const std::vector<ReferenceFrame>& before, int32_t number) {
  if (before.empty()) return true;
  // Numbers count as a 32-bit counter does, round from the largest to the
  // smallest.
  long long step = static_cast<long long>(number) - before.back().number;
  if (step > 2147483647LL) step -= 4294967296LL;
  if (step < -2147483648LL) step += 4294967296LL;
  return step >= -kMaxStep && step <= kMaxStep;
}

// A number token as a stream reads it in the classic locale: white space,
// a sign, digits; for a decimal one point before the exponent and one
// exponent after a digit. Fails for a token that does not convert, is longer
// than its field allows, or (a decimal) holds no float.
bool ReadInt(Input& in, long long* value) {
  in.skipBlanks();
  const std::size_t start = in.at;
  if (!in.end() && (in.peek() == '+' || in.peek() == '-')) ++in.at;
  while (!in.end() && Digit(in.peek()) && in.at - start <= kLongestInt) ++in.at;
  const std::string token = in.bytes.substr(start, in.at - start);
  if (token.size() > kLongestInt) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(token.c_str(), &end, 10);
  if (token.empty() || *end != '\0' || errno == ERANGE || v > 2147483647LL ||
      v < -2147483648LL) {
    return false;
  }
  *value = v;
  return true;
}

bool ReadInt32(Input& in, int* value) {
  long long v = 0;
  if (!ReadInt(in, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ReadDecimal(Input& in, double* value, bool coordinate = true) {
  in.skipBlanks();
  const std::size_t start = in.at;
  auto more = [&] { return !in.end() && in.at - start <= kLongestDecimal; };
  if (more() && (in.peek() == '+' || in.peek() == '-')) ++in.at;
  bool digits = false;
  bool point = false;
  bool exponent = false;
  while (more()) {
    const unsigned char c = in.peek();
    if (Digit(c)) {
      digits = true;
    } else if (c == '.' && !point && !exponent) {
      point = true;
    } else if ((c == 'e' || c == 'E') && !exponent && digits) {
      exponent = true;
      ++in.at;
      if (more() && (in.peek() == '+' || in.peek() == '-')) ++in.at;
      continue;
    } else {
      break;
    }
    ++in.at;
  }
  const std::string token = in.bytes.substr(start, in.at - start);
  if (token.size() > kLongestDecimal || token.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (*end != '\0' || (coordinate && !(std::fabs(v) < kFloatOverflow))) return false;
  *value = v;
  return true;
}

bool IsTimecode(const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  ZnPackedTimecode packed = 0;
  ZnMessage* before = ZnMessages.first();
  const bool parsed = ZnPackedTimecodeParse(ZnStr(text.c_str()), &packed, false);
  while (ZnMessages.first() != before) ZnMessages.removeNewest();
  return parsed;
}

// Everything from `at` on is an empty tail.
bool EmptyFrom(const std::string& bytes, std::size_t at, bool binary) {
  for (; at < bytes.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(bytes[at]);
    if (c != 0 && (binary || !Blank(c))) return false;
  }
  return true;
}

bool ReadBinaryHeader(Input& in, ReferenceReading* r) {
  // The identification: up to 29 characters before a line feed, at least
  // one, which without the white space around them begin "Kyo Raw Data File
  // Binary"; the rest of the line, up to 80 more characters through its feed.
  std::size_t n = 0;
  while (!in.end() && n < 29 && in.peek() != '\n') ++in.at, ++n;
  if (n == 0) return false;
  // The line is kept as a C string: a NUL ends it.
  std::string id = in.bytes.substr(in.at - n, n);
  id.resize(std::strlen(id.c_str()));
  while (!id.empty() && Blank(static_cast<unsigned char>(id.front()))) id.erase(0, 1);
  while (!id.empty() && Blank(static_cast<unsigned char>(id.back()))) id.pop_back();
  if (std::string("Kyo Raw Data File Binary").compare(0, id.size(), id) != 0) return false;
  for (std::size_t k = 0; k < 80 && !in.end(); ++k) {
    if (in.bytes[in.at++] == '\n') break;
  }
  // The version: one character ('v'), a number of 1.00 up to 2.00, one more
  // character.
  if (in.end()) return false;
  ++in.at;
  double version = 0;
  if (!ReadDecimal(in, &version, false) || std::floor(version) != 1.0) return false;
  if (!in.end()) ++in.at;
  // The counts: a size of 6 or more, then that many bytes.
  if (in.end()) return false;
  const std::size_t size = in.peek();
  ++in.at;
  if (size < 6 || in.bytes.size() - in.at < size) return false;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(in.bytes.data() + in.at);
  r->cameras = b[0] | b[1] << 8;
  r->claimed = static_cast<int32_t>(static_cast<uint32_t>(b[2]) | static_cast<uint32_t>(b[3]) << 8 |
                                    static_cast<uint32_t>(b[4]) << 16 |
                                    static_cast<uint32_t>(b[5]) << 24);
  in.at += size;
  return true;
}

// Whether the binary header bytes `h`, all of them or what the end left,
// are those of a recorder: 4 bytes, or 9 with a timecode of no parts, or of
// 4 with minutes and seconds below 60.
bool RecorderHeader(const std::string& h) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(h.data());
  if (b[0] != 4 && b[0] != 9) return false;
  if (b[0] == 4 || h.size() < 6 || b[5] == 0) return true;
  return b[5] == 4 && (h.size() < 8 || b[7] < 60) && (h.size() < 9 || b[8] < 60);
}

int32_t Le32(const unsigned char* b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 |
                              static_cast<uint32_t>(b[3]) << 24);
}

// The last bytes of a frame's camera records looked at for frames in them.
constexpr std::size_t kHeldWindow = 8192;

// Whether the camera records bytes[from, to) of a binary frame numbered
// `previous`, which a frame numbered `next` follows more than one step
// forward, end in frames a recorder writes, numbered inside the skip, one
// right after the other up to `to` exactly: a camera swallowed them.
bool HoldsFrames(const std::string& bytes, std::size_t from, std::size_t to, int cameras,
                 int32_t previous, int32_t next) {
  const uint32_t gap = static_cast<uint32_t>(next) - static_cast<uint32_t>(previous);
  if (gap < 2 || gap > kMaxStep || cameras == 0) return false;
  from = std::max(from, to - std::min(to, kHeldWindow));
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
  // Frames of the form from q on reach `to`, found from the end back.
  std::vector<bool> reaches(to - from + 1, false);
  bool any = false;
  for (std::size_t q = to; q-- > from;) {
    const std::size_t size = b[q];
    if ((size != 4 && size != 9) || q + 1 + size > to ||
        !RecorderHeader(bytes.substr(q, size + 1))) {
      continue;
    }
    const uint32_t step = static_cast<uint32_t>(Le32(b + q + 1)) - static_cast<uint32_t>(previous);
    if (step == 0 || step >= gap) continue;
    std::size_t at = q + 1 + size;
    int c = 0;
    for (; c < cameras && to - at >= 2; ++c) {
      at += 2 + 4 * static_cast<std::size_t>(b[at] | b[at + 1] << 8);
      if (at > to) break;
    }
    if (c == cameras && at <= to && (at == to || reaches[at - from])) {
      any = reaches[q - from] = true;
    }
  }
  return any;
}

// One binary frame after its header's first byte was found; false when it
// does not read whole, or is of no recorder's form, or shows the frame
// before of none, its camera records starting at `previousCameras` (*failed
// says which).
bool ReadBinaryFrame(Input& in, int cameras, const std::vector<ReferenceFrame>& before,
                     std::size_t previousCameras, ReferenceFrame* frame, Failed* failed) {
  const std::size_t start = in.at;
  const std::size_t size = in.peek();
  if (in.bytes.size() - in.at < size + 1) {
    *failed = RecorderHeader(in.bytes.substr(in.at)) ? Failed::kCutHeader : Failed::kUnread;
    return false;
  }
  frame->header = in.bytes.substr(in.at, size + 1);
  unsigned char number[4] = {0, 0, 0, 0};
  std::memcpy(number, in.bytes.data() + in.at + 1, size < 4 ? size : 4);
  frame->number = Le32(number);
  in.at += size + 1;
  if (frame->number == 0) return true;  // the end marker has no body to read
  *failed = Failed::kDeparts;
  if (!RecorderHeader(frame->header) || !Steps(before, frame->number)) return false;
  *failed = Failed::kBeforeDeparts;
  if (!before.empty() && HoldsFrames(in.bytes, previousCameras, start, cameras,
                                     before.back().number, frame->number)) {
    return false;
  }
  *failed = Failed::kUnread;
  for (int c = 0; c < cameras; ++c) {
    if (in.bytes.size() - in.at < 2) return false;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(in.bytes.data() + in.at);
    const std::size_t globs = b[0] | b[1] << 8;
    in.at += 2;
    if (in.bytes.size() - in.at < 4 * globs) return false;
    std::vector<ReferenceGlob> camera;
    for (std::size_t g = 0; g < globs; ++g) {
      const unsigned char* p = b + 2 + 4 * g;
      camera.push_back({1, static_cast<double>(p[0] | p[1] << 8), static_cast<double>(p[2] | p[3] << 8)});
    }
    in.at += 4 * globs;
    frame->cameras.push_back(camera);
  }
  return true;
}

// Whether a text header line that the end of the data cut off, from its
// first character on, can be the start of a recorder's: a sign and digits
// that can still begin an int, then blanks and the characters of a
// timecode, at most 255 from the first to the last.
bool RecorderHeaderStart(const std::string& line) {
  std::size_t k = 0;
  if (k < line.size() && (line[k] == '+' || line[k] == '-')) ++k;
  const std::size_t digits = k;
  long long value = 0;
  for (; k < line.size() && Digit(line[k]); ++k) value = std::min(value * 10 + (line[k] - '0'), 1LL << 40);
  if (value > (line[0] == '-' ? 2147483648LL : 2147483647LL) || k > kLongestInt) return false;
  if (k == line.size()) return true;
  if (k == digits || !Blank(line[k])) return false;
  const std::size_t first = line.find_first_not_of(" \t\n\v\f\r", k);
  if (first == std::string::npos) return true;
  const std::size_t last = line.find_last_not_of(" \t\n\v\f\r");
  if (last - first + 1 > kLongestTimecode) return false;
  for (k = first; k <= last; ++k) {
    if (!Blank(line[k]) && !Digit(line[k]) && std::string(":;./").find(line[k]) == std::string::npos) {
      return false;
    }
  }
  return true;
}

// One text frame, whose number does or does not start a line; false when it
// does not read whole, or not as a recorder writes it (*failed says which).
bool ReadTextFrame(Input& in, int cameras, bool startsLine, const std::vector<ReferenceFrame>& before,
                   ReferenceFrame* frame, Failed* failed) {
  // A header line that the end cuts off is not read as one.
  const std::size_t lineEnd = in.bytes.find('\n', in.at);
  if (lineEnd == std::string::npos) {
    const bool recorders = startsLine && RecorderHeaderStart(in.bytes.substr(in.at));
    *failed = recorders ? Failed::kCutHeader : Failed::kUnread;
    return false;
  }
  if (!ReadInt32(in, &frame->number)) return false;
  // The rest of the line, without the white space around it.
  std::string text;
  std::size_t pending = 0;
  while (!in.end() && in.peek() != '\n') {
    const unsigned char c = in.peek();
    ++in.at;
    if (Blank(c)) {
      if (!text.empty()) ++pending;
      continue;
    }
    if (text.size() + pending + 1 > kLongestTimecode) return false;
    text += in.bytes.substr(in.at - 1 - pending, pending);
    pending = 0;
    text += static_cast<char>(c);
  }
  if (!in.end()) ++in.at;  // the line feed
  if (!text.empty() && !IsTimecode(text)) return false;
  frame->header = text;
  if (frame->number == 0) return true;
  *failed = Failed::kDeparts;
  if (!startsLine || !Steps(before, frame->number)) return false;
  *failed = Failed::kUnread;
  // Each glob count and each glob's pixels start a line (the header line's
  // end starts the first); a glob's coordinates do not. Each is judged once
  // it is read, and the first that departs ends the reading.
  bool first = true;
  auto starts = [&first](bool lineFeed) {
    const bool started = lineFeed || first;
    first = false;
    return started;
  };
  for (int c = 0; c < cameras; ++c) {
    long long globs = 0;
    const bool countStarts = starts(in.skipBlanks());
    if (!ReadInt(in, &globs) || globs < 0) return false;
    if (!countStarts) return *failed = Failed::kDeparts, false;
    std::vector<ReferenceGlob> camera;
    for (long long g = 0; g < globs; ++g) {
      ReferenceGlob glob;
      const bool globStarts = starts(in.skipBlanks());
      if (!ReadInt32(in, &glob.pixels)) return false;
      // Numbers with no white space between them were parted by a writer.
      std::size_t gap = in.at;
      bool broken = in.skipBlanks();
      bool joined = in.at == gap;
      if (!ReadDecimal(in, &glob.x)) return false;
      gap = in.at;
      broken = in.skipBlanks() || broken;
      joined = joined || in.at == gap;
      if (!ReadDecimal(in, &glob.y)) return false;
      if (!globStarts || broken || joined) return *failed = Failed::kDeparts, false;
      camera.push_back(glob);
    }
    frame->cameras.push_back(camera);
  }
  // A last number that the end of the data touches may have been cut.
  return cameras == 0 || !in.end();
}

// What the text encoder writes for a coordinate read as `value`.
std::string FourDecimals(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(static_cast<float>(value)));
  return text;
}

}  // namespace

ReferenceReading ReadReference(const std::string& bytes) {
  ReferenceReading r;
  Input in{bytes};
  r.binary = !bytes.empty() && bytes[0] == 'K';
  if (r.binary) {
    if (!ReadBinaryHeader(in, &r)) return r;
  } else {
    if (!ReadInt32(in, &r.cameras) || !ReadInt32(in, &r.claimed)) return r;
  }
  if (r.cameras < 0 || r.cameras > 65535) return r;
  r.headerRead = true;
  std::size_t previousCameras = 0;  // where the last frame's camera records start
  for (;;) {
    const bool startsLine = !r.binary && in.skipBlanks();
    const std::size_t start = in.at;
    if (in.end()) {
      r.whole = true;
      return r;
    }
    ReferenceFrame frame;
    Failed failed = Failed::kUnread;
    const bool read =
        r.binary ? ReadBinaryFrame(in, r.cameras, r.frames, previousCameras, &frame, &failed)
                 : ReadTextFrame(in, r.cameras, startsLine, r.frames, &frame, &failed);
    if (!read && failed == Failed::kBeforeDeparts) {
      r.frames.pop_back();
      r.departs = true;
      return r;
    }
    if (!read) {
      // A recorder's header cut off by the end ends the data; so do zero
      // bytes where a frame should start when nothing else follows; anything
      // else is damage.
      r.departs = failed == Failed::kDeparts;
      r.whole = failed == Failed::kCutHeader || (failed == Failed::kUnread && EmptyFrom(bytes, start, r.binary));
      return r;
    }
    if (frame.number == 0) {
      r.whole = EmptyFrom(bytes, in.at, r.binary);
      return r;
    }
    r.frames.push_back(frame);
    previousCameras = start + frame.header.size();
  }
}

bool SameFramesAsCopied(const ReferenceReading& original, const ReferenceReading& copy,
                        std::string* why) {
  std::ostringstream says;
  if (!copy.headerRead || !copy.whole) {
    says << "the copy does not read whole";
  } else if (copy.binary != original.binary || copy.cameras != original.cameras) {
    says << "the copy's encoding or camera count differs";
  } else if (copy.claimed != static_cast<int32_t>(copy.frames.size())) {
    says << "the copy's header claims " << copy.claimed << " frames for " << copy.frames.size();
  } else if (copy.frames.size() != original.frames.size()) {
    says << "the copy holds " << copy.frames.size() << " frames, the original "
         << original.frames.size();
  } else {
    for (std::size_t f = 0; f < copy.frames.size() && says.tellp() == 0; ++f) {
      const ReferenceFrame& a = original.frames[f];
      const ReferenceFrame& b = copy.frames[f];
      if (a.number != b.number || a.header != b.header || a.cameras.size() != b.cameras.size()) {
        says << "frame record " << f + 1 << " differs in its header";
        break;
      }
      for (std::size_t c = 0; c < a.cameras.size(); ++c) {
        if (a.cameras[c].size() != b.cameras[c].size()) {
          says << "frame record " << f + 1 << ", camera " << c + 1 << " differs in its globs";
          break;
        }
        for (std::size_t g = 0; g < a.cameras[c].size(); ++g) {
          const ReferenceGlob& x = a.cameras[c][g];
          const ReferenceGlob& y = b.cameras[c][g];
          const bool same = original.binary
                                ? x.x == y.x && x.y == y.y
                                : x.pixels == y.pixels && FourDecimals(x.x) == FourDecimals(y.x) &&
                                      FourDecimals(x.y) == FourDecimals(y.y);
          if (!same) {
            says << "frame record " << f + 1 << ", camera " << c + 1 << ", glob " << g + 1
                 << " differs";
            break;
          }
        }
        if (says.tellp() != 0) break;
      }
    }
  }
  if (says.tellp() == 0) return true;
  if (why != nullptr) *why = says.str();
  return false;
}

}  // namespace testsupport
