#include "rawdata/ZrRDSet.h"

#include <algorithm>
#include <climits>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "streams/ZnCompFStream.h"
#include "foundation/ZnSStream.h"
#include "system/ZnFileUtils.h"

namespace {

// The frame-pointer array grows by this much at a time during a load, so a
// long file does not reallocate per frame.
constexpr int kSlotStep = 500;
// What the binary header's 16-bit field can state; text headers are held to
// the same.
constexpr int kMaxCameras = 65535;
// A load polls the cancel hook after this many frames.
constexpr int kCancelPollFrames = 50;

ZrRDFrame* DefaultCreate() { return ZrRDNewFrame(); }
ZrRDFrame* DefaultCopy(const ZrRDFrame& source) { return ZrRDNewFrame(source); }

ZrRDFrameFactory frameFactory = {DefaultCreate, DefaultCopy};

// A heap copy. Copies happen where there is no way to fail (a copy
// constructor) or where failing would leave a set half copied, so running out
// of memory ends the process the way an array that cannot grow does.
ZrRDFrame* CopyFrame(const ZrRDFrame& source) {
  ZrRDFrame* copy = frameFactory.copy(source);
  if (copy == nullptr) ZnArrayReportAllocationFailure(1, sizeof(ZrRDFrame));
  return copy;
}

// Tells errors reported after construction from one that was already
// pending, so that an earlier caller's unflushed error does not fail us.
class NewErrorWatch {
 public:
  NewErrorWatch() : mark_(ZnMessages.first()) {}
  bool errorPending() const { return ZnMessages.errorPending() && ZnMessages.first() != mark_; }

 private:
  const ZnMessage* mark_;
};

// Where a failed load stood: the highest frame number stored so far.
void ReportLoadContext(int highest) {
  if (highest == 0) {
    ZnReportError("An error occurred while reading the first frame.");
  } else {
    ZnReportError("The last successfully read frame was %d.", highest);
  }
}

void ReportMissingFrame(int number) {
  ZnOSStream message;
  message << "Frame " << number << " does not exist.";
  ZnReportError(ZnStr(message.str()));
}

}  // namespace

ZrRDFrameFactory ZrRDSetFrameFactoryForTesting(ZrRDFrameFactory factory) {
  ZrRDFrameFactory old = frameFactory;
  frameFactory.create = factory.create != nullptr ? factory.create : DefaultCreate;
  frameFactory.copy = factory.copy != nullptr ? factory.copy : DefaultCopy;
  return old;
}

ZrRDSet::ZrRDSet(const ZrRDSet& other)
    : frameCount_(other.frameCount_), cameraCount_(other.cameraCount_), format_(other.format_) {
  copyFramesFrom(other);
}

ZrRDSet& ZrRDSet::operator=(const ZrRDSet& other) {
  if (this == &other) return *this;
  clear();
  frameCount_ = other.frameCount_;
  cameraCount_ = other.cameraCount_;
  copyFramesFrom(other);
  return *this;
}

void ZrRDSet::copyFramesFrom(const ZrRDSet& other) {
  int n = other.frames_.count();
  frames_.resize(n);
  for (int i = 0; i < n; ++i) {
    if (other.frames_[i] != nullptr) frames_[i] = CopyFrame(*other.frames_[i]);
  }
}

void ZrRDSet::clear() {
  for (ZrRDFrame*& slot : frames_) ZrRDDeleteFrame(&slot);
  frames_.setCount(0);
  frameCount_ = 0;
  cameraCount_ = 0;
}

bool ZrRDSet::load(std::istream& in) {
  format_ = ZrRDIsBinary(in) ? ZrRDFormat::Binary : ZrRDFormat::Text;
  return load(in, format_);
}

bool ZrRDSet::load(std::istream& in, ZrRDFormat format) {
  clear();
  bool binary = format == ZrRDFormat::Binary;
  if (binary && !ZrRDCheckIdentification(in)) {
    ZnReportError("File is not a Kyo Raw Data File.");
    return false;
  }
  if (!loadFrames(in, binary)) {
    clear();
    return false;
  }
  return true;
}

bool ZrRDSet::loadFrames(std::istream& in, bool binary) {
  NewErrorWatch watch;
  bool counted = binary ? ZrRDReadBinaryCounts(in, &cameraCount_, &frameCount_)
                        : ZrRDReadTextCounts(in, &cameraCount_, &frameCount_);
  if (watch.errorPending()) return false;
  if (!counted || in.fail()) {
    // A binary counts header cut short by the end reports nothing by itself,
    // and may leave a count of 0 frames that would load as an empty set.
    ZnReportError("Unable to read header information.");
    return false;
  }
  if (cameraCount_ < 0 || cameraCount_ > kMaxCameras) {
    // Every frame gets a slot per camera before its cameras are read, so a
    // damaged text count would claim memory the file does not back.
    ZnReportError("Invalid number of cameras %d.", cameraCount_);
    ZnReportError("Unable to read header information.");
    return false;
  }

  frames_.resize(kSlotStep);
  int read = 0;
  int highest = 0;
  while (read < frameCount_) {
    ZrRDFrame* frame = frameFactory.create();
    if (frame == nullptr) {
      ZnReportError("Not enough memory for another frame.");
      ReportLoadContext(highest);
      return false;
    }
    ZrRDReadFrameHeader(in, binary, *frame);
    if (watch.errorPending()) {
      ZnReportError("Unable to read frame header.");
      ReportLoadContext(highest);
      ZrRDDeleteFrame(&frame);
      return false;
    }
    frame->setCameraCount(cameraCount_);
    ZrRDReadCameras(in, binary, *frame);
    if (in.fail()) {
      ZrRDDeleteFrame(&frame);
      ZnReportError("Unable to read frame data.");
      if (!binary) ReportLoadContext(highest);
      return false;
    }
    ++read;
    if (read % kCancelPollFrames == 0 && ZnCheckCancel()) {
      ZrRDDeleteFrame(&frame);
      return false;
    }
    int number = frame->number;
    if (number > frames_.count()) {
      // The next multiple of the step that holds the number, in one
      // reallocation rather than one per step.
      long long slots = (static_cast<long long>(number) + kSlotStep - 1) / kSlotStep * kSlotStep;
      frames_.resize(slots > INT_MAX ? INT_MAX : static_cast<int>(slots));
    }
    if (number <= 0) {
      ZnReportError("Invalid frame number.");
      ZrRDDeleteFrame(&frame);
      return false;
    }
    if (frames_[number - 1] != nullptr) {
      ZnReportError("Duplicate frame number.");
      if (!binary) ReportLoadContext(highest);
      ZrRDDeleteFrame(&frame);
      return false;
    }
    frames_[number - 1] = frame;
    if (number > highest) highest = number;
  }
  // Every slot above the highest number is empty, so nothing is lost.
  frames_.resize(highest);
  return true;
}

bool ZrRDSet::load(const char* path) {
  ZnCompIFStream in(path);
  if (in.fail()) return false;
  bool loaded = load(in);
  // Closing waits for a decompressor; one that failed means the data read may
  // be damaged even though it decoded.
  in.close();
  if (loaded && in.fail()) {
    clear();
    loaded = false;
  }
  if (!loaded) ZnReportError("Unable to read raw data file \"%s\".", path);
  return loaded;
}

bool ZrRDSet::save(const char* path) const {
  if (!ZnCanWrite(path)) return false;
  ZnCompOFStream out(path);
  if (out.fail()) {
    ZnReportError("Unable to open \"%s\".", path);
    return false;
  }
  ZrRDWriteFileHeader(out, format_, frameCount_, cameraCount_);
  for (const ZrRDFrame* frame : frames_) {
    if (frame != nullptr) ZrRDWriteFrame(out, *frame, format_);
  }
  // A full disk shows only when the buffer is flushed; a compressor that
  // failed is reported by close() itself.
  out.flush();
  bool written = !out.fail();
  out.close();
  if (out.fail()) written = false;
  if (!written) ZnReportError("Unable to write raw data file \"%s\".", path);
  return written;
}

bool ZrRDSet::append(const ZrRDSet& other) {
  if (other.frameCount_ == 0) return true;
  if (frames_.count() > 0 && cameraCount_ != other.cameraCount_) {
    ZnReportError("Cannot append raw data with differing number of cameras.");
    return false;
  }
  if (frameCount_ == 0) {
    *this = other;
    return true;
  }
  // The frames go after every slot, so other's frame k lands in the slot
  // numbered offset + k whatever this set's last slot holds.
  int offset = frames_.count();
  int added = other.frames_.count();
  if (static_cast<long long>(offset) + added > INT_MAX) {
    ZnArrayReportAllocationFailure(
        static_cast<long long>(offset) + added,
        (static_cast<long long>(offset) + added) * static_cast<long long>(sizeof(ZrRDFrame*)));
  }
  // `added` is taken before resizing, so appending a set to itself copies
  // what it held before.
  frames_.resize(offset + added);
  for (int j = 0; j < added; ++j) {
    const ZrRDFrame* source = other.frames_[j];
    if (source == nullptr) continue;
    ZrRDFrame* copy = CopyFrame(*source);
    copy->number = offset + j + 1;
    frames_[offset + j] = copy;
  }
  // Header counts are whatever a file stated, negative ones too; their sum
  // must not overflow.
  const long long count = static_cast<long long>(frameCount_) + other.frameCount_;
  frameCount_ = static_cast<int>(std::clamp<long long>(count, INT_MIN, INT_MAX));
  return true;
}

int ZrRDSet::addFrame(const ZrRDFrame& frame) {
  int number = frame.number;
  if (number <= 0) {
    ZnReportError("Invalid frame number.");
    return frameCount_;
  }
  // Copy before touching the slot: the frame may be the one stored there.
  ZrRDFrame* copy = CopyFrame(frame);
  if (number > frames_.count()) frames_.resize(number);
  ZrRDFrame*& slot = frames_[number - 1];
  if (slot != nullptr) {
    ZrRDDeleteFrame(&slot);
    slot = copy;
    return frameCount_;
  }
  slot = copy;
  if (frameCount_ == 0) cameraCount_ = frame.cameraCount();
  return ++frameCount_;
}

bool ZrRDSet::replaceFrame(const ZrRDFrame& frame) {
  int number = frame.number;
  if (number <= 0 || number > frames_.count() || frames_[number - 1] == nullptr) {
    ReportMissingFrame(number);
    return false;
  }
  *frames_[number - 1] = frame;
  return true;
}

void ZrRDSet::addCameras(int count) {
  if (count <= 0) return;
  for (ZrRDFrame* frame : frames_) {
    if (frame == nullptr) continue;
    int m = frame->cameraCount();
    frame->setCameraCount(m + count);
    for (int k = 1; k <= count; ++k) frame->setCamera(m + k - 1, new ZrRDCamera(m + k));
  }
  cameraCount_ += count;
}

int ZrRDSet::firstFrameNumber() const { return frameNumberAfter(0); }

int ZrRDSet::frameNumberBefore(int n) const {
  if (n <= 1) return 0;
  int k = n - 1 < frames_.count() ? n - 1 : frames_.count();
  for (; k >= 1; --k) {
    if (frames_[k - 1] != nullptr) return k;
  }
  return 0;
}

int ZrRDSet::frameNumberAfter(int n) const {
  if (n >= frames_.count()) return 0;
  for (int k = n < 0 ? 1 : n + 1; k <= frames_.count(); ++k) {
    if (frames_[k - 1] != nullptr) return k;
  }
  return 0;
}

const ZrRDFrame* ZrRDSet::frame(int n) const {
  if (n < 1 || n > frames_.count()) return nullptr;
  return frames_[n - 1];
}

bool operator==(const ZrRDSet& a, const ZrRDSet& b) {
  if (a.frameCount() != b.frameCount()) return false;
  for (int n = 1; n <= a.frameCount(); ++n) {
    const ZrRDFrame* fa = a.frame(n);
    const ZrRDFrame* fb = b.frame(n);
    if (fa == nullptr || fb == nullptr) {
      if (fa != fb) return false;
    } else if (*fa != *fb) {
      return false;
    }
  }
  return true;
}

bool ZrRDReadFrame(std::istream& in, int number, ZrRDFrame& frame) {
  NewErrorWatch watch;
  ZrRDFileReader reader(in);
  if (watch.errorPending()) return false;
  bool found = false;
  while (reader.framesRead() < reader.frameCount()) {
    int b = reader.nextFrameNumber();
    if (watch.errorPending()) break;
    reader.readFrame(frame);
    if (watch.errorPending()) break;
    if (b == number) {
      found = true;
      break;
    }
    // Numbers rise through the file, so a higher one means it is not there.
    if (b > number) break;
  }
  reader.close();
  if (!found && !watch.errorPending()) ReportMissingFrame(number);
  return found && !watch.errorPending();
}

bool ZrRDReadFrame(const char* path, int number, ZrRDFrame& frame) {
  ZnCompIFStream in(path);
  if (in.fail()) {
    ZnReportError("Unable to open raw data file \"%s\".", path);
    return false;
  }
  bool found = ZrRDReadFrame(in, number, frame);
  in.close();
  if (in.fail()) found = false;
  if (!found) ZnReportError("Unable to read raw data file \"%s\".", path);
  return found;
}

bool ZrRDIsBinaryFile(const char* path) {
  if (!ZnCanRead(path)) return false;
  ZnCompIFStream in(path);
  if (in.fail()) {
    ZnReportError("Unable to open raw data file \"%s\".", path);
    return false;
  }
  bool binary = ZrRDIsBinary(in);
  // A decompressor that failed on a damaged file is found at close.
  in.close();
  return binary && !in.fail();
}
