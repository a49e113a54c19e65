// A filter program on the far side of a named pipe, seen from our side: what
// ZnCompOFStream and ZnCompIFStream share.
//
// makePipe() makes the FIFO "<ZnTempDirectory()>/<stem><serial>.<pid>";
// start() runs the filter (ZnFilterProcess) with the pipe as "$1" and the
// caller's file descriptor as its standard output (kToFilter: we write, it
// compresses into the file) or standard input (kFromFilter: it decompresses
// the file, we read), waits until it opened the pipe without ever waiting for
// good, and hands over our side of the pipe. wait() collects the verdict;
// end() stops what still runs and removes the pipe.
//
// Ownership: the object owns the FIFO (it never removes a file it did not
// make) and the filter process; the destructor ends both. The descriptor
// start() returns belongs to the caller; the file descriptor given to start()
// stays the caller's too (the filter has its own copy). The pipe and the
// process are on the interrupt clean-up list (system/ZnCleanup.h) from the
// moment they exist until they are gone.
//
// While a filter that we write to runs, SIGPIPE is ignored if its action was
// the default, so that a filter that dies turns our writes into write errors
// instead of killing the process. The default comes back when the last such
// filter has ended. A handler of the caller's own stays.
//
// Failure: makePipe() reports its own failure through the message list (the
// system's reason, then "Unable to create named pipe \"<path>\"."); start()
// reports nothing and says what went wrong in its answer, for the caller to
// word. Single-threaded, like the rest of the library.
#ifndef HDRMEND_STREAMS_ZNFILTERPIPE_H_
#define HDRMEND_STREAMS_ZNFILTERPIPE_H_

#include <sys/types.h>

#include <memory>

#include "streams/ZnFilterProcess.h"

class ZnFilterPipe {
 public:
  enum Outcome {
    kConnected,       // the filter runs and has its side of the pipe open
    kCannotStart,     // the shell could not be started; error() says why
    kCannotOpenPipe,  // our side of the pipe failed; error() says why
    kEndedFirst,      // the filter ended without opening the pipe
  };

  explicit ZnFilterPipe(ZnFilterProcess::Direction direction) : direction_(direction) {}
  ZnFilterPipe(const ZnFilterPipe&) = delete;
  ZnFilterPipe& operator=(const ZnFilterPipe&) = delete;
  ~ZnFilterPipe() { end(); }

  // Makes the FIFO, mode 0600. A FIFO of this user already under the name is
  // left over from a process that had our id and died, and is replaced;
  // anything else under the name fails. Removes a pipe made before.
  bool makePipe(const char* stem, int serial);
  // The pipe while it exists, else null.
  const char* path() const { return path_.get(); }

  // Starts `script` (run by /bin/sh, the pipe as "$1") with fileFd as the
  // filter's standard output or input, and connects. On kConnected *ourSide
  // is our end of the pipe: blocking, close-on-exec, for writing with
  // kToFilter and for reading with kFromFilter. Anything else leaves no
  // filter running; the pipe stays until end().
  Outcome start(const char* script, int fileFd, int* ourSide);
  int error() const { return error_; }

  // Waits for the filter and answers whether it succeeded: exit status 0, or
  // with brokenPipeIsSuccess an end by SIGPIPE because our side closed early.
  // True when no filter was started. Our side must be closed first, or a
  // filter reading from us never sees the end of its input.
  bool wait(bool brokenPipeIsSuccess) { return process_.finish(brokenPipeIsSuccess); }
  // Without waiting: the filter has already ended, unsuccessfully.
  bool endedBadly(bool brokenPipeIsSuccess) { return process_.endedBadly(brokenPipeIsSuccess); }

  // Ends a filter still running (SIGTERM) and removes the pipe.
  void end();

 private:
  void removePipe();

  ZnFilterProcess::Direction direction_;
  ZnFilterProcess process_;
  std::unique_ptr<char[]> path_;
  bool pipeMade_ = false;
  int pipeSlot_ = -1;
  bool holdsSigpipe_ = false;
  int error_ = 0;
};

#endif  // HDRMEND_STREAMS_ZNFILTERPIPE_H_
