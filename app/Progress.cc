#include "app/Progress.h"

#include <unistd.h>

#include <cstdio>

Progress::Progress(int fd, bool terminal, std::chrono::milliseconds delay)
    : fd_(fd), terminal_(terminal), delay_(delay) {}

Progress& Progress::standardError() {
  static Progress progress(2, isatty(2) == 1);
  return progress;
}

void Progress::begin(const std::string& file, const std::string& phase,
                     std::function<int64_t()> done, int64_t total) {
  erase();
  active_ = terminal_;
  file_ = file;
  phase_ = phase;
  done_ = std::move(done);
  total_ = total;
  ticks_ = 0;
  started_ = std::chrono::steady_clock::now();
  drawn_ = started_;
}

void Progress::end() {
  erase();
  active_ = false;
}

void Progress::erase() {
  if (!shown_) return;
  shown_ = false;
  static const char kErase[] = "\r\033[K";
  if (write(fd_, kErase, sizeof kErase - 1) < 0) {
    // Nothing to be done: the line stays.
  }
}

void Progress::look() {
  const auto now = std::chrono::steady_clock::now();
  if (now - started_ < delay_ || (shown_ && now - drawn_ < std::chrono::milliseconds(100))) {
    return;
  }
  drawn_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const int64_t done = done_ ? done_() : 0;
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char line[512];
  int n;
  if (total_ > 0 && done >= 0 && rate > 0) {
    const int64_t left = total_ > done ? total_ - done : 0;
    const int percent = done >= total_ ? 100 : static_cast<int>(100 * done / total_);
    const int seconds = static_cast<int>(static_cast<double>(left) / rate);
    n = std::snprintf(line, sizeof line, "\r%s: %s %d%%, %.1f MB/s, %d:%02d left\033[K",
                      file_.c_str(), phase_.c_str(), percent, rate / 1e6, seconds / 60,
                      seconds % 60);
  } else {
    n = std::snprintf(line, sizeof line, "\r%s: %s, %.1f MB/s\033[K", file_.c_str(),
                      phase_.c_str(), rate / 1e6);
  }
  if (n >= static_cast<int>(sizeof line)) n = static_cast<int>(sizeof line) - 1;
  if (n > 0 && write(fd_, line, static_cast<size_t>(n)) > 0) {
    shown_ = true;
  }
}
