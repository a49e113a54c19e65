// rdgen: writes a raw data file of random frames, for tests and benchmarks.
//
// The frames go through the library's own writer (ZrRDFileWriter), one
// reused frame at a time, so memory stays flat for any output size. The same
// arguments always give the same file; see tools/RandomFrames.h for what the
// frames hold.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnTimecode.h"
#include "rawdata/ZrRDFileWriter.h"
#include "rawdata/ZrRDFormat.h"
#include "streams/ZnCompFStream.h"
#include "tools/RandomFrames.h"

namespace {

const char kUsage[] =
    "Usage: rdgen [options] <output file>\n"
    "Writes a raw data file of random frames. A name ending in \".gz\" is\n"
    "compressed with gzip. The same options always give the same file.\n"
    "\n"
    "  --format text|binary   encoding (default binary)\n"
    "  --frames N             frames to write (default 10)\n"
    "  --cameras C            cameras per frame (default 2)\n"
    "  --min-globs A          fewest globs per camera (default 0)\n"
    "  --max-globs B          most globs per camera (default 10); each camera\n"
    "                         gets a random count from A to B\n"
    "  --timecodes[=START]    give the frames timecodes, counting from START at\n"
    "                         its rate (default 01:00:00:00/30)\n"
    "  --header-frames N      the header claims N frames (default: as written)\n"
    "  --header-offset D      the header claims the frames written plus D\n"
    "  --first-number K       number of the first frame (default 1)\n"
    "  --seed S               seed of the random frames (default 1)\n"
    "  --truncate BYTES       cut the finished file to BYTES bytes (for a \".gz\"\n"
    "                         name, the compressed file)\n"
    "  --text-decimals        text only: write coordinates with 6 decimals\n"
    "                         instead of the writer's 4\n"
    "  --help                 show this text\n"
    "\n"
    "Coordinates lie in [0, 512): multiples of 1/128 in binary files, of\n"
    "1/10000 in text files, so that reading the file back gives them exactly.\n"
    "Exit status: 0 on success, 1 when the file could not be written, 2 for\n"
    "a usage error.\n";

enum Option {
  kFormat = 256,
  kFrames,
  kCameras,
  kMinGlobs,
  kMaxGlobs,
  kTimecodes,
  kHeaderFrames,
  kHeaderOffset,
  kFirstNumber,
  kSeed,
  kTruncate,
  kTextDecimals,
  kHelp,
};

const struct option kOptions[] = {
    {"format", required_argument, nullptr, kFormat},
    {"frames", required_argument, nullptr, kFrames},
    {"cameras", required_argument, nullptr, kCameras},
    {"min-globs", required_argument, nullptr, kMinGlobs},
    {"max-globs", required_argument, nullptr, kMaxGlobs},
    {"timecodes", optional_argument, nullptr, kTimecodes},
    {"header-frames", required_argument, nullptr, kHeaderFrames},
    {"header-offset", required_argument, nullptr, kHeaderOffset},
    {"first-number", required_argument, nullptr, kFirstNumber},
    {"seed", required_argument, nullptr, kSeed},
    {"truncate", required_argument, nullptr, kTruncate},
    {"text-decimals", no_argument, nullptr, kTextDecimals},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

int UsageError(const char* fmt, const char* value) {
  fprintf(stderr, "rdgen: ");
  fprintf(stderr, fmt, value);
  fprintf(stderr, "\nTry 'rdgen --help'.\n");
  return 2;
}

// A whole decimal number within [low, high].
bool ParseNumber(const char* text, long long low, long long high, long long* value) {
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

// The text encoding with more decimals than the writer gives, for files that
// a copy must round. Only the glob lines differ from the writer's output.
void WriteTextFrameWithDecimals(std::ostream& os, const ZrRDFrame& frame) {
  ZrRDWriteTextFrameHeader(os, frame);
  for (int i = 0; i < frame.cameraCount(); ++i) {
    if (i > 0) os << "\n";
    const ZrRDCamera* camera = frame.camera(i);
    os << camera->globs.count();
    for (const ZrRDGlob& glob : camera->globs) {
      os << "\n" << glob.pixels << ' ' << glob.x << ' ' << glob.y;
    }
  }
  os << "\n";
}

bool WriteWithDecimals(const char* path, int headerFrames, int frames,
                       const RandomFrameSettings& settings) {
  ZnCompOFStream os(path);
  if (os.fail()) return false;
  ZrRDWriteFileHeader(os, ZrRDFormat::Text, headerFrames, settings.cameras);
  os << std::fixed << std::setprecision(6);
  RandomFrames source(settings);
  ZrRDFrame frame;
  for (int i = 0; i < frames && !os.fail(); ++i) {
    source.next(frame);
    WriteTextFrameWithDecimals(os, frame);
  }
  bool written = !os.fail();
  os.close();
  if (!written || os.fail()) {
    ZnReportError("Unable to write \"%s\".", path);
    return false;
  }
  return true;
}

bool WriteThroughWriter(const char* path, int headerFrames, int frames,
                        const RandomFrameSettings& settings) {
  ZrRDFileWriter writer(path, headerFrames, settings.cameras, settings.format);
  if (!writer.isOpen()) return false;
  RandomFrames source(settings);
  ZrRDFrame frame;
  for (int i = 0; i < frames; ++i) {
    source.next(frame);
    if (!writer.writeFrame(frame)) break;
  }
  return writer.close();
}

bool Truncate(const char* path, long long bytes) {
  struct stat st;
  if (stat(path, &st) != 0) {
    ZnReportError("Unable to read the size of \"%s\".", path);
    return false;
  }
  if (bytes > st.st_size) {
    // Truncating would add zeros: the file would not be cut at all.
    ZnReportError("\"%s\" holds only %lld bytes and cannot be cut at byte %lld.", path,
                  static_cast<long long>(st.st_size), bytes);
    return false;
  }
  if (truncate(path, static_cast<off_t>(bytes)) != 0) {
    ZnReportError("Unable to cut \"%s\": %s.", path, strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  RandomFrameSettings settings;
  long long frames = 10;
  long long headerFrames = -1;
  long long headerOffset = 0;
  bool headerGiven = false;
  bool offsetGiven = false;
  long long truncateAt = -1;
  long long value = 0;

  int c;
  while ((c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
    switch (c) {
      case kFormat:
        if (strcmp(optarg, "text") == 0) {
          settings.format = ZrRDFormat::Text;
        } else if (strcmp(optarg, "binary") == 0) {
          settings.format = ZrRDFormat::Binary;
        } else {
          return UsageError("unknown format '%s'; use text or binary.", optarg);
        }
        break;
      case kFrames:
        if (!ParseNumber(optarg, 0, INT_MAX, &frames)) {
          return UsageError("invalid frame count '%s'.", optarg);
        }
        break;
      case kCameras:
        if (!ParseNumber(optarg, 0, 65535, &value)) {
          return UsageError("invalid camera count '%s' (0 to 65535).", optarg);
        }
        settings.cameras = static_cast<int>(value);
        break;
      case kMinGlobs:
      case kMaxGlobs:
        if (!ParseNumber(optarg, 0, 65535, &value)) {
          return UsageError("invalid glob count '%s' (0 to 65535).", optarg);
        }
        (c == kMinGlobs ? settings.minGlobs : settings.maxGlobs) = static_cast<int>(value);
        break;
      case kTimecodes: {
        settings.timecodes = true;
        ZnStr start(optarg != nullptr ? optarg : "01:00:00:00/30");
        if (!ZnPackedTimecodeParse(start, &settings.timecodeStart, false)) {
          return UsageError("invalid timecode '%s'; write hh:mm:ss:ff[/rate].", start.c_str());
        }
        break;
      }
      case kHeaderFrames:
        if (!ParseNumber(optarg, INT_MIN, INT_MAX, &headerFrames)) {
          return UsageError("invalid header frame count '%s'.", optarg);
        }
        headerGiven = true;
        break;
      case kHeaderOffset:
        if (!ParseNumber(optarg, INT_MIN, INT_MAX, &headerOffset)) {
          return UsageError("invalid header offset '%s'.", optarg);
        }
        offsetGiven = true;
        break;
      case kFirstNumber:
        if (!ParseNumber(optarg, INT_MIN, INT_MAX, &value)) {
          return UsageError("invalid first frame number '%s'.", optarg);
        }
        settings.firstNumber = static_cast<int>(value);
        break;
      case kSeed:
        errno = 0;
        {
          char* end = nullptr;
          settings.seed = strtoull(optarg, &end, 10);
          if (errno != 0 || end == optarg || *end != '\0' || optarg[0] == '-') {
            return UsageError("invalid seed '%s'.", optarg);
          }
        }
        break;
      case kTruncate:
        if (!ParseNumber(optarg, 0, LLONG_MAX, &truncateAt)) {
          return UsageError("invalid byte count '%s'.", optarg);
        }
        break;
      case kTextDecimals:
        settings.textDecimals = true;
        break;
      case kHelp:
        fputs(kUsage, stdout);
        return 0;
      default:
        fprintf(stderr, "Try 'rdgen --help'.\n");
        return 2;
    }
  }
  if (optind != argc - 1) return UsageError("%s", "give exactly one output file, last.");
  const char* path = argv[optind];
  if (settings.minGlobs > settings.maxGlobs) {
    return UsageError("%s", "--min-globs is greater than --max-globs.");
  }
  if (headerGiven && offsetGiven) {
    return UsageError("%s", "give --header-frames or --header-offset, not both.");
  }
  if (settings.textDecimals && settings.format != ZrRDFormat::Text) {
    return UsageError("%s", "--text-decimals needs --format text.");
  }
  if (!headerGiven) {
    headerFrames = frames + headerOffset;
    if (headerFrames < INT_MIN || headerFrames > INT_MAX) {
      return UsageError("%s", "the header frame count is out of range.");
    }
  }

  const int count = static_cast<int>(frames);
  const int claimed = static_cast<int>(headerFrames);
  bool ok = settings.textDecimals ? WriteWithDecimals(path, claimed, count, settings)
                                  : WriteThroughWriter(path, claimed, count, settings);
  if (ok && truncateAt >= 0) ok = Truncate(path, truncateAt);
  if (ZnFlushMessages() || !ok) return 1;
  return 0;
}
