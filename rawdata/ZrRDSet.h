// A whole raw data file in memory, and whole-file questions about raw data
// files.
//
// ZrRDSet holds every frame of a file, indexed by frame number: slot i of
// frames() holds the frame numbered i + 1, or nothing when the file has no
// such frame. The set owns every frame it points to; frames enter it only as
// copies and leave it through clear(), a load, assignment or destruction.
//
// Failures are reported through the message list (ZnReportError), the most
// specific message first and the most general newest; the bool results say
// whether the operation succeeded. A failed or cancelled load leaves the set
// empty, except that load(path) leaves it untouched when the file cannot be
// opened. Memory exhaustion while copying frames is fatal, as it is for the
// arrays (see foundation/ZnArray.h): a fixed report on std::cerr, then abort.
#ifndef HDRMEND_RAWDATA_ZRRDSET_H_
#define HDRMEND_RAWDATA_ZRRDSET_H_

#include <istream>

#include "foundation/ZnArray.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

class ZrRDSet {
 public:
  // Empty, with format Text.
  ZrRDSet() = default;
  // Copies counts, format and every frame; slots empty in other stay empty.
  ZrRDSet(const ZrRDSet& other);
  // Replaces everything but the format with copies of other's.
  ZrRDSet& operator=(const ZrRDSet& other);
  ~ZrRDSet() { clear(); }

  // Deletes every frame and sets both counts to 0; the format stays.
  void clear();

  // Loads a file from the stream's current position, telling the encoding
  // from its first byte and keeping it as format(). Messages, after the
  // decoders' own: "File is not a Kyo Raw Data File." (binary identification
  // rejected); "Unable to read header information." (a binary counts header
  // cut short by the end, and after "Invalid number of cameras <n>." for a
  // count below 0 or above 65535); "Unable to read frame header." and "Unable to read frame
  // data.", each followed by "The last successfully read frame was <n>." (the
  // highest number stored so far) or "An error occurred while reading the
  // first frame." (the binary body failure has no such line); "Invalid frame
  // number." (0 or less); "Duplicate frame number.", followed in a text file
  // by the same line; "Canceled." when the cancel hook, polled after every
  // 50th frame, answers true; "Not enough memory for another frame." (then
  // the line as above). Loads only as many frames as the header states.
  bool load(std::istream& in);
  // The same in the given encoding (Binary, any other value means text);
  // format() is not changed.
  bool load(std::istream& in, ZrRDFormat format);
  // Opens the file (compressed files through their decompressor) and loads it
  // as load(stream) does, adding "Unable to read raw data file "<path>"." on
  // top of a failure; a decompressor that fails at the end fails the load
  // too. A file that cannot be opened leaves the set untouched, reported by
  // the opening only.
  bool load(const char* path);

  // Writes the set to the file in format(): the header, then every frame in
  // number order. The name's extension may select a compressor. Messages:
  // those of ZnCanWrite; "Unable to open "<path>"."; "Unable to write raw data
  // file "<path>"." when the data could not all be written (a full disk, a
  // failed compressor, reported first by the stream). A format other than Text
  // or Binary creates the file and writes nothing into it.
  bool save(const char* path) const;

  // Adds other's frames after this set's: other's frame k becomes frame
  // frames().count() + k. Slots empty in other stay empty. An empty other
  // changes nothing; an empty set becomes a copy of other (its format
  // excepted). Message: "Cannot append raw data with differing number of
  // cameras." when both hold frames and their camera counts differ.
  bool append(const ZrRDSet& other);

  // Puts a copy of the frame into the slot of its number, lengthening
  // frames() as needed, and returns the new frameCount(). A frame already in
  // that slot is deleted and replaced, and the count stays. The first frame
  // of an empty set sets cameraCount(). A number below 1 is refused with
  // "Invalid frame number." and the unchanged count is returned.
  int addFrame(const ZrRDFrame& frame);
  // Assigns the frame to the stored frame of the same number. Message, when
  // there is none: "Frame <n> does not exist.".
  bool replaceFrame(const ZrRDFrame& frame);
  // Gives every frame `count` more cameras without globs, numbered on from
  // its last, and raises cameraCount(). A count below 1 changes nothing.
  void addCameras(int count);

  // Navigation by frame number; each answers 0 when there is no such frame
  // (an empty set included). The first frame's number; the greatest number
  // below n; the least number above n.
  int firstFrameNumber() const;
  int frameNumberBefore(int n) const;
  int frameNumberAfter(int n) const;

  // The frame numbered n, or null when the set has none.
  const ZrRDFrame* frame(int n) const;
  const ZnDArray<ZrRDFrame*>& frames() const { return frames_; }
  // After a load the header's count; raised by append() and addFrame().
  int frameCount() const { return frameCount_; }
  int cameraCount() const { return cameraCount_; }
  ZrRDFormat format() const { return format_; }
  void setFormat(ZrRDFormat format) { format_ = format; }

 private:
  // Copies other's frames slot by slot into frames_, which must be empty.
  void copyFramesFrom(const ZrRDSet& other);
  // The load itself, after clear(); the set holds what was read on failure.
  bool loadFrames(std::istream& in, bool binary);

  ZnDArray<ZrRDFrame*> frames_;
  int frameCount_ = 0;
  int cameraCount_ = 0;
  ZrRDFormat format_ = ZrRDFormat::Text;
};

// Equal frame counts, and for every number up to that count either no frame
// in both or equal frames (ZrRDFrame equality). Slots beyond the end of a
// set's frames() count as empty.
bool operator==(const ZrRDSet& a, const ZrRDSet& b);
inline bool operator!=(const ZrRDSet& a, const ZrRDSet& b) { return !(a == b); }

// Reads the frame numbered `number` of the file on the stream into `frame`,
// scanning from the stream's current position; frame numbers must rise
// through the file. Messages: the reader's (see rawdata/ZrRDFileReader.h);
// "Frame <n> does not exist." when a higher number comes first or the frames
// end without it, the frame then holding the last frame read.
bool ZrRDReadFrame(std::istream& in, int number, ZrRDFrame& frame);
// The same on a file opened by name. Messages, on top: "Unable to open raw
// data file "<path>"." or "Unable to read raw data file "<path>".".
bool ZrRDReadFrame(const char* path, int number, ZrRDFrame& frame);

// True when the file can be read and uses the binary encoding. Messages: those
// of ZnCanRead; "Unable to open raw data file "<path>".".
bool ZrRDIsBinaryFile(const char* path);

// Where the set takes its frames from: ZrRDNewFrame() and
// ZrRDNewFrame(source) unless replaced. Frames made must be deletable by
// ZrRDDeleteFrame(). Lets tests stand in for an exhausted heap; null members
// put the defaults back. Returns the pair replaced.
struct ZrRDFrameFactory {
  ZrRDFrame* (*create)();
  ZrRDFrame* (*copy)(const ZrRDFrame& source);
};
ZrRDFrameFactory ZrRDSetFrameFactoryForTesting(ZrRDFrameFactory factory);

#endif  // HDRMEND_RAWDATA_ZRRDSET_H_
