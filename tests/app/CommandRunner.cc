#include "app/CommandRunner.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

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

  pid_t pid = fork();
  if (pid == 0) {
    dup2(out, 1);
    dup2(err, 2);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
    for (const std::string& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (options.ignoreSigxfsz) signal(SIGXFSZ, SIG_IGN);
    if (options.niceness != 0 && nice(options.niceness) == -1) {
      // Merely slower or faster than asked; the run itself is unaffected.
    }
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
  if (pid < 0) return result;
  result.pid = pid;

  int status = 0;
  struct rusage usage = {};
  time_t deadline = time(nullptr) + options.timeoutSeconds;
  for (;;) {
    pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      break;
    }
    if (options.whileRunning) options.whileRunning(pid);
    usleep(2000);
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.maxResidentKiB = usage.ru_maxrss;
  result.out = Drain(out);
  result.err = Drain(err);
  return result;
}
