// The decoders and encoders take the characters they need straight from the
// stream buffer when they can, and go through the standard stream operations
// otherwise. These tests hold the two ways to the same results: every
// recording, damaged or not, is read through buffers that serve it in chunks
// of every size and through a stream that forces the standard operations
// throughout (a tied stream), and the transcripts of what the reader did
// (counts, frames, messages, stream states, positions) must agree. The
// encoders likewise, on frames with every kind of value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/RDTestFiles.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "streams/ChunkedStreamBuf.h"
#include "support/RecordCheck.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::TakeMessages;

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

void TakeMessages(std::ostringstream& log) {
  for (const std::string& text : TakeMessages()) log << "  message: " << text << "\n";
}

struct Transcript {
  std::string flow;    // everything but the frames' contents
  std::string frames;  // the contents, when the frames were read
};

// Reads a whole recording as the repair command does: the header, then frame
// headers and bodies until a header cannot be read. `skip` checks the bodies
// without keeping them. A chunk of 0 reads through a tied stream, which
// leaves every field to the standard operations.
Transcript Read(const std::string& bytes, std::size_t chunk, bool skip) {
  ChunkedStreamBuf buf(bytes, chunk == 0 ? bytes.size() : chunk);
  std::istream in(&buf);
  std::ostringstream tie;
  if (chunk == 0) in.tie(&tie);
  std::ostringstream flow;
  std::ostringstream frames;
  ZrRDFileReader reader(in);
  flow << "binary " << reader.isBinary() << ", frames " << reader.frameCount() << ", cameras "
       << reader.cameraCount() << ", state " << in.rdstate() << ", at " << buf.position() << "\n";
  TakeMessages(flow);
  ZrRDFrame frame;
  for (int n = 0; n < 1000; ++n) {
    int timecode = 0;
    const int number = reader.nextFrameNumber(&timecode);
    flow << "header " << number << " " << timecode << ", end " << reader.atEndOfData() << ", state "
         << in.rdstate() << ", at " << buf.position() << "\n";
    TakeMessages(flow);
    if (number == 0) break;
    const bool ok = skip ? reader.skipFrame() : reader.readFrame(frame);
    flow << "body " << ok << ", read " << reader.framesRead() << ", state " << in.rdstate()
         << ", at " << buf.position() << "\n";
    TakeMessages(flow);
    if (!skip) {
      frames << "frame " << frame.number << " with " << frame.cameraCount() << " cameras\n";
      for (int i = 0; i < frame.cameraCount(); ++i) {
        const ZrRDCamera* camera = frame.camera(i);
        frames << " camera " << camera->id << ":";
        for (const ZrRDGlob& glob : camera->globs) {
          frames << " " << glob.pixels << "/" << Bits(glob.x) << "/" << Bits(glob.y);
        }
        frames << "\n";
      }
    }
    if (in.fail()) break;
  }
  return {flow.str(), frames.str()};
}

void ExpectSameReading(const std::string& bytes, const std::string& what) {
  const Transcript standard = Read(bytes, 0, false);
  const Transcript standardSkip = Read(bytes, 0, true);
  ASSERT_EQ(standardSkip.flow, standard.flow) << what;
  for (std::size_t chunk : {1, 2, 3, 7, 64, 4096}) {
    const Transcript read = Read(bytes, chunk, false);
    ASSERT_EQ(read.flow, standard.flow) << what << ", chunk " << chunk;
    ASSERT_EQ(read.frames, standard.frames) << what << ", chunk " << chunk;
    ASSERT_EQ(Read(bytes, chunk, true).flow, standard.flow) << what << ", chunk " << chunk;
  }
}

std::string Recording(ZrRDFormat format, uint64_t seed, bool decimals, int frameCount) {
  RandomFrameSettings settings;
  settings.format = format;
  settings.cameras = 1 + static_cast<int>(seed % 3);
  settings.minGlobs = 0;
  settings.maxGlobs = 5;
  settings.timecodes = seed % 2 == 0;
  settings.textDecimals = decimals;
  settings.seed = seed;
  RandomFrames source(settings);
  std::vector<ZrRDFrame> frames(static_cast<std::size_t>(frameCount));
  std::vector<const ZrRDFrame*> pointers;
  for (ZrRDFrame& frame : frames) {
    source.next(frame);
    pointers.push_back(&frame);
  }
  std::ostringstream os;
  ZrRDWriteFileHeader(os, format, frameCount, settings.cameras);
  if (decimals && format == ZrRDFormat::Text) os << std::fixed << std::setprecision(6);
  for (const ZrRDFrame* frame : pointers) {
    if (decimals && format == ZrRDFormat::Text) {
      // Coordinates with more decimals than the writer's, as other programs
      // write them.
      os << frame->number << "\n";
      for (int i = 0; i < frame->cameraCount(); ++i) {
        const ZrRDCamera* camera = frame->camera(i);
        os << camera->globs.count();
        for (const ZrRDGlob& glob : camera->globs) {
          os << "\n" << glob.pixels << ' ' << glob.x << ' ' << glob.y;
        }
        os << "\n";
      }
    } else {
      ZrRDWriteFrame(os, *frame, format);
    }
  }
  return os.str();
}

class ZrRDFormatBufferingTest : public ::testing::Test {
 protected:
  void SetUp() override { ZnClearMessages(); }
  void TearDown() override { ZnClearMessages(); }
};

TEST_F(ZrRDFormatBufferingTest, WholeAndCutRecordingsReadAlike) {
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    for (uint64_t seed = 1; seed <= 6; ++seed) {
      const std::string bytes = Recording(format, seed, seed == 5, 3);
      // Cut at every position: every field meets the end of the input.
      for (std::size_t n = 0; n <= bytes.size(); n += 1 + bytes.size() / 150) {
        ExpectSameReading(bytes.substr(0, n),
                          "seed " + std::to_string(seed) + " cut at " + std::to_string(n));
      }
    }
  }
}

TEST_F(ZrRDFormatBufferingTest, DamagedRecordingsReadAlike) {
  // Characters that change how numbers and lines read, written over the
  // recording or put into it.
  const std::string text = "0123456789+-.eEx \t\n\r\v";
  std::mt19937 random(99);
  for (int round = 0; round < 400; ++round) {
    const bool binary = round % 2 == 1;
    std::string bytes = Recording(binary ? ZrRDFormat::Binary : ZrRDFormat::Text,
                                  static_cast<uint64_t>(round), round % 7 == 0, 2);
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < edits && !bytes.empty(); ++k) {
      const std::size_t at = random() % bytes.size();
      const char c =
          binary && random() % 2 ? static_cast<char>(random()) : text[random() % text.size()];
      switch (random() % 4) {
        case 0:
          bytes[at] = c;
          break;
        case 1:
          bytes.insert(at, 1, c);
          break;
        case 2:
          bytes.erase(at, 1 + random() % 3);
          break;
        default:
          // A run long enough to pass the line and digit limits, or a NUL.
          bytes.insert(at,
                       random() % 2 ? std::string(1 + random() % 300, c) : std::string(1, '\0'));
          break;
      }
    }
    ExpectSameReading(bytes, "round " + std::to_string(round));
  }
}

TEST_F(ZrRDFormatBufferingTest, TextHeaderLinesReadAlike) {
  // The rest of a frame header line, in every shape the line reader treats
  // differently: empty, blank, carriage returns, a NUL, long lines.
  const std::string rests[] = {"",
                               " ",
                               " 01:02:03:04",
                               "\t01:02:03:04 \r",
                               " 01:02:03:04/25",
                               " 23:59:59:29",
                               " 24:00:00:00",
                               " 00:60:00:00",
                               " 00:00:60:00",
                               " 00:00:00:30",
                               " 0a:00:00:00",
                               " 00:00:00:00 junk",
                               " 00-00:00:00",
                               " 1:2:3:4",
                               " bogus",
                               " 01:02\0:03:04",
                               std::string(254, ' '),
                               std::string(255, ' '),
                               std::string(300, ' ') + "01:02:03:04",
                               " 01:02:03:04" + std::string(250, ' '),
                               "\r\r"};
  for (const std::string& rest : rests) {
    const std::string bytes = "1\n2\n7" + rest + "\n0\n1 5 5\n8" + rest;
    ExpectSameReading(bytes, "rest \"" + rest + "\"");
  }
}

// ---- Camera records copied as they are ----

TEST_F(ZrRDFormatBufferingTest, EveryBinaryCoordinateReadsBackToItsBytes) {
  // What lets a binary copy take the camera records as they are.
  for (int v = 0; v < 65536; ++v) {
    ASSERT_EQ(ZrRDEncodeCoordinate(ZrRDDecodeCoordinate(static_cast<uint16_t>(v))), v);
  }
}

// Reads the recording twice in step, frames built on one side and copied on
// the other: the same results and messages, and each copied record written
// as the built frame would be, but for its header, which keeps its bytes
// (binary) or its timecode text (text) as they stood.
void ExpectRecordsAsFrames(const std::string& bytes, std::size_t chunk, const std::string& what) {
  ChunkedStreamBuf framesBuf(bytes, chunk);
  std::istream framesIn(&framesBuf);
  ChunkedStreamBuf recordsBuf(bytes, chunk);
  std::istream recordsIn(&recordsBuf);
  ZrRDFileReader frames(framesIn);
  const std::vector<std::string> framesOpening = TakeMessages();
  ZrRDFileReader records(recordsIn);
  ASSERT_EQ(TakeMessages(), framesOpening) << what;
  const bool binary = frames.isBinary();
  ZrRDFrame frame;
  for (int n = 0; n < 100; ++n) {
    const std::size_t start = framesBuf.position();
    const bool built = frames.readNextFrame(frame);
    const std::vector<std::string> builtMessages = TakeMessages();
    std::ostringstream copied;
    const bool copiedOk = records.copyNextFrame(copied);
    ASSERT_EQ(copiedOk, built) << what << ", frame " << n;
    ASSERT_EQ(TakeMessages(), builtMessages) << what << ", frame " << n;
    ASSERT_EQ(recordsIn.rdstate(), framesIn.rdstate()) << what << ", frame " << n;
    ASSERT_EQ(recordsBuf.position(), framesBuf.position()) << what << ", frame " << n;
    ASSERT_EQ(records.framesRead(), frames.framesRead()) << what << ", frame " << n;
    if (!built) break;
    const std::string got = copied.str();
    ASSERT_TRUE(testsupport::CopiedRecordHoldsFrame(got, frame, binary)) << what << ", frame " << n;
    if (binary) {
      // The header's bytes as they stood.
      const std::size_t size = 1 + static_cast<unsigned char>(bytes[start]);
      ASSERT_EQ(got.substr(0, size), bytes.substr(start, size)) << what << ", frame " << n;
      continue;
    }
    // A header line whose timecode stood in the encoder's form is the
    // encoder's own.
    std::ostringstream encoded;
    ZrRDWriteTextFrameHeader(encoded, frame);
    std::istringstream original(bytes.substr(start));
    std::string number;
    std::string timecode;
    original >> number;
    std::getline(original, timecode);
    const std::string blanks = " \t\n\v\f\r";
    timecode.erase(0, timecode.find_first_not_of(blanks));
    timecode.erase(timecode.find_last_not_of(blanks) + 1);
    if (timecode.empty() || encoded.str() == number + " " + timecode + "\n") {
      EXPECT_EQ(got.substr(0, got.find('\n') + 1), encoded.str()) << what << ", frame " << n;
    }
  }
}

TEST_F(ZrRDFormatBufferingTest, RecordsCopyAsFramesWouldBeWritten) {
  // Text damage that keeps numbers readable but out of the encoder's form
  // (signs, leading zeros, more or fewer decimals, exponents, other white
  // space), and any byte at all.
  const std::string pieces[] = {"+", "-", "0", "00", ".", "5", "e1", "\t", "\r\n", " ", "x"};
  std::mt19937 random(5);
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    const ZrRDFormat format = seed % 2 ? ZrRDFormat::Binary : ZrRDFormat::Text;
    const std::size_t header = format == ZrRDFormat::Binary ? 38 : 4;
    std::string bytes = Recording(format, seed, seed % 6 == 0, 4);
    if (seed % 3 != 0) {
      for (int k = 0; k < 4; ++k) {
        const std::size_t at = header + random() % (bytes.size() - header);
        if (format == ZrRDFormat::Binary || random() % 4 == 0) {
          bytes[at] = static_cast<char>(random());
        } else {
          bytes.insert(at, pieces[random() % std::size(pieces)]);
        }
      }
    }
    if (seed % 5 == 0) bytes.resize(header + random() % (bytes.size() - header));
    for (std::size_t chunk : {1, 3, 64, 4096}) {
      ExpectRecordsAsFrames(bytes, chunk, "seed " + std::to_string(seed));
    }
  }
}

TEST_F(ZrRDFormatBufferingTest, CoordinatesInTheEncodersFormCopyAsTheyWouldBeWritten) {
  // Globs in the encoder's form are taken as they are: a sweep over
  // four-decimal values up to 1000 (both signs), the largest that form
  // allows, and values up to 10000, which it does not (their floats can
  // round to another text), must all come out as formatting the values read
  // gives them.
  std::string bytes = "1\n1\n";
  std::mt19937 random(8);
  for (int frame = 1; frame <= 20; ++frame) {
    const int globs = 2000;
    bytes += std::to_string(frame) + "\n" + std::to_string(globs);
    for (int k = 0; k < globs; ++k) {
      int units = static_cast<int>(random() % 10000000);
      if (frame <= 2) units = 9996000 + (frame - 1) * 2000 + k;
      if (frame > 15) units = static_cast<int>(random() % 100000000);
      char text[64];
      snprintf(text, sizeof text, "\n1 %s%d.%04d %d.%04d", random() % 2 ? "-" : "", units / 10000,
               units % 10000, (units / 7) % 1000, units % 10000);
      bytes += text;
    }
    bytes += "\n";
  }
  ExpectRecordsAsFrames(bytes, 4096, "sweep");
}

TEST_F(ZrRDFormatBufferingTest, GlobLinesNearTheEncodersFormReadAndCopyAlike) {
  // Lines in the encoder's form are recognized by their shape; each of these
  // is that shape with one thing changed, which must be read (and copied) as
  // the extractions read it. "·" stands for a space.
  const char* const lines[] = {
      "41·402.5447·310.8257",  "0·0.0000···0.0000··",  "041·402.5447·310.8257",
      "00·1.0000···1.0000··",  "1·03.3948··1.0000··",  "1·00.5000··1.0000··",
      "1·1.0000···03.3948·",   "1·1.0000···00.0000·",  "1·1.00000··2.0000··",
      "1·1.000····2.0000··",   "1·-1.0000··2.0000··",  "1·1.0000···-2.0000·",
      "+1·1.0000···2.0000··",  "-1·1.0000···2.0000··", "1\t1.0000···2.0000··",
      "1··1.0000··2.0000··",   "1·1.0000\t··2.0000··", "1·123.4567·123.4567e5",
      "1·123.4567·123.4567.5", "1·123.4567·123.45678", "1·1.0000···2.0000·.",
      "1·1234.5678·1.0000··",  "1·1.0000···1234.5678", "1·1.0000e··2.0000··",
      "1·.5000····2.0000··",   "1·1.0000···2.0000·5",  "12345678·1.0000···2.0000··"};
  for (const char* shape : lines) {
    std::string line;
    for (const char* c = shape; *c != '\0'; ++c) {
      if (std::strncmp(c, "·", std::strlen("·")) == 0) {
        line += ' ';
        c += std::strlen("·") - 1;
      } else {
        line += *c;
      }
    }
    // Two cameras, so that the line is followed by more of the file.
    const std::string bytes = "2\n1\n1\n1\n" + line + "\n1\n" + line + "\n" + std::string(40, ' ');
    ExpectSameReading(bytes, "line \"" + line + "\"");
    ExpectRecordsAsFrames(bytes, 4096, "line \"" + line + "\"");
  }
}

TEST_F(ZrRDFormatBufferingTest, CopiesAreForTheReadersOwnEncoding) {
  testsupport::TempDir dir;
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    std::istringstream in(Recording(format, 3, false, 2));
    ZrRDFileReader reader(in);
    const std::streampos start = in.tellg();
    const ZrRDFormat other = format == ZrRDFormat::Text ? ZrRDFormat::Binary : ZrRDFormat::Text;
    ZrRDFileWriter writer((dir / "other").c_str(), 1, 1, other);
    EXPECT_FALSE(writer.copyFrame(reader));
    EXPECT_EQ(in.tellg(), start);
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(testsupport::ReadFile(dir / "other").size(), other == ZrRDFormat::Text ? 4u : 38u);
    EXPECT_TRUE(TakeMessages().empty());
  }
}

// ---- Encoders ----

struct Written {
  std::string bytes;
  std::ios::iostate state;
  std::streamsize precision;
  std::streamsize width;
  std::ios::fmtflags flags;

  bool operator==(const Written& o) const {
    return bytes == o.bytes && state == o.state && precision == o.precision && width == o.width &&
           flags == o.flags;
  }
};

std::ostream& operator<<(std::ostream& os, const Written& w) {
  return os << "\"" << w.bytes << "\" state " << w.state << " precision " << w.precision
            << " width " << w.width << " flags " << w.flags;
}

Written Write(const ZrRDFrame& frame, ZrRDFormat format, bool standard, std::ios::fmtflags flags) {
  std::ostringstream os;
  std::ostringstream tie;
  if (standard) os.tie(&tie);
  os.flags(flags);
  ZrRDWriteFrame(os, frame, format);
  return {os.str(), os.rdstate(), os.precision(), os.width(), os.flags()};
}

TEST_F(ZrRDFormatBufferingTest, EncodersWriteAlike) {
  const float inf = std::numeric_limits<float>::infinity();
  const float odd[] = {0.0f,           -0.0f,  inf,    -inf,    std::nanf(""),
                       -std::nanf(""), 1e30f,  -1e30f, 3e-9f,   0.03125f,
                       511.9921875f,   600.0f, -0.3f,  1.23456f};
  std::mt19937 random(17);
  for (int round = 0; round < 300; ++round) {
    ZrRDFrame frame;
    // Any int, negative ones included.
    frame.number = static_cast<int>(static_cast<uint32_t>(random()));
    // Timecodes of a day, and packed values of any size (hours in the
    // hundreds and thousands).
    if (round % 4 == 0) frame.timecode = static_cast<ZnPackedTimecode>(random() % 2678400u * 31u);
    if (round % 4 == 2) frame.timecode = static_cast<ZnPackedTimecode>(random());
    const int cameras = static_cast<int>(random() % 4);
    for (int i = 0; i < cameras; ++i) {
      std::vector<ZrRDGlob> globs(random() % 6);
      for (ZrRDGlob& glob : globs) {
        glob.pixels = static_cast<int>(random()) >> (random() % 32);
        glob.x = random() % 3 == 0 ? odd[random() % std::size(odd)]
                                   : static_cast<float>(random() % 5120000) / 10000.0f;
        uint32_t bits = static_cast<uint32_t>(random());
        std::memcpy(&glob.y, &bits, sizeof bits);
      }
      RDAddCamera(frame, globs);
    }
    if (cameras > 0 && round % 5 == 0) frame.setCamera(0, nullptr);  // written as no globs
    // Flags a caller may have left set that the encoders replace or ignore.
    const std::ios::fmtflags flags =
        round % 4 == 0 ? std::ios::fixed | std::ios::left | std::ios::skipws | std::ios::dec
                       : std::ios::skipws | std::ios::dec;
    for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
      EXPECT_EQ(Write(frame, format, false, flags), Write(frame, format, true, flags))
          << "round " << round;
    }
    ZnClearMessages();
  }
}

TEST_F(ZrRDFormatBufferingTest, EncodersFailAlike) {
  // A file buffer of 16 characters on a device that takes nothing: the
  // writes fail at their first flush, part way through a frame.
  std::ifstream probe("/dev/full");
  if (!probe) GTEST_SKIP() << "no /dev/full";
  ZrRDFrame frame;
  frame.number = 12;
  RDAddCamera(frame, {{5, 12.5f, 3.25f}, {9, 100.0f, 7.125f}, {1, 2.0f, 3.0f}});
  RDAddCamera(frame, {});
  for (ZrRDFormat format : {ZrRDFormat::Text, ZrRDFormat::Binary}) {
    Written results[2];
    for (int standard = 0; standard < 2; ++standard) {
      char buffer[16];
      std::ofstream os;
      os.rdbuf()->pubsetbuf(buffer, sizeof buffer);
      os.open("/dev/full");
      ASSERT_TRUE(os.is_open());
      std::ostringstream tie;
      if (standard == 1) os.tie(&tie);
      ZrRDWriteFrame(os, frame, format);
      results[standard] = {"", os.rdstate(), os.precision(), os.width(), os.flags()};
      EXPECT_TRUE(os.bad());
      os.close();
    }
    EXPECT_EQ(results[0], results[1]);
  }
}

}  // namespace
