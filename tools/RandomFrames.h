// A reproducible source of random raw data frames, for rdgen and the tests
// that check what rdgen wrote.
//
// The same settings give the same frames on every platform: the generator is
// splitmix64 and every draw is a plain modulus of its output. Coordinates
// are chosen so that a file stores them exactly: multiples of 1/128 pixel for
// binary files, of 1/10000 for text files (or of 1/1000000 with
// `textDecimals`, which a four-decimal text writer rounds). Binary files do
// not store pixel counts, so binary frames carry pixels 1 as they read back;
// text frames carry 1 to 50. Timecodes count from `timecodeStart` at its own
// rate (wrapping at midnight), and the frames carry them without the rate, as
// files store them.
#ifndef HDRMEND_TOOLS_RANDOMFRAMES_H_
#define HDRMEND_TOOLS_RANDOMFRAMES_H_

#include <cstdint>

#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFormat.h"
#include "rawdata/ZrRDFrame.h"

struct RandomFrameSettings {
  ZrRDFormat format = ZrRDFormat::Binary;
  int cameras = 2;
  int minGlobs = 0;  // per camera, drawn from minGlobs..maxGlobs
  int maxGlobs = 10;
  int firstNumber = 1;
  bool timecodes = false;
  ZnPackedTimecode timecodeStart = 0;
  bool textDecimals = false;
  uint64_t seed = 1;
};

class RandomFrames {
 public:
  explicit RandomFrames(const RandomFrameSettings& settings)
      : settings_(settings),
        state_(settings.seed),
        number_(settings.firstNumber),
        timecode_(settings.timecodeStart) {}

  // Makes `frame` the next frame. The frame's cameras and glob arrays are
  // reused, so filling the same frame again allocates only when a camera gets
  // more globs than it had.
  void next(ZrRDFrame& frame) {
    frame.number = number_;
    // Wraps instead of overflowing for a start near the top of the range.
    number_ = static_cast<int>(static_cast<uint32_t>(number_) + 1u);
    frame.timecode.reset();
    if (settings_.timecodes) {
      ZnTimecode parts = ZnTimecode::unpack(timecode_);
      // Counting on passes midnight into hour 24, which no text file can
      // hold; a clock starts the next day.
      parts.hour %= 24;
      parts.rate = 0;
      frame.timecode = parts.pack();
      timecode_ = ZnPackedTimecodeAddFrames(timecode_, 1);
    }
    frame.setCameraCount(settings_.cameras);
    const uint64_t span = static_cast<uint64_t>(settings_.maxGlobs - settings_.minGlobs) + 1;
    for (int i = 0; i < settings_.cameras; ++i) {
      ZrRDCamera* camera = frame.camera(i);
      if (camera == nullptr) {
        camera = new ZrRDCamera(i + 1);
        frame.setCamera(i, camera);
      }
      camera->id = i + 1;
      const int count = settings_.minGlobs + static_cast<int>(draw() % span);
      camera->globs.resize(count);
      for (ZrRDGlob& glob : camera->globs) fillGlob(glob);
    }
  }

 private:
  uint64_t draw() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  void fillGlob(ZrRDGlob& glob) {
    const uint64_t r = draw();
    const uint32_t a = static_cast<uint32_t>(r);
    const uint32_t b = static_cast<uint32_t>(r >> 32);
    if (settings_.format == ZrRDFormat::Binary) {
      glob.pixels = 1;
      glob.x = ZrRDDecodeCoordinate(static_cast<uint16_t>(a));
      glob.y = ZrRDDecodeCoordinate(static_cast<uint16_t>(b));
      return;
    }
    glob.pixels = 1 + static_cast<int>(draw() % 50);
    if (settings_.textDecimals) {
      glob.x = static_cast<float>((a % 512000000u) / 1e6);
      glob.y = static_cast<float>((b % 512000000u) / 1e6);
    } else {
      glob.x = static_cast<float>((a % 5120000u) / 1e4);
      glob.y = static_cast<float>((b % 5120000u) / 1e4);
    }
  }

  RandomFrameSettings settings_;
  uint64_t state_;
  int number_;
  ZnPackedTimecode timecode_;
};

#endif  // HDRMEND_TOOLS_RANDOMFRAMES_H_
