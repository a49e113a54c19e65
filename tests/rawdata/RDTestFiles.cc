#include "rawdata/RDTestFiles.h"

#include <sstream>

std::string RDBytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

ZnPackedTimecode RDPacked(int hour, int minute, int second, int frame, int rate) {
  return ZnTimecode{hour, minute, second, frame, rate}.pack();
}

void RDAddCamera(ZrRDFrame& frame, const std::vector<ZrRDGlob>& globs) {
  int i = frame.cameraCount();
  frame.setCameraCount(i + 1);
  ZrRDCamera* camera = new ZrRDCamera(i + 1);
  camera->globs.resize(static_cast<int>(globs.size()));
  for (size_t k = 0; k < globs.size(); ++k) camera->globs[static_cast<int>(k)] = globs[k];
  frame.setCamera(i, camera);
}

std::string RDEncodeFile(ZrRDFormat format, int claimedFrames, int cameras,
                         const std::vector<const ZrRDFrame*>& frames) {
  std::ostringstream os;
  ZrRDWriteFileHeader(os, format, claimedFrames, cameras);
  for (const ZrRDFrame* frame : frames) ZrRDWriteFrame(os, *frame, format);
  return os.str();
}
