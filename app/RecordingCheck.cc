#include "app/RecordingCheck.h"

#include <cctype>

#include "app/FileLine.h"
#include "app/Progress.h"
#include "app/RecordingCount.h"
#include "app/SourceFile.h"
#include "foundation/ZnMessage.h"

namespace {

CheckVerdict Failed(CheckVerdict verdict, const char* path, std::string* line) {
  std::string reason = ZnMessages.first() != nullptr ? ZnMessages.first()->text().c_str() : "";
  if (!reason.empty() && reason.back() == '.') reason.pop_back();
  if (!reason.empty()) {
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  }
  const char* word = verdict == CheckVerdict::kDamaged ? ": damaged (" : ": unreadable (";
  *line = FileLine(path, word + reason + ")");
  Progress::standardError().erase();
  ZnFlushMessages();
  return verdict;
}

}  // namespace

int CheckStatus(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::kOk:
      return 0;
    case CheckVerdict::kNeedsRepair:
      return 1;
    default:
      return 2;
  }
}

CheckVerdict CheckRecording(const char* path, std::string* line) {
  SourceFile source;
  source.leaveAccessTime();
  if (!source.open(SourceFile::Followed(path))) {
    return Failed(CheckVerdict::kUnreadable, path, line);
  }
  RecordingCount recording;
  if (!CountRecording(source, path, Progress::standardError(), &recording)) {
    // A decompressor that fails before the file header is damage to the
    // compressed file; a file header that does not read is no recording.
    const bool recognised = recording.headerRead || recording.decompressorFailed;
    return Failed(recognised ? CheckVerdict::kDamaged : CheckVerdict::kUnreadable, path, line);
  }
  ZnClearMessages();
  if (recording.specified == recording.count.frames) {
    *line = FileLine(path, ": ok (" + std::to_string(recording.count.frames) + " frames)");
    return CheckVerdict::kOk;
  }
  *line = FileLine(path, ": needs repair (header " + std::to_string(recording.specified) +
                             ", frames " + std::to_string(recording.count.frames) + ")");
  return CheckVerdict::kNeedsRepair;
}
