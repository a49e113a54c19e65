#include "support/TestSupport.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "foundation/ZnMessage.h"

namespace testsupport {

namespace {

// Tests leave directories without permissions behind on purpose; opening
// each one up before reading it lets the removal reach what is inside.
void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    for (const std::string& name : Listing(path)) RemoveTree(path + "/" + name);
  }
  ::remove(path.c_str());
}

}  // namespace

TempDir::TempDir() {
  char name[] = "/tmp/hdrmend-test-XXXXXX";
  if (mkdtemp(name) != nullptr) path_ = name;
  EXPECT_FALSE(path_.empty()) << "mkdtemp failed";
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) old_ = old;
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (hadValue_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

std::vector<std::string> PendingMessages() {
  std::vector<std::string> texts;
  for (ZnMessage* m = ZnMessages.first(); m != nullptr; m = m->next()) {
    texts.push_back(m->text().c_str());
  }
  return texts;
}

std::vector<std::string> TakeMessages() {
  std::vector<std::string> texts = PendingMessages();
  ZnClearMessages();
  return texts;
}

std::string MessageBlock(const std::vector<std::string>& newestFirst) {
  ZnMessage* chain = nullptr;
  for (auto text = newestFirst.rbegin(); text != newestFirst.rend(); ++text) {
    chain = new ZnMessage(ZnMessage::Error, ZnStr(text->c_str()), chain);
  }
  std::string block = chain != nullptr ? chain->toString().c_str() : "";
  delete chain;
  return block;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
  out.close();
  EXPECT_FALSE(out.fail()) << "cannot write " << path;
  return !out.fail();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> Listing(const std::string& directory) {
  std::set<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

std::string FindProgram(const std::string& name) {
  std::istringstream path(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(path, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

}  // namespace testsupport
