#include "rawdata/ZrRDFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "streams/ZnSStream.h"

namespace {

const char kIdentification[] = "Kyo Raw Data File Binary";
const double kVersion = 1.0;

// Globs go through a stack buffer in runs of this many, so that a camera
// record costs one stream read per run instead of two per coordinate.
constexpr int kGlobRun = 1024;

// Text glob arrays grow towards their stated count in steps no larger than
// the globs already read, so a damaged count cannot claim memory the input
// does not back.
constexpr int kFirstTextGlobs = 4096;

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

// The message the two-byte read gives for a stream that just failed.
void reportReadFailure(std::istream& in) {
  ZnReportError(in.eof() ? "Hit end of file." : "Error reading file.");
}

void decodeGlob(const unsigned char* b, ZrRDGlob& glob) {
  glob.pixels = 1;
  glob.x = ZrRDDecodeCoordinate(le16(b));
  glob.y = ZrRDDecodeCoordinate(le16(b + 2));
}

bool readCameras(std::istream& in, ZrRDFrame& frame, bool binary) {
  int count = frame.cameraCount();
  for (int i = 0; i < count; ++i) {
    ZrRDCamera* camera = frame.camera(i);
    bool fresh = camera == nullptr;
    if (fresh) {
      camera = new ZrRDCamera(i + 1);
    } else {
      camera->id = i + 1;
    }
    if (binary) {
      ZrRDReadBinaryGlobs(in, *camera);
    } else {
      ZrRDReadTextGlobs(in, *camera);
    }
    if (in.fail()) {
      if (fresh) delete camera;
      frame.clearCameras();
      if (binary) {
        reportNumbered("Cannot read camera ", i + 1);
      } else {
        ZnReportError("Cannot read data for camera.");
        if (i > 0) {
          ZnReportError("The last successfully read camera was %d.", i);
        } else {
          ZnReportError("An error occurred reading the first camera.");
        }
      }
      return false;
    }
    if (fresh) frame.setCamera(i, camera);
  }
  return true;
}

}  // namespace

bool ZrRDIsBinary(std::istream& in) {
  std::istream::int_type c = in.get();
  if (in.fail()) return false;
  in.putback(static_cast<char>(c));
  return c == 'K';
}

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
  if (!(in >> version)) {
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

bool ZrRDReadTextCounts(std::istream& in, int* cameras, int* frames) {
  int value = 0;
  if (!(in >> value)) {
    ZnReportError("Unable to read number of cameras.");
    return false;
  }
  *cameras = value;
  if (!(in >> value)) {
    ZnReportError("Unable to read number of frames.");
    return false;
  }
  *frames = value;
  return true;
}

bool ZrRDReadBinaryFrameHeader(std::istream& in, ZrRDFrame& frame) {
  std::istream::int_type size = in.get();
  if (in.fail()) {
    ZnReportError("Unable to read frame number.");
    size = 0;  // the read below fails on the failed stream all the same
  }
  // Only the first 9 bytes mean anything; those the record lacks stay 0.
  unsigned char record[255];
  std::memset(record, 0, 9);
  in.read(reinterpret_cast<char*>(record), size);
  frame.timecode.reset();
  if (in.fail()) {
    ZnReportError("Unable to read frame number.");
    return false;
  }
  frame.number = le32(record);
  int parts = record[4];
  if (size <= 4 || parts == 0) return true;
  if (parts < 4) {
    // The timecode bytes are there, so they are kept; the writer never
    // produces such a count, so the user is told.
    ZnOSStream message;
    message << "Invalid timecode for frame " << frame.number;
    ZnReportWarning(ZnStr(message.str()));
  }
  ZnTimecode timecode;
  timecode.hour = record[5];
  timecode.minute = record[6];
  timecode.second = record[7];
  timecode.frame = record[8];
  timecode.rate = 0;
  frame.timecode = timecode.pack();
  return true;
}

bool ZrRDReadTextFrameHeader(std::istream& in, ZrRDFrame& frame) {
  int number = 0;
  if (!(in >> number)) {
    ZnReportError("Unable to read frame number.");
    return false;
  }
  frame.number = number;
  ZnStr rest;
  rest.readLine(in);
  if (in.fail()) {
    ZnReportError("Unable to read timecode.");
    return false;
  }
  rest.trimLeft(false);
  rest.trimRight();
  if (rest.length() == 0) {
    frame.timecode.reset();
    return true;
  }
  ZnPackedTimecode packed = 0;
  if (!ZnPackedTimecodeParse(rest, &packed, false)) {
    in.setstate(std::ios::failbit);
    ZnReportError("Unable to convert \"%s\" to timecode.", rest.c_str());
    return false;
  }
  frame.timecode = packed;
  return true;
}

bool ZrRDReadBinaryGlobs(std::istream& in, ZrRDCamera& camera) {
  int count = ZrRDRead16(in);
  if (in.fail()) {
    ZnReportError("File read error.");
    return false;
  }
  camera.globs.resize(count);
  ZrRDGlob* globs = camera.globs.begin();
  unsigned char run[4 * kGlobRun];
  for (int done = 0; done < count;) {
    int want = std::min(count - done, kGlobRun);
    in.read(reinterpret_cast<char*>(run), 4 * want);
    int got = static_cast<int>(in.gcount());
    int whole = got / 4;
    for (int k = 0; k < whole; ++k) decodeGlob(run + 4 * k, globs[done + k]);
    if (got < 4 * want) {
      // The same messages as a read of one coordinate at a time: the glob is
      // lost at its x when fewer than two of its bytes arrived, else at its y.
      reportReadFailure(in);
      ZnReportError(got % 4 < 2 ? "Cannot read X coordinate." : "Cannot read Y coordinate.");
      camera.clearGlobs();
      reportNumbered("Unable to read glob ", done + whole + 1);
      return false;
    }
    done += want;
  }
  return true;
}

bool ZrRDReadTextGlobs(std::istream& in, ZrRDCamera& camera) {
  int count = 0;
  if (!(in >> count) || count < 0) {
    in.setstate(std::ios::failbit);
    ZnReportError("Error reading number of globs for camera.");
    return false;
  }
  ZnDArray<ZrRDGlob>& globs = camera.globs;
  globs.resize(std::min(count, kFirstTextGlobs));
  for (int i = 0; i < count; ++i) {
    if (i == globs.count()) globs.resize(count - i < i ? count : 2 * i);
    ZrRDGlob& glob = globs[i];
    double value = 0.0;
    if (!(in >> glob.pixels)) {
      ZnReportError("Unable to read number of pixels.");
    } else if (!(in >> value)) {
      ZnReportError("Error reading value for x.");
    } else {
      glob.x = static_cast<float>(value);
      if (!(in >> value)) {
        ZnReportError("Error reading value for y.");
      } else {
        glob.y = static_cast<float>(value);
      }
    }
    if (in.fail()) {
      camera.clearGlobs();
      ZnReportError("Unable to read data for glob.");
      return false;
    }
  }
  return true;
}

bool ZrRDReadBinaryCameras(std::istream& in, ZrRDFrame& frame) {
  return readCameras(in, frame, true);
}

bool ZrRDReadTextCameras(std::istream& in, ZrRDFrame& frame) {
  return readCameras(in, frame, false);
}

bool ZrRDReadFrameHeader(std::istream& in, bool binary, ZrRDFrame& frame) {
  return binary ? ZrRDReadBinaryFrameHeader(in, frame) : ZrRDReadTextFrameHeader(in, frame);
}

bool ZrRDReadCameras(std::istream& in, bool binary, ZrRDFrame& frame) {
  return readCameras(in, frame, binary);
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

void ZrRDWriteTextCounts(std::ostream& os, int frames, int cameras) {
  os << cameras << "\n" << frames << "\n";
}

void ZrRDWriteFileHeader(std::ostream& os, ZrRDFormat format, int frames, int cameras) {
  switch (format) {
    case ZrRDFormat::Text:
      ZrRDWriteTextCounts(os, frames, cameras);
      break;
    case ZrRDFormat::Binary:
      ZrRDWriteIdentification(os);
      ZrRDWriteBinaryCounts(os, frames, cameras);
      break;
  }
}

void ZrRDWriteBinaryFrameHeader(std::ostream& os, const ZrRDFrame& frame) {
  unsigned char b[10];
  putLe32(b + 1, static_cast<uint32_t>(frame.number));
  if (!frame.timecode) {
    b[0] = 4;
    write(os, b, 5);
    return;
  }
  ZnTimecode timecode = ZnTimecode::unpack(*frame.timecode);
  b[0] = 9;
  b[5] = 4;
  b[6] = static_cast<unsigned char>(timecode.hour);
  b[7] = static_cast<unsigned char>(timecode.minute);
  b[8] = static_cast<unsigned char>(timecode.second);
  b[9] = static_cast<unsigned char>(timecode.frame);
  write(os, b, 10);
}

void ZrRDWriteBinaryCameras(std::ostream& os, const ZrRDFrame& frame) {
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
    ZrRDWrite16(os, static_cast<uint16_t>(count));
    for (int done = 0; done < count;) {
      int n = std::min(count - done, kGlobRun);
      for (int k = 0; k < n; ++k) {
        const ZrRDGlob& glob = camera->globs[done + k];
        putLe16(run + 4 * k, ZrRDEncodeCoordinate(glob.x));
        putLe16(run + 4 * k + 2, ZrRDEncodeCoordinate(glob.y));
      }
      write(os, run, 4 * n);
      done += n;
    }
  }
}

void ZrRDWriteTextFrameHeader(std::ostream& os, const ZrRDFrame& frame) {
  os << frame.number;
  if (frame.timecode) os << ' ' << ZnPackedTimecodeFormat(*frame.timecode, false).c_str();
  os << "\n";
}

void ZrRDWriteTextCameras(std::ostream& os, const ZrRDFrame& frame) {
  int slots = frame.cameraCount();
  for (int i = 0; i < slots; ++i) {
    if (i > 0) os << "\n";
    const ZrRDCamera* camera = frame.camera(i);
    int count = camera != nullptr ? camera->globs.count() : 0;
    os << count;
    for (int k = 0; k < count; ++k) {
      const ZrRDGlob& glob = camera->globs[k];
      os << "\n"
         << glob.pixels << ' ' << std::left << std::fixed << std::setprecision(4) << std::setw(8)
         << glob.x << ' ' << std::setw(8) << glob.y;
      os.unsetf(std::ios::left | std::ios::fixed);
    }
  }
}

void ZrRDWriteFrame(std::ostream& os, const ZrRDFrame& frame, ZrRDFormat format) {
  switch (format) {
    case ZrRDFormat::Text:
      ZrRDWriteTextFrameHeader(os, frame);
      ZrRDWriteTextCameras(os, frame);
      os << "\n";
      break;
    case ZrRDFormat::Binary:
      ZrRDWriteBinaryFrameHeader(os, frame);
      ZrRDWriteBinaryCameras(os, frame);
      break;
  }
}

void ZrRDWrite16(std::ostream& os, uint16_t value) {
  unsigned char b[2];
  putLe16(b, value);
  write(os, b, 2);
}

uint16_t ZrRDEncodeCoordinate(float value) {
  float scaled = value * 128.0f;
  double rounded = static_cast<double>(scaled) + 0.5;
  // Checked before converting: a double outside the int range has no int
  // value. Such values, NaN and everything that truncates below 1 give 0.
  if (!(rounded >= 1.0) || scaled >= 2147483648.0f) return 0;
  if (rounded >= 65536.0) return 65535;
  return static_cast<uint16_t>(static_cast<int32_t>(rounded));
}
