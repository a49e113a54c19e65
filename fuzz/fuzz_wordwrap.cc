// Wraps arbitrary text at an arbitrary width and tab width, and lays it out as
// a message block.
//
// Wrapping may only turn blanks into line breaks or drop them: every other
// character comes out in order. A line wider than the width is a single word,
// possibly after one leading blank.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"
#include "foundation/ZnWordWrap.h"
#include "fuzz/FuzzCheck.h"

namespace {

constexpr size_t kMaxInput = 4 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

std::string WithoutBlanks(const std::string& s) {
  std::string kept;
  for (char c : s) {
    if (!IsBlank(c)) kept += c;
  }
  return kept;
}

void CheckLine(const std::string& line, int width, int tabWidth) {
  int col = 0;
  for (char c : line) col = c == '\t' ? (col / tabWidth + 1) * tabWidth : col + 1;
  if (col <= width) return;
  for (size_t i = 1; i < line.size(); ++i) FUZZ_CHECK(!IsBlank(line[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  FuzzedDataProvider in(data, size);
  const int width = in.ConsumeIntegralInRange<int>(-2, 100);
  const int tabWidth = in.ConsumeIntegralInRange<int>(-1, 12);
  // A NUL would end the text early; ZnStr holds C strings.
  std::string text = in.ConsumeRemainingBytesAsString();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }

  const ZnStr wrapped = ZnWordWrap(ZnStr(text.c_str()), width, tabWidth);
  FUZZ_CHECK(!wrapped.isNull());
  const std::string out(wrapped.c_str(), wrapped.length());
  FUZZ_CHECK(WithoutBlanks(out) == WithoutBlanks(text));
  size_t start = 0;
  for (;;) {
    const size_t end = out.find('\n', start);
    CheckLine(out.substr(start, end - start), width, tabWidth < 1 ? 1 : tabWidth);
    if (end == std::string::npos) break;
    start = end + 1;
  }

  // The message printer indents every wrapped line under the first.
  ZnMessages.addError(ZnStr(text.c_str()));
  ZnMessages.addWarning(wrapped);
  const ZnStr block = ZnMessages.first()->toString();
  // The newest message leads the block, the older one follows it.
  FUZZ_CHECK(WithoutBlanks(block.c_str()) == "WARNING:" + WithoutBlanks(text) + WithoutBlanks(text));
  ZnClearMessages();
  return 0;
}
