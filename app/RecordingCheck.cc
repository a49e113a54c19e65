#include "app/RecordingCheck.h"

#include <cctype>

#include "app/Progress.h"
#include "app/RecordingCount.h"
#include "app/SourceFile.h"
#include "foundation/ZnMessage.h"

namespace {

CheckVerdict Damaged(const char* path, std::string* line) {
  std::string reason = ZnMessages.first() != nullptr ? ZnMessages.first()->text().c_str() : "";
  if (!reason.empty() && reason.back() == '.') reason.pop_back();
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  *line = std::string(path) + ": damaged (" + reason + ")";
  Progress::standardError().erase();
  ZnFlushMessages();
  return CheckVerdict::kDamaged;
}

}  // namespace

CheckVerdict CheckRecording(const char* path, std::string* line) {
  SourceFile source;
  source.leaveAccessTime();
  if (!source.open(SourceFile::Followed(path))) return Damaged(path, line);
  RecordingCount recording;
  if (!CountRecording(source, path, Progress::standardError(), &recording)) {
    return Damaged(path, line);
  }
  ZnClearMessages();
  if (recording.specified == recording.count.frames) {
    *line = std::string(path) + ": ok (" + std::to_string(recording.count.frames) + " frames)";
    return CheckVerdict::kOk;
  }
  *line = std::string(path) + ": needs repair (header " + std::to_string(recording.specified) +
          ", frames " + std::to_string(recording.count.frames) + ")";
  return CheckVerdict::kNeedsRepair;
}
