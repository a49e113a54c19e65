// The damage matrix: recordings of both encodings, plain and ".gz", damaged
// in every way a crash, a disk or a careless tool damages them, each run
// through the built command and judged against the reference reader
// (tests/support/ReferenceReader.h), which reads the damaged bytes apart from
// the library.
//
// The property, for every row: when the data reads whole to its end (and
// a ".gz" file is sound), the run ends with exit 0 and a copy that holds
// exactly the frames the reference reader finds; otherwise with exit 1, the
// recording byte-identical, no copy and no pipe left. Never exit 0 with a
// frame missing that read whole.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"
#include "support/ReferenceReader.h"
#include "support/TestSupport.h"
#include "tools/RandomFrames.h"

namespace {

using testsupport::ReadFile;
using testsupport::ReferenceReading;
using testsupport::TempDir;
using testsupport::WriteFile;

// A recording as bytes, and where each frame record starts.
struct Recording {
  std::string bytes;
  std::vector<std::size_t> frames;  // offsets of the frame records, then the end
  std::size_t header = 0;           // the file header's length
  bool binary = false;

  std::size_t frameStart(std::size_t k) const { return frames[k]; }
  std::size_t frameSize(std::size_t k) const { return frames[k + 1] - frames[k]; }
};

constexpr int kFrames = 24;
constexpr int kClaimed = 30;

RandomFrameSettings Settings(ZrRDFormat format, int cameras = 3, int maxGlobs = 5,
                             bool timecodes = true, int firstNumber = 1) {
  RandomFrameSettings settings;
  settings.format = format;
  settings.cameras = cameras;
  settings.minGlobs = 0;
  settings.maxGlobs = maxGlobs;
  settings.firstNumber = firstNumber;
  settings.timecodes = timecodes;
  ZnPackedTimecodeParse(ZnStr("10:59:59:20/25"), &settings.timecodeStart, false);
  settings.seed = 7;
  return settings;
}

Recording Make(const RandomFrameSettings& settings, int frames = kFrames, int claimed = kClaimed) {
  RandomFrames source(settings);
  Recording r;
  r.binary = settings.format == ZrRDFormat::Binary;
  std::ostringstream os;
  ZrRDWriteFileHeader(os, settings.format, claimed, settings.cameras);
  r.header = static_cast<std::size_t>(os.tellp());
  ZrRDFrame frame;
  for (int k = 0; k < frames; ++k) {
    r.frames.push_back(static_cast<std::size_t>(os.tellp()));
    source.next(frame);
    ZrRDWriteFrame(os, frame, settings.format);
  }
  r.frames.push_back(static_cast<std::size_t>(os.tellp()));
  r.bytes = os.str();
  return r;
}

Recording Make(ZrRDFormat format, int frames = kFrames, int claimed = kClaimed) {
  return Make(Settings(format), frames, claimed);
}

std::string Replace(std::string bytes, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = bytes.find(from, at)) != std::string::npos; at += to.size()) {
    bytes.replace(at, from.size(), to);
  }
  return bytes;
}

// One kind of damage, done to a recording's bytes.
struct Damage {
  const char* name;
  std::function<std::string(const Recording&)> apply;
};

std::string Flip(std::string bytes, std::size_t at, std::size_t length) {
  for (std::size_t k = at; k < at + length && k < bytes.size(); ++k) bytes[k] ^= 0x5A;
  return bytes;
}

std::string Zero(std::string bytes, std::size_t at, std::size_t length) {
  for (std::size_t k = at; k < at + length && k < bytes.size(); ++k) bytes[k] = '\0';
  return bytes;
}

// Frame k's last glob count raised so that its camera takes in the next
// three frames whole and ends where frame k + 4 starts (binary; these frame
// records are all a multiple of 4 bytes long). Every header read is then
// genuine; only the numbers skip the frames taken in.
std::string Swallowing(const Recording& r, std::size_t k) {
  if (!r.binary) return r.bytes;
  std::string b = r.bytes;
  std::size_t at = r.frameStart(k) + 1 + static_cast<unsigned char>(b[r.frameStart(k)]);
  for (int c = 0; c < 2; ++c) {
    at += 2 + 4 * (static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
  }
  const std::size_t globs = (r.frameStart(k + 4) - at - 2) / 4;
  b[at] = static_cast<char>(globs);
  b[at + 1] = static_cast<char>(globs >> 8);
  return b;
}

// The recording up to frame k's end as frame k's header and, for camera
// records, two empty ones and one that holds frames [from, to) whole: frame
// k lost its records and the frames between; the frames held are intact
// (binary with timecodes: frame records a multiple of 4 bytes long).
std::string Holding(const Recording& r, std::size_t k, std::size_t from, std::size_t to) {
  const std::size_t globs = (r.frameStart(to) - r.frameStart(from)) / 4;
  std::string records(6, '\0');
  records[4] = static_cast<char>(globs);
  records[5] = static_cast<char>(globs >> 8);
  return r.bytes.substr(0, r.frameStart(k) + 10) + records +
         r.bytes.substr(r.frameStart(from), r.frameStart(to) - r.frameStart(from));
}

std::vector<Damage> Damages() {
  using R = const Recording&;
  return {
      {"none", [](R r) { return r.bytes; }},
      {"cut in the file header", [](R r) { return r.bytes.substr(0, r.header - 2); }},
      {"cut in the counts", [](R r) { return r.bytes.substr(0, r.header - 1); }},
      {"cut after the file header", [](R r) { return r.bytes.substr(0, r.header); }},
      {"cut in a frame header", [](R r) { return r.bytes.substr(0, r.frameStart(9) + 2); }},
      {"cut after a frame header's first byte",
       [](R r) { return r.bytes.substr(0, r.frameStart(9) + 1); }},
      {"cut in a body", [](R r) { return r.bytes.substr(0, r.frameStart(9) + r.frameSize(9) - 3); }},
      {"cut between frames", [](R r) { return r.bytes.substr(0, r.frameStart(9)); }},
      {"bytes flipped in a frame header", [](R r) { return Flip(r.bytes, r.frameStart(5), 2); }},
      {"bytes flipped in a body",
       [](R r) { return Flip(r.bytes, r.frameStart(5) + r.frameSize(5) / 2, 3); }},
      {"bytes flipped in the file header", [](R r) { return Flip(r.bytes, 3, 2); }},
      {"stretch zeroed in the middle", [](R r) { return Zero(r.bytes, r.frameStart(7), 40); }},
      {"glob count swallowing frames", [](R r) { return Swallowing(r, 8); }},
      {"frame header zeroed", [](R r) {
         return Zero(r.bytes, r.frameStart(4), r.binary ? 10 : r.bytes.find('\n', r.frameStart(4)) - r.frameStart(4));
       }},
      {"zero-filled tail", [](R r) { return r.bytes + std::string(4096, '\0'); }},
      {"zero-filled tail after a cut", [](R r) {
         return r.bytes.substr(0, r.frameStart(20)) + std::string(70000, '\0');
       }},
      {"blank tail", [](R r) { return r.bytes + " \n\t\r\n  "; }},
      {"blanks and zeros mixed", [](R r) { return r.bytes + std::string("\n\0 \0\0\n", 6); }},
      {"garbage between frames", [](R r) {
         std::string b = r.bytes;
         return b.insert(r.frameStart(12), "garbage\n");
       }},
      {"garbage at the end", [](R r) { return r.bytes + "garbage"; }},
      {"one byte at the end", [](R r) { return r.bytes + "\x07"; }},
      {"frame numbered 0 in the middle", [](R r) {
         std::string b = r.bytes;
         if (r.binary) {
           b.replace(r.frameStart(6) + 1, 4, std::string(4, '\0'));
         } else {
           const std::size_t end = b.find_first_of(" \n", r.frameStart(6));
           b.replace(r.frameStart(6), end - r.frameStart(6), "0");
         }
         return b;
       }},
      {"frame numbered 0 at the end", [](R r) {
         return r.bytes + (r.binary ? std::string("\x04\0\0\0\0", 5) : std::string("0\n"));
       }},
      {"line ends CR only", [](R r) { return r.binary ? r.bytes : Replace(r.bytes, "\n", "\r"); }},
      {"line ends CR LF", [](R r) { return r.binary ? r.bytes : Replace(r.bytes, "\n", "\r\n"); }},
      {"line ends mixed", [](R r) {
         std::string b = r.bytes;
         if (!r.binary) b.insert(r.frameStart(10) - 1, "\r");
         return b;
       }},
      {"version line ending in CR LF",
       [](R r) { return r.binary ? Replace(r.bytes, "v1.00\n", "v1.00\r\n") : r.bytes; }},
      {"version line with a trailing blank",
       [](R r) { return r.binary ? Replace(r.bytes, "v1.00\n", "v1.00 \n") : r.bytes; }},
      {"identification with a trailing blank", [](R r) {
         return r.binary ? Replace(r.bytes, "Binary\n", "Binary \n") : r.bytes;
       }},
      {"version 1.50", [](R r) { return r.binary ? Replace(r.bytes, "v1.00\n", "v1.50\n") : r.bytes; }},
      {"counts with white space", [](R r) {
         return r.binary ? r.bytes : "  3 \r\n\t " + std::to_string(kClaimed) + r.bytes.substr(r.header - 1);
       }},
      {"frame after the end marker", [](R r) {
         return r.bytes.substr(0, r.frameStart(15)) + (r.binary ? std::string("\x04\0\0\0\0", 5) : std::string("0\n")) +
                r.bytes.substr(r.frameStart(15));
       }},
      {"timecode with a NUL before it", [](R r) {
         std::string b = r.bytes;
         if (r.binary) return b;
         return b.insert(b.find(' ', r.frameStart(8)) + 1, std::string(1, '\0'));
       }},
  };
}

class DamageMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    ZnClearMessages();
    gzip_ = testsupport::FindProgram("gzip");
    haveGzip_ = !gzip_.empty() && testsupport::HaveProgram("gunzip");
  }

  std::string path(const std::string& name) const { return dir_ / name; }

  CommandResult Tool(const std::string& program, const std::vector<std::string>& args) {
    CommandOptions options;
    options.directory = dir_.path();
    return RunCommand(testsupport::FindProgram(program), args, options);
  }

  // Runs one row and checks the property.
  void Check(const std::string& name, const std::string& stored, const std::string& data,
             bool compressed) {
    SCOPED_TRACE(name);
    WriteFile(path(name), stored);
    const ReferenceReading expected = testsupport::ReadReference(data);
    const bool sound = !compressed || Tool("gzip", {"-t", name}).status == 0;
    const bool readsWhole = sound && expected.headerRead && expected.whole;

    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_BINARY, {name}, options);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(testsupport::OwnPipesInVarTmp(r.pid), std::vector<std::string>());
    EXPECT_EQ(testsupport::Listing(dir_.path()), std::set<std::string>({name}));
    if (!readsWhole) {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(ReadFile(path(name)), stored);
      unlink(path(name).c_str());
      CheckSalvage(name, stored, expected, readsWhole, compressed, sound);
      return;
    }
    const int frames = static_cast<int>(expected.frames.size());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::to_string(expected.claimed) + " frames specified in the file\n" +
                         std::to_string(frames) + " frames actually in the file\n");
    if (expected.claimed == frames) {
      EXPECT_EQ(ReadFile(path(name)), stored);
    } else {
      const std::string copy = compressed ? Tool("gunzip", {"-c", name}).out : ReadFile(path(name));
      std::string why;
      EXPECT_TRUE(testsupport::SameFramesAsCopied(expected, testsupport::ReadReference(copy), &why))
          << why;
    }
    unlink(path(name).c_str());
    CheckSalvage(name, stored, expected, readsWhole, compressed, sound);
  }

  // The salvage of the same row: an undamaged recording as the repair
  // handles it; a damaged one keeps at least every frame before the damage,
  // in a recording that reads whole, and the original byte for byte beside
  // it as <base>.orig; or it is refused and nothing changes. What a damaged
  // deflate stream delivers before it fails is the decompressor's affair:
  // only that the result reads whole is checked then.
  void CheckSalvage(const std::string& name, const std::string& stored,
                    ReferenceReading expected, bool readsWhole, bool compressed, bool sound) {
    if (!sound) expected.frames.clear();
    SCOPED_TRACE("salvage");
    WriteFile(path(name), stored);
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_BINARY, {"--salvage", name}, options);
    const std::string kept = compressed ? "take.raw.orig.gz" : "take.raw.orig";
    if (readsWhole) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(testsupport::Listing(dir_.path()), std::set<std::string>({name}));
    } else if (r.status == 0) {
      EXPECT_EQ(ReadFile(path(kept)), stored);
      const std::string copy = compressed ? Tool("gunzip", {"-c", name}).out : ReadFile(path(name));
      ReferenceReading salvaged = testsupport::ReadReference(copy);
      EXPECT_TRUE(salvaged.headerRead && salvaged.whole);
      EXPECT_GE(salvaged.frames.size(), expected.frames.size());
      salvaged.frames.resize(std::min(salvaged.frames.size(), expected.frames.size()));
      salvaged.claimed = static_cast<int32_t>(salvaged.frames.size());
      std::string why;
      EXPECT_TRUE(testsupport::SameFramesAsCopied(expected, salvaged, &why)) << why;
      unlink(path(kept).c_str());
    } else {
      EXPECT_EQ(r.status, 1) << r.err;
      // With a frame before the damage there is always something to keep.
      EXPECT_TRUE(!expected.headerRead || expected.frames.empty()) << r.err;
      EXPECT_EQ(ReadFile(path(name)), stored);
      EXPECT_EQ(testsupport::Listing(dir_.path()), std::set<std::string>({name}));
    }
    unlink(path(name).c_str());
  }

  TempDir dir_;
  std::string gzip_;
  bool haveGzip_ = false;
};

TEST_F(DamageMatrix, EveryDamageEndsWholeOrUntouched) {
  int repaired = 0;
  int refused = 0;
  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    const Recording recording = Make(format);
    const std::string kind = format == ZrRDFormat::Binary ? "binary" : "text";
    for (const Damage& damage : Damages()) {
      const std::string data = damage.apply(recording);
      SCOPED_TRACE(kind + ", " + damage.name);
      Check("take.raw", data, data, false);
      const ReferenceReading reading = testsupport::ReadReference(data);
      (reading.headerRead && reading.whole ? repaired : refused)++;
      if (!haveGzip_) continue;
      WriteFile(path("plain"), data);
      const std::string packed = Tool("gzip", {"-9", "-c", "plain"}).out;
      unlink(path("plain").c_str());
      Check("take.raw.gz", packed, data, true);
    }
  }
  // The matrix holds both outcomes in number, so that neither side is empty.
  EXPECT_GT(repaired, 10);
  EXPECT_GT(refused, 10);
  if (!haveGzip_) GTEST_SKIP() << "gzip is not installed: the \".gz\" rows did not run";
}

// Damage of the kinds disks and crashes make, each of which once made the
// salvage keep garbage or drop intact frames: every frame whose bytes are
// intact is kept, byte for byte, and nothing else.
TEST_F(DamageMatrix, SalvageKeepsExactlyTheIntactFrames) {
  const ZrRDFormat binary = ZrRDFormat::Binary;
  std::vector<int> everyThird;
  for (int k = 2; k < 40000; k += 3) everyThird.push_back(k);
  const struct {
    const char* name;
    RandomFrameSettings settings;
    int frames;
    std::vector<int> damaged;  // the frames whose bytes the damage touches
    std::function<void(std::string&, const Recording&)> damage;
  } rows[] = {
      {"4 bytes lost inside a frame", Settings(binary, 2, 10, false, 100), 31, {13},
       [](std::string& b, const Recording& r) { b.erase(r.frameStart(14) - 6, 4); }},
      {"two frames zeroed but for a header numbered far below", Settings(binary, 2, 10, false, 100),
       31, {10, 11},
       [](std::string& b, const Recording& r) {
         const std::size_t length = r.frameStart(12) - r.frameStart(10);
         b.replace(r.frameStart(10), length,
                   r.bytes.substr(r.frameStart(2), 5) + std::string(length - 5, '\0'));
       }},
      {"8 garbage bytes in a glob line", Settings(ZrRDFormat::Text), 33, {11},
       [](std::string& b, const Recording& r) {
         b.replace(r.frameStart(11) + r.frameSize(11) / 2, 8, "\x9b#7\xfe 23\x01");
       }},
      {"two frames become one numbered far above, garbage in a later glob line",
       Settings(ZrRDFormat::Text), 33, {10, 11, 20},
       [](std::string& b, const Recording& r) {
         b.replace(r.frameStart(20) + r.frameSize(20) / 2, 8, "\x9b#7\xfe 23\x01");
         b.replace(r.frameStart(10), r.frameStart(12) - r.frameStart(10), "5183\n0\n0\n0\n");
       }},
      {"a stretch zeroed across two frames", Settings(ZrRDFormat::Text), 33, {7, 8},
       [](std::string& b, const Recording& r) {
         b.replace(r.frameStart(8) - 30, 40, 40, '\0');
       }},
      {"a frame's records lost, its camera holding frames 12 and 13", Settings(binary), 40,
       {10, 11},
       [](std::string& b, const Recording& r) { b = Holding(r, 10, 12, 14) + b.substr(r.frameStart(14)); }},
      {"a frame's records lost, its camera holding frame 12, damage behind", Settings(binary), 40,
       {10, 11, 13},
       [](std::string& b, const Recording& r) {
         b = Holding(r, 10, 12, 13) + std::string(6, '\0') + b.substr(r.frameStart(13) + 6);
       }},
      {"two frames holding the two after each, the second numbered out of step", Settings(binary),
       40, {10, 11},
       [](std::string& b, const Recording& r) {
         std::string odd = Holding(r, 14, 14, 16).substr(r.frameStart(14));
         odd.replace(1, 4, r.bytes.substr(r.frameStart(2) + 1, 4));
         b = Holding(r, 10, 12, 14) + odd + b.substr(r.frameStart(16));
       }},
      {"two frames holding the two after each, the second numbered far below, a frame zeroed",
       Settings(binary, 3, 5, true, 1000000), 40, {10, 11, 14, 15, 18},
       [](std::string& b, const Recording& r) {
         std::string odd = Holding(r, 14, 16, 18).substr(r.frameStart(14));
         odd[3] = 0;
         const std::string zeroed =
             b.substr(r.frameStart(18), 2) + std::string(r.frameSize(18) - 2, '\0');
         b = Holding(r, 10, 12, 14) + odd + zeroed + b.substr(r.frameStart(19));
       }},
      {"a frame's number jumping, the next numbered far below, holding a later frame",
       Settings(binary, 3, 5, true, 1000000), 40, {10, 11, 12, 13},
       [](std::string& b, const Recording& r) {
         b = Holding(r, 11, 14, 15) + b.substr(r.frameStart(15));
         ++b[r.frameStart(10) + 3];
         b[r.frameStart(11) + 3] = 0;
       }},
      {"bytes of a frame's form after the last, its number jumping", Settings(binary), 40, {13},
       [](std::string& b, const Recording& r) {
         std::string forged = r.bytes.substr(r.frameStart(39), 10) + std::string(6, '\0');
         forged[1] = static_cast<char>(forged[1] + 100);
         b.replace(r.frameStart(13), 6, 6, '\0');
         b += forged;
       }},
      {"a size byte flipped to 0x49", Settings(binary), 40, {10},
       [](std::string& b, const Recording& r) { b[r.frameStart(10)] ^= 0x40; }},
      {"a size byte flipped to 8", Settings(binary), 40, {10},
       [](std::string& b, const Recording& r) { b[r.frameStart(10)] ^= 0x01; }},
      {"every third size byte 9", Settings(binary, 1, 6, false), 40000, everyThird,
       [&](std::string& b, const Recording& r) {
         for (int k : everyThird) b[r.frameStart(k)] = 9;
       }},
      {"every third size byte changed", Settings(binary, 1, 6, false), 40000, everyThird,
       [&](std::string& b, const Recording& r) {
         for (int k : everyThird) b[r.frameStart(k)] = static_cast<char>(5 + k % 250);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Recording r = Make(row.settings, row.frames);
    std::string damaged = r.bytes;
    row.damage(damaged, r);
    std::string intact;
    int kept = 0;
    for (int k = 0; k < row.frames; ++k) {
      if (std::find(row.damaged.begin(), row.damaged.end(), k) != row.damaged.end()) continue;
      intact += r.bytes.substr(r.frameStart(k), r.frameSize(k));
      ++kept;
    }
    std::ostringstream header;
    ZrRDWriteFileHeader(header, row.settings.format, kept, row.settings.cameras);
    WriteFile(path("take.raw"), damaged);
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult result = RunCommand(HDRMEND_BINARY, {"--salvage", "take.raw"}, options);
    EXPECT_EQ(result.status, 0) << result.err.substr(0, 1000);
    EXPECT_TRUE(ReadFile(path("take.raw")) == header.str() + intact)
        << "the frames kept are not exactly the intact ones:\n" << result.err;
    EXPECT_TRUE(ReadFile(path("take.raw.orig")) == damaged);
    unlink(path("take.raw").c_str());
    unlink(path("take.raw.orig").c_str());
  }
}

// Garbage over 1 to 4096 bytes at random places of recordings of a few MB
// whose header is right. The count takes no garbage for frames: --check says
// "ok" where the garbage reads as the frames it replaced (binary coordinates
// take any bytes), "damaged" elsewhere, never "needs repair", and the repair
// leaves the file as it was. Garbage in a binary glob count whose camera then
// swallows whole frames and ends where a frame starts is damage too (some 1
// in 10 of these overwrites): the frames after it read as they should, only
// their numbers skip the frames swallowed.
TEST_F(DamageMatrix, GarbageIsNeverCountedAsFrames) {
  constexpr int kSeeds = 32;
  const std::string textLike = " \n0123456789.-:";
  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    const bool binary = format == ZrRDFormat::Binary;
    const int claimed = binary ? 60000 : 20000;
    const Recording made = Make(format, claimed, claimed);
    const std::string& recording = made.bytes;
    const std::size_t header = made.header;
    for (int seed = 1; seed <= kSeeds; ++seed) {
      std::mt19937 random(seed);
      const std::size_t length = 1 + random() % (std::size_t{1} << (random() % 13));
      const std::size_t at = header + random() % (recording.size() - header - length);
      std::string data = recording;
      for (std::size_t k = at; k < at + length; ++k) {
        data[k] = !binary && seed % 2 == 0 ? textLike[random() % textLike.size()]
                                           : static_cast<char>(random());
      }
      SCOPED_TRACE(std::string(binary ? "binary" : "text") + ", seed " + std::to_string(seed) +
                   ": " + std::to_string(length) + " bytes at " + std::to_string(at));
      WriteFile(path("take.raw"), data);
      const ReferenceReading expected = testsupport::ReadReference(data);
      const bool whole = expected.headerRead && expected.whole;
      CommandOptions options;
      options.directory = dir_.path();
      const CommandResult check = RunCommand(HDRMEND_BINARY, {"--check", "take.raw"}, options);
      if (whole) {
        EXPECT_EQ(expected.frames.size(), static_cast<std::size_t>(claimed));
        EXPECT_EQ(check.out, "take.raw: ok (" + std::to_string(claimed) + " frames)\n");
      } else {
        EXPECT_EQ(check.out.rfind("take.raw: damaged (", 0), 0u) << check.out;
      }
      const CommandResult repair = RunCommand(HDRMEND_BINARY, {"take.raw"}, options);
      EXPECT_EQ(repair.status, whole ? 0 : 1) << repair.err;
      EXPECT_EQ(ReadFile(path("take.raw")), data);
    }
  }
}

// Damage to the compressed stream itself: gunzip's verdict must be heard.
TEST_F(DamageMatrix, DamagedCompressedStreamIsNeverTakenForTheEnd) {
  if (!haveGzip_) GTEST_SKIP() << "gzip is not installed";
  for (ZrRDFormat format : {ZrRDFormat::Binary, ZrRDFormat::Text}) {
    Recording recording = Make(format);
    // Enough data that the damage lies well inside the deflate stream.
    std::string data = recording.bytes;
    for (int k = 0; k < 40; ++k) data += recording.bytes.substr(recording.header);
    WriteFile(path("plain"), data);
    const std::string packed = Tool("gzip", {"-9", "-c", "plain"}).out;
    unlink(path("plain").c_str());
    const std::size_t middle = packed.size() / 2;
    const struct {
      const char* name;
      std::string stored;
    } rows[] = {
        {"cut in the deflate stream", packed.substr(0, middle)},
        {"cut in the trailer", packed.substr(0, packed.size() - 3)},
        {"16 bytes flipped", Flip(packed, middle, 16)},
        {"a stretch zeroed", Zero(packed, middle, 64)},
        {"garbage after the stream", packed + "garbage"},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(row.name);
      Check("take.raw.gz", row.stored, data, true);
    }
  }
}

}  // namespace
