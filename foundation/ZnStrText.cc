#include "foundation/ZnStrText.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/ZnArray.h"
#include "foundation/ZnDoubleLinkedList.h"
#include "foundation/ZnLocale.h"

namespace {

const char kDigits[] = "0123456789";

// The characters that end a "$NAME" reference.
const char kReferenceEnd[] = "/ \t\f\n";

// Values are expanded in turn, so a variable whose value names itself
// (HOME=$HOME/x), or two that name each other, would expand for ever. Each
// expansion nests one level deeper than the reference it replaced; past these
// bounds references are left as written.
constexpr int kMaxExpansionDepth = 32;
constexpr size_t kMaxExpansionGrowth = size_t{1} << 20;

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares two runs of digits by value, whatever their length: leading zeros
// are skipped, then the longer run is the larger, then the digits decide.
int CompareDigitRuns(const char* a, size_t na, const char* b, size_t nb) {
  while (na > 0 && *a == '0') ++a, --na;
  while (nb > 0 && *b == '0') ++b, --nb;
  if (na != nb) return na < nb ? -1 : 1;
  const int c = std::strncmp(a, b, na);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// The common prefix or suffix walk. No common part is a state of its own
// rather than a text, so that no member can be mistaken for it.
void CommonAffix(ZnStr& result, const std::set<ZnStr>& set, bool suffix) {
  result = "";
  if (set.size() < 2) return;
  bool noMatch = false;
  for (const ZnStr& member : set) {
    if (noMatch) break;
    if (result.length() == 0) {
      result = member;
      continue;
    }
    const int n = std::min(result.length(), member.length());
    const char* r = result.c_str() + (suffix ? result.length() - n : 0);
    const char* m = member.c_str() + (suffix ? member.length() - n : 0);
    int count = 0;
    if (suffix) {
      while (count < n && r[n - 1 - count] == m[n - 1 - count]) ++count;
    } else {
      while (count < n && r[count] == m[count]) ++count;
    }
    if (count == 0) {
      noMatch = true;
    } else {
      result = suffix ? result.right(count) : result.left(count);
    }
  }
  if (noMatch) result = "";
}

}  // namespace

ZnStr& ZnStr::dedent() {
  ZnDArray<ZnStr> lines;
  lines.resize(isNull() ? 0 : countChar('\n') + 1);
  for (ZnStr& line : lines) line = popLine();

  for (;;) {
    int m = INT_MAX;
    char ic = '\0';  // the indentation character, once one is seen
    for (const ZnStr& line : lines) {
      if (line.length() == 0) continue;
      const char* t = line.c_str();
      int count = 0;
      while (count < line.length() && IsSpace(t[count]) && (ic == '\0' || t[count] == ic)) {
        ic = t[count];
        ++count;
      }
      m = std::min(m, count);
    }
    if (m == 0 || m == INT_MAX) break;
    for (ZnStr& line : lines) {
      if (line.length() > 0) line = line.from(m);
    }
  }

  std::string joined;
  for (const ZnStr& line : lines) {
    if (!joined.empty()) joined += '\n';
    joined.append(line.c_str(), line.length());
  }
  return assign(joined.c_str(), static_cast<int>(joined.size()));
}

ZnStr& ZnStr::expandEnvVars() {
  if (!findChar('$')) return replaceAll("\x7f", "$");

  // The text still to scan, reversed, with the nesting depth of each
  // character: a value put in front of it is pushed at the back, so each
  // expansion costs only the value's length.
  std::string pending(c_str(), length());
  std::reverse(pending.begin(), pending.end());
  std::vector<unsigned char> depth(pending.size(), 0);
  std::string out;
  out.reserve(pending.size());
  const size_t limit = pending.size() + kMaxExpansionGrowth;

  while (!pending.empty()) {
    const char c = pending.back();
    const int d = depth.back();
    pending.pop_back();
    depth.pop_back();
    if (c != '$') {
      // 0x7F, from the text or from a value, reads as '$' and is never a reference.
      out += c == '\x7f' ? '$' : c;
      continue;
    }
    size_t n = 0;
    // A NUL ends the name as well (strchr finds the terminator).
    while (n < pending.size() && !std::strchr(kReferenceEnd, pending[pending.size() - 1 - n])) ++n;
    const std::string name(pending.rbegin(), pending.rbegin() + static_cast<std::ptrdiff_t>(n));
    // The environment lookup is all the expansion needs; the value is copied
    // before the environment can change.
    const char* value = d < kMaxExpansionDepth ? std::getenv(name.c_str()) : nullptr;
    if (value) {
      const std::string text(value);
      if (out.size() + pending.size() - n + text.size() <= limit) {
        pending.resize(pending.size() - n);
        depth.resize(pending.size());
        pending.append(text.rbegin(), text.rend());
        depth.insert(depth.end(), text.size(), static_cast<unsigned char>(d + 1));
        continue;
      }
    }
    out += '$';
  }
  return assign(out.c_str(), static_cast<int>(out.size()));
}

ZnStr ZnStr::expandedEnvVars() const {
  ZnStr copy(*this);
  copy.expandEnvVars();
  return copy;
}

bool ZnStr::abbreviateEnvVar(const ZnStr& name) {
  const char* found = std::getenv(name.c_str());
  if (!found) return false;
  const std::string value(found);
  // An empty value occurs at every position; there is nothing to abbreviate.
  const bool abbreviated = !value.empty() && find(value.c_str());
  if (abbreviated) {
    const ZnStr reference = "$" + name + "/";
    replaceAll(value.c_str(), reference.c_str());
    replaceAll("//", "/");
  }
  return abbreviated;
}

ZnStr ZnStr::abbreviatedEnvVar(const ZnStr& name, bool* replaced) const {
  ZnStr copy(*this);
  const bool changed = copy.abbreviateEnvVar(name);
  if (replaced) *replaced = changed;
  return copy;
}

void ZnStr::commonPrefix(const std::set<ZnStr>& set) { CommonAffix(*this, set, false); }

void ZnStr::commonSuffix(const std::set<ZnStr>& set) { CommonAffix(*this, set, true); }

void ZnStr::commonSuffixOfList(const ZnDoubleLinkedList& list) {
  std::set<ZnStr> distinct;
  for (ZnDLListReadCursor cursor(list); cursor.node(); cursor.next()) {
    const ZnStr* s = static_cast<const ZnStr*>(cursor.data());
    if (s) distinct.insert(*s);
  }
  commonSuffix(distinct);
}

void ZnStr::splitTrailingNumber(int* number, const ZnStr& src) {
  const char* t = src.c_str();
  int k = 0;
  while (k < src.length() && IsDigit(t[src.length() - 1 - k])) ++k;
  if (k == 0) {
    *this = src;
    *number = 1;
    return;
  }
  const ZnStr digits = src.right(k);
  *this = src.dropRight(k);
  long value;
  // strtol saturates a run too long for a long; either way the int saturates.
  if (!digits.toLong(&value) || value > INT_MAX) value = INT_MAX;
  *number = static_cast<int>(value);
}

ZnStr ZnStr::nextNumberedName() const {
  const char* t = c_str();
  int k = 0;
  while (k < length() && IsDigit(t[length() - 1 - k])) ++k;
  if (k == 0) return *this + "2";
  // Stepped as text, so that a number too large for any integer type still
  // steps by one.
  std::string digits(t + length() - k, k);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  int i = static_cast<int>(digits.size()) - 1;
  while (i >= 0 && digits[i] == '9') digits[i--] = '0';
  if (i >= 0) {
    ++digits[i];
  } else {
    digits.insert(digits.begin(), '1');
  }
  return dropRight(k) + digits.c_str();
}

int ZnStr::collate(const char* s) const {
  ZnInitLocale();
  return std::strcoll(c_str(), s ? s : "");
}

int ZnNaturalCompare(const ZnStr& a, const ZnStr& b) {
  if (a == b) return 0;
  const char* pa = a.c_str();
  const char* pb = b.c_str();
  for (;;) {
    const size_t ia = std::strcspn(pa, kDigits);
    const size_t ib = std::strcspn(pb, kDigits);
    if (pa[ia] == '\0' || pb[ib] == '\0' || ia != ib) return std::strcmp(pa, pb);
    if (const int c = std::strncmp(pa, pb, ia)) return c;
    pa += ia;
    pb += ib;
    const size_t na = std::strspn(pa, kDigits);
    const size_t nb = std::strspn(pb, kDigits);
    if (const int c = CompareDigitRuns(pa, na, pb, nb)) return c;
    pa += na;
    pb += nb;
    if (*pa == '\0' || *pb == '\0') return *pa == *pb ? 0 : *pa == '\0' ? -1 : 1;
  }
}

void ZnCommonAffixes(ZnStr& prefix, ZnStr& suffix, const std::set<ZnStr>& set) {
  prefix.commonPrefix(set);
  suffix.commonSuffix(set);
  const int p = prefix.length();
  const int s = suffix.length();
  int overlap = 0;
  for (const ZnStr& member : set) {
    const int n = member.length();
    // A member shorter than either part (an empty one, passed over by the
    // walks) cannot hold them; leaving it out keeps the cut within both.
    if (n < p || n < s || n > p + s) continue;
    if (member.comparePrefix(prefix.c_str()) != 0) continue;
    if (member.right(s) == suffix) overlap = std::max(overlap, p + s - n);
  }
  prefix = prefix.dropRight(overlap);
  suffix = suffix.from(overlap);
}
