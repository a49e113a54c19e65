#include "rawdata/RDTestFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/ZnMessage.h"
#include "system/ZnEnvironment.h"

RDTempDir::RDTempDir() {
  char pattern[] = "/tmp/rdfiletest.XXXXXX";
  if (mkdtemp(pattern) != nullptr) dir_ = pattern;
  EXPECT_FALSE(dir_.empty()) << "mkdtemp failed";
}

RDTempDir::~RDTempDir() {
  if (dir_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void RDWriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::string RDReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool RDFileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> RDTakeMessages() {
  std::vector<std::string> texts;
  for (ZnMessage* m = ZnMessages.first(); m != nullptr; m = m->next()) {
    texts.push_back(m->text().c_str());
  }
  ZnClearMessages();
  return texts;
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

bool RDHaveProgram(const char* program) { return ZnFindInPath(program); }
