#include "rawdata/ZrRDFileReader.h"

#include <algorithm>
#include <climits>

#include "foundation/ZnMessage.h"
#include "streams/ZnStreamScanner.h"
#include "rawdata/ZrRDFormat.h"
#include "streams/ZnCompFStream.h"
#include "foundation/ZnSStream.h"

namespace {

// What the binary header's 16-bit field can state; text headers are held to
// the same.
constexpr int kMaxCameras = 65535;

// peekRecordStart() on a stream that failed before the record.
constexpr int kNotARecord = -2;

// The classic locale's white space.
bool IsBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

ZrRDFileReader::ZrRDFileReader(const char* path) : name_(path != nullptr ? path : "") {
  adopt(new ZnCompIFStream(name_.c_str()));
}

ZrRDFileReader::ZrRDFileReader(int fd, const char* name) : name_(name != nullptr ? name : "") {
  adopt(new ZnCompIFStream(fd, name_.c_str()));
}

void ZrRDFileReader::adopt(ZnCompIFStream* stream) {
  if (stream->fail()) {
    // The opening has said why; a stream that never opened has nothing to
    // close that could fail, so what its destructor says is of no interest.
    delete stream;
    return;
  }
  ownedStream_ = stream;
  stream_ = stream;
  ownedBuffer_ = stream->rdbuf();
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

int ZrRDFileReader::peekRecordStart() {
  if (!stream_->good()) return stream_->eof() ? std::char_traits<char>::eof() : kNotARecord;
  std::streambuf* buffer = stream_->rdbuf();
  int c = buffer->sgetc();
  if (!binary_) {
    // What the extraction of the frame number skips anyway.
    bool lineFeed = false;
    while (c != std::char_traits<char>::eof() && IsBlank(c)) {
      lineFeed = lineFeed || c == '\n';
      c = buffer->snextc();
    }
    startsLine_ = lineFeed || resumed_;
  }
  resumed_ = false;
  if (c == std::char_traits<char>::eof()) stream_->setstate(std::ios::eofbit);
  return c;
}

bool ZrRDFileReader::readFrameHeader(ZrRDFrame& frame, std::string* raw) {
  const int start = peekRecordStart();
  recordStart_ = position();
  // A binary header's bytes are always kept, for headerInForm().
  const bool read = binary_ ? ZrRDReadBinaryFrameHeader(*stream_, frame, &rawHeader_, &warned_)
                            : ZrRDReadTextFrameHeader(*stream_, frame, raw);
  // A header whose reading met the end of the data, where the data did not
  // end before it: binary, bytes missing; text, the line without its end.
  cutOff_ = start != std::char_traits<char>::eof() && stream_->eof() && (!binary_ || !read);
  if (cutOff_) {
    ending_ = Ending::kCutHeader;
    if (!read) return false;
  } else if (!read) {
    // A header read fails at the end of the data only when there was nothing
    // left to read. Zero bytes of a text file's tail stop the number where
    // they start and are looked at on demand; in a binary file they read as
    // a frame numbered 0, below. Everything else is damage.
    if (start == std::char_traits<char>::eof()) {
      ending_ = Ending::kEnd;
    } else if (!binary_ && start == 0) {
      ending_ = Ending::kTailFollows;
    } else {
      ending_ = Ending::kDamage;
    }
    return false;
  }
  if (!cutOff_) ending_ = frame.number == 0 ? Ending::kTailFollows : Ending::kNone;
  currentFrameNumber_ = frame.number;
  timecode_ = frame.timecode;
  return true;
}

bool ZrRDFileReader::atEndOfData() {
  if (ending_ == Ending::kCutHeader) ending_ = cutHeaderInForm() ? Ending::kEnd : Ending::kDamage;
  if (ending_ == Ending::kTailFollows && stream_ != nullptr) {
    ending_ = restIsEmpty() ? Ending::kEnd : Ending::kDamage;
  }
  return ending_ == Ending::kEnd;
}

bool ZrRDFileReader::cutHeaderInForm() const {
  // What there is of the header is still in the buffer: it was read last,
  // and it is short.
  const int64_t end = position();
  const char* bytes = bufferedBytes(recordStart_, end);
  if (bytes == nullptr) return false;
  if (binary_) {
    return ZrRDBinaryHeaderInForm(reinterpret_cast<const unsigned char*>(bytes),
                                  static_cast<std::size_t>(end - recordStart_));
  }
  return startsLine_ && ZrRDCutTextHeaderInForm(bytes, bytes + (end - recordStart_));
}

bool ZrRDFileReader::headerInForm(std::string* why) const {
  if (binary_) {
    return ZrRDBinaryHeaderInForm(reinterpret_cast<const unsigned char*>(rawHeader_.data()),
                                  rawHeader_.size(), why);
  }
  if (startsLine_) return true;
  if (why != nullptr) *why = "its frame number does not start a line";
  return false;
}

bool ZrRDFileReader::restIsEmpty() {
  // The buffer is read directly: the stream may have failed on the first
  // byte of the tail, which is still there to look at. The empty run is
  // consumed and nothing after it, wherever buffers happen to end.
  std::streambuf* buffer = stream_->rdbuf();
  const int eof = std::char_traits<char>::eof();
  if ((stream_->rdstate() & std::ios::badbit) != 0) return false;
  for (int c = buffer->sgetc(); c != eof; c = buffer->sgetc()) {
    const char* p = zn_detail::GetArea::next(buffer);
    const char* end = zn_detail::GetArea::end(buffer);
    if (p == end) {
      // A buffer without a get area: a byte at a time.
      if (c != 0 && (binary_ || !IsBlank(c))) return false;
      buffer->sbumpc();
      continue;
    }
    const char* q = p;
    if (binary_) {
      while (end - q >= 8 && zn_detail::Load8(q) == 0) q += 8;
      while (q < end && *q == 0) ++q;
    } else {
      while (q < end && (*q == 0 || IsBlank(static_cast<unsigned char>(*q)))) ++q;
    }
    zn_detail::GetArea::bump(buffer, q - p);
    if (q < end) return false;
  }
  stream_->setstate(std::ios::eofbit | std::ios::failbit);
  return true;
}

void ZrRDFileReader::drain() {
  if (stream_ == nullptr) return;
  std::streambuf* buffer = stream_->rdbuf();
  if (buffer == nullptr) return;
  char scratch[16384];
  while (buffer->sgetn(scratch, sizeof scratch) > 0) {
  }
  stream_->setstate(std::ios::eofbit | std::ios::failbit);
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

bool ZrRDFileReader::copyNextFrame(std::ostream& out) {
  if (stream_ == nullptr || !readFrameHeader(headerScratch_, &rawHeader_)) return false;
  if (binary_) {
    out.write(rawHeader_.data(), static_cast<std::streamsize>(rawHeader_.size()));
  } else {
    ZrRDWriteTextFrameHeader(out, currentFrameNumber_, rawHeader_);
  }
  const bool read = binary_ ? ZrRDCopyBinaryCameras(*stream_, cameraCount_, out)
                            : ZrRDCopyTextCameras(*stream_, cameraCount_, out);
  if (!read || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  if (!binary_) out.put('\n');
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

bool ZrRDFileReader::skipFrame(std::string* why) {
  if (stream_ == nullptr) return false;
  if (binary_) return skipFrame();
  if (!ZrRDSkipTextCamerasInForm(*stream_, cameraCount_, why) || stream_->fail()) {
    reportFrameFailure();
    return false;
  }
  if (why != nullptr && !why->empty()) return true;
  // The extraction of a number sets eofbit only when the number ran into
  // the end; with white space after it, it stopped there.
  if (cameraCount_ > 0 && stream_->eof()) {
    ZnReportError("The data ends inside a number, which may have been cut off.");
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

int64_t ZrRDFileReader::position() const {
  if (stream_ == nullptr) return -1;
  if (ownedBuffer_ != nullptr) return ownedBuffer_->position();
  if (stream_->rdbuf() == nullptr) return -1;
  return static_cast<int64_t>(stream_->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
}

const char* ZrRDFileReader::bufferedBytes(int64_t from, int64_t to) const {
  if (stream_ == nullptr || stream_->rdbuf() == nullptr || to < from) return nullptr;
  const int64_t here = position();
  if (here < 0) return nullptr;
  std::streambuf* buffer = stream_->rdbuf();
  const char* next = zn_detail::GetArea::next(buffer);
  if (next == nullptr) return nullptr;
  if (from < here - (next - zn_detail::GetArea::begin(buffer)) ||
      to > here + (zn_detail::GetArea::end(buffer) - next)) {
    return nullptr;
  }
  return next - (here - from);
}

bool ZrRDFileReader::seekable() const {
  if (stream_ == nullptr || stream_->rdbuf() == nullptr) return false;
  return stream_->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in) != std::streampos(-1);
}

bool ZrRDFileReader::resumeAt(int64_t position) {
  if (stream_ == nullptr || stream_->rdbuf() == nullptr || position < 0) return false;
  if (stream_->rdbuf()->pubseekpos(std::streampos(position), std::ios::in) == std::streampos(-1)) {
    return false;
  }
  stream_->clear();
  ending_ = Ending::kNone;
  cutOff_ = false;
  resumed_ = true;
  return true;
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
    ownedBuffer_ = nullptr;
  }
  stream_ = nullptr;
  index_.clear();
  index_.shrink_to_fit();
  timecode_.reset();
  return ok;
}
