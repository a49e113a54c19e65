#include "foundation/ZnStrText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <string>

#include "foundation/ZnDoubleLinkedList.h"
#include "support/TestSupport.h"

namespace {

std::string Str(const ZnStr& s) { return std::string(s.c_str(), s.length()); }

int Sign(int v) { return (v > 0) - (v < 0); }

using testsupport::ScopedEnv;

}  // namespace

TEST(ZnStrText, DedentRemovesCommonIndentation) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"  a\n    b\n", "a\n  b\n"},
      {"a\n  b", "a\n  b"},
      {"\t\ta\n\t\t\tb", "a\n\tb"},
      // Tabs and spaces do not mix: the first indentation character rules.
      {"\ta\n  b", "\ta\n  b"},
      {"  a\n\tb", "  a\n\tb"},
      // Whitespace-only lines count, and are cut in later rounds.
      {"    a\n  \n    b", "a\n\nb"},
      // Leading empty lines vanish in the join; inner ones stay.
      {"\n\n  a\n\n  b", "a\n\nb"},
      {"  \n    a", "a"},
      {"", ""},
      {"\n", ""},
  };
  for (const Case& c : cases) {
    ZnStr s(c.in);
    EXPECT_EQ(c.out, Str(s.dedent())) << '"' << c.in << '"';
  }
  ZnStr null;
  EXPECT_EQ("", Str(null.dedent()));
}

TEST(ZnStrText, ExpandEnvVarsReplacesReferences) {
  ScopedEnv v("ZNSTRTEXT_TEST_V", "/home/u");
  ScopedEnv w("ZNSTRTEXT_TEST_W", "$ZNSTRTEXT_TEST_V/w");
  ScopedEnv unset("ZNSTRTEXT_TEST_UNSET", nullptr);
  ScopedEnv empty("ZNSTRTEXT_TEST_EMPTY", "");
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"$ZNSTRTEXT_TEST_UNSET/x", "$ZNSTRTEXT_TEST_UNSET/x"},
      {"$ZNSTRTEXT_TEST_V/x", "/home/u/x"},
      {"$ZNSTRTEXT_TEST_V", "/home/u"},
      {"a $ZNSTRTEXT_TEST_V\t$ZNSTRTEXT_TEST_V\f$ZNSTRTEXT_TEST_V\nz",
       "a /home/u\t/home/u\f/home/u\nz"},
      // A value's own references are expanded in turn.
      {"$ZNSTRTEXT_TEST_W", "/home/u/w"},
      {"[$ZNSTRTEXT_TEST_EMPTY/]", "[/]"},
      // Only the listed characters end a name: here the name takes in the
      // second '$', is not found, and only the second reference expands.
      {"$ZNSTRTEXT_TEST_V$ZNSTRTEXT_TEST_V", "$ZNSTRTEXT_TEST_V/home/u"},
      {"$ZNSTRTEXT_TEST_V.x", "$ZNSTRTEXT_TEST_V.x"},
      {"$", "$"},
      {"$/$ $", "$/$ $"},
      {"no reference", "no reference"},
      // The character 0x7F always comes out as '$'.
      {"\x7f"
       "ZNSTRTEXT_TEST_V",
       "$ZNSTRTEXT_TEST_V"},
      {"\x7f$ZNSTRTEXT_TEST_V", "$/home/u"},
  };
  for (const Case& c : cases) {
    ZnStr s(c.in);
    EXPECT_EQ(c.out, Str(s.expandEnvVars())) << c.in;
  }

  const ZnStr original("$ZNSTRTEXT_TEST_V/y");
  EXPECT_EQ("/home/u/y", Str(original.expandedEnvVars()));
  EXPECT_EQ("$ZNSTRTEXT_TEST_V/y", Str(original));
  EXPECT_TRUE(ZnStr().expandEnvVars().isNull());
}

TEST(ZnStrText, ExpandEnvVarsStopsOnSelfReference) {
  ScopedEnv self("ZNSTRTEXT_TEST_SELF", "$ZNSTRTEXT_TEST_SELF/x");
  ZnStr s("$ZNSTRTEXT_TEST_SELF");
  s.expandEnvVars();
  std::string expected = "$ZNSTRTEXT_TEST_SELF";
  for (int i = 0; i < 32; ++i) expected += "/x";
  EXPECT_EQ(expected, Str(s));
}

TEST(ZnStrText, ExpandEnvVarsStopsOnMutualReference) {
  ScopedEnv a("ZNSTRTEXT_TEST_A", "$ZNSTRTEXT_TEST_B");
  ScopedEnv b("ZNSTRTEXT_TEST_B", "$ZNSTRTEXT_TEST_A");
  ZnStr s("<$ZNSTRTEXT_TEST_A/>");
  s.expandEnvVars();
  EXPECT_TRUE(s == "<$ZNSTRTEXT_TEST_A/>" || s == "<$ZNSTRTEXT_TEST_B/>") << Str(s);
}

TEST(ZnStrText, ExpandEnvVarsBoundsGrowth) {
  // Each level doubles the text; depth alone would allow 2^32 copies.
  ScopedEnv twice("ZNSTRTEXT_TEST_TWICE", "$ZNSTRTEXT_TEST_TWICE/$ZNSTRTEXT_TEST_TWICE");
  ZnStr s("$ZNSTRTEXT_TEST_TWICE");
  s.expandEnvVars();
  EXPECT_GT(s.length(), 1 << 19);
  EXPECT_LE(s.length(), (1 << 20) + 21);
  EXPECT_EQ(0, s.comparePrefix("$ZNSTRTEXT_TEST_TWICE/$ZNSTRTEXT_TEST_TWICE/"));
}

TEST(ZnStrText, AbbreviateEnvVarReplacesTheValue) {
  ScopedEnv v("ZNSTRTEXT_TEST_V", "/home/u");
  ScopedEnv unset("ZNSTRTEXT_TEST_UNSET", nullptr);
  struct Case {
    const char* name;
    const char* in;
    bool replaced;
    const char* out;
  } cases[] = {
      {"ZNSTRTEXT_TEST_V", "/home/u/data", true, "$ZNSTRTEXT_TEST_V/data"},
      {"ZNSTRTEXT_TEST_V", "/home/u", true, "$ZNSTRTEXT_TEST_V/"},
      {"ZNSTRTEXT_TEST_V", "/home/u:/home/u/x", true, "$ZNSTRTEXT_TEST_V/:$ZNSTRTEXT_TEST_V/x"},
      // Every doubled slash goes, not only the ones the replacement made.
      {"ZNSTRTEXT_TEST_V", "/home/u/a//b", true, "$ZNSTRTEXT_TEST_V/a/b"},
      {"ZNSTRTEXT_TEST_V", "/srv//data", false, "/srv//data"},
      {"ZNSTRTEXT_TEST_UNSET", "/home/u", false, "/home/u"},
      {"", "/home/u", false, "/home/u"},
  };
  for (const Case& c : cases) {
    ZnStr s(c.in);
    EXPECT_EQ(c.replaced, s.abbreviateEnvVar(c.name)) << c.in;
    EXPECT_EQ(c.out, Str(s)) << c.in;
  }

  const ZnStr path("/home/u/data");
  bool replaced = false;
  const ZnStr abbreviated = path.abbreviatedEnvVar("ZNSTRTEXT_TEST_V", &replaced);
  EXPECT_TRUE(replaced);
  EXPECT_EQ("/home/u/data", Str(path));
  EXPECT_EQ(path, abbreviated.expandedEnvVars());
  path.abbreviatedEnvVar("ZNSTRTEXT_TEST_UNSET", &replaced);
  EXPECT_FALSE(replaced);
  EXPECT_EQ("/home/u/data", Str(path.abbreviatedEnvVar("ZNSTRTEXT_TEST_UNSET")));
}

TEST(ZnStrText, AbbreviateEnvVarWithEmptyValueChangesNothing) {
  ScopedEnv empty("ZNSTRTEXT_TEST_EMPTY", "");
  ZnStr s("/home/u");
  EXPECT_FALSE(s.abbreviateEnvVar("ZNSTRTEXT_TEST_EMPTY"));
  EXPECT_EQ("/home/u", Str(s));
}

TEST(ZnStrText, NaturalCompareOrdersNumbersByValue) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"file9", "file10", -1},
      {"a01", "a1", 0},
      {"same", "same", 0},
      {"abc", "abd", -1},
      {"x2y", "x10", -1},
      {"a10b2", "a10b10", -1},
      {"a1", "a1b", -1},
      {"a", "a1", -1},
      {"", "1", -1},
      // Digits at different places: plain byte order.
      {"ab1", "a2", 1},
      // Text in front of aligned numbers decides first.
      {"b1", "a2", 1},
      // Numbers beyond any integer type still compare by value.
      {"n3000000000", "n1", 1},
      {"n99999999999999999999", "n100000000000000000000", -1},
      {"n000000000000000000000000007", "n7", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sign, Sign(ZnNaturalCompare(c.a, c.b))) << c.a << " vs " << c.b;
    EXPECT_EQ(-c.sign, Sign(ZnNaturalCompare(c.b, c.a))) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(0, ZnNaturalCompare(ZnStr(), ZnStr("")));
}

TEST(ZnStrText, CommonPrefixAndSuffixOfSets) {
  struct Case {
    std::set<ZnStr> set;
    const char* prefix;
    const char* suffix;
  } cases[] = {
      {{"run01.txt", "run02.txt"}, "run0", ".txt"},
      {{"abc", "xyz"}, "", ""},
      {{"only"}, "", ""},
      {{}, "", ""},
      {{"ab", "abc", "abd"}, "ab", ""},
      {{"xa", "ya", "za"}, "", "a"},
      // Empty members are passed over.
      {{"", "ab", "ac"}, "a", ""},
      {{"", "xb", "yb"}, "", "b"},
      // Once no common part exists, later members cannot bring one back.
      {{"abc", "b", "bc"}, "", ""},
      {{"xc", "yb", "zb"}, "", ""},
      // No member text is taken for the absence of a common part.
      {{"!N_o-M_a_T_c_H!", "!N_o-M_a_T_c_H!x"}, "!N_o-M_a_T_c_H!", ""},
  };
  for (const Case& c : cases) {
    ZnStr prefix("stale");
    ZnStr suffix("stale");
    prefix.commonPrefix(c.set);
    suffix.commonSuffix(c.set);
    const std::string first = c.set.empty() ? "(empty)" : Str(*c.set.begin());
    EXPECT_EQ(c.prefix, Str(prefix)) << first;
    EXPECT_EQ(c.suffix, Str(suffix)) << first;
  }
}

TEST(ZnStrText, CommonAffixesNeverOverlap) {
  struct Case {
    std::set<ZnStr> set;
    const char* prefix;
    const char* suffix;
  } cases[] = {
      {{"run01.txt", "run02.txt"}, "run0", ".txt"},
      {{"ab", "abb"}, "a", ""},
      {{"abc", "abcbc"}, "a", ""},
      {{"aXa", "aXaXa"}, "", ""},
      // The empty member is shorter than the suffix: it cannot overlap.
      {{"", "xb", "yb"}, "", "b"},
      {{"", "ab", "ac"}, "a", ""},
  };
  for (const Case& c : cases) {
    ZnStr prefix;
    ZnStr suffix;
    ZnCommonAffixes(prefix, suffix, c.set);
    const std::string last = Str(*c.set.rbegin());
    EXPECT_EQ(c.prefix, Str(prefix)) << last;
    EXPECT_EQ(c.suffix, Str(suffix)) << last;
  }
}

TEST(ZnStrText, CommonSuffixOfListUsesDistinctStrings) {
  ZnStr a("a.txt"), b("b.txt"), a2("a.txt");
  ZnDoubleLinkedList list;
  list.append(&a);
  list.append(&b);
  list.append(&a2);
  list.append(nullptr);
  ZnStr suffix;
  suffix.commonSuffixOfList(list);
  EXPECT_EQ(".txt", Str(suffix));

  // Duplicates count once, and one distinct string has no common part.
  ZnDoubleLinkedList same;
  same.append(&a);
  same.append(&a2);
  suffix.commonSuffixOfList(same);
  EXPECT_EQ("", Str(suffix));

  ZnDoubleLinkedList empty;
  suffix.commonSuffixOfList(empty);
  EXPECT_EQ("", Str(suffix));
}

TEST(ZnStrText, NumberedNames) {
  struct Case {
    const char* name;
    const char* stem;
    int number;
    const char* next;
  } cases[] = {
      {"run", "run", 1, "run2"},
      {"run9", "run", 9, "run10"},
      {"run007", "run", 7, "run8"},
      {"run0", "run", 0, "run1"},
      {"v2.19", "v2.", 19, "v2.20"},
      {"", "", 1, "2"},
      {"123", "", 123, "124"},
      // Past int: the number saturates, the next name still steps by one.
      {"run2147483647", "run", INT_MAX, "run2147483648"},
      {"a99999999999999999999", "a", INT_MAX, "a100000000000000000000"},
  };
  for (const Case& c : cases) {
    ZnStr stem("stale");
    int number = -5;
    stem.splitTrailingNumber(&number, c.name);
    EXPECT_EQ(c.stem, Str(stem)) << c.name;
    EXPECT_EQ(c.number, number) << c.name;
    EXPECT_EQ(c.next, Str(ZnStr(c.name).nextNumberedName())) << c.name;
  }

  ZnStr self("take12");
  int number = 0;
  self.splitTrailingNumber(&number, self);
  EXPECT_EQ("take", Str(self));
  EXPECT_EQ(12, number);
}

TEST(ZnStrText, CollateFollowsByteOrderAfterLocaleSetUp) {
  // With a language named the set-up selects "POSIX"; should an earlier call
  // have left the start-up "C" locale, the order is the same.
  ScopedEnv lang("LANG", "en_US.UTF-8");
  EXPECT_LT(ZnStr("a").collate("b"), 0);
  EXPECT_GT(ZnStr("b").collate("a"), 0);
  EXPECT_LT(ZnStr("B").collate("a"), 0);
  EXPECT_EQ(0, ZnStr("same").collate("same"));
  EXPECT_GT(ZnStr("a").collate(nullptr), 0);
  EXPECT_EQ(0, ZnStr().collate(""));
}
