// Helpers shared by the tests of every folder: a scratch directory, a scoped
// environment variable, the pending messages, whole files as strings.
//
// Failures to set up (no scratch directory, a file not written) are reported
// as test failures where they happen, so a test that goes on regardless still
// shows why it went wrong.
#ifndef HDRMEND_TESTS_SUPPORT_TESTSUPPORT_H_
#define HDRMEND_TESTS_SUPPORT_TESTSUPPORT_H_

#include <errno.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under /tmp, removed with everything in it at the end of
// scope. path() is empty when it could not be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (for null: unsets) an environment variable for one scope and puts back
// what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadValue_ = false;
};

// The texts of the pending messages, newest first.
std::vector<std::string> PendingMessages();
// PendingMessages(), then empties the list.
std::vector<std::string> TakeMessages();
// The block a command prints for these error messages, newest first.
std::string MessageBlock(const std::vector<std::string>& newestFirst);

// The whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content; false (and a test failure) when it could not.
bool WriteFile(const std::string& path, const std::string& data);
// Whether anything, a dangling link included, has this name.
bool Exists(const std::string& path);
// The names in a directory but "." and ".."; empty when it cannot be read.
std::set<std::string> Listing(const std::string& directory);

// The program's path on PATH, or "" when it is not installed.
std::string FindProgram(const std::string& name);
inline bool HaveProgram(const std::string& name) { return !FindProgram(name).empty(); }

// The program that compresses ".gz" files: pigz where it is installed, else
// gzip; and the command text the streams give for it.
inline std::string GzipCompressor() { return HaveProgram("pigz") ? "pigz" : "gzip"; }
inline std::string GzipCommand() { return GzipCompressor() + " -9 <%s >%s &"; }

inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Named pipes of process `pid` (this one by default) left in /var/tmp by the
// compressing streams. Other processes' pipes are not looked at: tests run
// side by side, and theirs come and go. The pid of an ended process may be
// given to a new one at once (pids wrap quickly while tests start hundreds of
// programs); while a process bears it, the pipes bearing it are that one's.
inline std::vector<std::string> OwnPipesInVarTmp(pid_t pid = getpid()) {
  const std::string suffix = "." + std::to_string(pid);
  auto list = [&suffix] {
    std::vector<std::string> found;
    for (const std::string& name : Listing("/var/tmp")) {
      if ((name.rfind("compofstream", 0) == 0 || name.rfind("compifstream", 0) == 0) &&
          EndsWith(name, suffix)) {
        found.push_back("/var/tmp/" + name);
      }
    }
    return found;
  };
  std::vector<std::string> found = list();
  if (found.empty() || pid == getpid()) return found;
  if (kill(pid, 0) == 0 || errno == EPERM) return {};
  // Ended when asked: what a new bearer made may have gone since the listing.
  return list();
}

}  // namespace testsupport

#endif  // HDRMEND_TESTS_SUPPORT_TESTSUPPORT_H_
