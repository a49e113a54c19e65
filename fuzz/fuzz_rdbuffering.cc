// Reads arbitrary bytes as a recording twice: through a buffer that serves
// them in chunks, where the decoders take what they can straight from the
// buffer, and through a tied stream, which leaves every field to the standard
// stream operations. Everything the reader does must agree: counts, frames,
// messages, stream states and positions, for frames built and checked only;
// and each frame copied from reader to writer must hold the frame built.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <sstream>
#include <string>

#include "foundation/ZnMessage.h"
#include "fuzz/FuzzCheck.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFormat.h"
#include "tests/streams/ChunkedStreamBuf.h"
#include "tests/support/RecordCheck.h"

namespace {

enum class Body { Built, Checked };

void TakeMessages(std::ostringstream& log) {
  for (ZnMessage* m = ZnMessages.first(); m != nullptr; m = m->next()) {
    log << " [" << m->text().c_str() << "]";
  }
  ZnClearMessages();
}

// What the reader did, frame bodies aside; the bodies go to `contents`.
std::string Transcript(const std::string& bytes, std::size_t chunk, Body body,
                       std::string* contents) {
  ChunkedStreamBuf buf(bytes, chunk == 0 ? bytes.size() : chunk);
  std::istream in(&buf);
  std::ostringstream tie;
  if (chunk == 0) in.tie(&tie);
  std::ostringstream log;
  std::ostringstream frames;
  ZrRDFileReader reader(in);
  log << reader.isBinary() << " " << reader.frameCount() << " " << reader.cameraCount() << " "
      << in.rdstate() << " " << buf.position();
  TakeMessages(log);
  ZrRDFrame frame;
  for (int n = 0; n < 64; ++n) {
    const int number = reader.nextFrameNumber();
    log << "\n"
        << number << " " << reader.atEndOfData() << " " << in.rdstate() << " " << buf.position();
    TakeMessages(log);
    if (number == 0) break;
    bool ok = false;
    switch (body) {
      case Body::Built:
        ok = reader.readFrame(frame);
        for (int i = 0; i < frame.cameraCount(); ++i) {
          for (const ZrRDGlob& glob : frame.camera(i)->globs) {
            uint32_t x;
            uint32_t y;
            std::memcpy(&x, &glob.x, 4);
            std::memcpy(&y, &glob.y, 4);
            frames << glob.pixels << "/" << x << "/" << y << " ";
          }
          frames << "|";
        }
        frames << "\n";
        break;
      case Body::Checked:
        ok = reader.skipFrame();
        break;
    }
    log << " " << ok << " " << reader.framesRead() << " " << in.rdstate() << " " << buf.position();
    TakeMessages(log);
    if (in.fail()) break;
  }
  if (contents != nullptr) *contents = frames.str();
  return log.str();
}

// The copying reader reads headers itself, so it is compared with the
// building reader frame by frame; each copied record must hold the frame
// built.
void CheckCopies(const std::string& bytes, std::size_t chunk) {
  ChunkedStreamBuf builtBuf(bytes, chunk);
  std::istream builtIn(&builtBuf);
  ChunkedStreamBuf copiedBuf(bytes, chunk);
  std::istream copiedIn(&copiedBuf);
  ZrRDFileReader built(builtIn);
  std::ostringstream builtLog;
  TakeMessages(builtLog);
  ZrRDFileReader copied(copiedIn);
  std::ostringstream copiedLog;
  TakeMessages(copiedLog);
  FUZZ_CHECK(builtLog.str() == copiedLog.str());
  ZrRDFrame frame;
  for (int n = 0; n < 64; ++n) {
    const bool builtOk = built.readNextFrame(frame);
    TakeMessages(builtLog);
    std::ostringstream record;
    const bool copiedOk = copied.copyNextFrame(record);
    TakeMessages(copiedLog);
    FUZZ_CHECK(builtOk == copiedOk && builtLog.str() == copiedLog.str());
    FUZZ_CHECK(builtIn.rdstate() == copiedIn.rdstate());
    FUZZ_CHECK(builtBuf.position() == copiedBuf.position());
    if (!builtOk) break;
    FUZZ_CHECK(testsupport::CopiedRecordHoldsFrame(record.str(), frame, built.isBinary()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 300);
  const std::string bytes = input.ConsumeRemainingBytesAsString();
  ZnClearMessages();

  std::string standardFrames;
  const std::string standard = Transcript(bytes, 0, Body::Built, &standardFrames);
  std::string frames;
  FUZZ_CHECK(Transcript(bytes, chunk, Body::Built, &frames) == standard);
  FUZZ_CHECK(frames == standardFrames);
  FUZZ_CHECK(Transcript(bytes, chunk, Body::Checked, nullptr) == standard);
  FUZZ_CHECK(Transcript(bytes, 0, Body::Checked, nullptr) == standard);
  CheckCopies(bytes, chunk);
  return 0;
}
