#include "foundation/ZnStr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

std::string Str(const ZnStr& s) { return std::string(s.c_str()); }

}  // namespace

TEST(ZnStr, NullIsDistinctFromEmpty) {
  const ZnStr null;
  const ZnStr empty("");
  const char* nullPointer = nullptr;
  EXPECT_TRUE(null.isNull());
  EXPECT_FALSE(empty.isNull());
  EXPECT_EQ(0, empty.length());
  EXPECT_TRUE(null == ZnStr());
  EXPECT_TRUE(null == nullPointer);
  EXPECT_TRUE(nullPointer == null);
  EXPECT_FALSE(null == "");
  EXPECT_FALSE("" == null);
  EXPECT_FALSE(null == empty);
  EXPECT_FALSE(empty == nullPointer);
  EXPECT_TRUE(empty == "");
  EXPECT_TRUE(ZnStr(null).isNull());
  ZnStr s("x");
  s = null;
  EXPECT_TRUE(s.isNull());
  s = "y";
  s = nullPointer;
  EXPECT_TRUE(s.isNull());
}

TEST(ZnStr, CopiesAndTailsShareUntilWritten) {
  ZnStr s("abcdef");
  EXPECT_EQ(1, s.refCount());
  ZnStr copy(s);
  ZnStr tail = s.right(3);
  ZnStr rest = s.from(2);
  EXPECT_EQ(4, s.refCount());
  EXPECT_EQ(s.c_str() + 3, tail.c_str());
  EXPECT_EQ("def", Str(tail));
  EXPECT_EQ("cdef", Str(rest));
  EXPECT_EQ(2, rest.bufferOffset());

  tail.setChar(0, 'D');  // the writer gets a private buffer with only its characters
  EXPECT_EQ("Def", Str(tail));
  EXPECT_EQ(1, tail.refCount());
  EXPECT_EQ(0, tail.bufferOffset());
  EXPECT_EQ(4u, tail.capacity());
  EXPECT_EQ("abcdef", Str(s));
  EXPECT_EQ(3, s.refCount());

  // Alone in its buffer, a string keeps its offset and hidden prefix on write.
  copy = ZnStr();
  s = ZnStr();
  rest.makeUnique();
  EXPECT_EQ(2, rest.bufferOffset());
  rest.setChar(0, 'C');
  EXPECT_EQ("Cdef", Str(rest));
  EXPECT_EQ(2, rest.bufferOffset());
}

TEST(ZnStr, RemovalFromTheFrontMovesTheOffsetWhileThePrefixIsSmall) {
  ZnStr s("abcdef");  // size 7: the offset may move while it stays below 6 / 2
  s.remove(0, 2);
  EXPECT_EQ("cdef", Str(s));
  EXPECT_EQ(2, s.bufferOffset());
  EXPECT_EQ(8u, s.capacity());
  s.remove(0, 1);  // the hidden prefix would reach half: compacted
  EXPECT_EQ("def", Str(s));
  EXPECT_EQ(0, s.bufferOffset());
  EXPECT_EQ(4u, s.capacity());

  ZnStr t("abcdef");
  t.remove(0, 3);
  EXPECT_EQ("def", Str(t));
  EXPECT_EQ(0, t.bufferOffset());

  ZnStr u("abcdef");
  ZnStr other(u);
  u.remove(0, 3);  // shared: never copies
  EXPECT_EQ("def", Str(u));
  EXPECT_EQ(3, u.bufferOffset());
  EXPECT_EQ(2, u.refCount());
  EXPECT_EQ("abcdef", Str(other));

  ZnStr v("abcdefgh");
  v.remove(0, 2);
  v.remove(2, 2);  // not at the front: rewritten, prefix given back
  EXPECT_EQ("cdgh", Str(v));
  EXPECT_EQ(0, v.bufferOffset());
}

TEST(ZnStr, CapacityFollowsTheSizeInStepsOfFour) {
  ZnStr s("");
  EXPECT_EQ(4u, s.capacity());
  const char* chars = s.c_str();
  for (int len = 1; len <= 12; ++len) {
    const uint64_t before = s.capacity();
    s.append("x");
    const uint64_t expected = (len + 1 + 3) / 4 * 4;
    EXPECT_EQ(expected, s.capacity()) << len;
    // Same capacity, same array: no reallocation in between.
    EXPECT_EQ(expected == before, chars == s.c_str()) << len;
    chars = s.c_str();
  }
  s.setLength(6);  // size 13 -> 7: shrinking reallocates as well
  EXPECT_EQ(8u, s.capacity());
  EXPECT_EQ("xxxxxx", Str(s));
}

TEST(ZnStr, AssigningATailOfTheOwnBufferOnlyMovesTheOffset) {
  ZnStr s("hello world");
  ZnStr other(s);
  const char* chars = s.c_str();
  s.assign(chars + 6);
  EXPECT_EQ("world", Str(s));
  EXPECT_EQ(chars + 6, s.c_str());
  EXPECT_EQ(2, s.refCount());
  EXPECT_EQ("hello world", Str(other));

  s.assign(other.c_str() + 1, 4);  // not up to the end: a copy
  EXPECT_EQ("ello", Str(s));
  EXPECT_EQ(1, s.refCount());
  s.assign(s.c_str() + 1, 2);  // a part of itself, copied before the old buffer goes
  EXPECT_EQ("ll", Str(s));
  EXPECT_EQ("ab", Str(ZnStr("ab\0cd", 5)));
}

TEST(ZnStr, Substrings) {
  const ZnStr abc("abc");
  struct {
    ZnStr got;
    const char* want;
  } cases[] = {
      {abc.right(0), ""},
      {abc.right(3), "abc"},
      {abc.right(1), "c"},
      {abc.from(3), ""},
      {abc.from(5), ""},
      {abc.from(1), "bc"},
      {abc.left(5), "abc  "},
      {abc.left(0), ""},
      {abc.left(2), "ab"},
      {abc.mid(1, 4), "bc  "},
      {abc.mid(1, 1), "b"},
      {abc.dropRight(1), "ab"},
      {abc.erased(1, 1), "ac"},
      // Out of range: clamped to the text.
      {abc.right(10), "abc"},
      {abc.from(-2), "abc"},
      {abc.left(-1), ""},
      {abc.dropRight(-1), "abc"},
      {abc.dropRight(5), ""},
      {abc.mid(5, 2), "  "},
      {abc.mid(1, 0), ""},
      {abc.mid(-1, 2), "ab"},
      {abc.erased(2, 10), "ab"},
      {abc.erased(-1, 1), "bc"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, Str(c.got));
  EXPECT_EQ("abc", Str(abc));
  // Seven of the results share the source's buffer: those of right(), from(),
  // dropRight(-1) and erased(-1, 1), a removal at the front.
  EXPECT_EQ(8, abc.refCount());
}

TEST(ZnStr, AppendingAndReplacingWithItsOwnText) {
  ZnStr s("abc");
  s.append(s.c_str());
  EXPECT_EQ("abcabc", Str(s));
  ZnStr shared(s);
  s.append(shared.c_str());
  EXPECT_EQ("abcabcabcabc", Str(s));
  EXPECT_EQ("abcabc", Str(shared));
  s = "abcdefg";
  s.insert(1, s.c_str() + 4, 3);
  EXPECT_EQ("aefgbcdefg", Str(s));
  s = "xyz";
  s = s + s;
  EXPECT_EQ("xyzxyz", Str(s));
  s.replaceAll(s.c_str() + 3, s.c_str());  // pattern "xyz", by "xyzxyz"
  EXPECT_EQ("xyzxyzxyzxyz", Str(s));
  s = "ab";
  s.replaceAt(0, 1, s.c_str());
  EXPECT_EQ("abb", Str(s));
}

TEST(ZnStr, Modification) {
  struct {
    ZnStr got;
    const char* want;
  } cases[] = {
      {ZnStr("ac").insert(1, "b"), "abc"},
      {ZnStr("ab").insert(9, "c"), "abc"},
      {ZnStr("ab").padRight(2, '.'), "ab.."},
      {ZnStr("ab").padLeft(3, '0'), "000ab"},
      {ZnStr("ab").padLeft(-1, '0'), "ab"},
      {ZnStr("ab").appendPadded("xyz", 2), "abxy"},
      {ZnStr("ab").appendPadded("x", 3), "abx  "},
      {ZnStr("abcdef").replaceAt(1, 2, "XYZW"), "aXYZWdef"},
      {ZnStr("abcdef").replaceAt(1, 4, "X"), "aXf"},
      {ZnStr("abcdef").replaceAt(4, 9, "X"), "abcdX"},
      {ZnStr("a-b-c").replaceFirst("-", "+"), "a+b-c"},
      {ZnStr("a-b-c").replaceFirst("-", "--"), "a--b-c"},
      {ZnStr("abc").replaceFirst("x", "y"), "abc"},
      {ZnStr("a.b.c").replaceAll(".", ""), "abc"},
      {ZnStr("aaa").replaceAll("a", "aa"), "aaaaaa"},
      {ZnStr("abab").replaceAll("ab", "xy"), "xyxy"},
      {ZnStr("abc").replaceAll("", "x"), "abc"},
      {ZnStr("a//b//").replaceAll("//", "/"), "a/b/"},
      {ZnStr("abcbc").removeFirst("bc"), "abc"},
      {ZnStr("MiXeD 1").toLower(), "mixed 1"},
      {ZnStr("MiXeD 1").toUpper(), "MIXED 1"},
      {ZnStr(" \t a b ").trimLeft(), "a b "},
      {ZnStr(" \r\n a").trimLeft(true), "\r\n a"},
      {ZnStr("  ").trimLeft(), ""},
      {ZnStr(" a b \n\t").trimRight(), " a b"},
      {ZnStr(" a \t b\n").removeWhitespace(), "ab"},
      {ZnStr("abc").setLength(1), "a"},
      {ZnStr("abc").setLength(-1), ""},
      {ZnStr().append("x"), "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, Str(c.got));
}

TEST(ZnStr, ComparisonAndSearch) {
  const ZnStr s("Hello");
  EXPECT_TRUE(ZnStr("abc") < ZnStr("abd"));
  EXPECT_TRUE("abc" < ZnStr("abd"));
  EXPECT_TRUE(ZnStr("b") > "abc");
  EXPECT_TRUE(ZnStr("ab") <= "ab");
  EXPECT_TRUE(ZnStr("\xe9") > "z");  // byte order
  EXPECT_EQ(0, s.compareNoCase("hELLO"));
  EXPECT_EQ(-1, s.compareNoCase("hello!"));
  EXPECT_EQ(1, s.compareNoCase("hell"));
  EXPECT_EQ(1, s.compareNoCase("HELLA"));
  EXPECT_EQ(0, s.compareNoCase("HELP", 3));
  EXPECT_EQ(0, s.comparePrefixNoCase("he"));
  EXPECT_EQ(0, s.comparePrefix("Hel"));
  EXPECT_NE(0, s.comparePrefix("hel"));
  EXPECT_TRUE(s.endsWith("llo"));
  EXPECT_FALSE(s.endsWith("xHello"));
  // Null reads as empty here: every text ends with it, and it ends only with it.
  EXPECT_TRUE(s.endsWith(ZnStr()));
  EXPECT_TRUE(ZnStr().endsWith(ZnStr()));
  EXPECT_TRUE(ZnStr().endsWith(""));
  EXPECT_FALSE(ZnStr().endsWith("o"));

  int pos = -1;
  EXPECT_TRUE(s.find("ll", &pos));
  EXPECT_EQ(2, pos);
  EXPECT_TRUE(s.findLastChar('l', &pos));
  EXPECT_EQ(3, pos);
  EXPECT_TRUE(ZnStr("a/b/c/d").findNthChar('/', 2, &pos));
  EXPECT_EQ(3, pos);
  pos = -1;
  EXPECT_FALSE(ZnStr("a/b").findNthChar('/', 2, &pos));
  EXPECT_FALSE(ZnStr("").findLastChar('a', &pos));
  EXPECT_FALSE(s.findChar('\0', &pos));
  EXPECT_EQ(-1, pos);  // untouched on failure
  EXPECT_TRUE(ZnStr("run42").findDigit(&pos));
  EXPECT_EQ(3, pos);
  EXPECT_EQ(2, s.countChar('l'));
}

TEST(ZnStr, NumberConversions) {
  double d = -7;
  EXPECT_TRUE(ZnStr("1e3").toDouble(&d));
  EXPECT_EQ(1000.0, d);
  for (const char* refused : {"e3", "nan", "", "inf", " nan", "-inf"}) {
    d = -7;
    EXPECT_FALSE(ZnStr(refused).toDouble(&d)) << refused;
    EXPECT_EQ(-7, d) << refused;
  }
  EXPECT_FALSE(ZnStr("1.5x").toDouble(&d));
  EXPECT_EQ(1.5, d);
  float f = 0;
  EXPECT_TRUE(ZnStr("0.25").toFloat(&f));
  EXPECT_EQ(0.25f, f);
  EXPECT_TRUE(ZnStr("1e300").toFloat(&f));
  EXPECT_TRUE(std::isinf(f));

  struct {
    const char* text;
    bool ok;
    long value;
  } longs[] = {{" 12", true, 12}, {"12 ", false, 12}, {"-3", true, -3},
               {"", false, 0},    {"x", false, 0},    {"+7", true, 7}};
  for (const auto& c : longs) {
    long v = -99;
    EXPECT_EQ(c.ok, ZnStr(c.text).toLong(&v)) << c.text;
    EXPECT_EQ(c.value, v) << c.text;
  }
  int i = 0;
  EXPECT_TRUE(ZnStr("0x1f").toHex(&i));
  EXPECT_EQ(31, i);
  EXPECT_FALSE(ZnStr("1g").toHex(&i));
  EXPECT_TRUE(ZnStr("-5").toInt(&i));
  EXPECT_EQ(-5, i);

  int consumed = -1;
  EXPECT_TRUE(ZnStr("42abc").parseLeadingLong(&i, &consumed));
  EXPECT_EQ(42, i);
  EXPECT_EQ(2, consumed);
  EXPECT_TRUE(ZnStr("abc").parseLeadingLong(&i, &consumed));
  EXPECT_EQ(0, consumed);
  consumed = -1;
  EXPECT_FALSE(ZnStr("99999999999999999999").parseLeadingLong(&i, &consumed));
  EXPECT_EQ(-1, consumed);
}

TEST(ZnStr, BoolConversion) {
  struct {
    const char* text;
    bool ok;
    bool value;
  } cases[] = {{"1", true, true},      {"yes", true, true},    {"TRUE", true, true},
               {"On", true, true},     {"0", true, false},     {"Off", true, false},
               {"no", true, false},    {"false", true, false}, {"2", false, false},
               {"yess", false, false}, {"", false, false},     {" 1", false, false},
               {"y", false, false}};
  for (const auto& c : cases) {
    bool v = !c.value;
    EXPECT_EQ(c.ok, ZnStr(c.text).toBool(&v)) << c.text;
    EXPECT_EQ(c.ok ? c.value : !c.value, v) << c.text;  // unchanged on failure
  }
}

TEST(ZnStr, ReadLineTakesLfAndCrLfAndDropsAnUnterminatedLastLine) {
  std::istringstream in("ab\r\n\ncd\n");
  ZnStr s;
  EXPECT_EQ("ab", Str(s.readLine(in)));
  EXPECT_EQ("", Str(s.readLine(in)));
  EXPECT_FALSE(s.isNull());
  EXPECT_EQ("cd", Str(s.readLine(in)));
  EXPECT_TRUE(in.good());
  EXPECT_TRUE(s.readLine(in).isNull());
  EXPECT_TRUE(in.eof());
  EXPECT_TRUE(in.fail());

  std::istringstream unterminated("ab\r\ncd");
  EXPECT_EQ("ab", Str(s.readLine(unterminated)));
  EXPECT_TRUE(s.readLine(unterminated).isNull());
  EXPECT_TRUE(unterminated.eof());
  EXPECT_TRUE(unterminated.fail());
}

// Lines are read in chunks of 255 characters; where a chunk ends must not
// change what a line holds.
TEST(ZnStr, ReadLineIsTheSameAcrossChunkBoundaries) {
  for (int len : {254, 255, 256, 510, 511}) {
    const std::string text(len, 'x');
    for (const char* end : {"\n", "\r\n"}) {
      std::istringstream in(text + end + "next\n");
      ZnStr s;
      EXPECT_EQ(text, Str(s.readLine(in))) << len;
      EXPECT_EQ("next", Str(s.readLine(in))) << len;
      EXPECT_TRUE(s.readLine(in).isNull()) << len;
    }
    std::istringstream unterminated(text);
    ZnStr s("old");
    EXPECT_TRUE(s.readLine(unterminated).isNull()) << len;
    EXPECT_TRUE(unterminated.fail()) << len;
  }
  // A carriage return that a chunk boundary puts at the end of a chunk is text.
  const std::string inner = std::string(254, 'x') + "\ryz";
  std::istringstream in(inner + "\n");
  ZnStr s;
  EXPECT_EQ(inner, Str(s.readLine(in)));
}

TEST(ZnStr, WordExtractionAcrossChunksAndAtTheEnd) {
  const std::string a(255, 'a'), b(256, 'b'), c(600, 'c');
  std::istringstream in("  " + a + "\n" + b + " \t" + c);
  ZnStr word;
  ASSERT_TRUE(in >> word);
  EXPECT_EQ(a, Str(word));
  EXPECT_EQ('\n', in.peek());  // the ending whitespace stays in the stream
  ASSERT_TRUE(in >> word);
  EXPECT_EQ(b, Str(word));
  ASSERT_TRUE(in >> word);  // ends at the end of input, yet counts as read
  EXPECT_EQ(c, Str(word));
  EXPECT_FALSE(in >> word);
  EXPECT_EQ(c, Str(word));

  std::istringstream words("x y z ");
  int count = 0;
  while (words >> word) ++count;  // must end
  EXPECT_EQ(3, count);
}

TEST(ZnStr, ReadStopsBeforeTheDelimiter) {
  std::istringstream in("0123456789\nrest");
  ZnStr s;
  s.read(in, 5, '\n');
  EXPECT_EQ("0123", Str(s));
  s.read(in, 30, '\n');
  EXPECT_EQ("456789", Str(s));
  EXPECT_EQ('\n', in.peek());
  s.read(in, 30, '\n');
  EXPECT_EQ("", Str(s));
  EXPECT_TRUE(in.fail());
}

TEST(ZnStr, PopLineAndPopToken) {
  ZnStr text("a\nb\n");
  EXPECT_EQ("a", Str(text.popLine()));
  EXPECT_EQ("b", Str(text.popLine()));
  ZnStr last = text.popLine();
  EXPECT_FALSE(last.isNull());
  EXPECT_EQ("", Str(last));
  EXPECT_TRUE(text.popLine().isNull());
  EXPECT_TRUE(text.isNull());

  ZnStr path("::/bin::/usr/bin");
  EXPECT_EQ("/bin", Str(path.firstToken(":")));
  EXPECT_EQ("::/bin::/usr/bin", Str(path));
  EXPECT_EQ("/bin", Str(path.popToken(":")));
  EXPECT_EQ(":/usr/bin", Str(path));
  EXPECT_EQ("/usr/bin", Str(path.popToken(":")));
  EXPECT_TRUE(path.isNull());
  EXPECT_TRUE(path.popToken(":").isNull());

  ZnStr trailing("a: ");
  EXPECT_EQ("a", Str(trailing.popToken(": ")));
  EXPECT_TRUE(trailing.popToken(": ").isNull());
  EXPECT_TRUE(trailing.isNull());
  EXPECT_TRUE(ZnStr(" : ").firstToken(": ").isNull());
  EXPECT_TRUE(ZnStr().firstToken(":").isNull());
}

TEST(ZnStr, FormattingIsCutAfter1023Characters) {
  const std::string big(2000, 'x');
  ZnStr s("old");
  s.format("%s", big.c_str());
  EXPECT_EQ(1023, s.length());
  s.appendFormat("%s", big.c_str());
  EXPECT_EQ(2046, s.length());
  s.format("%d-%s", 42, "a");
  EXPECT_EQ("42-a", Str(s));
  s.appendFormat("%s", s.c_str());
  EXPECT_EQ("42-a42-a", Str(s));
}

TEST(ZnStr, StreamInsertionConcatenationAndDup) {
  std::ostringstream out;
  out << ZnStr("ab") << ZnStr("");
  EXPECT_EQ("ab", out.str());
  EXPECT_TRUE(out.good());
  out << ZnStr();
  EXPECT_TRUE(out.bad());

  EXPECT_EQ("abcd", Str(ZnStr("ab") + ZnStr("cd")));
  EXPECT_EQ("abcd", Str(ZnStr("ab") + "cd"));
  EXPECT_EQ("abcd", Str("ab" + ZnStr("cd")));
  char* copy = ZnStr("xyz").right(2).dup();
  EXPECT_STREQ("yz", copy);
  delete[] copy;
}
