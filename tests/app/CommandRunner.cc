#include "app/CommandRunner.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

namespace {

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

int TempFile() {
  char name[] = "/tmp/hdrmend-output-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) unlink(name);
  return fd;
}

// Kills every child of this process: the run's child and what it left.
void KillChildren() {
  const std::string self = std::to_string(getpid());
  std::ifstream children("/proc/" + self + "/task/" + self + "/children");
  for (pid_t child; children >> child;) kill(child, SIGKILL);
}

// Makes this process adopt the orphans of its descendants for one scope, so
// that it can wait for them.
class AdoptingOrphans {
 public:
  AdoptingOrphans() {
    prctl(PR_GET_CHILD_SUBREAPER, &before_);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  ~AdoptingOrphans() { prctl(PR_SET_CHILD_SUBREAPER, before_); }
  AdoptingOrphans(const AdoptingOrphans&) = delete;
  AdoptingOrphans& operator=(const AdoptingOrphans&) = delete;

 private:
  int before_ = 0;
};

}  // namespace

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const CommandOptions& options) {
  CommandResult result;
  int out = TempFile();
  int err = TempFile();
  if (out < 0 || err < 0) return result;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // A child that must wait for the parent's preparations waits on a pipe.
  int gate[2] = {-1, -1};
  if (options.beforeStart && pipe(gate) != 0) return result;

  AdoptingOrphans adopting;
  pid_t pid = fork();
  if (pid == 0) {
    if (gate[0] >= 0) {
      close(gate[1]);
      char go = 0;
      if (read(gate[0], &go, 1) != 1) _exit(126);
      close(gate[0]);
    }
    dup2(out, 1);
    dup2(err, 2);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
    for (const std::string& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (options.ignoreSigxfsz) signal(SIGXFSZ, SIG_IGN);
    if (options.fileSizeLimit >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.gid >= 0 && (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0)) _exit(126);
    if (options.uid >= 0 && setuid(options.uid) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (gate[0] >= 0) {
    close(gate[0]);
    if (pid > 0) {
      options.beforeStart(pid);
      if (write(gate[1], "g", 1) != 1) kill(pid, SIGKILL);
    }
    close(gate[1]);
  }
  if (pid < 0) return result;
  result.pid = pid;

  // Until every child has ended: the command, then what it left behind.
  const time_t deadline = time(nullptr) + options.timeoutSeconds;
  for (;;) {
    int status = 0;
    struct rusage usage = {};
    pid_t done = wait4(-1, &status, WNOHANG | WUNTRACED, &usage);
    if (done < 0 && errno == ECHILD) break;
    if (done == pid && WIFSTOPPED(status)) {
      ++result.stops;
      if (options.whenStopped) options.whenStopped(pid);
      kill(pid, SIGCONT);
    } else if (done == pid) {
      result.maxResidentKiB = usage.ru_maxrss;
      if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    } else if (done > 0 && WIFSTOPPED(status)) {
      kill(done, SIGCONT);  // an adopted filter would wait for ever
    } else if (done > 0) {
      ++result.leftBehind;
    }
    if (done > 0) continue;
    if (time(nullptr) > deadline) {
      result.timedOut = true;
      KillChildren();
    }
    usleep(2000);
  }
  result.out = Drain(out);
  result.err = Drain(err);
  return result;
}
