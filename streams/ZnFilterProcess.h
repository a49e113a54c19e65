// One external filter program joined to this process through a named pipe:
// the child process behind ZnFilterPipe, and so behind the compressing
// streams.
//
// The filter runs as /bin/sh -c SCRIPT with its arguments as the positional
// parameters $1 (and $2), so the names never become shell text: the script
// quotes them ("$1") and a name may hold any character. Started with a file
// descriptor, the filter gets that descriptor as its standard output (data
// running to the filter) or standard input (data coming from it), and the
// script names only the pipe. The child gets no other descriptors of ours
// beyond the standard three, and the default SIGPIPE action, so a filter
// whose reader went away ends instead of complaining.
//
// The object owns the child: it waits for it, and a child still running when
// the object goes is ended with SIGTERM and waited for. The child is on the
// interrupt clean-up list (system/ZnCleanup.h) from its start until its
// status is collected. Nothing here reports through the message list; callers
// turn the answers into messages.
#ifndef HDRMEND_STREAMS_ZNFILTERPROCESS_H_
#define HDRMEND_STREAMS_ZNFILTERPROCESS_H_

#include <sys/types.h>

#include "foundation/ZnStr.h"

class ZnFilterProcess {
 public:
  // Which way the data runs through the named pipe.
  enum Direction { kToFilter, kFromFilter };

  ZnFilterProcess() = default;
  ZnFilterProcess(const ZnFilterProcess&) = delete;
  ZnFilterProcess& operator=(const ZnFilterProcess&) = delete;
  ~ZnFilterProcess() { terminate(); }

  // Starts the script. The named pipe at pipePath must exist; with kToFilter
  // the filter opens it for reading, with kFromFilter for writing. Returns 0,
  // or the error number when the shell cannot be started.
  int start(const char* script, const char* arg1, const char* arg2, const char* pipePath,
            Direction direction);
  // The same with the pipe as $1 alone and fileFd as the filter's standard
  // output (kToFilter) or standard input (kFromFilter). The caller keeps
  // fileFd; the filter gets a copy.
  int start(const char* script, const char* pipePath, int fileFd, Direction direction);

  // Waits until the filter has opened its side of the pipe; never blocks for
  // good. Returns false when the filter ended first (it has been waited for)
  // or the pipe cannot be opened (error() says why; the filter is ended). On
  // success the pipe stays held open from our side in both directions, so that
  // a plain blocking open of our side returns at once even if the filter
  // should end now; call releasePipe() right after that open.
  bool connect();
  void releasePipe();
  // After connect(), instead of opening the pipe again: hands over our side
  // of it, blocking and close-on-exec, for writing with kToFilter and for
  // reading with kFromFilter, and lets the other hold go, so that a filter
  // that ends is seen as a broken pipe or the end of the data. The caller
  // owns the descriptor. -1 when not connected.
  int takeOurSide();
  // The error number that made connect() fail; 0 when the filter ended.
  int error() const { return error_; }

  // Waits for the filter to end and answers whether it succeeded: exit status
  // 0 or, with brokenPipeIsSuccess, ended by SIGPIPE because our side closed
  // the pipe early. Answers true when no filter was started. Releases the pipe
  // first, so a filter that reads from us sees the end of its input.
  bool finish(bool brokenPipeIsSuccess);
  // Without waiting: true when the filter has already ended unsuccessfully.
  bool endedBadly(bool brokenPipeIsSuccess);
  // Ends a running filter with SIGTERM and waits for it.
  void terminate();

  bool running() const { return pid_ > 0 && !ended_; }
  pid_t pid() const { return pid_; }

 private:
  // Collects the child's status once it ended; true when it has.
  bool reap(bool block);
  bool succeeded(bool brokenPipeIsSuccess) const;
  bool connectToReader();
  bool connectToWriter();
  int spawn(const char* script, const char* const* args, const char* pipePath, int fileFd,
            Direction direction);

  pid_t pid_ = -1;
  bool ended_ = false;
  bool statusKnown_ = false;
  int status_ = 0;
  int error_ = 0;
  Direction direction_ = kToFilter;
  ZnStr pipePath_;
  int holdRead_ = -1;
  int holdWrite_ = -1;
  int cleanupSlot_ = -1;
};

#endif  // HDRMEND_STREAMS_ZNFILTERPROCESS_H_
