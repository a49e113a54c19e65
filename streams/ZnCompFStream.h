// File streams that compress or decompress through an external filter program.
//
// ZnCompOFStream writes and ZnCompIFStream reads a file, given by name or as
// a file descriptor the caller opened. For a name that ends in ".Z", ".gz" or
// ".jpeg" they do not read or write the file themselves: they make a named
// pipe "/var/tmp/compofstream<serial>.<pid>" (or compifstream), start the
// filter with the pipe on one side and the file on the other, and read or
// write the pipe (streams/ZnFilterPipe.h). The filters, by extension, written
// as the shell commands they amount to (first %s: the pipe when writing, the
// file when reading):
//
//   "Z"     compress <%s >%s &          uncompress -c %s >%s &
//   "gz"    pigz -9 <%s >%s &           gunzip -c %s >%s &
//           (gzip -9 <%s >%s & where pigz is not installed)
//   "jpeg"  cjpeg -gsi <%s >%s &        djpeg -gsi %s >%s &
//
// pigz compresses on every core; it does not decompress here, since it takes
// bytes after the end of the compressed data for nothing, which gunzip
// reports. Messages name the program that runs, and "Cannot find command"
// names gzip when neither is installed.
//
// The filter never opens the file by name: the stream (or the caller) opens
// it, and the filter gets it as its standard output (compressor) or standard
// input (decompressor). What runs is that program through "sh -c", with the
// pipe handed over as a positional parameter, never spliced into the shell
// text. command() gives the text above filled in, for messages and logs only.
//
// Without such an extension the stream reads or writes the file directly.
// Reading a plain name that does not exist opens its ".gz" (or else ".Z")
// form when that exists; a descriptor is taken as the name says.
//
// Opening by name checks the file first (ZnCanRead, ZnCanWrite, with their
// messages) and opens it: for writing with O_WRONLY | O_CREAT | O_TRUNC and
// mode 0666 less the umask, as std::ofstream would, following a symbolic
// link; for reading with O_RDONLY, never waiting for a writer of a FIFO.
// Opening a descriptor (openDescriptor()) checks nothing: the stream works on
// a duplicate (F_DUPFD_CLOEXEC) and the caller keeps and closes its own. The
// name then only chooses the filter and names the file in messages. A plain
// output descriptor's duplicate shares its file offset, so a caller may
// flush() the stream, write or copy_file_range() into its own descriptor,
// and go on with the stream, which never seeks. Created files are the
// caller's to make safe: a copy that must not follow a planted link is
// opened by the caller (O_CREAT | O_EXCL | O_NOFOLLOW) and handed over.
//
// Failure: every failure is reported through the message list (ZnReportError)
// and leaves the stream's fail bit set; nothing is thrown.
//  - Opening fails for an unusable file (the messages of ZnCanRead or
//    ZnCanWrite), a file or descriptor that cannot be opened or duplicated
//    (a reading stream reports the system's reason and "Unable to open
//    \"<file>\"."; a writing one leaves the reason in errno and the report
//    to its caller, who names the file), a pipe that cannot be
//    made, an unknown extension, a filter program missing from PATH, a shell
//    that cannot start, and a filter that ends before it opened the pipe
//    (opening never waits for good).
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
//    failure it had already ended with is still reported). A read that failed
//    also looks like the end of the data; close() reports it (the system's
//    reason, then "Unable to read \"<file>\".") and answers false.
//  - A failed write leaves its error number in errno (see ZnFdStreamBuf).
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
// Pipe and filter are on the interrupt clean-up list while they exist.
//
// Buffers: each stream moves data in blocks of up to kStreamBufferSize bytes
// through its ZnFdStreamBuf (rdbuf()), so a large file costs a few system
// calls per megabyte and a filter's pipe is filled whole.
//
// Each class numbers its streams from 0 in the order they are constructed; the
// number (serial) goes into the pipe name. No two streams of a process share
// one; a stream opened again keeps its own.
//
// The filters get no descriptors of ours but the file's, and the stream's
// descriptors are close-on-exec; but a program started by fork() alone
// inherits the stream's end of the pipe while it is open, and a compressor
// then sees the end of its input, and close() returns, only once that program
// has ended. Single-threaded, like the rest of the library.
#ifndef HDRMEND_STREAMS_ZNCOMPFSTREAM_H_
#define HDRMEND_STREAMS_ZNCOMPFSTREAM_H_

#include <istream>
#include <ostream>

#include "foundation/ZnStr.h"
#include "streams/ZnFdStreamBuf.h"
#include "streams/ZnFilterPipe.h"

// The base of ZnCompOFStream; adds nothing to std::ostream.
class ZnOFStream : public std::ostream {
 public:
  ZnOFStream() : std::ostream(nullptr) {}
  ~ZnOFStream() override;
};

class ZnCompOFStream : public ZnOFStream {
 public:
  // Take the next serial, then open(path, mode) or openDescriptor(fd, name).
  explicit ZnCompOFStream(const char* path, std::ios_base::openmode mode = std::ios_base::out);
  ZnCompOFStream(int fd, const char* name);
  ~ZnCompOFStream() override;

  // Opens for writing (the out bit is always added; app appends, and in
  // without trunc or app keeps the file and requires it, as for
  // std::ofstream; a compressed file is always written anew). Clears the
  // state on success, sets the fail bit on failure. Fails on a stream that is
  // open.
  void open(const char* path, std::ios_base::openmode mode = std::ios_base::out);
  // Opens for writing into a duplicate of fd; see above.
  void openDescriptor(int fd, const char* name);
  // Flushes and closes, then waits for the compressor; see above. True when
  // the file was written whole; false (fail bit set) otherwise.
  bool close();
  bool is_open() const { return buf_.is_open(); }
  // Without waiting: true when the compressor has already ended unsuccessfully.
  bool filterFailed();

  // The named pipe while one exists, else null.
  const char* pipePath() const { return pipe_.path(); }
  int serial() const { return serial_; }
  // The filter as a shell command (see above), empty for a plain file.
  const ZnStr& command() const { return command_; }
  ZnFdStreamBuf* rdbuf() const { return const_cast<ZnFdStreamBuf*>(&buf_); }

 private:
  bool beginOpen(const char* name);
  // Goes on with fd, or with the file at `path` opened with `flags` when fd
  // is negative; fails the open after reporting.
  void attach(int fd, const char* path, int flags);
  void failOpen(int fd);

  ZnFdStreamBuf buf_;
  ZnFilterPipe pipe_;
  int serial_;
  bool throughFilter_ = false;  // open through a running compressor
  bool filterFailed_ = false;
  ZnStr program_;
  ZnStr command_;
  ZnStr target_;

  static int nextSerial;
};

class ZnCompIFStream : public std::istream {
 public:
  // Take the next serial, then open(path, mode) or openDescriptor(fd, name).
  explicit ZnCompIFStream(const char* path, std::ios_base::openmode mode = std::ios_base::in);
  ZnCompIFStream(int fd, const char* name);
  ~ZnCompIFStream() override;

  // Opens for reading (the in bit is always added); see above for the
  // fall-back to a compressed form. Clears the state on success, sets the fail
  // bit on failure. Fails on a stream that is open.
  void open(const char* path, std::ios_base::openmode mode = std::ios_base::in);
  // Opens for reading from a duplicate of fd; see above.
  void openDescriptor(int fd, const char* name);
  // Closes and waits for the decompressor; see above. False (fail bit set)
  // when the decompressor or a read failed, or the stream was not open.
  bool close();
  bool is_open() const { return buf_.is_open(); }
  // True when the decompressor ended unsuccessfully. Once the stream met the
  // end of the data this waits for the decompressor, which has closed the pipe
  // and is ending, so the answer is final; before that it does not wait.
  bool filterFailed();

  const char* pipePath() const { return pipe_.path(); }
  int serial() const { return serial_; }
  const ZnStr& command() const { return command_; }
  ZnFdStreamBuf* rdbuf() const { return const_cast<ZnFdStreamBuf*>(&buf_); }

 private:
  bool beginOpen();
  void attach(int fd, const ZnStr& name, const char* path);
  void failOpen(int fd);

  ZnFdStreamBuf buf_;
  ZnFilterPipe pipe_;
  int serial_;
  bool throughFilter_ = false;  // open through a running decompressor
  bool filterFailed_ = false;
  ZnStr program_;
  ZnStr command_;
  ZnStr source_;

  static int nextSerial;
};

#endif  // HDRMEND_STREAMS_ZNCOMPFSTREAM_H_
