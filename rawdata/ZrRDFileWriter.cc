#include "rawdata/ZrRDFileWriter.h"

#include <cerrno>
#include <cstdlib>

#include "foundation/ZnMessage.h"
#include "streams/ZnCompFStream.h"
#include "system/ZnFileUtils.h"
#include "system/ZnProcess.h"

ZrRDFileWriter::ZrRDFileWriter(const char* path, int frames, int cameras, ZrRDFormat format)
    : format_(format), name_(path != nullptr ? path : "") {
  // A writer that could not create its file has failed: close() says so.
  failed_ = true;
  if (!ZnCanWrite(name_.c_str())) return;
  stream_ = new ZnCompOFStream(name_.c_str());
  if (stream_->fail()) {
    delete stream_;
    stream_ = nullptr;
    ZnReportError("Unable to open \"%s\".", name_.c_str());
    return;
  }
  start(stream_, frames, cameras);
}

ZrRDFileWriter::ZrRDFileWriter(int fd, const char* name, int frames, int cameras,
                               ZrRDFormat format)
    : format_(format), name_(name != nullptr ? name : "") {
  failed_ = true;
  errno = 0;
  stream_ = new ZnCompOFStream(fd, name_.c_str());
  if (stream_->fail()) {
    const int error = errno;
    delete stream_;
    stream_ = nullptr;
    // A filter that could not start has said why; a descriptor that could
    // not be taken has only its error number.
    if (!ZnMessages.errorPending() && error != 0) {
      char* text = ZnErrorText(error);
      if (text != nullptr) {
        ZnReportError("%s.", text);
        free(text);
      }
    }
    ZnReportError("Unable to open \"%s\".", name_.c_str());
    return;
  }
  start(stream_, frames, cameras);
}

void ZrRDFileWriter::start(std::ostream* out, int frames, int cameras) {
  out_ = out;
  failed_ = false;
  errno = 0;
  ZrRDWriteFileHeader(*out_, format_, frames, cameras);
  checkStream(errno);
}

ZrRDFileWriter::ZrRDFileWriter(std::ostream& out, int frames, int cameras, ZrRDFormat format,
                               const char* name)
    : format_(format), name_(name != nullptr ? name : "") {
  start(&out, frames, cameras);
}

ZrRDFileWriter::~ZrRDFileWriter() { close(); }

void ZrRDFileWriter::reportWriteFailure(int error) {
  if (failed_) return;
  failed_ = true;
  if (error != 0) {
    char* text = ZnErrorText(error);
    if (text != nullptr) {
      ZnReportError("%s.", text);
      free(text);
    }
  }
  ZnReportError("Unable to write \"%s\".", name_.c_str());
}

bool ZrRDFileWriter::checkStream(int error) {
  if (!out_->fail()) return true;
  reportWriteFailure(error);
  return false;
}

bool ZrRDFileWriter::writeFrame(const ZrRDFrame& frame) {
  if (!isOpen()) return false;
  // The stream keeps no error number; the one the failing write left is
  // caught before anything else can overwrite it.
  errno = 0;
  ZrRDWriteFrame(*out_, frame, format_);
  return checkStream(errno);
}

bool ZrRDFileWriter::copyFrame(ZrRDFileReader& reader) {
  const ZrRDFormat encoding = reader.isBinary() ? ZrRDFormat::Binary : ZrRDFormat::Text;
  if (!isOpen() || format_ != encoding) return false;
  errno = 0;
  const bool read = reader.copyNextFrame(*out_);
  // The error number of a failed write is the one left now; reading on after
  // it only reads.
  const bool written = checkStream(errno);
  return read && written;
}

bool ZrRDFileWriter::flush() {
  if (!isOpen()) return false;
  errno = 0;
  out_->flush();
  return checkStream(errno);
}

bool ZrRDFileWriter::close() {
  if (out_ != nullptr && out_ != stream_) {
    if (!failed_) {
      errno = 0;
      out_->flush();
      checkStream(errno);
    }
    out_ = nullptr;
    return !failed_;
  }
  if (stream_ == nullptr) return !failed_;
  if (!failed_) {
    errno = 0;
    stream_->flush();
    checkStream(errno);
  }
  out_ = nullptr;
  // A compressor that failed is reported by the stream itself; a plain file
  // whose close failed only leaves the fail bit. The state is left as it is:
  // the stream judges from it whether the compressor got all the data.
  ZnMessage* before = ZnMessages.first();
  errno = 0;
  stream_->close();
  int error = errno;
  bool reported = ZnMessages.first() != before && ZnMessages.errorPending();
  if (stream_->fail() || reported) reportWriteFailure(reported ? 0 : error);
  delete stream_;
  stream_ = nullptr;
  return !failed_;
}
