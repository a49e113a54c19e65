// Scratch files and small builders shared by the raw data file tests.
#ifndef HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_
#define HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_

#include <string>
#include <vector>

#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

// A fresh directory under /tmp, removed with everything in it on destruction.
class RDTempDir {
 public:
  RDTempDir();
  ~RDTempDir();
  RDTempDir(const RDTempDir&) = delete;
  RDTempDir& operator=(const RDTempDir&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

void RDWriteFile(const std::string& path, const std::string& bytes);
// The whole file; "" when it cannot be read.
std::string RDReadFile(const std::string& path);
bool RDFileExists(const std::string& path);

// The texts of the pending messages, newest first; empties the list.
std::vector<std::string> RDTakeMessages();

// Appends a camera holding these globs, with the next id.
void RDAddCamera(ZrRDFrame& frame, const std::vector<ZrRDGlob>& globs);

// A whole file as the field encoders write it: header, then the frames.
std::string RDEncodeFile(ZrRDFormat format, int claimedFrames, int cameras,
                         const std::vector<const ZrRDFrame*>& frames);

// Whether the shell finds the program.
bool RDHaveProgram(const char* program);

#endif  // HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_
