// Runs byte scripts of string operations on a few ZnStr values that share
// buffers, and checks every value after every step against a plain model:
// null or a std::string.
//
// Positions and counts are clamped to the text, so the model follows the
// clamping too; arguments are mostly near the text's ends and sometimes at
// the ends of the int range. Texts passed in come from the script or from the
// values' own buffers, which the operations must survive changing under them.
// Lengths stay below kMaxLength so a run stays short.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/ZnStr.h"
#include "fuzz/FuzzCheck.h"

namespace {

constexpr size_t kMaxInput = 8 * 1024;
constexpr size_t kMaxLength = 512;
constexpr int kSlots = 4;

struct Model {
  bool null = true;
  std::string text;
};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

class Script {
 public:
  Script(const uint8_t* data, size_t size) : in_(data, size) {}

  bool more() { return in_.remaining_bytes() > 0; }
  void step();
  void checkAll() const;

 private:
  int slot() { return in_.ConsumeIntegralInRange<int>(0, kSlots - 1); }
  // A position or count: mostly around 0..length, at times an extreme.
  int number(int length) {
    switch (in_.ConsumeIntegralInRange<int>(0, 15)) {
      case 0:
        return INT_MIN;
      case 1:
        return INT_MAX;
      case 2:
        return -1 - in_.ConsumeIntegralInRange<int>(0, 3);
      default:
        return in_.ConsumeIntegralInRange<int>(0, length + 3);
    }
  }
  // A count that may grow a text: never extreme, never past kMaxLength.
  int growth(int length) {
    return in_.ConsumeIntegralInRange<int>(-2, std::min<int>(length + 40, kMaxLength));
  }
  char character() {
    char c = in_.ConsumeIntegral<char>();
    return c == '\0' ? 'x' : c;
  }
  std::string text() {
    std::string s = in_.ConsumeRandomLengthString(24);
    for (char& c : s) {
      if (c == '\0') c = ' ';
    }
    return s;
  }
  // A tail of value b's own text, as a pointer into its buffer, and its model.
  const char* ownTail(int b, std::string* model) {
    const int k = in_.ConsumeIntegralInRange<int>(0, s_[b].length());
    *model = m_[b].text.substr(k);
    return s_[b].c_str() + k;
  }
  static bool fits(const std::string& s) { return s.size() <= kMaxLength; }

  static std::string padCut(std::string s, int n) {
    n = std::max(n, 0);
    s.resize(n, ' ');
    return s;
  }
  static int clamp(int v, int low, int high) { return std::min(std::max(v, low), high); }
  static std::string replaceAll(const std::string& s, const std::string& pattern,
                                const std::string& with) {
    if (pattern.empty()) return s;
    std::string out;
    size_t from = 0;
    for (size_t hit; (hit = s.find(pattern, from)) != std::string::npos;
         from = hit + pattern.size()) {
      out += s.substr(from, hit - from) + with;
    }
    return out + s.substr(from);
  }

  // Set HDRMEND_FUZZ_TRACE to follow a failing script step by step.
  const bool trace_ = std::getenv("HDRMEND_FUZZ_TRACE") != nullptr;
  FuzzedDataProvider in_;
  ZnStr s_[kSlots];
  Model m_[kSlots];
};

void Script::checkAll() const {
  for (int i = 0; i < kSlots; ++i) {
    const ZnStr& s = s_[i];
    const Model& m = m_[i];
    if (trace_) {
      std::fprintf(stderr, "  %d: %s \"%s\" model %s \"%s\"\n", i, s.isNull() ? "null" : "text",
                   s.c_str(), m.null ? "null" : "text", m.text.c_str());
    }
    FUZZ_CHECK(s.isNull() == m.null);
    FUZZ_CHECK(static_cast<size_t>(s.length()) == m.text.size());
    FUZZ_CHECK(std::memcmp(s.c_str(), m.text.data(), m.text.size()) == 0);
    FUZZ_CHECK(s.c_str()[s.length()] == '\0');
    FUZZ_CHECK(s.isNull() ? s.refCount() == 0 : s.refCount() >= 1);
  }
}

void Script::step() {
  const int a = slot();
  const int b = slot();
  ZnStr& s = s_[a];
  Model& m = m_[a];
  const int len = s.length();
  const std::string& t = m.text;
  const int op = in_.ConsumeIntegralInRange<int>(0, 33);
  if (trace_) std::fprintf(stderr, "op %d on %d, %d\n", op, a, b);
  switch (op) {
    case 0: {
      const std::string x = text();
      s = x.c_str();
      m = {false, x};
      break;
    }
    case 1:
      if (in_.ConsumeBool()) {
        s = static_cast<const char*>(nullptr);
      } else {
        s.release();
      }
      m = {};
      break;
    case 2:
      s = s_[b];
      m = m_[b];
      break;
    case 3: {
      const int n = number(s_[b].length());
      const std::string& u = m_[b].text;
      s = s_[b].right(n);
      m = {false, n < 1 ? "" : u.substr(u.size() - std::min<size_t>(n, u.size()))};
      break;
    }
    case 4: {
      const int k = number(s_[b].length());
      const std::string& u = m_[b].text;
      s = s_[b].from(k);
      m = {false, k >= static_cast<int>(u.size()) ? "" : u.substr(std::max(k, 0))};
      break;
    }
    case 5: {
      const int n = growth(s_[b].length());
      s = s_[b].left(n);
      m = {false, padCut(m_[b].text, n)};
      break;
    }
    case 6: {
      const int pos = number(s_[b].length());
      const int n = growth(s_[b].length());
      const std::string& u = m_[b].text;
      const std::string tail = pos >= static_cast<int>(u.size()) ? "" : u.substr(std::max(pos, 0));
      s = s_[b].mid(pos, n);
      m = {false, n <= 0 ? "" : padCut(tail, n)};
      break;
    }
    case 7: {
      const int n = number(s_[b].length());
      const int keep = s_[b].length() - std::max(n, 0);
      s = s_[b].dropRight(n);
      m = {false, keep <= 0 ? "" : m_[b].text.substr(0, keep)};
      break;
    }
    case 8:
    case 9: {
      const int pos = number(len);
      const int n = number(len);
      const int p = clamp(pos, 0, len);
      const int count = std::min(n, len - p);
      Model result = m;
      if (count > 0) result.text.erase(p, count);
      if (in_.ConsumeBool()) {
        s_[b] = s.erased(pos, n);
        m_[b] = result;
      } else {
        s.remove(pos, n);
        m = result;
      }
      break;
    }
    case 10:
    case 11: {
      // Text from the script or from a value's own buffer, this one's too.
      std::string x;
      const char* source;
      if (in_.ConsumeBool()) {
        x = text();
        source = x.c_str();
      } else {
        source = ownTail(b, &x);
      }
      const int pos = number(len);
      if (!fits(t + x)) break;
      const bool counted = in_.ConsumeBool();
      const int n = counted ? in_.ConsumeIntegralInRange<int>(-1, x.size()) : x.size();
      if (counted) {
        s.insert(pos, source, n);
      } else {
        s.insert(pos, source);
      }
      m.null = false;
      if (n > 0) m.text.insert(clamp(pos, 0, len), x.substr(0, n));
      break;
    }
    case 12: {
      std::string x;
      const char* source = ownTail(b, &x);
      if (!fits(t + x)) break;
      s.append(source);
      m = {false, t + x};
      break;
    }
    case 13:
    case 14: {
      std::string pattern;
      const char* patternSource;
      if (in_.ConsumeBool()) {
        pattern = text();
        patternSource = pattern.c_str();
      } else {
        patternSource = ownTail(b, &pattern);
      }
      std::string with = text();
      const std::string all = replaceAll(t, pattern, with);
      if (!fits(all)) break;
      if (in_.ConsumeBool()) {
        s.replaceAll(patternSource, with.c_str());
        m.text = all;
      } else {
        s.replaceFirst(patternSource, with.c_str());
        const size_t hit = pattern.empty() ? std::string::npos : t.find(pattern);
        if (hit != std::string::npos) m.text.replace(hit, pattern.size(), with);
      }
      break;
    }
    case 15: {
      const int pos = number(len);
      const int n = number(len);
      std::string x;
      const char* source;
      if (in_.ConsumeBool()) {
        x = text();
        source = x.c_str();
      } else {
        source = ownTail(b, &x);
      }
      if (!fits(t + x)) break;
      const int p = clamp(pos, 0, len);
      const int count = clamp(n, 0, len - p);
      s.replaceAt(pos, n, source);
      std::string result = t;
      result.replace(p, count, x);
      m = {false, result};
      break;
    }
    case 16: {
      const bool keepLineBreaks = in_.ConsumeBool();
      size_t k = 0;
      while (k < t.size() && IsSpace(t[k]) && !(keepLineBreaks && (t[k] == '\r' || t[k] == '\n'))) {
        ++k;
      }
      s.trimLeft(keepLineBreaks);
      m.text.erase(0, k);
      break;
    }
    case 17: {
      size_t k = t.size();
      while (k > 0 && IsSpace(t[k - 1])) --k;
      s.trimRight();
      m.text.resize(k);
      break;
    }
    case 18: {
      // popLine into b; a == b leaves the popped line.
      Model line;
      Model rest = m;
      if (!m.null) {
        const size_t lf = t.find('\n');
        if (lf == std::string::npos) {
          line = m;
          rest = {};
        } else {
          line = {false, t.substr(0, lf)};
          rest = {false, t.substr(lf + 1)};
        }
      }
      ZnStr popped = s.popLine();
      m = rest;
      s_[b] = popped;
      m_[b] = line;
      break;
    }
    case 19:
    case 20: {
      const std::string delims = text();
      Model token;
      Model rest;
      if (!m.null) {
        const size_t start = t.find_first_not_of(delims);
        if (start != std::string::npos) {
          const size_t end = t.find_first_of(delims, start);
          token = {false, t.substr(start, end == std::string::npos ? end : end - start)};
          if (end != std::string::npos) rest = {false, t.substr(end + 1)};
        }
      }
      if (in_.ConsumeBool()) {
        ZnStr first = s.firstToken(delims.c_str());
        s_[b] = first;
        m_[b] = token;
        break;
      }
      ZnStr popped = s.popToken(delims.c_str());
      m = rest;
      s_[b] = popped;
      m_[b] = token;
      break;
    }
    case 21: {
      const int n = growth(len);
      s.setLength(n);
      if (std::max(n, 0) != len) m = {false, padCut(t, n)};
      break;
    }
    case 22: {
      const int i = number(len);
      const char c = character();
      s.setChar(i, c);
      if (i >= 0 && i < len) m.text[i] = c;
      break;
    }
    case 23:
    case 24: {
      const int n = growth(len);
      const char c = character();
      if (t.size() + std::max(n, 0) > kMaxLength) break;
      if (n <= 0) {
        (in_.ConsumeBool() ? s.padLeft(n, c) : s.padRight(n, c));
        break;
      }
      if (in_.ConsumeBool()) {
        s.padLeft(n, c);
        m = {false, std::string(n, c) + t};
      } else {
        s.padRight(n, c);
        m = {false, t + std::string(n, c)};
      }
      break;
    }
    case 25: {
      const bool upper = in_.ConsumeBool();
      (upper ? s.toUpper() : s.toLower());
      m.null = false;
      for (char& c : m.text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (upper && u >= 'a' && u <= 'z') c = static_cast<char>(u - 32);
        if (!upper && u >= 'A' && u <= 'Z') c = static_cast<char>(u + 32);
      }
      break;
    }
    case 26:
      s.removeWhitespace();
      m.text.erase(std::remove_if(m.text.begin(), m.text.end(), IsSpace), m.text.end());
      break;
    case 27: {
      const std::string x = text();
      s.removeFirst(x.c_str());
      const size_t hit = x.empty() ? std::string::npos : t.find(x);
      if (hit != std::string::npos) m.text.erase(hit, x.size());
      break;
    }
    case 28: {
      const int c = slot();
      const std::string sum = m_[b].text + m_[c].text;
      if (!fits(sum)) break;
      s = s_[b] + s_[c];
      m = {false, sum};
      break;
    }
    case 29: {
      // Assigning a tail of a buffer, possibly this value's own.
      std::string x;
      const char* source = ownTail(b, &x);
      if (in_.ConsumeBool()) {
        s.assign(source);
        m = {false, x};
      } else {
        const int n = in_.ConsumeIntegralInRange<int>(-2, x.size());
        s.assign(source, n);
        m = {false, x.substr(0, std::max(n, 0))};
      }
      break;
    }
    case 30:
      s.makeUnique();
      m.null = false;
      FUZZ_CHECK(s.refCount() == 1);
      break;
    case 31: {
      // Searches and comparisons read the text without changing it.
      const std::string x = text();
      const char c = character();
      int pos = -5;
      const size_t hit = t.find(x);
      FUZZ_CHECK(s.find(x.c_str(), &pos) == (hit != std::string::npos));
      if (hit != std::string::npos) FUZZ_CHECK(pos == static_cast<int>(hit));
      FUZZ_CHECK(s.findChar(c, &pos) == (t.find(c) != std::string::npos));
      FUZZ_CHECK(s.findLastChar(c, &pos) == (t.rfind(c) != std::string::npos));
      if (t.rfind(c) != std::string::npos) FUZZ_CHECK(pos == static_cast<int>(t.rfind(c)));
      FUZZ_CHECK(s.countChar(c) == static_cast<int>(std::count(t.begin(), t.end(), c)));
      const int sign = s.compare(x.c_str());
      const int expected = t.compare(x);
      FUZZ_CHECK((sign < 0) == (expected < 0) && (sign > 0) == (expected > 0));
      FUZZ_CHECK(s.endsWith(s_[b]) ==
                 (t.size() >= m_[b].text.size() &&
                  t.compare(t.size() - m_[b].text.size(), std::string::npos, m_[b].text) == 0));
      FUZZ_CHECK((s == s_[b]) == (m.null == m_[b].null && (m.null || t == m_[b].text)));
      break;
    }
    case 32: {
      const int n = number(len);
      const char c = character();
      int pos = -5;
      int seen = 0;
      int expected = -1;
      for (int i = 0; i < len && expected < 0; ++i) {
        if (t[i] == c && ++seen == n) expected = i;
      }
      FUZZ_CHECK(s.findNthChar(c, n, &pos) == (expected >= 0));
      if (expected >= 0) FUZZ_CHECK(pos == expected);
      break;
    }
    case 33: {
      char* copy = s.dup();
      FUZZ_CHECK(std::strcmp(copy, t.c_str()) == 0);
      delete[] copy;
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  Script script(data, size);
  while (script.more()) {
    script.step();
    script.checkAll();
  }
  return 0;
}
