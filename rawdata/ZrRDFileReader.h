// Reads a raw data file one frame at a time.
//
// The reader opens a file by name through a ZnCompIFStream (so ".gz" and ".Z"
// files, and plain names whose compressed form is what exists, are read
// through their decompressor) and owns that stream; or it reads a stream the
// caller owns, which must outlive the reader. Either way it reads the header
// at once and then hands out frames: nextFrameNumber() decodes the next frame
// header, readFrame() its body. Only one frame is held at a time, so memory
// does not grow with the file; the optional index costs one entry per frame
// scanned.
//
// Failures are reported through the message list (ZnReportError), the most
// specific message first; the bool results say whether the operation
// succeeded. The end of the file is not special: the header read that meets it
// fails and reports "Unable to read frame number."; atEndOfData() then tells
// the end of the data from damage in the middle.
//
// A reader whose stream could not be opened (the opening reported why) has no
// stream: every read answers 0 or false and reports nothing more.
#ifndef HDRMEND_RAWDATA_ZRRDFILEREADER_H_
#define HDRMEND_RAWDATA_ZRRDFILEREADER_H_

#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFrame.h"

class ZnCompIFStream;

class ZrRDFileReader {
 public:
  // Opens the file and reads its header. Messages: those of the stream's
  // opening; "File is not a a Kyo Raw Data file." after the identification
  // messages; "Unable to read raw data statistics." after the counts
  // messages, also for a binary counts header cut short by the end, and after
  // "Invalid number of cameras %d." for a text count below 0 or above 65535.
  explicit ZrRDFileReader(const char* path);
  // Reads the header from the stream's current position. `name`, when given,
  // names the stream in messages.
  explicit ZrRDFileReader(std::istream& in, const char* name = nullptr);
  // Closes; a failure found then stays pending in the message list.
  ~ZrRDFileReader();

  ZrRDFileReader(const ZrRDFileReader&) = delete;
  ZrRDFileReader& operator=(const ZrRDFileReader&) = delete;

  // False when the stream could not be opened, and after close().
  bool isOpen() const { return stream_ != nullptr; }

  // The header's values; 0 when the header could not be read.
  bool isBinary() const { return binary_; }
  int frameCount() const { return frameCount_; }
  int cameraCount() const { return cameraCount_; }
  // Frame bodies read since opening, or since the index was built.
  int framesRead() const { return framesRead_; }
  // The number of the last frame header read; 0 before the first.
  int currentFrameNumber() const { return currentFrameNumber_; }

  // Decodes the next frame header and returns its number, or 0 when it cannot
  // be read (errors pending). A frame numbered 0 also gives 0, without an
  // error. When timecodeOut is given and the header was read, it receives -1
  // for a frame without timecode, else the packed timecode (every timecode a
  // file can hold packs below 2^31).
  int nextFrameNumber(int* timecodeOut = nullptr);

  // Reads the body of the frame whose header was read last into `frame`: its
  // number and timecode are that header's, and it gets cameraCount() cameras
  // with ids 1 to cameraCount(). On failure reports "Unable to read frame
  // <number>" after the decoders' messages, leaves the frame without cameras
  // and returns false.
  bool readFrame(ZrRDFrame& frame);
  // readFrame() without a frame to fill: reads and checks the body, with the
  // same messages and the same effect on the reader, and keeps nothing. For
  // passes that only count.
  bool skipFrame();
  // nextFrameNumber() into `frame`, then readFrame(). False when either fails;
  // a frame numbered 0 is read like any other.
  bool readNextFrame(ZrRDFrame& frame);
  // For copying a binary file into another: readNextFrame(), with the same
  // messages and the same effect on the reader, except that the frame gets
  // the header's number and timecode but no cameras, and `records` gets the
  // camera records as ZrRDWriteBinaryCameras() would write the cameras
  // readNextFrame() builds (see ZrRDCopyBinaryCameras()). A reader of a text
  // file reads nothing and answers false.
  bool readNextBinaryFrame(ZrRDFrame& frame, std::string& records);
  // The same for copying a text file into another: `records` gets the camera
  // records as ZrRDWriteTextCameras() would write the cameras readNextFrame()
  // builds on a stream in the default formatting state (see
  // ZrRDCopyTextCameras()). A reader of a binary file reads nothing and
  // answers false.
  bool readNextTextFrame(ZrRDFrame& frame, std::string& records);

  // After a frame header read failed: true when it failed because the data
  // ended (nothing but white space before the end of a text file, or a header
  // cut off by the end), false when something that is not a frame header
  // follows, or the stream failed for another reason (a read error). False
  // while no header read has failed, after a frame numbered 0 included.
  bool atEndOfData() const { return atEndOfData_; }

  // Records where every remaining frame starts, by frame number, reading
  // until framesRead() reaches frameCount(); then goes back to the first frame
  // scanned and sets framesRead() to 0. Frames numbered below 1 are not
  // entered; of two frames with one number the later counts. When a frame
  // cannot be read the index is left as it was and the reader goes back to
  // where it started (the read's messages stay pending). A stream that cannot
  // be positioned (a pipe: a compressed file) reports "Random access is not
  // possible on \"<name>\"." (or "...on this input stream." without a name).
  bool buildFrameIndex();
  // Reads the frame numbered `number` through the index. Outside 1 to the
  // highest number indexed: "Frame %d does not exist.". A number inside that
  // range that no frame carries answers false without a message. Afterwards
  // reading goes on sequentially from the frame after it.
  bool readFrameAt(int number, ZrRDFrame& frame);

  // Closes the owned stream and drops the index. Returns false when closing
  // found a failure, for instance a decompressor that failed on a corrupt
  // file; its message stays pending. Closing a caller's stream is not ours:
  // the reader only lets go of it. Later reads answer 0 or false.
  bool close();

 private:
  void readHeader();
  // Decodes a frame header into `frame` and takes its number and timecode.
  bool readFrameHeader(ZrRDFrame& frame);
  // Reports, unless the stream can be positioned.
  bool checkSeekable();
  // "Unable to read frame <number>", for the frame whose header was read last.
  void reportFrameFailure();
  // One more frame body read; framesRead() stops at the largest int.
  void countFrameRead();

  std::istream* stream_ = nullptr;
  ZnCompIFStream* ownedStream_ = nullptr;
  ZnStr name_;
  bool binary_ = false;
  int frameCount_ = 0;
  std::optional<ZnPackedTimecode> timecode_;
  int cameraCount_ = 0;
  int framesRead_ = 0;
  int currentFrameNumber_ = 0;
  bool atEndOfData_ = false;
  // Frame numbers and the positions of their headers, sorted by number; the
  // highest number bounds readFrameAt(). Sparse, so that a stray huge frame
  // number costs one entry rather than memory up to it.
  std::vector<std::pair<int, std::streampos>> index_;
  // The header decoder's target for nextFrameNumber(); it never holds cameras.
  ZrRDFrame headerScratch_;
};

#endif  // HDRMEND_RAWDATA_ZRRDFILEREADER_H_
