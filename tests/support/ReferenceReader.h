// A small reader of raw data recordings, written apart from the library for
// the tests that judge the library's reading: the damage matrix and the
// damage fuzz target. It reads the uncompressed bytes of a recording the
// plain way, frame by frame, and says which frames read whole and whether
// nothing but an empty tail (white space in a text file, zero bytes in
// either) follows them.
//
// It follows the format as files hold it, with the library's limits (a
// camera count of 0 to 65535, number tokens of at most 32 characters and
// coordinates of at most 256, coordinates a float holds, timecode texts of at
// most 255 characters); whether a timecode text is one is asked of the
// timecode parser, which has tests of its own. It takes only the frames a
// recorder writes, as a repair does: binary headers of 4 bytes or of 9 with
// a timecode of no parts or of 4 (minutes and seconds below 60), text glob
// counts and globs each on a line of their own, frame numbers on a line of
// their own and within 2^24 of the frame before; and a recorder's frame
// header that the end of the data cuts off ends the data, while a text
// frame whose last number the end touches is cut in its body.
#ifndef HDRMEND_TESTS_SUPPORT_REFERENCEREADER_H_
#define HDRMEND_TESTS_SUPPORT_REFERENCEREADER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ReferenceGlob {
  int pixels = 1;  // binary globs carry none
  double x = 0;    // text: the value read; binary: the stored 16-bit units
  double y = 0;
};

struct ReferenceFrame {
  int32_t number = 0;
  // The frame header as it stands: a binary header's bytes (size byte
  // first), or a text header's timecode text without the white space
  // around it ("" for none).
  std::string header;
  std::vector<std::vector<ReferenceGlob>> cameras;
};

struct ReferenceReading {
  bool headerRead = false;  // the file header could be read
  bool binary = false;
  int cameras = 0;
  int32_t claimed = 0;
  // The frames that read whole, in order, up to the end of the data, the
  // first damage, or a frame numbered 0 (the end marker, not listed).
  std::vector<ReferenceFrame> frames;
  // Nothing but an empty tail follows them: the recording reads whole.
  bool whole = false;
  // What follows them reads as a frame, but not one a recorder writes.
  bool departs = false;
};

ReferenceReading ReadReference(const std::string& bytes);

// Whether `copy`, a repair's copy of `original`, holds exactly the frames of
// `original` as a copy must: numbers and frame headers as they stood, binary
// camera records as they stood, text coordinates as four decimals of their
// float. Sets *why when not.
bool SameFramesAsCopied(const ReferenceReading& original, const ReferenceReading& copy,
                        std::string* why);

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SUPPORT_REFERENCEREADER_H_
