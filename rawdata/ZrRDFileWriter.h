// Writes a raw data file one frame at a time.
//
// Construction creates the file through a ZnCompOFStream (a name ending in
// ".gz" or ".Z" is compressed by the external program), or takes a stream the
// caller owns, and writes the header with the counts given, which the writer
// does not check against the frames that follow: the caller writes exactly
// that many frames, each with the stated number of cameras. The writer owns
// the stream it opened; a caller's stream must outlive the writer.
//
// Every failure is reported through the message list (ZnReportError): the
// messages of ZnCanWrite() or "Unable to open \"<name>\"." when the file
// cannot be created; for a write that fails (a full disk, a file-size limit,
// a compressor that died) the system's error text when there is one, then
// "Unable to write \"<name>\".", once, at the first failure found. Output is
// buffered, so a failure may surface only at a later frame or at close();
// the file is complete exactly when close() returns true. After a failure
// nothing more is written.
#ifndef HDRMEND_RAWDATA_ZRRDFILEWRITER_H_
#define HDRMEND_RAWDATA_ZRRDFILEWRITER_H_

#include <string>

#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

class ZnCompOFStream;

class ZrRDFileWriter {
 public:
  // Creates (or truncates) the file and writes the header: for Text the
  // camera count and the frame count, one per line; for Binary the
  // identification and version lines and the counts header; for any other
  // format value nothing, and no frame is ever written.
  ZrRDFileWriter(const char* path, int frames, int cameras, ZrRDFormat format);
  // Writes to a duplicate of `fd`, a file the caller created and still owns
  // (and may flush to disk, give its mode and owner, and rename once close()
  // succeeded); `name` chooses the compressor by its extension and names the
  // file in messages. Nothing opens the file by name. When the stream cannot
  // be opened: "Unable to open \"<name>\"." after the system's reason.
  ZrRDFileWriter(int fd, const char* name, int frames, int cameras, ZrRDFormat format);
  // Writes the header to the caller's stream at its position. `name`, when
  // given, names the stream in messages.
  ZrRDFileWriter(std::ostream& out, int frames, int cameras, ZrRDFormat format,
                 const char* name = nullptr);
  // Closes; failures found then stay pending in the message list.
  ~ZrRDFileWriter();

  ZrRDFileWriter(const ZrRDFileWriter&) = delete;
  ZrRDFileWriter& operator=(const ZrRDFileWriter&) = delete;

  // True from a successful creation until close(), as long as no write failed.
  bool isOpen() const { return out_ != nullptr && !failed_; }
  ZrRDFormat format() const { return format_; }

  // Appends one frame record. False, without writing, on a writer that is not
  // open; false after reporting when this write is where a failure shows.
  bool writeFrame(const ZrRDFrame& frame);
  // Appends the next frame of `reader`, a recording of this writer's
  // encoding, as ZrRDFileReader::copyNextFrame() writes it. False, without
  // reading, on a writer that is not open or whose format is not the
  // reader's; false when the frame could not be read (the reader's messages)
  // or written (reported as by writeFrame()).
  bool copyFrame(ZrRDFileReader& reader);

  // Hands everything written so far to the file (or the compressor), for a
  // caller that writes into the same file by other means next. False, after
  // reporting as writeFrame() does, when that fails.
  bool flush();

  // Flushes and closes the file, and for a compressed file waits for the
  // compressor, whose failure the stream reports ("Compressor ... failed").
  // False when any write of this writer failed, or its creation did. A
  // caller's stream is flushed, not closed.
  bool close();

 private:
  // Writes to `out` from now on, the header first.
  void start(std::ostream* out, int frames, int cameras);
  // Reports the failure the stream shows, once.
  void reportWriteFailure(int error);
  bool checkStream(int error);

  // Where frames go: the owned stream, or the caller's.
  std::ostream* out_ = nullptr;
  ZnCompOFStream* stream_ = nullptr;
  ZrRDFormat format_;
  ZnStr name_;
  bool failed_ = false;
};

#endif  // HDRMEND_RAWDATA_ZRRDFILEWRITER_H_
