// What the code of the two encodings (rawdata/ZrRDBinaryFormat.cc,
// ZrRDTextFormat.cc) shares, and what the choice by encoding
// (ZrRDFormat.cc) calls in each. Not an interface of the library:
// rawdata/ZrRDFormat.h is.
#ifndef HDRMEND_RAWDATA_ZRRDFORMATPARTS_H_
#define HDRMEND_RAWDATA_ZRRDFORMATPARTS_H_

#include <cstddef>
#include <istream>
#include <string>

#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFrame.h"
#include "streams/ZnStreamPrinter.h"

namespace zr_format {

// The longest number tokens read: far beyond any value of their fields (an
// int has at most 11 characters; the encoder writes a coordinate in at most
// 45), so a longer token is damage, and refusing it keeps a run of digits
// from being collected whole.
constexpr std::size_t kLongestIntToken = 32;
constexpr std::size_t kLongestDecimalToken = 256;

// os.write(), or os << text where the field width is 0.
inline void put(ZnStreamPrinter& out, const char* text, std::size_t n) {
  if (out.raw()) {
    out.put(text, n);
  } else {
    out.stream().write(text, static_cast<std::streamsize>(n));
  }
}

// os.write() of a run of bytes, through the printer's buffer in pieces
// where it can.
inline void putBytes(ZnStreamPrinter& out, const char* bytes, std::size_t n) {
  if (n == 0) return;
  if (out.raw()) {
    out.putInPieces(bytes, n);
  } else {
    out.stream().write(bytes, static_cast<std::streamsize>(n));
  }
}

// Gives a camera that is about to be filled exactly `count` globs. A block
// of another size is given back and a new one taken instead of reallocated:
// the old globs are overwritten anyway, and the allocator serves small
// blocks of a size it has just seen from a cache, while a reallocation
// searches its free lists every time.
inline void prepareGlobs(ZnDArray<ZrRDGlob>& globs, int count) {
  if (globs.count() == count) return;
  globs.setCount(0);
  globs.resize(count);
}

// A recording's timecodes carry no rate.
inline ZnPackedTimecode PackTimecode(int hour, int minute, int second, int frame) {
  ZnTimecode timecode;
  timecode.hour = hour;
  timecode.minute = minute;
  timecode.second = second;
  timecode.frame = frame;
  timecode.rate = 0;
  return timecode.pack();
}

// The camera records of a frame into its slots, each through
// readGlobs(camera), which leaves the stream failed when it cannot read
// one; then every camera of the frame goes and reportFailure(slot) says
// which.
template <typename ReadGlobs, typename ReportFailure>
bool readCameras(std::istream& in, ZrRDFrame& frame, ReadGlobs readGlobs,
                 ReportFailure reportFailure) {
  const int count = frame.cameraCount();
  for (int i = 0; i < count; ++i) {
    ZrRDCamera* camera = frame.camera(i);
    const bool fresh = camera == nullptr;
    if (fresh) {
      camera = new ZrRDCamera(i + 1);
    } else {
      camera->id = i + 1;
    }
    readGlobs(camera);
    if (in.fail()) {
      if (fresh) delete camera;
      frame.clearCameras();
      reportFailure(i);
      return false;
    }
    if (fresh) frame.setCamera(i, camera);
  }
  return true;
}

// Sets *why, when given, to the phrase formatted as printf() does, and
// answers false: how a judgement of the recorder's form says no.
bool departs(std::string* why, const char* format, ...) __attribute__((format(printf, 2, 3)));

// In ZrRDBinaryFormat.cc.
void writeBinaryFrameHeader(ZnStreamPrinter& out, const ZrRDFrame& frame);
void writeBinaryCameras(ZnStreamPrinter& out, const ZrRDFrame& frame);
bool skipBinaryCameras(std::istream& in, int cameraCount);

// In ZrRDTextFormat.cc.
void writeTextFrameHeader(ZnStreamPrinter& out, const ZrRDFrame& frame);
void writeTextCameras(ZnStreamPrinter& out, const ZrRDFrame& frame);
// Judges the lines too when `why` is given (ZrRDSkipTextCamerasInForm()).
bool skipTextCameras(std::istream& in, int cameraCount, std::string* why);

}  // namespace zr_format

#endif  // HDRMEND_RAWDATA_ZRRDFORMATPARTS_H_
