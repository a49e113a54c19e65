// The two encodings of a raw data file, field by field.
//
// A binary file starts with the identification line "Kyo Raw Data File
// Binary", the version line "v1.00" and a counts header (a size byte, then the
// number of cameras in 2 bytes and the number of frames in 4, little-endian).
// A text file starts with two lines: the number of cameras, then the number of
// frames. Frame records follow until the end of the file: a frame header (the
// frame number and an optional timecode), then one camera record per camera,
// each a glob count and that many globs. Binary coordinates are stored in
// units of 1/128 pixel in 16 bits, so from 0 to just under 512 pixels; text
// coordinates carry 4 decimals.
//
// Decoders read from the stream's current position. They report failures
// through ZnReportError, oldest and most specific first, and leave the stream
// failed, so every later read fails as well; the one exception is a version
// that is not supported, which leaves the stream in exactly the bad state. The
// bool results are false exactly when the decoder reported an error (for the
// identification check: when it rejected the file). Where the input ends
// within or right after a field that needs no report (an empty input at the
// encoding test, a version line without its newline, a counts header cut
// short), the stream is failed without a report and the next decoder reports.
// Messages that name a number are composed in full before they are reported.
//
// Encoders write to the stream without examining its state.
//
// Both work on the stream buffer directly where the stream allows it (see
// streams/ZnStreamScanner.h and ZnStreamPrinter.h) and through the standard
// operations otherwise, with the same results either way: the values, the
// messages, the stream's state, position and formatting state, and what
// reaches its buffer. Only the stream's gcount() after a decoder is not
// meaningful.
#ifndef HDRMEND_RAWDATA_ZRRDFORMAT_H_
#define HDRMEND_RAWDATA_ZRRDFORMAT_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "rawdata/ZrRDFrame.h"

enum class ZrRDFormat { Text = 1, Binary = 2 };

// The highest number of globs one binary camera record can hold.
constexpr int ZrRDMaxBinaryGlobs = 65535;

// ---- Header decoders ----

// Peeks at the first byte: a binary file starts with the letter K of its
// identification line; anything else, and an empty stream, is text. The byte
// is put back. An empty stream is left with eof and fail set, as get() leaves
// it.
bool ZrRDIsBinary(std::istream& in);

// Reads the identification and version lines of a binary file, through the
// newline after the version. Accepts an identification that is "Kyo Raw Data
// File Binary" or a leading part of it, and any version from 1.00 up to, not
// including, 2.00. Messages: "Invalid datafile header id.", "Unable to read
// datafile version number.", "Unsupported datafile version %.2f.  Application
// uses version %.2f." (the stream is then exactly bad).
bool ZrRDCheckIdentification(std::istream& in);

// Reads the binary counts header. A size byte below 6 is refused; bytes after
// the sixth are skipped. Messages: "Unable to read header information.",
// "Invalid header size."; on these the outputs are not written. A body cut
// short by the end of the input is not reported: the stream is failed and the
// missing bytes count as 0, so the first frame header read reports instead.
bool ZrRDReadBinaryCounts(std::istream& in, int* cameras, int* frames);

// Reads the two text counts. Messages: "Unable to read number of cameras.",
// "Unable to read number of frames.". An output is written only when its number
// was read.
bool ZrRDReadTextCounts(std::istream& in, int* cameras, int* frames);

// ---- Frame record decoders ----

// Reads a binary frame header into frame.number and frame.timecode (a
// timecode read from a binary file has rate 0). A record shorter than 4
// bytes yields the number from the bytes present; missing timecode parts count
// as 0. A part count of 1 to 3 keeps the timecode and adds the warning
// "Invalid timecode for frame <number>". Messages: "Unable to read frame
// number.", twice when the input ends before the size byte; the frame's number
// is then unchanged and its timecode absent. When `raw` is given and the
// header was read, it gets the record's bytes as they stand, size byte first:
// a copy that carries them keeps every timecode exactly, whatever its frame
// rate (the packed form holds frame parts up to 29 only). When `warned` is
// given, the warning is reported only while *warned is false, which it then
// becomes: a caller reading many headers passes it on once.
bool ZrRDReadBinaryFrameHeader(std::istream& in, ZrRDFrame& frame, std::string* raw = nullptr,
                               bool* warned = nullptr);

// Reads a text frame header line: the frame number and, on the rest of the
// line, an optional timecode (a rate after a slash is kept). The line is read
// in time proportional to its length. A line that the end of the input
// cuts off is taken as it stands, but one that ends right after the number,
// with no character of the rest of the line left, is no line. Anything but
// white space around a timecode the parser accepts is damage, a NUL
// included. Messages: "Unable to read frame number." (frame unchanged);
// "Unable to read timecode." (the input ended after the number; number
// stored, timecode unchanged); "Unable to convert "%s" to timecode." (number
// stored, timecode unchanged; a NUL shown as \0; a text longer than 255
// characters is shown cut, followed by "..."). When
// `timecodeText` is given and the header was read, it gets the timecode's
// text as it stands, white space around it removed, or "" for none.
bool ZrRDReadTextFrameHeader(std::istream& in, ZrRDFrame& frame,
                             std::string* timecodeText = nullptr);

// Reads one binary camera record into camera.globs (pixels 1 for each glob).
// Messages, after those of ZrRDRead16: "File read error." when the count is
// missing; "Cannot read X coordinate." or "Cannot read Y coordinate.", then
// "Unable to read glob <position>"; the globs are then empty.
bool ZrRDReadBinaryGlobs(std::istream& in, ZrRDCamera& camera);

// Reads one text camera record into camera.globs. Messages: "Error reading
// number of globs for camera." (also for a negative count); "Unable to read
// number of pixels.", "Error reading value for x." or "Error reading value for
// y.", then "Unable to read data for glob."; the globs are then empty. A
// coordinate whose float would be infinite is no value: "The coordinate %g is
// beyond the range of a float." comes before the x or y message.
bool ZrRDReadTextGlobs(std::istream& in, ZrRDCamera& camera);

// Read the camera records of a frame into its slots 0 to cameraCount() - 1,
// so the caller sets the camera count first. Slot i gets id i + 1; a camera
// already in a slot is reused. When a camera cannot be read every camera of
// the frame is deleted (no slots are left) and, after the glob messages, the
// binary form reports "Cannot read camera <number>", the text form "Cannot
// read data for camera." and then "The last successfully read camera was %d."
// or "An error occurred reading the first camera.".
bool ZrRDReadBinaryCameras(std::istream& in, ZrRDFrame& frame);
bool ZrRDReadTextCameras(std::istream& in, ZrRDFrame& frame);

// The two above, chosen by encoding.
bool ZrRDReadFrameHeader(std::istream& in, bool binary, ZrRDFrame& frame);
bool ZrRDReadCameras(std::istream& in, bool binary, ZrRDFrame& frame);

// Reads and checks cameraCount camera records as ZrRDReadCameras() would,
// with the same messages, stream state and position, but keeps nothing.
bool ZrRDSkipCameras(std::istream& in, bool binary, int cameraCount);
// The same for text records, judging their lines as well (see "The
// recorder's form" below), up to the first number whose line departs from
// the form: then *why says how, and the rest is left unread (*why is left
// as it was when the records read whole in the form). A number that cannot
// be read before that fails them as ZrRDSkipCameras() does.
bool ZrRDSkipTextCamerasInForm(std::istream& in, int cameraCount, std::string* why);

// Reads cameraCount binary camera records as ZrRDReadBinaryCameras() would,
// with the same messages, stream state and position, and writes to `out`
// what ZrRDWriteBinaryCameras() writes for the cameras it builds: the records
// as they are, since every coordinate and count reads back to the value it
// was written from. The records go out as they are read, in pieces no larger
// than the input's buffer, so a frame of any size costs no more memory; after
// a failure `out` has part of the frame.
bool ZrRDCopyBinaryCameras(std::istream& in, int cameraCount, std::ostream& out);
// The same for text camera records: writes what ZrRDWriteTextCameras()
// writes for the cameras ZrRDReadTextCameras() builds, on a stream in the
// default formatting state. Coordinates already in the encoder's form are
// taken as they are, since they read back to the same text.
bool ZrRDCopyTextCameras(std::istream& in, int cameraCount, std::ostream& out);

// Two bytes, little-endian; 0 when they cannot be read. Messages: "Hit end of
// file." when the stream reached its end, "Error reading file." otherwise.
uint16_t ZrRDRead16(std::istream& in);

// Whether [p, e) is exactly what ZrRDFileReader::copyNextFrame() writes for
// a text frame of `cameras` cameras, up to and not including the closing line
// feed: the header line with its line feed (a frame number in its own form,
// and a timecode text after one space, as it stands), then the camera
// records separated by line feeds, each glob line in the encoder's form.
// For bytes that read as a frame: such a frame can be copied as its bytes.
bool ZrRDIsEncodedTextFrame(const char* p, const char* e, int cameras);

// ---- The recorder's form ----
//
// Bytes can read as frames that no recording's writer made: the binary
// encoding carries no check, so a damaged stretch often reads whole, its
// glob counts swallowing the real frames behind it; in text a damaged line
// shifts every number after it. A writer gives its frame records a form
// narrower than what the decoders accept, and a repair takes any other
// frame for damage (the decoders, the reader and the data set read such
// frames as before):
//  - binary: a header of 4 bytes, or of 9 whose timecode part count is 0, or
//    4 with minutes and seconds below 60; hours and frames may be any byte,
//    since timecodes made from frame counts run past 24 hours and recordings
//    above 30 frames a second carry frame parts past 29. Any camera records
//    but those that hold the frames a frame's number skips
//    (ZrRDBinaryCamerasHoldFrames()).
//  - text: the lines a writer makes, each number on its own line: the header
//    line (the frame number, optionally a timecode), for each camera a line
//    holding the glob count alone and a line for each glob holding its three
//    numbers, spacing between them; blank lines, spacing and CR LF line ends
//    anywhere.
//  - both: a frame number no further than ZrRDMaxFrameNumberStep from the
//    previous frame's, so that duplicate, negative and out-of-order numbers
//    stay well inside (counting as a 32-bit counter does: the largest number
//    and the smallest are neighbours).
// Each judgement answers whether the form holds; when it does not, *why
// (when given) is set to what is wrong, a phrase such as "its header is 6
// bytes long".

// The farthest a recording's frame number plausibly jumps.
constexpr int64_t ZrRDMaxFrameNumberStep = int64_t{1} << 24;

// Whether a frame numbered `number` may follow one numbered `previous`.
bool ZrRDFrameNumberInForm(int32_t previous, int32_t number, std::string* why = nullptr);

// Whether a binary frame header, its bytes as they stand from the size byte
// on, is of the form. `length` may fall short of the whole header (one that
// the end of the data cut off): the bytes there are judged.
bool ZrRDBinaryHeaderInForm(const unsigned char* header, std::size_t length,
                            std::string* why = nullptr);

// Whether `next` lies forward of `previous` by 2 up to
// ZrRDMaxFrameNumberStep: numbers that skip frames, which the frame numbered
// `previous` may hold (see below). Inline: asked of every frame counted.
inline bool ZrRDNumbersSkip(int32_t previous, int32_t next) {
  const uint32_t step = static_cast<uint32_t>(next) - static_cast<uint32_t>(previous);
  return step >= 2 && step <= static_cast<uint32_t>(ZrRDMaxFrameNumberStep);
}

// The camera records of a frame are looked at for frames in their last this
// many bytes.
constexpr int ZrRDHeldFramesWindow = 8 * 1024;

// Whether the camera records of a binary frame numbered `previous`, which the
// frame numbered `next` follows, hold frames. Garbage over a glob count makes
// its camera swallow the frames behind it (glob records are any 4 bytes), and
// where the camera happens to end exactly where a frame starts, every header
// read after it is genuine: only the numbers skip the frames swallowed. So
// where the numbers skip (ZrRDNumbersSkip()), the records are looked at for
// frames of the form, of `cameras` camera records each, one right after the
// other, each numbered after `previous` and before `next`, the last ending
// exactly where the records end; *why then names the first and the last
// one's numbers. [bytes, bytes + length) are the records' last bytes; only
// their last ZrRDHeldFramesWindow are looked at, which hold at least the
// last frame swallowed whole unless that is longer. Genuine glob data never
// forms such frames in practice: at a byte 4 or 9 it would need a frame
// number inside the skip, then `cameras` glob counts (coordinates, up to
// 65535) whose jumps land exactly on the records' end. Text has no such
// case: a frame's header and glob-count lines are no glob lines of the form.
// Takes time linear in the bytes looked at, whatever they hold. *firstHeld,
// when given, is set to where the first frame held starts in `bytes`.
bool ZrRDBinaryCamerasHoldFrames(const unsigned char* bytes, std::size_t length, int cameras,
                                 int32_t previous, int32_t next, std::string* why = nullptr,
                                 std::size_t* firstHeld = nullptr);

// Whether [p, e), the start of a text frame header line that the end of the
// data cut off, from the first character of its number on, can begin a
// header line of the form: a frame number (or its first characters), then
// only spacing and the characters of a timecode text (digits, ':', ';', '.'
// and '/'), the text at most 255 characters from its first to its last.
bool ZrRDCutTextHeaderInForm(const char* p, const char* e);

// ---- Encoders ----

// "Kyo Raw Data File Binary" and "v1.00", each with its newline. Leaves the
// stream's precision at 2 and its fixed flag clear.
void ZrRDWriteIdentification(std::ostream& os);
// The size byte 6, the low 16 bits of cameras and the 4 bytes of frames.
void ZrRDWriteBinaryCounts(std::ostream& os, int frames, int cameras);
// The number of cameras and the number of frames, one per line.
void ZrRDWriteTextCounts(std::ostream& os, int frames, int cameras);
// The whole file header of the format: the identification and binary counts,
// or the text counts; nothing for any other format value.
void ZrRDWriteFileHeader(std::ostream& os, ZrRDFormat format, int frames, int cameras);

// 4 bytes of frame number, plus 5 of timecode when the frame has one. The rate
// is not stored.
void ZrRDWriteBinaryFrameHeader(std::ostream& os, const ZrRDFrame& frame);
// One camera record per slot. The binary form holds at most 65535 globs per
// camera: a camera with more is written with its first 65535 globs and the
// warning "Only the first 65535 of the <n> globs of camera <id> in frame
// <number> were written." is reported.
void ZrRDWriteBinaryCameras(std::ostream& os, const ZrRDFrame& frame);
// The frame number, and " hh:mm:ss:ff" when the frame has a timecode (without
// its rate), then a newline.
void ZrRDWriteTextFrameHeader(std::ostream& os, const ZrRDFrame& frame);
// The same for a timecode text given as it stands (see
// ZrRDReadTextFrameHeader()): the number, then " " and the text unless it is
// empty, then a newline.
void ZrRDWriteTextFrameHeader(std::ostream& os, int number, const std::string& timecodeText);
// The camera records separated by newlines; each is the glob count followed by
// one line per glob: pixels, x and y, the coordinates with 4 decimals,
// left-aligned in 8 columns. Leaves the stream's precision at 4 with its left
// and fixed flags clear.
void ZrRDWriteTextCameras(std::ostream& os, const ZrRDFrame& frame);
// A whole frame record: header and cameras, and for text a closing newline.
// Nothing for any other format value. An empty camera slot is written as a
// camera without globs.
void ZrRDWriteFrame(std::ostream& os, const ZrRDFrame& frame, ZrRDFormat format);

// The low byte, then the high byte.
void ZrRDWrite16(std::ostream& os, uint16_t value);

// ---- Binary coordinates ----

// To 1/128 pixel, rounded to nearest: negative values become 0, values from
// 512 pixels up become 65535. NaN, and products with 128 of 2^31 or more
// (infinity included), become 0.
uint16_t ZrRDEncodeCoordinate(float value);
inline float ZrRDDecodeCoordinate(uint16_t value) { return value * 0.0078125f; }

#endif  // HDRMEND_RAWDATA_ZRRDFORMAT_H_
