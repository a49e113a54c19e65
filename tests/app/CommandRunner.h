// Runs the built hdrmend in a child process and collects what it printed.
#ifndef HDRMEND_TESTS_APP_COMMANDRUNNER_H_
#define HDRMEND_TESTS_APP_COMMANDRUNNER_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct CommandResult {
  int status = -1;  // exit status, or -1 when the child did not exit
  int signal = 0;   // the signal that ended the child, if any
  std::string out;  // standard output
  std::string err;  // standard error
  pid_t pid = -1;   // the child's process id, for names it made from it
  // The peak resident memory of the child, or of the largest of the children
  // it waited for (its filters), in KiB.
  long maxResidentKiB = 0;
};

struct CommandOptions {
  std::string directory;         // working directory; empty: unchanged
  std::vector<std::string> env;  // NAME=value pairs added to the environment
  long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes; -1: unchanged
  bool ignoreSigxfsz = false;    // so a write past the limit fails with EFBIG
  int timeoutSeconds = 60;       // killed with SIGKILL after this
  int niceness = 0;              // added to the child's nice value
  // Run as this user and group, without supplementary groups; -1: unchanged.
  // Dropping them needs the privileges the tests run with.
  int uid = -1;
  int gid = -1;
  // Called in the parent about every 2 ms while the child runs, with its
  // process id; it may signal the child. The timeout is checked between calls.
  std::function<void(pid_t)> whileRunning;
};

// Runs `program` with `args` (argv[0] is `program`). The arguments reach the
// child unchanged: no shell is involved.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const CommandOptions& options = CommandOptions());

#endif  // HDRMEND_TESTS_APP_COMMANDRUNNER_H_
