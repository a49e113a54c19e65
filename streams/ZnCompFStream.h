// File streams that compress or decompress through an external filter program.
//
// ZnCompOFStream and ZnCompIFStream are standard file streams. For a name that
// ends in ".Z", ".gz" or ".jpeg" they do not touch the file themselves: they
// make a named pipe "/var/tmp/compofstream<serial>.<pid>" (or compifstream),
// start the filter with the pipe on one side and the file on the other, and
// open the pipe. The filters, by extension, written as the shell commands they
// amount to (first %s: the pipe when writing, the file when reading):
//
//   "Z"     compress <%s >%s &          uncompress -c %s >%s &
//   "gz"    gzip -9 <%s >%s &           gunzip -c %s >%s &
//   "jpeg"  cjpeg -gsi <%s >%s &        djpeg -gsi %s >%s &
//
// What runs is that program through "sh -c" with the file and the pipe handed
// over as positional parameters, never spliced into the shell text: any file
// name works, and none is ever interpreted by the shell. command() gives the
// text above filled in, for messages and logs only.
//
// Without such an extension the file is opened directly. Reading a plain name
// that does not exist opens its ".gz" (or else ".Z") form when that exists.
//
// Failure: every failure is reported through the message list (ZnReportError)
// and leaves the stream's fail bit set; nothing is thrown.
//  - Opening fails for an unusable file (the messages of ZnCanRead or
//    ZnCanWrite), a pipe that cannot be made, an unknown extension, a filter
//    program missing from PATH, a shell that cannot start, and a filter that
//    ends before it opened the pipe (opening never waits for good).
//  - close() waits for the filter. A compressor that did not succeed, or data
//    that could not all be handed to it, is reported as "Compressor '<program>'
//    failed for \"<file>\"."; the compressed file is complete exactly when
//    close() succeeds. A decompressor that did not succeed (a corrupt or
//    truncated file) is reported as "Decompressor '<program>' failed for
//    \"<file>\"."; the end of the data alone does not tell it from a clean
//    end (and reading to the end sets the fail bit in any case), so a reader
//    checks what close() answers, or asks filterFailed() once it met the end.
//    Closing a reading stream before the end of the data is not a failure:
//    the decompressor then ends on its broken pipe, which is expected (a
//    failure it had already ended with is still reported).
//  - The destructor closes as close() does when the caller did not; its
//    report goes to the message list, where only errorPending() can see it.
//  - With SIGCHLD set to be ignored the system discards the filter's exit
//    status; close() cannot vouch for the file then and reports a failure.
//
// SIGPIPE: while a compressing stream is open, SIGPIPE is ignored if its action
// was the default, so that a compressor that dies turns our writes into write
// errors, reported at close, instead of killing the process. The default comes
// back when the last such stream closes. A handler of the caller's own stays.
//
// Pipes: a stream removes its pipe when it is closed or destroyed, and right
// away when opening fails; it never removes a file it did not make. A leftover
// FIFO of the same name owned by this user (from an earlier process with the
// same id that crashed) is replaced; anything else of that name fails the open.
//
// Buffers: each stream moves data in blocks of up to kStreamBufferSize bytes
// (the standard file buffer's default is 8 KiB), so a large file costs a few
// system calls per megabyte and a filter's pipe is filled whole. The buffer
// belongs to the stream, which closes its file before letting go of it.
//
// Each class numbers its streams from 0 in the order they are constructed; the
// number (serial) goes into the pipe name. No two streams of a process share
// one; a stream opened again keeps its own.
//
// The filters get no descriptors of ours, but the stream's own descriptor of
// the pipe is inherited by programs started by other means (system(), fork)
// while it is open; a compressor then sees the end of its input, and close()
// returns, only once such a program has ended. Single-threaded, like the rest
// of the library.
#ifndef HDRMEND_STREAMS_ZNCOMPFSTREAM_H_
#define HDRMEND_STREAMS_ZNCOMPFSTREAM_H_

#include <fstream>
#include <memory>

#include "foundation/ZnStr.h"
#include "streams/ZnFilterProcess.h"

// The size of each stream's file buffer; see above.
constexpr int kStreamBufferSize = 256 * 1024;

// The base of ZnCompOFStream; adds nothing to std::ofstream.
class ZnOFStream : public std::ofstream {
 public:
  ZnOFStream() = default;
  ~ZnOFStream() override;
};

class ZnCompOFStream : public ZnOFStream {
 public:
  // Takes the next serial, then open(path, mode).
  explicit ZnCompOFStream(const char* path, std::ios_base::openmode mode = std::ios_base::out);
  ~ZnCompOFStream() override;

  // Opens for writing (the out bit is always added). Clears the state on
  // success, sets the fail bit on failure. Fails on a stream that is open.
  void open(const char* path, std::ios_base::openmode mode = std::ios_base::out);
  // Flushes and closes, then waits for the compressor; see above. True when
  // the file was written whole; false (fail bit set) otherwise.
  bool close();
  // Without waiting: true when the compressor has already ended unsuccessfully.
  bool filterFailed();

  // The named pipe while one exists, else null.
  const char* pipePath() const { return pipePath_.get(); }
  int serial() const { return serial_; }
  // The filter as a shell command (see above), empty for a plain file.
  const ZnStr& command() const { return command_; }

 private:
  void openCompressed(const char* path, const ZnStr& extension, std::ios_base::openmode mode);
  // Starts the filter and waits until it opened the pipe; the pipe path, or
  // null after reporting why not.
  const char* startCompressor(const char* targetPath, const ZnStr& extension);
  bool makePipe();
  void removePipe();
  void endFilter();

  std::unique_ptr<char[]> pipePath_;
  int serial_;
  bool pipeMade_ = false;
  bool throughFilter_ = false;  // open through a running compressor
  bool filterFailed_ = false;
  bool holdsSigpipe_ = false;
  ZnFilterProcess filter_;
  ZnStr program_;
  ZnStr command_;
  ZnStr target_;
  std::unique_ptr<char[]> buffer_;

  static int nextSerial;
};

class ZnCompIFStream : public std::ifstream {
 public:
  // Takes the next serial, then open(path, mode).
  explicit ZnCompIFStream(const char* path, std::ios_base::openmode mode = std::ios_base::in);
  ~ZnCompIFStream() override;

  // Opens for reading (the in bit is always added); see above for the
  // fall-back to a compressed form. Clears the state on success, sets the fail
  // bit on failure. Fails on a stream that is open.
  void open(const char* path, std::ios_base::openmode mode = std::ios_base::in);
  // Closes and waits for the decompressor; see above. False (fail bit set)
  // when the decompressor failed or the stream was not open.
  bool close();
  // True when the decompressor ended unsuccessfully. Once the stream met the
  // end of the data this waits for the decompressor, which has closed the pipe
  // and is ending, so the answer is final; before that it does not wait.
  bool filterFailed();

  const char* pipePath() const { return pipePath_.get(); }
  int serial() const { return serial_; }
  const ZnStr& command() const { return command_; }

 private:
  void openCompressed(const ZnStr& name, const ZnStr& extension, std::ios_base::openmode mode);
  const char* startDecompressor(const char* sourcePath, const ZnStr& extension);
  bool makePipe();
  void removePipe();

  std::unique_ptr<char[]> pipePath_;
  int serial_;
  bool pipeMade_ = false;
  bool throughFilter_ = false;  // open through a running decompressor
  bool filterFailed_ = false;
  ZnFilterProcess filter_;
  ZnStr program_;
  ZnStr command_;
  ZnStr source_;
  std::unique_ptr<char[]> buffer_;

  static int nextSerial;
};

#endif  // HDRMEND_STREAMS_ZNCOMPFSTREAM_H_
