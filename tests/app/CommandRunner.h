// Runs the built hdrmend in a child process and collects what it printed.
//
// The test process adopts whatever the run leaves running (the filters of a
// command that was killed) and waits for all of it too, so that nothing of a
// run still writes when the test looks at the files. It waits for every child
// it has meanwhile: a test that starts processes of its own in the background
// must not run a command while they run.
#ifndef HDRMEND_TESTS_APP_COMMANDRUNNER_H_
#define HDRMEND_TESTS_APP_COMMANDRUNNER_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct CommandResult {
  int status = -1;        // exit status, or -1 when the child did not exit
  int signal = 0;         // the signal that ended the child, if any
  int stops = 0;          // how often the child was stopped by a signal
  bool timedOut = false;  // killed because it ran past the timeout
  int leftBehind = 0;     // processes the child left running when it ended
  std::string out;        // standard output
  std::string err;        // standard error
  pid_t pid = -1;         // the child's process id, for names it made from it
  // The peak resident memory of the child, or of the largest of the children
  // it waited for (its filters), in KiB.
  long maxResidentKiB = 0;
};

struct CommandOptions {
  // Called with the child's process id before the program starts in it, for
  // what a test must prepare by that id (names the program forms from it).
  std::function<void(pid_t)> beforeStart;
  std::string directory;         // working directory; empty: unchanged
  std::vector<std::string> env;  // NAME=value pairs added to the environment
  long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes; -1: unchanged
  bool ignoreSigxfsz = false;    // so a write past the limit fails with EFBIG
  // Only a guard against a run that hangs: the child and whatever it left
  // running are killed with SIGKILL after this, and the run counts as failed.
  int timeoutSeconds = 60;
  // Run as this user and group, without supplementary groups; -1: unchanged.
  // Dropping them needs the privileges the tests run with; a child that cannot
  // switch exits with status 126.
  int uid = -1;
  int gid = -1;
  // Called whenever the child has stopped (SIGSTOP, for example raised by the
  // fault-injection library), with its process id. The child is continued with
  // SIGCONT when it returns; it may signal the child or its children meanwhile.
  std::function<void(pid_t)> whenStopped;
};

// Runs `program` with `args` (argv[0] is `program`). The arguments reach the
// child unchanged: no shell is involved.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const CommandOptions& options = CommandOptions());

#endif  // HDRMEND_TESTS_APP_COMMANDRUNNER_H_
