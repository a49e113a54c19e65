#include "rawdata/ZrRDFramePasses.h"

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFormat.h"


namespace {

// Collects the verbatim runs of a count as its frames go by.
class VerbatimRuns {
 public:
  VerbatimRuns(ZrRDFileReader& reader, std::vector<ZrRDVerbatimRun>* runs)
      : reader_(reader), runs_(runs), binary_(reader.isBinary()) {
    end_ = lineEnd(reader.position());
  }

  // The frame numbered `index` (from 0) ended at the reader's position.
  void frameRead(int64_t index) {
    const int64_t last = reader_.position();
    // A text frame is copied as its bytes when it starts right after the
    // line feed before it, ends with a line feed of its own and its bytes are
    // the copy's; a binary frame always is.
    const int64_t end = lineEnd(last);
    bool verbatim = end_ >= 0 && end >= 0;
    if (verbatim && !binary_) {
      const char* bytes = reader_.bufferedBytes(end_, end);
      verbatim = bytes != nullptr &&
                 ZrRDIsEncodedTextFrame(bytes + 1, bytes + (end - end_), reader_.cameraCount());
    }
    const int64_t start = binary_ ? end_ : end_ + 1;
    const int64_t recordEnd = binary_ ? end : end + 1;
    end_ = end;
    if (!verbatim) return;
    if (!runs_->empty() && runs_->back().end == start &&
        runs_->back().firstFrame + runs_->back().frames == index) {
      runs_->back().end = recordEnd;
      ++runs_->back().frames;
    } else if (static_cast<int>(runs_->size()) < ZrRDMaxVerbatimRuns) {
      runs_->push_back({start, recordEnd, index, 1});
    }
  }

 private:
  // Where a frame whose last field ends at `at` ends: a binary frame there, a
  // text frame at the line feed after the padding of its last glob line (a
  // copy writes that padding, and the frame's own check finds anything else
  // before the feed); -1 when the buffered bytes do not show it.
  int64_t lineEnd(int64_t at) const {
    if (binary_ || at < 0) return at;
    constexpr int kLongestPadding = 8;
    const char* bytes = reader_.bufferedBytes(at, at + kLongestPadding + 1);
    int n = 0;
    if (bytes == nullptr) {
      // Near the end of the data: one byte at a time.
      for (; n <= kLongestPadding; ++n) {
        const char* byte = reader_.bufferedBytes(at + n, at + n + 1);
        if (byte == nullptr) return -1;
        if (*byte != ' ' && *byte != '\r') return *byte == '\n' ? at + n : -1;
      }
      return -1;
    }
    while (n < kLongestPadding && (bytes[n] == ' ' || bytes[n] == '\r')) ++n;
    return bytes[n] == '\n' ? at + n : -1;
  }

  ZrRDFileReader& reader_;
  std::vector<ZrRDVerbatimRun>* runs_;
  bool binary_;
  int64_t end_;
};

}  // namespace

ZrRDCountEnd ZrRDCountFrames(ZrRDFileReader& reader, int64_t* counted, int64_t limit,
                             const std::function<void(int64_t)>& progress) {
  ZrRDCountOptions options;
  options.limit = limit;
  options.progress = progress;
  ZrRDCount count;
  const ZrRDCountEnd how = ZrRDCountFrames(reader, options, &count);
  *counted = count.frames;
  return how;
}

ZrRDCountEnd ZrRDCountFrames(ZrRDFileReader& reader, const ZrRDCountOptions& options,
                             ZrRDCount* count) {
  count->frames = 0;
  count->end = reader.position();
  count->verbatim.clear();
  count->first.reset();
  count->last.reset();
  VerbatimRuns runs(reader, &count->verbatim);
  std::optional<int32_t> previous = options.previous;
  const ZnMessage* mark = nullptr;
  for (;;) {
    if (options.stopAt >= 0 && count->end >= options.stopAt) {
      return count->how = ZrRDCountEnd::kStopped;
    }
    mark = ZnMessages.first();
    const int number = reader.nextFrameNumber();
    if (number == 0 || reader.headerCutOff()) break;
    if (options.countedBefore + count->frames >= options.limit) {
      ZnReportError("The recording holds more than %lld frames, more than its header can state.",
                    static_cast<long long>(options.limit));
      return count->how = ZrRDCountEnd::kTooManyFrames;
    }
    // The frames only need to be readable and of the recorder's form;
    // nothing of them is kept.
    std::string why;
    if (reader.headerInForm(&why) && (!previous || ZrRDFrameNumberInForm(*previous, number, &why))) {
      if (!reader.skipFrame(&why)) return count->how = ZrRDCountEnd::kFrameDamaged;
    }
    if (!why.empty()) {
      const long long record = static_cast<long long>(options.countedBefore + count->frames) + 1;
      if (reader.recordStart() >= 0) {
        ZnReportError("Frame record %lld, at byte %lld, is not of the form a recorder writes: %s.",
                      record, static_cast<long long>(reader.recordStart()), why.c_str());
      } else {
        ZnReportError("Frame record %lld is not of the form a recorder writes: %s.", record,
                      why.c_str());
      }
      return count->how = ZrRDCountEnd::kNotInForm;
    }
    if (options.verbatim) runs.frameRead(count->frames);
    ++count->frames;
    count->end = reader.position();
    previous = number;
    if (!count->first) count->first = number;
    count->last = number;
    if (options.progress) options.progress(options.countedBefore + count->frames);
  }
  // Either a header that the end cut off, one that could not be read (its
  // messages are pending) or a frame numbered 0.
  const bool unreadable = ZnMessages.errorPending() || reader.headerCutOff();
  if (reader.atEndOfData()) {
    ZnMessages.removeNewerThan(mark);
    return count->how = ZrRDCountEnd::kClean;
  }
  const long long record = static_cast<long long>(options.countedBefore + count->frames) + 1;
  if (unreadable) {
    ZnReportError("The header of frame record %lld cannot be read, and more data follows it.",
                  record);
  } else {
    ZnReportError("Frame record %lld is numbered 0, and more data follows it.", record);
  }
  return count->how = ZrRDCountEnd::kDamageFollows;
}

ZrRDCountEnd ZrRDCountFramesSplit(ZrRDFileReader& reader, ZrRDFileReader& second,
                                  const ZrRDBytesAt& bytesAt, int64_t length,
                                  const ZrRDCountOptions& options, ZrRDCount* count) {
  const int64_t start = reader.position();
  ZrRDCountOptions first = options;
  first.stopAt = -1;
  if (start < 0 || length - start < options.splitAbove || !second.seekable()) {
    return ZrRDCountFrames(reader, first, count);
  }
  // Where the helper starts: where frames read whole again after the middle,
  // less the white space before them (which ends the frame before).
  int64_t split = ZrRDFindFrames(second, bytesAt, start + (length - start) / 2, INT64_MIN);
  if (split < 0) return ZrRDCountFrames(reader, first, count);
  char before = 0;
  bool lineFeed = false;
  while (!reader.isBinary() && split > start && bytesAt(split - 1, 1, &before) == 1 &&
         (before == ' ' || (before >= '\t' && before <= '\r'))) {
    lineFeed = lineFeed || before == '\n';
    --split;
  }
  // The helper takes its first frame number to start a line; one that does
  // not is left to the reader.
  if (!reader.isBinary() && !lineFeed) return ZrRDCountFrames(reader, first, count);
  ZrRDCount helped;
  ZrRDCountEnd helpedHow = ZrRDCountEnd::kFrameDamaged;
  ZrRDCountOptions rest = options;
  rest.progress = nullptr;
  rest.stopAt = -1;
  rest.previous.reset();  // joined below
  // Each thread has its own message list. The helper's messages come back
  // here: a clean count can still warn, and the warning is the caller's as
  // if one reader had read it all. Where the count is done again here, they
  // are dropped and come again from the reading that takes their place.
  ZnMessageList helperMessages;
  std::thread helper([&] {
    if (second.resumeAt(split)) helpedHow = ZrRDCountFrames(second, rest, &helped);
    helperMessages = ZnMessages;
    ZnClearMessages();
  });
  first.stopAt = split;
  ZrRDCountEnd how = ZrRDCountFrames(reader, first, count);
  helper.join();
  // The helper's first frame follows the reader's last as any frame follows
  // the one before it.
  const std::optional<int32_t> last = count->last ? count->last : options.previous;
  const bool joined = !helped.first || !last || ZrRDFrameNumberInForm(*last, *helped.first);
  if (how != ZrRDCountEnd::kStopped || count->end != split || helpedHow != ZrRDCountEnd::kClean ||
      !joined || options.countedBefore + count->frames + helped.frames > options.limit) {
    if (how != ZrRDCountEnd::kStopped) return how;
    // Not where the helper started, or not simply to the end from there: on
    // alone, with the messages that come of it.
    ZrRDCount alone;
    ZrRDCountOptions on = options;
    on.countedBefore = options.countedBefore + count->frames;
    on.previous = last;
    how = ZrRDCountFrames(reader, on, &alone);
    if (!count->first) count->first = alone.first;
    if (alone.last) count->last = alone.last;
    for (ZrRDVerbatimRun run : alone.verbatim) {
      run.firstFrame += count->frames;
      count->verbatim.push_back(run);
    }
    count->frames += alone.frames;
    count->end = alone.end;
    return count->how = how;
  }
  for (ZrRDVerbatimRun run : helped.verbatim) {
    run.firstFrame += count->frames;
    if (!count->verbatim.empty() && count->verbatim.back().end == run.start &&
        count->verbatim.back().firstFrame + count->verbatim.back().frames == run.firstFrame) {
      count->verbatim.back().end = run.end;
      count->verbatim.back().frames += run.frames;
    } else {
      count->verbatim.push_back(run);
    }
  }
  count->frames += helped.frames;
  count->end = helped.end;
  if (!count->first) count->first = helped.first;
  if (helped.last) count->last = helped.last;
  // What the helper warned of, after what the reader did and in its order;
  // the warning given once is not given twice.
  if (!reader.warnedOnce()) {
    std::vector<const ZnMessage*> newestFirst;
    for (const ZnMessage* m = helperMessages.first(); m != nullptr; m = m->next()) {
      newestFirst.push_back(m);
    }
    for (auto m = newestFirst.rbegin(); m != newestFirst.rend(); ++m) {
      ZnMessages.add((*m)->kind(), (*m)->text());
    }
    if (second.warnedOnce()) reader.noteWarnedOnce();
  }
  // The helper read the data to its end; so does the reader, for its caller
  // (a decompressor's verdict, a copy after it).
  reader.resumeAt(length);
  return count->how = ZrRDCountEnd::kClean;
}

namespace {

// What follows the frames copied was an empty tail when they were counted; a
// frame there now means the recording is not what was counted.
bool EndsAsCounted(ZrRDFileReader& reader) {
  const ZnMessage* mark = ZnMessages.first();
  const bool ended =
      (reader.nextFrameNumber() == 0 || reader.headerCutOff()) && reader.atEndOfData();
  ZnMessages.removeNewerThan(mark);
  if (ended) return true;
  ZnReportError("The recording changed after its frames were counted.");
  return false;
}

}  // namespace

bool ZrRDCopyFrames(ZrRDFileReader& reader, ZrRDFileWriter& writer, int64_t frames,
                    const std::function<void(int64_t)>& progress) {
  for (int64_t i = 0; i < frames; ++i) {
    if (!writer.copyFrame(reader)) return false;
    if (progress) progress(i + 1);
  }
  return EndsAsCounted(reader);
}

bool ZrRDCopyCountedFrames(ZrRDFileReader& reader, ZrRDFileWriter& writer, const ZrRDCount& count,
                           const std::function<bool(int64_t start, int64_t length)>& asItLies,
                           const std::function<void(int64_t)>& progress) {
  int64_t copied = 0;
  auto copyFrames = [&](int64_t upTo) {
    for (; copied < upTo; ++copied) {
      if (!writer.copyFrame(reader)) return false;
      if (progress) progress(copied + 1);
    }
    return true;
  };
  for (const ZrRDVerbatimRun& run : count.verbatim) {
    if (!copyFrames(run.firstFrame)) return false;
    // What the writer holds goes first; the run follows it.
    if (!writer.flush() || !asItLies(run.start, run.end - run.start)) return false;
    copied += run.frames;
    if (progress) progress(copied);
    if (!reader.resumeAt(run.end)) {
      ZnReportError("The recording changed after its frames were counted.");
      return false;
    }
  }
  return copyFrames(count.frames) && EndsAsCounted(reader);
}
