#include "rawdata/ZrRDFormat.h"

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
                : zr_format::skipTextCameras(in, cameraCount);
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
