#include "foundation/ZnWordWrap.h"

#include <string>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

ZnStr ZnWordWrap(const ZnStr& text, int width, int tabWidth) {
  if (tabWidth < 1) tabWidth = 1;
  const char* s = text.c_str();
  const int n = text.length();
  // Collected in a growing buffer: the string's own storage grows exactly,
  // so inserting line by line would copy the text once per line.
  std::string result;
  int i = 0;
  while (i < n) {
    int col = 0;
    int b = i;  // the last blank seen: where the line breaks
    for (int j = i;;) {
      char c = s[j];
      if (IsBlank(c)) b = j;
      col = c == '\t' ? (col / tabWidth + 1) * tabWidth : col + 1;
      // A blank at the very start of the line is no break position, so an
      // empty input line survives and a leading newline is kept.
      if ((c == '\n' || col > width) && b != i) break;
      if (++j >= n) {
        result.append(s + i, n - i);
        return ZnStr(result.data(), static_cast<int>(result.size()));
      }
    }
    result.append(s + i, b - i);
    result += '\n';
    i = b;
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < n && s[i] == '\n') ++i;
  }
  return ZnStr(result.data(), static_cast<int>(result.size()));
}
