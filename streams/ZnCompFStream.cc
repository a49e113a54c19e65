#include "streams/ZnCompFStream.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStrFunctions.h"
#include "system/ZnEnvironment.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// One row of the filter table. `command` is the documented shell form;
// `script` is what runs, with the two names as "$1" and "$2" in the same
// order. Reading redirects the file to the program's input instead of naming
// it, so a name that starts with '-' cannot pass for an option.
struct Filter {
  const char* extension;
  const char* program;
  const char* command;
  const char* script;
};

// compress ends with status 2 when its output is not smaller than its input,
// though it wrote all of it; -f makes that a plain success, so that small and
// incompressible files do not pass for failures.
const Filter kCompressors[] = {
    {"Z", "compress", "compress <%s >%s &", "exec compress -f <\"$1\" >\"$2\""},
    {"gz", "gzip", "gzip -9 <%s >%s &", "exec gzip -9 <\"$1\" >\"$2\""},
    {"jpeg", "cjpeg", "cjpeg -gsi <%s >%s &", "exec cjpeg -gsi <\"$1\" >\"$2\""},
};

const Filter kDecompressors[] = {
    {"Z", "uncompress", "uncompress -c %s >%s &", "exec uncompress -c <\"$1\" >\"$2\""},
    {"gz", "gunzip", "gunzip -c %s >%s &", "exec gunzip -c <\"$1\" >\"$2\""},
    {"jpeg", "djpeg", "djpeg -gsi %s >%s &", "exec djpeg -gsi <\"$1\" >\"$2\""},
};

template <size_t N>
const Filter* FindFilter(const Filter (&table)[N], const ZnStr& extension) {
  for (const Filter& filter : table) {
    if (extension == filter.extension) return &filter;
  }
  return nullptr;
}

const int kPipePathSize = 81;

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

// A FIFO of ours under our name can only be left over from a process that had
// our id before and died with its stream open: live processes have distinct
// ids, and serials are never reused within one. Anything else is not ours to
// remove.
bool IsStaleOwnFifo(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == geteuid();
}

// Forms the pipe name into `path` (kPipePathSize bytes) and makes the FIFO.
bool MakeNamedPipe(const char* format, int serial, std::unique_ptr<char[]>* path, bool* made) {
  path->reset(new char[kPipePathSize]);
  char* name = path->get();
  ZnSNPrintf(name, kPipePathSize, format, ZnTempDirectory(), serial, static_cast<int>(getpid()));
  int error = 0;
  if (mkfifo(name, 0600) == 0) {
    *made = true;
    return true;
  }
  error = errno;
  if (error == EEXIST && IsStaleOwnFifo(name)) {
    if (unlink(name) == 0 && mkfifo(name, 0600) == 0) {
      *made = true;
      return true;
    }
    error = errno;
  }
  ZnReportError("%s", strerror(error));
  ZnReportError("Unable to create named pipe \"%s\".", name);
  return false;
}

void RemoveNamedPipe(std::unique_ptr<char[]>* path, bool* made) {
  if (*made && *path) unlink(path->get());
  *made = false;
  path->reset();
}

// SIGPIPE is ignored while at least one compressing stream is open; see the
// header. `changed` remembers whether we were the ones to ignore it.
int sigpipeHolds = 0;
bool sigpipeChanged = false;

void HoldSigpipe() {
  if (sigpipeHolds++ > 0) return;
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
      current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
    sigpipeChanged = true;
  }
}

void ReleaseSigpipe() {
  if (sigpipeHolds == 0 || --sigpipeHolds > 0 || !sigpipeChanged) return;
  sigpipeChanged = false;
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
      current.sa_handler == SIG_IGN) {
    signal(SIGPIPE, SIG_DFL);
  }
}

}  // namespace

ZnOFStream::~ZnOFStream() = default;

// ---------------------------------------------------------------------------
// Writing.

int ZnCompOFStream::nextSerial = 0;

ZnCompOFStream::ZnCompOFStream(const char* path, std::ios_base::openmode mode)
    : serial_(NextSerial(&nextSerial)), buffer_(new char[kStreamBufferSize]) {
  rdbuf()->pubsetbuf(buffer_.get(), kStreamBufferSize);
  open(path, mode);
}

ZnCompOFStream::~ZnCompOFStream() {
  if (throughFilter_ || is_open()) close();
  removePipe();
}

void ZnCompOFStream::open(const char* path, std::ios_base::openmode mode) {
  if (is_open() || throughFilter_) {
    setstate(std::ios_base::failbit);
    return;
  }
  removePipe();
  if (path == nullptr) path = "";
  program_ = "";
  command_ = "";
  target_ = path;
  filterFailed_ = false;
  mode |= std::ios_base::out;
  ZnStr extension;
  if (ZnFindCompressionExtension(path, &extension)) {
    openCompressed(path, extension, mode);
    return;
  }
  if (ZnCanWrite(path)) {
    std::ofstream::open(path, mode);
    if (is_open()) {
      clear();
      return;
    }
  }
  setstate(std::ios_base::failbit);
}

void ZnCompOFStream::openCompressed(const char* path, const ZnStr& extension,
                                    std::ios_base::openmode mode) {
  if (!ZnCanWrite(path) || !makePipe()) {
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  const char* pipe = startCompressor(path, extension);
  if (pipe == nullptr) {
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  std::ofstream::open(pipe, mode);
  filter_.releasePipe();
  if (!is_open()) {
    endFilter();
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  throughFilter_ = true;
  clear();
}

const char* ZnCompOFStream::startCompressor(const char* targetPath, const ZnStr& extension) {
  const Filter* filter = FindFilter(kCompressors, extension);
  if (filter == nullptr) {
    ZnReportError("Unknown compression extension '%s'.", extension.c_str());
    return nullptr;
  }
  const char* pipe = pipePath_.get();
  program_ = filter->program;
  command_.format(filter->command, pipe, targetPath);
  if (!ZnFindInPath(filter->program)) {
    ZnReportError(
        "Cannot find command '%s' to compress\n'%s'.\nThis command needs to be in your path.",
        filter->program, targetPath);
    return nullptr;
  }
  int error = filter_.start(filter->script, pipe, targetPath, pipe, ZnFilterProcess::kToFilter);
  if (error != 0) {
    ReportErrorNumber(error);
    return nullptr;
  }
  if (!filter_.connect()) {
    if (filter_.error() != 0) {
      ReportErrorNumber(filter_.error());
      ZnReportError("Unable to open named pipe \"%s\".", pipe);
    } else {
      ZnReportError("Compressor '%s' ended before opening named pipe \"%s\".", filter->program,
                    pipe);
    }
    return nullptr;
  }
  HoldSigpipe();
  holdsSigpipe_ = true;
  return pipe;
}

bool ZnCompOFStream::close() {
  if (!throughFilter_) {
    bool closed = is_open() && rdbuf()->close() != nullptr;
    if (!closed) setstate(std::ios_base::failbit);
    removePipe();
    return closed;
  }
  throughFilter_ = false;
  // Writes that failed mean the compressor did not get all the data, whatever
  // it says about the part it got.
  bool dataLost = bad();
  if (is_open() && rdbuf()->close() == nullptr) dataLost = true;
  bool finished = filter_.finish(false);
  endFilter();
  removePipe();
  if (!finished || dataLost) {
    filterFailed_ = true;
    setstate(std::ios_base::failbit);
    ZnReportError("Compressor '%s' failed for \"%s\".", program_.c_str(), target_.c_str());
    return false;
  }
  return true;
}

bool ZnCompOFStream::filterFailed() {
  return filterFailed_ || (throughFilter_ && filter_.endedBadly(false));
}

bool ZnCompOFStream::makePipe() {
  return MakeNamedPipe("%s/compofstream%d.%d", serial_, &pipePath_, &pipeMade_);
}

void ZnCompOFStream::removePipe() { RemoveNamedPipe(&pipePath_, &pipeMade_); }

void ZnCompOFStream::endFilter() {
  filter_.terminate();
  if (holdsSigpipe_) ReleaseSigpipe();
  holdsSigpipe_ = false;
}

// ---------------------------------------------------------------------------
// Reading.

int ZnCompIFStream::nextSerial = 0;

ZnCompIFStream::ZnCompIFStream(const char* path, std::ios_base::openmode mode)
    : serial_(NextSerial(&nextSerial)), buffer_(new char[kStreamBufferSize]) {
  rdbuf()->pubsetbuf(buffer_.get(), kStreamBufferSize);
  open(path, mode);
}

ZnCompIFStream::~ZnCompIFStream() {
  if (throughFilter_ || is_open()) close();
  removePipe();
}

void ZnCompIFStream::open(const char* path, std::ios_base::openmode mode) {
  if (is_open() || throughFilter_) {
    setstate(std::ios_base::failbit);
    return;
  }
  removePipe();
  if (path == nullptr) path = "";
  program_ = "";
  command_ = "";
  source_ = "";
  filterFailed_ = false;
  mode |= std::ios_base::in;
  ZnStr name(path);
  if (!ZnFindCompressionExtension(name)) name = ZnCompressedVariant(name);
  ZnStr extension;
  if (ZnFindCompressionExtension(name, &extension) && ZnFileExists(name.c_str())) {
    openCompressed(name, extension, mode);
    return;
  }
  if (ZnCanRead(path)) {
    std::ifstream::open(name.c_str(), mode);
    if (is_open()) {
      clear();
      return;
    }
  }
  setstate(std::ios_base::failbit);
}

void ZnCompIFStream::openCompressed(const ZnStr& name, const ZnStr& extension,
                                    std::ios_base::openmode mode) {
  source_ = name;
  if (!ZnCanRead(name.c_str()) || !makePipe()) {
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  const char* pipe = startDecompressor(name.c_str(), extension);
  if (pipe == nullptr) {
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  std::ifstream::open(pipe, mode);
  filter_.releasePipe();
  if (!is_open()) {
    filter_.terminate();
    removePipe();
    setstate(std::ios_base::failbit);
    return;
  }
  throughFilter_ = true;
  clear();
}

const char* ZnCompIFStream::startDecompressor(const char* sourcePath, const ZnStr& extension) {
  const Filter* filter = FindFilter(kDecompressors, extension);
  if (filter == nullptr) {
    ZnReportError("Unknown compression extension '%s'.", extension.c_str());
    return nullptr;
  }
  const char* pipe = pipePath_.get();
  program_ = filter->program;
  command_.format(filter->command, sourcePath, pipe);
  if (!ZnFindInPath(filter->program)) {
    ZnReportError(
        "Cannot find command '%s' to uncompress\n'%s'.\nThis command needs to be in your path.",
        filter->program, sourcePath);
    return nullptr;
  }
  int error = filter_.start(filter->script, sourcePath, pipe, pipe, ZnFilterProcess::kFromFilter);
  if (error == 0 && !filter_.connect()) {
    error = filter_.error();
    if (error == 0) {
      ZnReportError("Decompressor '%s' ended before opening named pipe \"%s\".", filter->program,
                    pipe);
      return nullptr;
    }
  }
  if (error != 0) {
    ReportErrorNumber(error);
    ZnReportError("Unable to decompress file.");
    return nullptr;
  }
  return pipe;
}

bool ZnCompIFStream::close() {
  if (!throughFilter_) {
    bool closed = is_open() && rdbuf()->close() != nullptr;
    if (!closed) setstate(std::ios_base::failbit);
    removePipe();
    return closed;
  }
  throughFilter_ = false;
  bool closed = !is_open() || rdbuf()->close() != nullptr;
  if (!closed) setstate(std::ios_base::failbit);
  // Closing before the end breaks the decompressor's pipe; that ending is ours.
  bool finished = filter_.finish(true);
  removePipe();
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
  return eof() ? !filter_.finish(true) : filter_.endedBadly(true);
}

bool ZnCompIFStream::makePipe() {
  return MakeNamedPipe("%s/compifstream%d.%d", serial_, &pipePath_, &pipeMade_);
}

void ZnCompIFStream::removePipe() { RemoveNamedPipe(&pipePath_, &pipeMade_); }
