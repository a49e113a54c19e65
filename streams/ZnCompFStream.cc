#include "streams/ZnCompFStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnMessage.h"
#include "system/ZnEnvironment.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// One row of the filter table. `command` is the documented shell form;
// `script` is what runs, with the pipe as "$1" and the file already on the
// program's standard output (compressing) or input (decompressing). Rows for
// one extension are tried in order and the first program installed is taken,
// so a faster program goes in a row before the standard one; when none is
// installed, the message names the last.
struct Filter {
  const char* extension;
  const char* program;
  const char* command;
  const char* script;
};

// compress ends with status 2 when its output is not smaller than its input,
// though it wrote all of it; -f makes that a plain success, so that small and
// incompressible files do not pass for failures.
// pigz compresses on every core and writes a gzip file that gunzip reads; it
// goes first where it is installed. It is not used to decompress: it takes
// bytes after the end of the compressed data for nothing (exit status 0),
// where gunzip reports them, and damage must not pass for the end.
const Filter kCompressors[] = {
    {"Z", "compress", "compress <%s >%s &", "exec compress -f <\"$1\""},
    {"gz", "pigz", "pigz -9 <%s >%s &", "exec pigz -9 <\"$1\""},
    {"gz", "gzip", "gzip -9 <%s >%s &", "exec gzip -9 <\"$1\""},
    {"jpeg", "cjpeg", "cjpeg -gsi <%s >%s &", "exec cjpeg -gsi <\"$1\""},
};

const Filter kDecompressors[] = {
    {"Z", "uncompress", "uncompress -c %s >%s &", "exec uncompress -c >\"$1\""},
    {"gz", "gunzip", "gunzip -c %s >%s &", "exec gunzip -c >\"$1\""},
    {"jpeg", "djpeg", "djpeg -gsi %s >%s &", "exec djpeg -gsi >\"$1\""},
};

// The row to use for the extension, null when there is none; *installed says
// whether its program is on PATH.
template <size_t N>
const Filter* FindFilter(const Filter (&table)[N], const ZnStr& extension, bool* installed) {
  const Filter* last = nullptr;
  for (const Filter& filter : table) {
    if (!(extension == filter.extension)) continue;
    last = &filter;
    if (ZnFindInPath(filter.program)) {
      *installed = true;
      return last;
    }
  }
  *installed = false;
  return last;
}

int NextSerial(int* counter) {
  int serial = *counter;
  *counter = serial == INT_MAX ? 0 : serial + 1;
  return serial;
}

void ReportErrorNumber(int error) {
  char* text = ZnErrorText(error);
  ZnReportError("%s", text);
  free(text);
}

// Our own copy of a caller's descriptor, above the standard three so that a
// filter's standard input or output can never be it by accident.
int Duplicate(int fd) { return fd < 0 ? (errno = EBADF, -1) : fcntl(fd, F_DUPFD_CLOEXEC, 3); }

// The open flags std::ofstream uses for a mode: app appends, in without
// trunc keeps the file and needs it, anything else writes it anew. -1 for
// what std::ofstream refuses.
int OutputFlags(std::ios_base::openmode mode) {
  const bool app = (mode & std::ios_base::app) != 0;
  const bool trunc = (mode & std::ios_base::trunc) != 0;
  if (app && trunc) return -1;
  int flags = O_WRONLY | O_CLOEXEC;
  if (app) return flags | O_CREAT | O_APPEND;
  if ((mode & std::ios_base::in) != 0 && !trunc) return flags;
  return flags | O_CREAT | O_TRUNC;
}

// A FIFO without a writer must not hold the open up; reading it then meets
// the end at once instead.
int OpenForReading(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

ZnOFStream::~ZnOFStream() = default;

// ---------------------------------------------------------------------------
// Writing.

int ZnCompOFStream::nextSerial = 0;

ZnCompOFStream::ZnCompOFStream(const char* path, std::ios_base::openmode mode)
    : pipe_(ZnFilterProcess::kToFilter), serial_(NextSerial(&nextSerial)) {
  std::ios::rdbuf(&buf_);
  open(path, mode);
}

ZnCompOFStream::ZnCompOFStream(int fd, const char* name)
    : pipe_(ZnFilterProcess::kToFilter), serial_(NextSerial(&nextSerial)) {
  std::ios::rdbuf(&buf_);
  openDescriptor(fd, name);
}

ZnCompOFStream::~ZnCompOFStream() {
  if (throughFilter_ || is_open()) close();
  pipe_.end();
}

bool ZnCompOFStream::beginOpen(const char* name) {
  if (is_open() || throughFilter_) {
    setstate(std::ios_base::failbit);
    return false;
  }
  pipe_.end();
  program_ = "";
  command_ = "";
  target_ = name != nullptr ? name : "";
  filterFailed_ = false;
  return true;
}

void ZnCompOFStream::open(const char* path, std::ios_base::openmode mode) {
  if (!beginOpen(path)) return;
  const int flags = OutputFlags(mode | std::ios_base::out);
  if (!ZnCanWrite(target_.c_str()) || flags < 0) {
    failOpen(-1);
    return;
  }
  attach(-1, target_.c_str(), flags);
  if (is_open() && !throughFilter_ && (mode & std::ios_base::ate) != 0 &&
      lseek(buf_.fd(), 0, SEEK_END) < 0) {
    buf_.close();
    failOpen(-1);
  }
}

void ZnCompOFStream::openDescriptor(int fd, const char* name) {
  if (!beginOpen(name)) return;
  const int copy = Duplicate(fd);
  if (copy < 0) {
    failOpen(-1);
    return;
  }
  attach(copy, nullptr, 0);
}

void ZnCompOFStream::attach(int fd, const char* path, int flags) {
  ZnStr extension;
  if (!ZnFindCompressionExtension(target_, &extension)) {
    if (fd < 0) fd = ::open(path, flags, 0666);
    if (fd < 0) {
      failOpen(-1);
      return;
    }
    buf_.open(fd, std::ios_base::out);
    clear();
    return;
  }
  // The file is opened only once the filter is known to be there, so that a
  // missing program leaves no empty file behind.
  if (!pipe_.makePipe("compofstream", serial_)) {
    failOpen(fd);
    return;
  }
  bool installed = false;
  const Filter* filter = FindFilter(kCompressors, extension, &installed);
  if (filter == nullptr) {
    ZnReportError("Unknown compression extension '%s'.", extension.c_str());
    failOpen(fd);
    return;
  }
  const char* pipe = pipe_.path();
  program_ = filter->program;
  command_.format(filter->command, pipe, target_.c_str());
  if (!installed) {
    ZnReportError(
        "Cannot find command '%s' to compress\n'%s'.\nThis command needs to be in your path.",
        filter->program, target_.c_str());
    failOpen(fd);
    return;
  }
  if (fd < 0) fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    failOpen(-1);
    return;
  }
  int ours = -1;
  const ZnFilterPipe::Outcome outcome = pipe_.start(filter->script, fd, &ours);
  ::close(fd);
  switch (outcome) {
    case ZnFilterPipe::kConnected:
      break;
    case ZnFilterPipe::kCannotStart:
      ReportErrorNumber(pipe_.error());
      break;
    case ZnFilterPipe::kCannotOpenPipe:
      ReportErrorNumber(pipe_.error());
      ZnReportError("Unable to open named pipe \"%s\".", pipe);
      break;
    case ZnFilterPipe::kEndedFirst:
      ZnReportError("Compressor '%s' ended before opening named pipe \"%s\".", filter->program,
                    pipe);
      break;
  }
  if (outcome != ZnFilterPipe::kConnected) {
    failOpen(-1);
    return;
  }
  buf_.open(ours, std::ios_base::out);
  throughFilter_ = true;
  clear();
}

void ZnCompOFStream::failOpen(int fd) {
  // Keeps errno for the caller, who names the file in its report.
  const int error = errno;
  if (fd >= 0) ::close(fd);
  pipe_.end();
  setstate(std::ios_base::failbit);
  errno = error;
}

bool ZnCompOFStream::close() {
  if (!throughFilter_) {
    bool closed = is_open() && buf_.close() != nullptr;
    if (!closed) setstate(std::ios_base::failbit);
    pipe_.end();
    return closed;
  }
  throughFilter_ = false;
  // Writes that failed mean the compressor did not get all the data, whatever
  // it says about the part it got.
  bool dataLost = bad();
  if (is_open() && buf_.close() == nullptr) dataLost = true;
  bool finished = pipe_.wait(false);
  pipe_.end();
  if (!finished || dataLost) {
    filterFailed_ = true;
    setstate(std::ios_base::failbit);
    ZnReportError("Compressor '%s' failed for \"%s\".", program_.c_str(), target_.c_str());
    return false;
  }
  return true;
}

bool ZnCompOFStream::filterFailed() {
  return filterFailed_ || (throughFilter_ && pipe_.endedBadly(false));
}

// ---------------------------------------------------------------------------
// Reading.

int ZnCompIFStream::nextSerial = 0;

ZnCompIFStream::ZnCompIFStream(const char* path, std::ios_base::openmode mode)
    : std::istream(nullptr), pipe_(ZnFilterProcess::kFromFilter), serial_(NextSerial(&nextSerial)) {
  std::ios::rdbuf(&buf_);
  open(path, mode);
}

ZnCompIFStream::ZnCompIFStream(int fd, const char* name)
    : std::istream(nullptr), pipe_(ZnFilterProcess::kFromFilter), serial_(NextSerial(&nextSerial)) {
  std::ios::rdbuf(&buf_);
  openDescriptor(fd, name);
}

ZnCompIFStream::~ZnCompIFStream() {
  if (throughFilter_ || is_open()) close();
  pipe_.end();
}

bool ZnCompIFStream::beginOpen() {
  if (is_open() || throughFilter_) {
    setstate(std::ios_base::failbit);
    return false;
  }
  pipe_.end();
  program_ = "";
  command_ = "";
  source_ = "";
  filterFailed_ = false;
  return true;
}

void ZnCompIFStream::open(const char* path, std::ios_base::openmode mode) {
  if (!beginOpen()) return;
  if (path == nullptr) path = "";
  ZnStr name(path);
  if (!ZnFindCompressionExtension(name)) name = ZnCompressedVariant(name);
  // A compressed name that does not exist is checked, and fails, as a plain
  // one.
  if (!(ZnFindCompressionExtension(name) && ZnFileExists(name.c_str()))) name = path;
  if (!ZnCanRead(name.c_str())) {
    failOpen(-1);
    return;
  }
  attach(-1, name, name.c_str());
  if (is_open() && !throughFilter_ && (mode & std::ios_base::ate) != 0) {
    buf_.pubseekoff(0, std::ios_base::end, std::ios_base::in);
  }
}

void ZnCompIFStream::openDescriptor(int fd, const char* name) {
  if (!beginOpen()) return;
  const ZnStr shown(name != nullptr ? name : "");
  const int copy = Duplicate(fd);
  if (copy < 0) {
    ReportErrorNumber(errno);
    ZnReportError("Unable to open \"%s\".", shown.c_str());
    failOpen(-1);
    return;
  }
  attach(copy, shown, nullptr);
}

void ZnCompIFStream::attach(int fd, const ZnStr& name, const char* path) {
  source_ = name;
  ZnStr extension;
  if (!ZnFindCompressionExtension(name, &extension)) {
    if (fd < 0) fd = OpenForReading(path);
    if (fd < 0) {
      ReportErrorNumber(errno);
      ZnReportError("Unable to open \"%s\".", source_.c_str());
      failOpen(-1);
      return;
    }
    buf_.open(fd, std::ios_base::in);
    clear();
    return;
  }
  if (!pipe_.makePipe("compifstream", serial_)) {
    failOpen(fd);
    return;
  }
  bool installed = false;
  const Filter* filter = FindFilter(kDecompressors, extension, &installed);
  if (filter == nullptr) {
    ZnReportError("Unknown compression extension '%s'.", extension.c_str());
    failOpen(fd);
    return;
  }
  const char* pipe = pipe_.path();
  program_ = filter->program;
  command_.format(filter->command, source_.c_str(), pipe);
  if (!installed) {
    ZnReportError(
        "Cannot find command '%s' to uncompress\n'%s'.\nThis command needs to be in your path.",
        filter->program, source_.c_str());
    failOpen(fd);
    return;
  }
  if (fd < 0) fd = OpenForReading(path);
  if (fd < 0) {
    ReportErrorNumber(errno);
    ZnReportError("Unable to open \"%s\".", source_.c_str());
    failOpen(-1);
    return;
  }
  int ours = -1;
  const ZnFilterPipe::Outcome outcome = pipe_.start(filter->script, fd, &ours);
  ::close(fd);
  if (outcome == ZnFilterPipe::kEndedFirst) {
    ZnReportError("Decompressor '%s' ended before opening named pipe \"%s\".", filter->program,
                  pipe);
  } else if (outcome != ZnFilterPipe::kConnected) {
    ReportErrorNumber(pipe_.error());
    ZnReportError("Unable to decompress file.");
  }
  if (outcome != ZnFilterPipe::kConnected) {
    failOpen(-1);
    return;
  }
  buf_.open(ours, std::ios_base::in);
  throughFilter_ = true;
  clear();
}

void ZnCompIFStream::failOpen(int fd) {
  if (fd >= 0) ::close(fd);
  pipe_.end();
  setstate(std::ios_base::failbit);
}

bool ZnCompIFStream::close() {
  const bool wasOpen = is_open();
  // A read that failed ended the data early, like a truncated file: the
  // caller must not take what it read for all there is.
  const int readError = buf_.error();
  bool closed = wasOpen && buf_.close() != nullptr;
  if (wasOpen && readError != 0) {
    ReportErrorNumber(readError);
    ZnReportError("Unable to read \"%s\".", source_.c_str());
    closed = false;
  }
  if (!throughFilter_) {
    if (!closed) setstate(std::ios_base::failbit);
    pipe_.end();
    return closed;
  }
  throughFilter_ = false;
  if (!wasOpen) closed = true;
  if (!closed) setstate(std::ios_base::failbit);
  // Closing before the end breaks the decompressor's pipe; that ending is ours.
  bool finished = pipe_.wait(true);
  pipe_.end();
  if (!finished) {
    filterFailed_ = true;
    setstate(std::ios_base::failbit);
    ZnReportError("Decompressor '%s' failed for \"%s\".", program_.c_str(), source_.c_str());
    return false;
  }
  return closed;
}

bool ZnCompIFStream::filterFailed() {
  if (filterFailed_ || !throughFilter_) return filterFailed_;
  // At the end of the data the decompressor has closed its side and is
  // ending, so waiting for it is short and the answer final.
  return eof() ? !pipe_.wait(true) : pipe_.endedBadly(true);
}
