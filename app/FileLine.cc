#include "app/FileLine.h"

namespace {

// Appends `text` to *out with C escapes; true when anything needed one.
bool AppendEscaped(const std::string& text, std::string* out) {
  bool escaped = false;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const char* named = c == '\\'   ? "\\\\"
                        : c == '\n' ? "\\n"
                        : c == '\r' ? "\\r"
                        : c == '\t' ? "\\t"
                                    : nullptr;
    if (named != nullptr) {
      *out += named;
    } else if (byte < 0x20 || byte == 0x7f) {
      *out += '\\';
      *out += static_cast<char>('0' + (byte >> 6));
      *out += static_cast<char>('0' + ((byte >> 3) & 7));
      *out += static_cast<char>('0' + (byte & 7));
    } else {
      *out += c;
      continue;
    }
    escaped = true;
  }
  return escaped;
}

}  // namespace

std::string FileLine(const std::string& name, const std::string& rest) {
  std::string line;
  const bool escapedName = AppendEscaped(name, &line);
  const bool escapedRest = AppendEscaped(rest, &line);
  return escapedName || escapedRest ? "\\" + line : line;
}
