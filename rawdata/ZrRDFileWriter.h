// Writes a raw data file one frame at a time.
//
// Construction creates the file through a ZnCompOFStream (a name ending in
// ".gz" or ".Z" is compressed by the external program) and writes the header
// with the counts given, which the writer does not check against the frames
// that follow: the caller writes exactly that many frames, each with the
// stated number of cameras. The writer owns its stream.
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
  // Closes; failures found then stay pending in the message list.
  ~ZrRDFileWriter();

  ZrRDFileWriter(const ZrRDFileWriter&) = delete;
  ZrRDFileWriter& operator=(const ZrRDFileWriter&) = delete;

  // True from a successful creation until close(), as long as no write failed.
  bool isOpen() const { return stream_ != nullptr && !failed_; }
  ZrRDFormat format() const { return format_; }

  // Appends one frame record. False, without writing, on a writer that is not
  // open; false after reporting when this write is where a failure shows.
  bool writeFrame(const ZrRDFrame& frame);
  // For copying a binary file into another: appends the frame record made of
  // the frame's header and the camera records given, as
  // ZrRDFileReader::readNextBinaryFrame() gives them (the frame's own cameras
  // are not written). False, without writing, on a writer that is not open
  // or whose format is not Binary; false after reporting as writeFrame().
  bool writeBinaryFrame(const ZrRDFrame& frame, const std::string& records);
  // The same for a Text writer, with records as
  // ZrRDFileReader::readNextTextFrame() gives them.
  bool writeTextFrame(const ZrRDFrame& frame, const std::string& records);

  // Flushes and closes the file, and for a compressed file waits for the
  // compressor, whose failure the stream reports ("Compressor ... failed").
  // False when any write of this writer failed, or its creation did.
  bool close();

 private:
  // Reports the failure the stream shows, once.
  void reportWriteFailure(int error);
  bool checkStream(int error);

  ZnCompOFStream* stream_ = nullptr;
  ZrRDFormat format_;
  ZnStr name_;
  bool failed_ = false;
};

#endif  // HDRMEND_RAWDATA_ZRRDFILEWRITER_H_
