#include "rawdata/ZrRDFormat.h"

#include <cstdarg>
#include <cstdio>

#include "rawdata/ZrRDFormatParts.h"
#include "streams/ZnStreamPrinter.h"

// The choice by encoding; each encoding's own code is in ZrRDBinaryFormat.cc
// and ZrRDTextFormat.cc.

bool ZrRDIsBinary(std::istream& in) {
  std::istream::int_type c = in.get();
  if (in.fail()) return false;
  in.putback(static_cast<char>(c));
  return c == 'K';
}

bool ZrRDReadFrameHeader(std::istream& in, bool binary, ZrRDFrame& frame) {
  return binary ? ZrRDReadBinaryFrameHeader(in, frame, nullptr)
                : ZrRDReadTextFrameHeader(in, frame, nullptr);
}

bool ZrRDReadCameras(std::istream& in, bool binary, ZrRDFrame& frame) {
  return binary ? ZrRDReadBinaryCameras(in, frame) : ZrRDReadTextCameras(in, frame);
}

bool ZrRDSkipCameras(std::istream& in, bool binary, int cameraCount) {
  return binary ? zr_format::skipBinaryCameras(in, cameraCount)
                : zr_format::skipTextCameras(in, cameraCount, nullptr);
}

bool zr_format::departs(std::string* why, const char* format, ...) {
  if (why == nullptr) return false;
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  *why = text;
  return false;
}

bool ZrRDFrameNumberInForm(int32_t previous, int32_t number, std::string* why) {
  // A frame counter of 32 bits that runs over steps from the largest number
  // to the smallest.
  const int64_t step =
      static_cast<int32_t>(static_cast<uint32_t>(number) - static_cast<uint32_t>(previous));
  if (step <= ZrRDMaxFrameNumberStep && step >= -ZrRDMaxFrameNumberStep) return true;
  return zr_format::departs(why, "its number %d lies more than %lld from the %d before it", number,
                            static_cast<long long>(ZrRDMaxFrameNumberStep), previous);
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

void ZrRDWriteFrame(std::ostream& os, const ZrRDFrame& frame, ZrRDFormat format) {
  ZnStreamPrinter out(os);
  switch (format) {
    case ZrRDFormat::Text:
      zr_format::writeTextFrameHeader(out, frame);
      zr_format::writeTextCameras(out, frame);
      zr_format::put(out, "\n", 1);
      break;
    case ZrRDFormat::Binary:
      zr_format::writeBinaryFrameHeader(out, frame);
      zr_format::writeBinaryCameras(out, frame);
      break;
  }
}
