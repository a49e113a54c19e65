// The binary encoding: its decoders, encoders and copy paths (see
// rawdata/ZrRDFormat.h).
#include "rawdata/ZrRDFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <string>
#include <utility>
#include <vector>

#include "foundation/ZnMessage.h"
#include "foundation/ZnSStream.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFormatParts.h"
#include "streams/ZnStreamPrinter.h"
#include "streams/ZnStreamScanner.h"

using zr_format::kLongestDecimalToken;
using zr_format::PackTimecode;
using zr_format::prepareGlobs;
using zr_format::put;
using zr_format::putBytes;

namespace {

const char kIdentification[] = "Kyo Raw Data File Binary";
const double kVersion = 1.0;

// Globs go through a stack buffer in runs of this many, so that a camera
// record costs one stream read per run instead of two per coordinate.
constexpr int kGlobRun = 1024;

void reportNumbered(const char* text, int number) {
  ZnOSStream message;
  message << text << number;
  ZnReportError(ZnStr(message.str()));
}

uint16_t le16(const unsigned char* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

int32_t le32(const unsigned char* b) {
  uint32_t v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  return static_cast<int32_t>(v);
}

void putLe16(unsigned char* b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}

void putLe32(unsigned char* b, uint32_t v) {
  putLe16(b, v);
  putLe16(b + 2, v >> 16);
}

void write(std::ostream& os, const unsigned char* b, std::streamsize n) {
  os.write(reinterpret_cast<const char*>(b), n);
}

// os.write() of a run of bytes, through the printer's buffer in pieces
// The message the two-byte read gives for a stream that just failed.
void reportReadFailure(std::istream& in) {
  ZnReportError(in.eof() ? "Hit end of file." : "Error reading file.");
}

void decodeGlob(const unsigned char* b, ZrRDGlob& glob) {
  glob.pixels = 1;
  glob.x = ZrRDDecodeCoordinate(le16(b));
  glob.y = ZrRDDecodeCoordinate(le16(b + 2));
}

// Reads one binary camera record into *camera, or writes its bytes to *out,
// or only checks it when both are null; the messages are the same either
// way. What reaches *out is at most one read buffer at a time.
bool readBinaryGlobs(ZnStreamScanner& scan, ZrRDCamera* camera, ZnStreamPrinter* out) {
  // A whole record in the buffer is decoded in place.
  if (const char* b = scan.buffered(2)) {
    const int count = le16(reinterpret_cast<const unsigned char*>(b));
    const std::ptrdiff_t size = 2 + 4 * static_cast<std::ptrdiff_t>(count);
    if (const char* record = scan.buffered(size)) {
      if (camera != nullptr) {
        prepareGlobs(camera->globs, count);
        const unsigned char* g = reinterpret_cast<const unsigned char*>(record) + 2;
        ZrRDGlob* globs = camera->globs.begin();
        for (int k = 0; k < count; ++k) decodeGlob(g + 4 * k, globs[k]);
      }
      if (out != nullptr) putBytes(*out, record, static_cast<size_t>(size));
      scan.advance(size);
      return true;
    }
  }

  std::istream& in = scan.stream();
  int count = ZrRDRead16(in);
  if (in.fail()) {
    ZnReportError("File read error.");
    return false;
  }
  ZrRDGlob* globs = nullptr;
  if (camera != nullptr) {
    prepareGlobs(camera->globs, count);
    globs = camera->globs.begin();
  }
  if (out != nullptr) {
    unsigned char b[2];
    putLe16(b, static_cast<uint32_t>(count));
    putBytes(*out, reinterpret_cast<const char*>(b), 2);
  }
  unsigned char run[4 * kGlobRun];
  for (int done = 0; done < count;) {
    int want = std::min(count - done, kGlobRun);
    in.read(reinterpret_cast<char*>(run), 4 * want);
    int got = static_cast<int>(in.gcount());
    int whole = got / 4;
    if (globs != nullptr) {
      for (int k = 0; k < whole; ++k) decodeGlob(run + 4 * k, globs[done + k]);
    }
    if (out != nullptr) {
      putBytes(*out, reinterpret_cast<const char*>(run), 4 * static_cast<size_t>(whole));
    }
    if (got < 4 * want) {
      // The same messages as a read of one coordinate at a time: the glob is
      // lost at its x when fewer than two of its bytes arrived, else at its y.
      reportReadFailure(in);
      ZnReportError(got % 4 < 2 ? "Cannot read X coordinate." : "Cannot read Y coordinate.");
      if (camera != nullptr) camera->clearGlobs();
      reportNumbered("Unable to read glob ", done + whole + 1);
      return false;
    }
    done += want;
  }
  return true;
}

void reportCameraFailure(int i) { reportNumbered("Cannot read camera ", i + 1); }

// The length of the first `cameras` binary camera records when all of them
// are buffered, else 0; consumes nothing.
std::ptrdiff_t bufferedBinaryCameras(ZnStreamScanner& scan, int cameras) {
  const char* p;
  const char* e;
  if (cameras <= 0 || !scan.window(&p, &e, false)) return 0;
  const std::ptrdiff_t available = e - p;
  std::ptrdiff_t length = 0;
  for (int i = 0; i < cameras; ++i) {
    if (available - length < 2) return 0;
    length += 2 + 4 * static_cast<std::ptrdiff_t>(
                          le16(reinterpret_cast<const unsigned char*>(p) + length));
  }
  return length <= available ? length : 0;
}

}  // namespace

namespace zr_format {

void writeBinaryFrameHeader(ZnStreamPrinter& out, const ZrRDFrame& frame) {
  unsigned char b[10];
  putLe32(b + 1, static_cast<uint32_t>(frame.number));
  if (!frame.timecode) {
    b[0] = 4;
    put(out, reinterpret_cast<const char*>(b), 5);
    return;
  }
  ZnTimecode timecode = ZnTimecode::unpack(*frame.timecode);
  b[0] = 9;
  b[5] = 4;
  b[6] = static_cast<unsigned char>(timecode.hour);
  b[7] = static_cast<unsigned char>(timecode.minute);
  b[8] = static_cast<unsigned char>(timecode.second);
  b[9] = static_cast<unsigned char>(timecode.frame);
  put(out, reinterpret_cast<const char*>(b), 10);
}

void writeBinaryCameras(ZnStreamPrinter& out, const ZrRDFrame& frame) {
  unsigned char run[4 * kGlobRun];
  for (const ZrRDCamera* camera : frame.cameras()) {
    int count = camera != nullptr ? camera->globs.count() : 0;
    if (count > ZrRDMaxBinaryGlobs) {
      // The count field is 16 bits wide; the record must hold exactly the
      // globs it counts.
      ZnOSStream message;
      message << "Only the first " << ZrRDMaxBinaryGlobs << " of the " << count
              << " globs of camera " << camera->id << " in frame " << frame.number
              << " were written.";
      ZnReportWarning(ZnStr(message.str()));
      count = ZrRDMaxBinaryGlobs;
    }
    unsigned char b[2];
    putLe16(b, static_cast<uint32_t>(count));
    put(out, reinterpret_cast<const char*>(b), 2);
    for (int done = 0; done < count;) {
      int n = std::min(count - done, kGlobRun);
      for (int k = 0; k < n; ++k) {
        const ZrRDGlob& glob = camera->globs[done + k];
        putLe16(run + 4 * k, ZrRDEncodeCoordinate(glob.x));
        putLe16(run + 4 * k + 2, ZrRDEncodeCoordinate(glob.y));
      }
      put(out, reinterpret_cast<const char*>(run), 4 * static_cast<std::size_t>(n));
      done += n;
    }
  }
}

bool skipBinaryCameras(std::istream& in, int cameraCount) {
  ZnStreamScanner scan(in);
  if (const std::ptrdiff_t length = bufferedBinaryCameras(scan, cameraCount)) {
    scan.advance(length);
    return true;
  }
  for (int i = 0; i < cameraCount; ++i) {
    readBinaryGlobs(scan, nullptr, nullptr);
    if (in.fail()) {
      reportCameraFailure(i);
      return false;
    }
  }
  return true;
}

}  // namespace zr_format

bool ZrRDCheckIdentification(std::istream& in) {
  ZnStr line;
  line.read(in, 30, '\n');
  if (in.fail()) {
    ZnReportError("Invalid datafile header id.");
    return false;
  }
  line.trimLeft(false);
  line.trimRight();
  if (line.compareN(kIdentification, line.length()) != 0) {
    in.setstate(std::ios::failbit);
    ZnReportError("Invalid datafile header id.");
    return false;
  }
  in.ignore(80, '\n');
  in.ignore(1);  // the 'v'
  double version = 0.0;
  ZnStreamScanner scan(in);
  if (!scan.extract(version, kLongestDecimalToken)) {
    ZnReportError("Unable to read datafile version number.");
    return false;
  }
  if (std::floor(version) != kVersion) {
    ZnReportError("Unsupported datafile version %.2f.  Application uses version %.2f.", version,
                  kVersion);
    in.clear(std::ios::badbit);
    return false;
  }
  in.get();  // the newline after the version
  return true;
}

bool ZrRDReadBinaryCounts(std::istream& in, int* cameras, int* frames) {
  std::istream::int_type size = in.get();
  if (in.fail()) {
    ZnReportError("Unable to read header information.");
    return false;
  }
  if (size < 6) {
    in.setstate(std::ios::failbit);
    ZnReportError("Invalid header size.");
    return false;
  }
  unsigned char body[255] = {};
  in.read(reinterpret_cast<char*>(body), size);
  *cameras = le16(body);
  *frames = le32(body + 2);
  // A body cut short is not reported here, but it is no success either.
  return !in.fail();
}

bool ZrRDReadBinaryFrameHeader(std::istream& in, ZrRDFrame& frame, std::string* raw,
                               bool* warned) {
  // Only the first 9 bytes mean anything; those the record lacks stay 0.
  unsigned char record[255];
  std::memset(record, 0, 9);
  int size = 0;
  ZnStreamScanner scan(in);
  const char* b = scan.buffered(1);
  if (b != nullptr && scan.buffered(1 + static_cast<unsigned char>(*b)) != nullptr) {
    size = static_cast<unsigned char>(*b);
    std::memcpy(record, b + 1, static_cast<size_t>(std::min(size, 9)));
    if (raw != nullptr) raw->assign(b, static_cast<size_t>(1 + size));
    scan.advance(1 + size);
    frame.timecode.reset();
  } else {
    size = in.get();
    if (in.fail()) {
      ZnReportError("Unable to read frame number.");
      size = 0;  // the read below fails on the failed stream all the same
    }
    in.read(reinterpret_cast<char*>(record), size);
    frame.timecode.reset();
    if (in.fail()) {
      ZnReportError("Unable to read frame number.");
      return false;
    }
    if (raw != nullptr) {
      raw->assign(1, static_cast<char>(size));
      raw->append(reinterpret_cast<const char*>(record), static_cast<size_t>(size));
    }
  }
  frame.number = le32(record);
  int parts = record[4];
  if (size <= 4 || parts == 0) return true;
  if (parts < 4 && (warned == nullptr || !*warned)) {
    // The timecode bytes are there, so they are kept; the writer never
    // produces such a count, so the user is told.
    if (warned != nullptr) *warned = true;
    ZnOSStream message;
    message << "Invalid timecode for frame " << frame.number;
    ZnReportWarning(ZnStr(message.str()));
  }
  frame.timecode = PackTimecode(record[5], record[6], record[7], record[8]);
  return true;
}

bool ZrRDReadBinaryGlobs(std::istream& in, ZrRDCamera& camera) {
  ZnStreamScanner scan(in);
  return readBinaryGlobs(scan, &camera, nullptr);
}

bool ZrRDReadBinaryCameras(std::istream& in, ZrRDFrame& frame) {
  ZnStreamScanner scan(in);
  return zr_format::readCameras(
      in, frame, [&scan](ZrRDCamera* camera) { return readBinaryGlobs(scan, camera, nullptr); },
      reportCameraFailure);
}

bool ZrRDCopyBinaryCameras(std::istream& in, int cameraCount, std::ostream& out) {
  ZnStreamScanner scan(in);
  ZnStreamPrinter printer(out);
  // A frame whose records are all buffered goes in one piece.
  if (const std::ptrdiff_t length = bufferedBinaryCameras(scan, cameraCount)) {
    putBytes(printer, scan.buffered(length), static_cast<size_t>(length));
    scan.advance(length);
    return true;
  }
  for (int i = 0; i < cameraCount; ++i) {
    readBinaryGlobs(scan, nullptr, &printer);
    if (in.fail()) {
      reportCameraFailure(i);
      return false;
    }
  }
  return true;
}

uint16_t ZrRDRead16(std::istream& in) {
  unsigned char b[2];
  in.read(reinterpret_cast<char*>(b), 2);
  if (in.fail()) {
    reportReadFailure(in);
    return 0;
  }
  return le16(b);
}

void ZrRDWriteIdentification(std::ostream& os) {
  os << "Kyo Raw Data File"
     << " Binary\n";
  os << 'v' << std::fixed << std::setprecision(2) << kVersion << "\n";
  os.unsetf(std::ios::fixed);
}

void ZrRDWriteBinaryCounts(std::ostream& os, int frames, int cameras) {
  unsigned char b[7];
  b[0] = 6;
  putLe16(b + 1, static_cast<uint32_t>(cameras));
  putLe32(b + 3, static_cast<uint32_t>(frames));
  write(os, b, sizeof b);
}

void ZrRDWriteBinaryFrameHeader(std::ostream& os, const ZrRDFrame& frame) {
  ZnStreamPrinter out(os);
  zr_format::writeBinaryFrameHeader(out, frame);
}

void ZrRDWriteBinaryCameras(std::ostream& os, const ZrRDFrame& frame) {
  ZnStreamPrinter out(os);
  zr_format::writeBinaryCameras(out, frame);
}

void ZrRDWrite16(std::ostream& os, uint16_t value) {
  unsigned char b[2];
  putLe16(b, value);
  write(os, b, 2);
}

uint16_t ZrRDEncodeCoordinate(float value) {
  const float scaled = value * 128.0f;
  const double rounded = static_cast<double>(scaled) + 0.5;
  // Clamped before converting: a double outside the int range has no int
  // value. Such values, NaN and everything that truncates below 1 give 0.
  // Written as selections rather than branches, which a loop over millions
  // of coordinates mispredicts.
  double kept = rounded < 65535.0 ? rounded : 65535.0;
  kept = rounded >= 1.0 ? kept : 0.0;
  kept = scaled >= 2147483648.0f ? 0.0 : kept;
  return static_cast<uint16_t>(static_cast<int32_t>(kept));
}

bool ZrRDBinaryHeaderInForm(const unsigned char* header, std::size_t length, std::string* why) {
  using zr_format::departs;
  // The size byte, the frame number's 4 bytes, then the timecode: its part
  // count, hours, minutes, seconds, frames.
  if (length == 0) return true;
  const int size = header[0];
  if (size != 4 && size != 9) return departs(why, "its header is %d bytes long", size);
  if (size == 4 || length < 6 || header[5] == 0) return true;
  if (header[5] != 4) return departs(why, "its timecode has %d parts", header[5]);
  if (length > 7 && header[7] >= 60) return departs(why, "its timecode has %d minutes", header[7]);
  if (length > 8 && header[8] >= 60) return departs(why, "its timecode has %d seconds", header[8]);
  return true;
}

bool ZrRDBinaryCamerasHoldFrames(const unsigned char* bytes, std::size_t length, int cameras,
                                 int32_t previous, int32_t next, std::string* why,
                                 std::size_t* firstHeld) {
  if (!ZrRDNumbersSkip(previous, next) || cameras <= 0) return false;
  const uint32_t gap = static_cast<uint32_t>(next) - static_cast<uint32_t>(previous);
  std::size_t passed = 0;
  if (length > static_cast<std::size_t>(ZrRDHeldFramesWindow)) {
    passed = length - ZrRDHeldFramesWindow;
    bytes += passed;
    length = ZrRDHeldFramesWindow;
  }
  const int32_t n = static_cast<int32_t>(length);
  // Where the camera records of a frame of the form at q start, when its
  // number lies inside the skip; -1 otherwise.
  const auto recordsAt = [&](int32_t q) -> int32_t {
    const int32_t size = bytes[q];
    if ((size != 4 && size != 9) || q + 1 + size > n ||
        !ZrRDBinaryHeaderInForm(bytes + q, static_cast<std::size_t>(1 + size))) {
      return -1;
    }
    const uint32_t step =
        static_cast<uint32_t>(le32(bytes + q + 1)) - static_cast<uint32_t>(previous);
    return step > 0 && step < gap ? q + 1 + size : -1;
  };
  int32_t first = 0;
  while (first < n && recordsAt(first) < 0) ++first;
  if (first == n) return false;

  // A camera record at x ends at x + 2 + 4 * its glob count: positions form
  // a forest whose roots are n (the end of the records) and n + 1 (beyond
  // them). Where the `cameras` records that start at x end is the node
  // `cameras` steps towards the root, which one walk of the forest finds for
  // every x at once, keeping the path from the root: time linear in n however
  // many cameras, where following the records from every candidate would
  // take n times the cameras.
  const int32_t beyond = n + 1;
  std::vector<int32_t> child(static_cast<std::size_t>(n) + 2, -1);
  std::vector<int32_t> sibling(static_cast<std::size_t>(n), -1);
  for (int32_t x = 0; x < n; ++x) {
    const int32_t up = x + 2 > n ? beyond : std::min(beyond, x + 2 + 4 * le16(bytes + x));
    sibling[x] = child[up];
    child[up] = x;
  }
  std::vector<int32_t> end(static_cast<std::size_t>(n), -1);  // where x's records end, or -1
  std::vector<int32_t> path;
  std::vector<std::pair<int32_t, int32_t>> stack = {{beyond, 0}, {n, 0}};
  while (!stack.empty()) {
    const auto [x, depth] = stack.back();
    stack.pop_back();
    path.resize(static_cast<std::size_t>(depth) + 1);
    path[depth] = x;
    if (x < n && depth >= cameras && path[depth - cameras] != beyond) {
      end[x] = path[depth - cameras];
    }
    for (int32_t c = child[x]; c >= 0; c = sibling[c]) stack.push_back({c, depth + 1});
  }

  // From the end back: a frame of the form whose records end at the end, or
  // at a frame of the form from which frames go on to the end.
  std::vector<int32_t> goesTo(static_cast<std::size_t>(n) + 1, -1);
  int32_t found = -1;
  for (int32_t q = n - 1; q >= first; --q) {
    const int32_t records = recordsAt(q);
    const int32_t e = records >= 0 && records < n ? end[records] : -1;
    if (e == n || (e >= 0 && goesTo[e] >= 0)) {
      goesTo[q] = e;
      found = q;
    }
  }
  if (found < 0) return false;
  if (firstHeld != nullptr) *firstHeld = passed + static_cast<std::size_t>(found);
  int32_t last = found;
  while (goesTo[last] != n) last = goesTo[last];
  if (last == found) {
    return !zr_format::departs(why, "its glob data holds a frame numbered %d",
                               le32(bytes + found + 1));
  }
  return !zr_format::departs(why, "its glob data holds frames numbered %d to %d",
                             le32(bytes + found + 1), le32(bytes + last + 1));
}
