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
// the end of the data from damage in the middle. A warning that frame headers
// repeat (a timecode part count of 1 to 3) is passed on for the first such
// header only, so that a long recording cannot fill the message list.
//
// A reader whose stream could not be opened (the opening reported why) has no
// stream: every read answers 0 or false and reports nothing more.
#ifndef HDRMEND_RAWDATA_ZRRDFILEREADER_H_
#define HDRMEND_RAWDATA_ZRRDFILEREADER_H_

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFrame.h"

class ZnCompIFStream;
class ZnFdStreamBuf;

class ZrRDFileReader {
 public:
  // Opens the file and reads its header. Messages: those of the stream's
  // opening; "File is not a a Kyo Raw Data file." after the identification
  // messages; "Unable to read raw data statistics." after the counts
  // messages, also for a binary counts header cut short by the end, and after
  // "Invalid number of cameras %d." for a text count below 0 or above 65535.
  explicit ZrRDFileReader(const char* path);
  // Opens a stream on a duplicate of `fd`, a file the caller opened and
  // still owns, read from its current offset; `name` chooses the
  // decompressor by its extension and names the file in messages. Nothing
  // opens the file by name again. Messages as for opening by name.
  ZrRDFileReader(int fd, const char* name);
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
  // Whether the warning given once per reader (a binary frame header whose
  // timecode has fewer than four parts) has been given. A caller that reads
  // parts of one recording through two readers joins them with
  // noteWarnedOnce(), so that the warning stays one for the whole.
  bool warnedOnce() const { return warned_; }
  void noteWarnedOnce() { warned_ = true; }

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

  // The recorder's form (see rawdata/ZrRDFormat.h), for passes that take a
  // frame of another form for damage. Whether the frame whose header was
  // read last is of the form as far as its header shows: the binary
  // header's bytes, or whether a text frame number starts a line (the first
  // after resumeAt() is taken to). The step from the frame number before is
  // the caller's to judge. *why as in ZrRDFormat.h.
  bool headerInForm(std::string* why) const;
  // skipFrame(), judging a text body's lines as well: at the first number
  // whose line departs from the form it stops, *why saying how, and answers
  // true without counting the frame (see ZrRDSkipTextCamerasInForm()). A
  // text body whose last number runs into the end of the data may have been
  // cut there: it fails as a body cut short does, "The data ends inside a
  // number, which may have been cut off." then "Unable to read frame
  // <number>".
  bool skipFrame(std::string* why);
  // Whether the last frame header read ran into the end of the data, decoded
  // or not: a binary header whose bytes are not all there, a text header
  // line without its line end. atEndOfData() then tells whether it is a
  // recorder's header that the end cut off.
  bool headerCutOff() const { return cutOff_; }
  // Where the last frame header read starts, as position() gives it.
  int64_t recordStart() const { return recordStart_; }
  // nextFrameNumber() into `frame`, then readFrame(). False when either fails;
  // a frame numbered 0 is read like any other.
  bool readNextFrame(ZrRDFrame& frame);
  // For copying a recording into another of the same encoding:
  // readNextFrame(), with the same messages and the same effect on the
  // reader, writing the frame's record to `out` as it is read instead of
  // building a frame. What is written reads back as the frame readNextFrame()
  // builds and is exactly what the encoder writes for it, except that the
  // frame header keeps what it holds as it stands: a binary header's bytes,
  // a text header's timecode text (its rate, its form). A frame of any size
  // goes out in pieces no larger than the input's buffer. After a failure
  // `out` has part of the frame. `out` is the caller's; its state is not
  // examined.
  bool copyNextFrame(std::ostream& out);

  // Whether the data ends where the last frame header read stopped: after a
  // header read that failed, one that gave a frame numbered 0, or one that
  // the end of the data cut off (headerCutOff()). A header cut off ends the
  // data when what there is of it is of the recorder's form: a binary
  // header's bytes, a text header line that starts a line and holds a frame
  // number (or its first characters) and then only what a timecode text may
  // hold (see ZrRDCutTextHeaderInForm()); the recorder died while writing
  // it. Otherwise the data has ended when nothing follows but an empty tail:
  // nothing at all, white space (text), or zero bytes of any length (either
  // encoding), in any mix, such as a crash leaves. Anything else there (a
  // number that is no number, a frame numbered 0 with data behind it) is
  // damage, and the answer is false; so it is for a stream that failed for
  // another reason (a read error). To tell, the rest of the data is read as
  // far as needed, a buffer at a time without decoding: at the end of the
  // data the stream is then at its end. When something follows, the stream
  // stands at its first byte, the empty run before it consumed (a caller
  // that means to read a frame numbered 0 does so before asking). False
  // while the last header read gave a frame that is not numbered 0 and was
  // not cut off.
  bool atEndOfData();
  // Reads and drops whatever is left of the data, so that close() learns a
  // decompressor's verdict on all of it (one stopped early ends on a broken
  // pipe, which tells nothing).
  void drain();

  // Where the next read starts, in bytes of the (decompressed) data from its
  // beginning; -1 when the stream cannot tell. Costs no system call on the
  // reader's own stream.
  int64_t position() const;
  // Whether resumeAt() can position the stream: not on a pipe.
  bool seekable() const;
  // Goes on reading frames from `position` (as position() gives it), for a
  // caller that found by other means where frames start again: the stream's
  // state is cleared, and so is how the data may have ended. False when the
  // stream cannot be positioned.
  bool resumeAt(int64_t position);
  // The bytes [from, to) of the data when they are all still in the stream's
  // buffer (read already, or read ahead), else null; valid until the next
  // read. For a caller that looks at what it has just read.
  const char* bufferedBytes(int64_t from, int64_t to) const;
  // The stream the frames come from, for a caller that looks at bytes before
  // it decides where to resume; null when the reader has none.
  std::istream* stream() const { return stream_; }

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
  // Takes a stream it opened, if it did open, and reads its header.
  void adopt(ZnCompIFStream* stream);
  void readHeader();
  // Decodes a frame header into `frame` and takes its number and timecode;
  // `raw`, null or &rawHeader_, as ZrRDReadTextFrameHeader() gives it (a
  // binary header goes to rawHeader_ in any case). Notes how the data may
  // have ended there.
  bool readFrameHeader(ZrRDFrame& frame, std::string* raw = nullptr);
  // The first byte of the next frame record, white space before a text one
  // skipped; EOF at the end of the data, kNotARecord on a failed stream.
  int peekRecordStart();
  // Whether everything from the stream's position to its end is an empty
  // tail (see atEndOfData()).
  bool restIsEmpty();
  // Whether the header that the end of the data cut off is a recorder's.
  bool cutHeaderInForm() const;
  // Reports, unless the stream can be positioned.
  bool checkSeekable();
  // "Unable to read frame <number>", for the frame whose header was read last.
  void reportFrameFailure();
  // One more frame body read; framesRead() stops at the largest int.
  void countFrameRead();

  std::istream* stream_ = nullptr;
  ZnCompIFStream* ownedStream_ = nullptr;
  // The owned stream's buffer, which tells its position for nothing.
  ZnFdStreamBuf* ownedBuffer_ = nullptr;
  ZnStr name_;
  bool binary_ = false;
  int frameCount_ = 0;
  std::optional<ZnPackedTimecode> timecode_;
  int cameraCount_ = 0;
  int framesRead_ = 0;
  int currentFrameNumber_ = 0;
  // How the data may have ended at the last header read.
  enum class Ending { kNone, kEnd, kDamage, kTailFollows, kCutHeader };
  Ending ending_ = Ending::kNone;
  // The last frame header read ran into the end of the data.
  bool cutOff_ = false;
  // Where the last frame header read starts.
  int64_t recordStart_ = -1;
  // The white space before the last text frame header read held a line
  // feed, or the header is the first after resumeAt().
  bool startsLine_ = false;
  bool resumed_ = false;
  // A repeated frame header warning was passed on.
  bool warned_ = false;
  // The last header as ZrRDReadBinaryFrameHeader() and
  // ZrRDReadTextFrameHeader() give it, for copies; a binary one always.
  std::string rawHeader_;
  // Frame numbers and the positions of their headers, sorted by number; the
  // highest number bounds readFrameAt(). Sparse, so that a stray huge frame
  // number costs one entry rather than memory up to it.
  std::vector<std::pair<int, std::streampos>> index_;
  // The header decoder's target for nextFrameNumber(); it never holds cameras.
  ZrRDFrame headerScratch_;
};

#endif  // HDRMEND_RAWDATA_ZRRDFILEREADER_H_
