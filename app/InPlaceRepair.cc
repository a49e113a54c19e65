#include "app/InPlaceRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "app/Progress.h"
#include "app/Refusal.h"
#include "app/RecordingCount.h"
#include "app/SourceFile.h"
#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFormat.h"
#include "system/ZnFileUtils.h"
#include "system/ZnPathUtils.h"
#include "system/ZnProcess.h"

namespace {

// The most of a recording's beginning looked at for its header: far more
// than any recorder writes, and little enough to read whole.
constexpr ssize_t kHeadLimit = 64 * 1024;

// The counts a header states, and where it ends; -1 when it does not read.
struct HeaderRead {
  int cameras = 0;
  int frames = 0;
  int64_t end = -1;
};

HeaderRead ReadHeader(const std::string& head) {
  std::istringstream in(head);
  const ZnMessage* mark = ZnMessages.first();
  ZrRDFileReader reader(in);
  HeaderRead read;
  if (!ZnMessages.errorPending()) {
    read = {reader.cameraCount(), reader.frameCount(), reader.position()};
  }
  ZnMessages.removeNewerThan(mark);
  return read;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void ReportErrorNumber(int error) {
  char* text = ZnErrorText(error);
  ZnReportError("%s.", text != nullptr ? text : "Unknown error");
  free(text);
}

// Where the frames of a plain recording end: after the last frame counted,
// and in text after the line feed that closes it, as a copy ends. What
// follows is the empty tail the count found there.
int64_t EndOfFrames(int fd, const RecordingCount& recording) {
  const int64_t end = recording.count.end;
  if (end < 0 || recording.format == ZrRDFormat::Binary) return end;
  char after[16];
  const ssize_t n = pread(fd, after, sizeof after, end);
  for (ssize_t k = 0; k < n; ++k) {
    if (after[k] == '\n') return end + k + 1;
    if (after[k] != ' ' && after[k] != '\r') break;
  }
  return end;
}

// Ends a run whose write failed or did not take: the file may be changed.
RepairOutcome Failed(const char* path) {
  ZnReportError(ZnStr("Unable to repair \"") + path + "\" in place.");
  ZnFlushMessages();
  return RepairOutcome::kRefused;
}

RepairOutcome Refused(const char* path, bool offerSalvage = false) {
  PrintRefusal("repair", path, offerSalvage);
  return RepairOutcome::kRefused;
}

}  // namespace

bool HeaderCountInPlace(int fd, int64_t frames, int64_t* offset, std::string* bytes) {
  std::string head(kHeadLimit, '\0');
  const ssize_t n = pread(fd, &head[0], head.size(), 0);
  if (n <= 0) return false;
  head.resize(static_cast<size_t>(n));
  const HeaderRead old = ReadHeader(head);
  if (old.end < 0 || old.end > n) return false;
  if (head[0] == 'K') {
    // The counts record follows the identification and version lines: its
    // size byte, two bytes of cameras, four of frames.
    std::istringstream in(head);
    const ZnMessage* mark = ZnMessages.first();
    const bool identified = ZrRDCheckIdentification(in);
    ZnMessages.removeNewerThan(mark);
    if (!identified) return false;
    *offset = static_cast<int64_t>(in.tellg()) + 3;
    const auto value = static_cast<uint32_t>(frames);
    *bytes = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
              static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
  } else {
    // The frame count is the last number of the text header; the reader
    // skips the blanks put before a shorter one.
    int64_t start = old.end;
    while (start > 0 && !IsBlank(head[static_cast<size_t>(start - 1)])) --start;
    const std::string number = std::to_string(frames);
    const auto width = static_cast<size_t>(old.end - start);
    if (number.size() > width) return false;
    *offset = start;
    *bytes = std::string(width - number.size(), ' ') + number;
  }
  if (*offset + static_cast<int64_t>(bytes->size()) > old.end) return false;
  std::string changed = head;
  changed.replace(static_cast<size_t>(*offset), bytes->size(), *bytes);
  const HeaderRead now = ReadHeader(changed);
  return now.frames == frames && now.cameras == old.cameras && now.end == old.end;
}

RepairOutcome RepairInPlace(const char* path) {
  Progress& progress = Progress::standardError();
  const ZnStr name = SourceFile::Followed(path);
  SourceFile source;
  if (!source.open(name)) return Refused(path);
  if (ZnFindCompressionExtension(source.path())) {
    ZnReportError(ZnStr("A compressed recording cannot be changed in place; 'hdrmend ") + path +
                  "' repairs it through a copy.");
    return Refused(path);
  }
  // The file read, opened once more for writing: through the descriptor, so
  // that it is the same file whatever became of the name.
  if (!ZnCanWrite(source.path().c_str())) return Refused(path);
  const std::string opened = "/proc/self/fd/" + std::to_string(source.fd());
  const int fd = open(opened.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0 || status.st_ino != source.status().st_ino ||
      status.st_dev != source.status().st_dev) {
    ReportErrorNumber(fd < 0 ? errno : ESTALE);
    if (fd >= 0) close(fd);
    return Refused(path);
  }
  const RepairOutcome outcome = [&] {
    RecordingCount recording;
    if (!CountRecording(source, name.c_str(), progress, &recording)) {
      return Refused(path, recording.salvageable());
    }
    const int64_t counted = recording.count.frames;
    std::cerr << recording.specified << " frames specified in the file\n";
    std::cerr << counted << " frames actually in the file\n";
    if (recording.specified == counted) return RepairOutcome::kAlreadyRight;
    int64_t offset = 0;
    std::string bytes;
    if (!HeaderCountInPlace(source.fd(), counted, &offset, &bytes)) {
      ZnReportError(ZnStr("The count ") + std::to_string(counted).c_str() +
                    " does not fit where the header states " +
                    std::to_string(recording.specified).c_str() + "; 'hdrmend " + path +
                    "' repairs it through a copy.");
      return Refused(path);
    }
    const int64_t size = source.status().st_size;
    if (fstat(fd, &status) != 0 || status.st_size != size) {
      ZnReportError("The recording changed after its frames were counted.");
      return Refused(path);
    }
    if (pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()) ||
        fsync(fd) != 0) {
      ReportErrorNumber(errno);
      return Failed(path);
    }
    // The count is right now; the empty tail goes in a step of its own.
    const int64_t end = EndOfFrames(source.fd(), recording);
    if (end >= 0 && end < size) {
      const bool same = fstat(fd, &status) == 0 && status.st_size == size;
      if (!same || ftruncate(fd, end) != 0 || fsync(fd) != 0) {
        if (same) {
          ReportErrorNumber(errno);
        } else {
          ZnReportError("The recording changed after its frames were counted.");
        }
        ZnReportError("The count is right; the empty tail after the frames was not cut.");
        return Failed(path);
      }
    }
    // What a reader now finds there.
    if (!CountRecording(source, name.c_str(), progress, &recording) ||
        recording.specified != counted || recording.count.frames != counted) {
      ZnReportError(ZnStr("The file does not read with the count ") +
                    std::to_string(counted).c_str() + " after the change.");
      return Failed(path);
    }
    return RepairOutcome::kRepaired;
  }();
  close(fd);
  return outcome;
}
