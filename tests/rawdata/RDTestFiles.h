// Small builders of records, frames and files shared by the raw data tests.
#ifndef HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_
#define HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

// The bytes given as numbers, for binary records written out by hand.
std::string RDBytes(std::initializer_list<int> bytes);

ZnPackedTimecode RDPacked(int hour, int minute, int second, int frame, int rate = 0);

// Appends a camera holding these globs, with the next id.
void RDAddCamera(ZrRDFrame& frame, const std::vector<ZrRDGlob>& globs);

// A whole file as the field encoders write it: header, then the frames.
std::string RDEncodeFile(ZrRDFormat format, int claimedFrames, int cameras,
                         const std::vector<const ZrRDFrame*>& frames);

#endif  // HDRMEND_TESTS_RAWDATA_RDTESTFILES_H_
