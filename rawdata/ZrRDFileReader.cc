#include "rawdata/ZrRDFileReader.h"

#include <algorithm>
#include <climits>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"
#include "streams/ZnCompFStream.h"
#include "foundation/ZnSStream.h"

namespace {

// What the binary header's 16-bit field can state; text headers are held to
// the same.
constexpr int kMaxCameras = 65535;

}  // namespace

ZrRDFileReader::ZrRDFileReader(const char* path) : name_(path != nullptr ? path : "") {
  ownedStream_ = new ZnCompIFStream(name_.c_str());
  if (ownedStream_->fail()) {
    // The opening has said why; a stream that never opened has nothing to
    // close that could fail, so what its destructor says is of no interest.
    delete ownedStream_;
    ownedStream_ = nullptr;
    return;
  }
  stream_ = ownedStream_;
  readHeader();
}

ZrRDFileReader::ZrRDFileReader(std::istream& in, const char* name) : stream_(&in) {
  if (name != nullptr) name_ = name;
  readHeader();
}

ZrRDFileReader::~ZrRDFileReader() { close(); }

void ZrRDFileReader::readHeader() {
  binary_ = ZrRDIsBinary(*stream_);
  if (binary_ && !ZrRDCheckIdentification(*stream_)) {
    ZnReportError("File is not a a Kyo Raw Data file.");
    return;
  }
  int cameras = 0;
  int frames = 0;
  bool ok = binary_ ? ZrRDReadBinaryCounts(*stream_, &cameras, &frames)
                    : ZrRDReadTextCounts(*stream_, &cameras, &frames);
  if (!ok || stream_->fail()) {
    // A binary counts header cut short by the end is refused here too: counts
    // made up of missing bytes must not reach a repaired copy's header.
    ZnReportError("Unable to read raw data statistics.");
    return;
  }
  if (cameras < 0 || cameras > kMaxCameras) {
    // Every frame gets a slot per camera before its cameras are read, so a
    // damaged text count would claim memory the file does not back.
    ZnReportError("Invalid number of cameras %d.", cameras);
    ZnReportError("Unable to read raw data statistics.");
    return;
  }
  cameraCount_ = cameras;
  frameCount_ = frames;
}

bool ZrRDFileReader::readFrameHeader(ZrRDFrame& frame) {
  if (!ZrRDReadFrameHeader(*stream_, binary_, frame)) {
    // Formatted extraction meets the end of a text file only after skipping
    // the white space before it, and a binary read only runs short at the
    // end; anything else that stops a header is not the end of the data.
    atEndOfData_ = stream_->eof();
    return false;
  }
  atEndOfData_ = false;
  currentFrameNumber_ = frame.number;
  timecode_ = frame.timecode;
  return true;
}

int ZrRDFileReader::nextFrameNumber(int* timecodeOut) {
  if (stream_ == nullptr || !readFrameHeader(headerScratch_)) return 0;
  if (timecodeOut != nullptr) *timecodeOut = timecode_ ? static_cast<int>(*timecode_) : -1;
  return currentFrameNumber_;
}

bool ZrRDFileReader::readFrame(ZrRDFrame& frame) {
  if (stream_ == nullptr) return false;
  frame.number = currentFrameNumber_;
  frame.timecode = timecode_;
  frame.setCameraCount(cameraCount_);
  if (!ZrRDReadCameras(*stream_, binary_, frame) || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  countFrameRead();
  return true;
}

bool ZrRDFileReader::readNextBinaryFrame(ZrRDFrame& frame, std::string& records) {
  if (stream_ == nullptr || !binary_ || !readFrameHeader(frame)) return false;
  frame.setCameraCount(0);
  records.clear();
  if (!ZrRDCopyBinaryCameras(*stream_, cameraCount_, records) || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  countFrameRead();
  return true;
}

bool ZrRDFileReader::readNextTextFrame(ZrRDFrame& frame, std::string& records) {
  if (stream_ == nullptr || binary_ || !readFrameHeader(frame)) return false;
  frame.setCameraCount(0);
  records.clear();
  if (!ZrRDCopyTextCameras(*stream_, cameraCount_, records) || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  countFrameRead();
  return true;
}

bool ZrRDFileReader::skipFrame() {
  if (stream_ == nullptr) return false;
  if (!ZrRDSkipCameras(*stream_, binary_, cameraCount_) || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  countFrameRead();
  return true;
}

void ZrRDFileReader::countFrameRead() {
  // readFrameAt() counts from the frame's number, which may be the largest
  // int; reading on from there must not overflow.
  if (framesRead_ < INT_MAX) ++framesRead_;
}

void ZrRDFileReader::reportFrameFailure() {
  ZnOSStream message;
  message << "Unable to read frame " << currentFrameNumber_;
  ZnReportError(ZnStr(message.str()));
}

bool ZrRDFileReader::readNextFrame(ZrRDFrame& frame) {
  if (stream_ == nullptr || !readFrameHeader(frame)) return false;
  return readFrame(frame);
}

bool ZrRDFileReader::checkSeekable() {
  // Asked of the buffer, which answers whatever the stream's state.
  if (stream_->rdbuf() != nullptr &&
      stream_->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in) != std::streampos(-1)) {
    return true;
  }
  if (name_.length() > 0) {
    ZnReportError("Random access is not possible on \"%s\".", name_.c_str());
  } else {
    ZnReportError("Random access is not possible on this input stream.");
  }
  return false;
}

bool ZrRDFileReader::buildFrameIndex() {
  if (stream_ == nullptr || !checkSeekable()) return false;

  // Everything needed to put the reader back as it was should a frame fail.
  const std::ios::iostate entryState = stream_->rdstate();
  const std::streampos entryPosition = stream_->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
  const int entryFramesRead = framesRead_;
  const int entryNumber = currentFrameNumber_;
  const std::optional<ZnPackedTimecode> entryTimecode = timecode_;

  std::vector<std::pair<int, std::streampos>> scanned;
  std::streampos first(-1);
  ZrRDFrame body;
  bool ok = true;
  while (framesRead_ < frameCount_) {
    std::streampos at = stream_->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
    if (first == std::streampos(-1)) first = at;
    if (!readFrameHeader(headerScratch_) || !readFrame(body)) {
      ok = false;
      break;
    }
    if (currentFrameNumber_ >= 1) scanned.emplace_back(currentFrameNumber_, at);
  }

  if (!ok) {
    stream_->clear();
    stream_->seekg(entryPosition);
    stream_->clear(entryState);
    framesRead_ = entryFramesRead;
    currentFrameNumber_ = entryNumber;
    timecode_ = entryTimecode;
    return false;
  }

  framesRead_ = 0;
  if (first != std::streampos(-1)) {
    stream_->clear();
    stream_->seekg(first);
  }
  // Earlier entries first, then the new ones in file order: after a stable
  // sort the last of each run of equal numbers is the latest frame.
  index_.insert(index_.end(), scanned.begin(), scanned.end());
  std::stable_sort(index_.begin(), index_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  auto kept = index_.begin();
  for (auto it = index_.begin(); it != index_.end(); ++it) {
    auto next = it + 1;
    if (next != index_.end() && next->first == it->first) continue;
    *kept++ = *it;
  }
  index_.erase(kept, index_.end());
  return true;
}

bool ZrRDFileReader::readFrameAt(int number, ZrRDFrame& frame) {
  if (stream_ == nullptr || !checkSeekable()) return false;
  int highest = index_.empty() ? 0 : index_.back().first;
  if (number < 1 || number > highest) {
    ZnReportError("Frame %d does not exist.", number);
    return false;
  }
  auto it = std::lower_bound(index_.begin(), index_.end(), number,
                             [](const auto& entry, int n) { return entry.first < n; });
  if (it == index_.end() || it->first != number) return false;
  stream_->clear();
  stream_->seekg(it->second);
  currentFrameNumber_ = number;
  framesRead_ = number - 1;
  if (!readFrameHeader(headerScratch_)) return false;
  return readFrame(frame);
}

bool ZrRDFileReader::close() {
  bool ok = true;
  if (ownedStream_ != nullptr) {
    // The stream reports a failed decompressor itself; whether it did is
    // seen in the list, whatever state reading left the stream in.
    ZnMessage* before = ZnMessages.first();
    ownedStream_->close();
    if (ZnMessages.first() != before && ZnMessages.errorPending()) ok = false;
    delete ownedStream_;
    ownedStream_ = nullptr;
  }
  stream_ = nullptr;
  index_.clear();
  index_.shrink_to_fit();
  timecode_.reset();
  return ok;
}
