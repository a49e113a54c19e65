// Helpers for tests that touch files, the environment and child processes.
#ifndef HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_
#define HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"

namespace testsupport {

// A directory under /tmp, removed with everything in it at the end of scope.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/hdrmend-test-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempDir() {
    if (!path_.empty()) nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  static int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    // A test may have left a directory without permissions.
    chmod(path, 0700);
    ::remove(path);
    return 0;
  }
  std::string path_;
};

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    hadValue_ = old != nullptr;
    if (hadValue_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (hadValue_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadValue_ = false;
};

// The pending messages, oldest first, as reported.
inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> texts;
  for (ZnMessage* m = ZnMessages.first(); m != nullptr; m = m->next()) {
    texts.insert(texts.begin(), m->text().c_str());
  }
  return texts;
}

inline bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
  return static_cast<bool>(out);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

inline bool WriteExecutable(const std::string& path, const std::string& text) {
  return WriteFile(path, text) && chmod(path.c_str(), 0755) == 0;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Runs a program found on PATH with its standard input and output redirected
// to files (empty: inherited); its exit status, or -1 when it did not exit.
inline int RunProgram(const std::vector<std::string>& args, const std::string& input = "",
                      const std::string& output = "") {
  pid_t pid = fork();
  if (pid == 0) {
    if (!input.empty()) {
      int fd = open(input.c_str(), O_RDONLY);
      if (fd < 0 || dup2(fd, 0) < 0) _exit(126);
    }
    if (!output.empty()) {
      int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    }
    // Programs that fail on purpose in tests would only add noise.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Whether a program is on PATH.
inline bool HaveProgram(const char* name) {
  return RunProgram({"sh", "-c", std::string("command -v ") + name + " >/dev/null"}) == 0;
}

// Named pipes of this process left in /var/tmp by the compressing streams.
inline std::vector<std::string> OwnPipesInVarTmp() {
  std::vector<std::string> found;
  std::string suffix = "." + std::to_string(getpid());
  DIR* dir = opendir("/var/tmp");
  if (dir == nullptr) return found;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    bool ours = (name.rfind("compofstream", 0) == 0 || name.rfind("compifstream", 0) == 0) &&
                name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (ours) found.push_back("/var/tmp/" + name);
  }
  closedir(dir);
  return found;
}

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SYSTEM_SYSTEMTESTSUPPORT_H_
