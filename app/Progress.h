// The status line of a long run: file, phase, percent, speed and time left,
// on a terminal only.
//
// A phase that takes longer than the delay (about a second) shows one line on
// standard error, redrawn at most ten times a second, and erases it before
// anything else is printed (erase() is called before every other output)
// and when the phase ends. When standard error is not a terminal nothing is
// ever written, so scripts and tests see exactly the command's own output.
//
// The work done is measured by a function the phase gives: bytes of the
// file read or written, against the total the file's size suggests. The
// hook the passes call per frame is cheap: it looks at the clock only every
// few hundred frames.
#ifndef HDRMEND_APP_PROGRESS_H_
#define HDRMEND_APP_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class Progress {
 public:
  // `fd` receives the line when `terminal` is true.
  Progress(int fd, bool terminal,
           std::chrono::milliseconds delay = std::chrono::milliseconds(1000));
  ~Progress() { erase(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // The progress of the command's standard error, set up by main().
  static Progress& standardError();

  // A phase begins: `done` answers the bytes done so far, of `total`.
  void begin(const std::string& file, const std::string& phase,
             std::function<int64_t()> done, int64_t total);
  // Called often (per frame): redraws when it is time.
  void tick() {
    if (active_ && ++ticks_ % kTicksPerLook == 0) look();
  }
  // The phase ended: the line goes.
  void end();
  // Takes the line away before other output; the phase goes on.
  void erase();

 private:
  static constexpr unsigned kTicksPerLook = 256;
  void look();

  int fd_;
  bool terminal_;
  std::chrono::milliseconds delay_;
  bool active_ = false;
  bool shown_ = false;
  unsigned ticks_ = 0;
  std::string file_;
  std::string phase_;
  std::function<int64_t()> done_;
  int64_t total_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
};

#endif  // HDRMEND_APP_PROGRESS_H_
