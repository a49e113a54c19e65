// ZnStr: the text string of the foundation library.
//
// A ZnStr is a value with shared, reference-counted storage and copy-on-write.
// It refers to a ZnStrBuffer and a start offset in it: the string is always the
// tail of its buffer's text, so copies, right(), from(), popLine(), popToken(),
// trimLeft() and removal from the front share the buffer instead of copying.
// The first change through one of the sharers gives that one a private buffer.
//
// The null string (no buffer) is distinct from the empty string; only
// construction, assignment, isNull(), == and !=, popLine(), firstToken(),
// popToken() and << give the null state a meaning of its own. Elsewhere a null
// string reads as empty, and an operation that adds text gives it a buffer.
//
// Positions and counts are clamped to the text: out-of-range arguments never
// read or write outside it. operator[] is the exception and is unchecked.
//
// Nothing here reports through the message list or throws of its own; an
// exhausted heap surfaces as std::bad_alloc. Sharing is not thread-safe: all
// strings that share a buffer must stay on one thread.
//
// A ZnStr holds only a pointer and an offset, so it may be relocated byte for
// byte (the dynamic arrays rely on that).
#ifndef HDRMEND_FOUNDATION_ZNSTR_H_
#define HDRMEND_FOUNDATION_ZNSTR_H_

#include <cstdint>
#include <iosfwd>
#include <set>

class ZnDoubleLinkedList;

// The shared text record behind ZnStr values; only ZnStr touches it. The
// capacity of `chars` is `size` rounded up to a multiple of 4 and is not
// stored; the array is reallocated exactly when that rounded value changes.
struct ZnStrBuffer {
  char* chars;       // the text and its terminator, at chars[size - 1]
  uint64_t size;     // characters held plus one
  int32_t refCount;  // ZnStr values referring to this buffer
};

class ZnStr {
 public:
  ZnStr() = default;
  // A null pointer gives the null string.
  ZnStr(const char* s);  // NOLINT: implicit on purpose, strings mix with literals
  // The first n characters of s; a NUL in s ends the copy early and the rest of
  // the n characters reads as NUL.
  ZnStr(const char* s, int n);
  ZnStr(const ZnStr& other);
  ~ZnStr();

  ZnStr& operator=(const ZnStr& other);
  ZnStr& operator=(const char* s) { return assign(s); }
  // A null pointer makes the string null. When s is the tail of this string's
  // own buffer (and n reaches its end) the string only moves its offset.
  ZnStr& assign(const char* s);
  ZnStr& assign(const char* s, int n);
  // Drops the buffer reference; the string becomes null.
  void release();
  // Gives this string a buffer of its own (a null string gets an empty one).
  void makeUnique();

  // Access.
  bool isNull() const { return rep == nullptr; }
  int length() const { return rep ? static_cast<int>(rep->size - 1 - offset) : 0; }
  const char* c_str() const { return rep ? rep->chars + offset : ""; }
  char operator[](int i) const { return c_str()[i]; }
  bool isValidIndex(int i) const { return i >= 0 && i < length(); }
  // Ignored when i is not a valid index.
  ZnStr& setChar(int i, char ch);
  // A new[] copy of the text; the caller releases it with delete[].
  char* dup() const;

  // Inspection aids for tests and diagnostics: the buffer's reference count
  // (0 for null), this string's offset into it, and the allocated capacity.
  int refCount() const { return rep ? rep->refCount : 0; }
  int64_t bufferOffset() const { return offset; }
  uint64_t capacity() const;

  // Comparison. strcmp order; compareNoCase() gives -1, 0 or 1.
  int compare(const char* s) const;
  int compareN(const char* s, int n) const;
  // 0 exactly when the string begins with s.
  int comparePrefix(const char* s) const;
  int compareNoCase(const char* s, int n) const;
  int compareNoCase(const char* s) const;
  int comparePrefixNoCase(const char* s) const;
  bool endsWith(const ZnStr& t) const;

  // Search. The position is optional and written only on success.
  bool find(const char* s, int* pos = nullptr) const;
  bool findChar(char ch, int* pos = nullptr) const;
  bool findLastChar(char ch, int* pos = nullptr) const;
  // n counts from 1.
  bool findNthChar(char ch, int n, int* pos = nullptr) const;
  int countChar(char ch) const;
  bool findDigit(int* pos = nullptr) const;
  bool startsWithSlash() const;

  // Substrings. right() and from() share the buffer; the others copy when they
  // change the length. left(), mid() pad with spaces past the end.
  ZnStr right(int n) const;
  ZnStr from(int k) const;
  ZnStr left(int n) const;
  ZnStr dropRight(int n) const;
  ZnStr mid(int pos, int n) const;
  ZnStr erased(int pos, int n) const;
  // The first run of characters not in delims; null when there is none or the
  // string is null.
  ZnStr firstToken(const char* delims) const;

  // Modification in place; each returns the string. Text passed in may point
  // into this string's own buffer.
  // Removal at the front only moves the offset while the buffer is shared or
  // the hidden prefix stays under half of the buffer's text; otherwise the
  // buffer is rewritten without any hidden prefix.
  ZnStr& remove(int pos, int n);
  ZnStr& removeAt(int pos) { return remove(pos, 1); }
  ZnStr& removeFirst(const char* s);
  ZnStr& insert(int pos, const char* s, int n);
  ZnStr& insert(int pos, const char* s);
  ZnStr& append(const char* s) { return insert(length(), s); }
  ZnStr& operator+=(const char* s) { return append(s); }
  ZnStr& operator+=(const ZnStr& s) { return append(s.c_str()); }
  // printf-style; output past 1023 characters is cut off.
  ZnStr& format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  ZnStr& appendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Appends s cut or space-padded to exactly width characters.
  ZnStr& appendPadded(const char* s, int width);
  ZnStr& padRight(int n, char ch = ' ');
  ZnStr& padLeft(int n, char ch = ' ');
  // Cuts, or pads with spaces, to n characters.
  ZnStr& setLength(int n);
  ZnStr& replaceAt(int pos, int n, const char* s);
  ZnStr& replaceFirst(const char* pattern, const char* s);
  // Replacement text is never searched again. An empty pattern changes nothing.
  ZnStr& replaceAll(const char* pattern, const char* s);
  ZnStr& toLower();
  ZnStr& toUpper();
  // With keepLineBreaks the trimming also stops at a CR or LF.
  ZnStr& trimLeft(bool keepLineBreaks = false);
  ZnStr& trimRight();
  ZnStr& removeWhitespace();
  // Removes and returns the first line (without its LF). Without a LF the whole
  // string is returned and this string becomes null; a null string gives null.
  ZnStr popLine();
  // Removes and returns the first token and the delimiter that ended it. When
  // the token reaches the end, or there is none, this string becomes null; no
  // token gives null.
  ZnStr popToken(const char* delims);

  // Conversions; true on success. toLong, toInt and toHex need the whole text
  // to be used (leading whitespace and a sign allowed) and always write *v.
  bool toLong(long* v) const;
  bool toInt(int* v) const;
  bool toHex(int* v) const;
  // Refuses, without writing *v, an empty text and one that starts with a
  // letter after optional whitespace and sign (nan, inf, e5). Otherwise *v is
  // written and the whole text must be used.
  bool toDouble(double* v) const;
  // As toDouble; values beyond float's range become infinities.
  bool toFloat(float* v) const;
  // 1/true/on/yes and 0/false/off/no, ignoring case; *v unchanged on failure.
  bool toBool(bool* v) const;
  // A base-10 number at the start; *v always written, *consumed (0 when no
  // digits) only on success. Fails only on overflow of long.
  bool parseLeadingLong(int* v, int* consumed) const;

  // Replaces the string with the next line of in, without its LF or CR LF. When
  // no terminated line is left (an unterminated last line is dropped) the
  // string becomes null and in has its eof and fail flags set.
  ZnStr& readLine(std::istream& in);
  // in.get() of at most n - 1 characters, stopping before delim, which stays
  // in the stream; the stream state is left as get() leaves it.
  ZnStr& read(std::istream& in, int n, char delim = '\n');

  // Text utilities, described in foundation/ZnStrText.h.
  ZnStr& dedent();
  ZnStr& expandEnvVars();
  ZnStr expandedEnvVars() const;
  bool abbreviateEnvVar(const ZnStr& name);
  ZnStr abbreviatedEnvVar(const ZnStr& name, bool* replaced = nullptr) const;
  void commonPrefix(const std::set<ZnStr>& set);
  void commonSuffix(const std::set<ZnStr>& set);
  void commonSuffixOfList(const ZnDoubleLinkedList& list);
  void splitTrailingNumber(int* number, const ZnStr& src);
  ZnStr nextNumberedName() const;
  int collate(const char* s) const;

 private:
  char* text() { return rep->chars + offset; }
  bool pointsIntoBuffer(const char* s) const;
  void adjustSize(int64_t d);
  void setTotalLength(uint64_t total);

  ZnStrBuffer* rep = nullptr;
  int64_t offset = 0;
};

// Null equals only null (and a null pointer); otherwise strcmp.
bool operator==(const ZnStr& a, const ZnStr& b);
bool operator==(const ZnStr& a, const char* b);
bool operator==(const char* a, const ZnStr& b);
inline bool operator!=(const ZnStr& a, const ZnStr& b) { return !(a == b); }
inline bool operator!=(const ZnStr& a, const char* b) { return !(a == b); }
inline bool operator!=(const char* a, const ZnStr& b) { return !(a == b); }

// Byte order of the texts; a null string orders as empty.
bool operator<(const ZnStr& a, const ZnStr& b);
bool operator<(const ZnStr& a, const char* b);
bool operator<(const char* a, const ZnStr& b);
bool operator>(const ZnStr& a, const ZnStr& b);
bool operator>(const ZnStr& a, const char* b);
bool operator>(const char* a, const ZnStr& b);
bool operator<=(const ZnStr& a, const ZnStr& b);
bool operator<=(const ZnStr& a, const char* b);
bool operator<=(const char* a, const ZnStr& b);
bool operator>=(const ZnStr& a, const ZnStr& b);
bool operator>=(const ZnStr& a, const char* b);
bool operator>=(const char* a, const ZnStr& b);

ZnStr operator+(const ZnStr& a, const ZnStr& b);
ZnStr operator+(const ZnStr& a, const char* b);
ZnStr operator+(const char* a, const ZnStr& b);

// Writes the text; a null string writes nothing and sets the stream's badbit.
std::ostream& operator<<(std::ostream& out, const ZnStr& s);
// Reads one whitespace-delimited word of any length. At the end of input, or
// on a failed stream, s is unchanged; a word that ends at the end of input
// leaves the stream state clear.
std::istream& operator>>(std::istream& in, ZnStr& s);

#endif  // HDRMEND_FOUNDATION_ZNSTR_H_
