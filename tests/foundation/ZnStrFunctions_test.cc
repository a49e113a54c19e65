#include "foundation/ZnStrFunctions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

TEST(ZnStrFunctions, FormattingIsBoundedAndReportsTheFullLength) {
  char dest[16];
  memset(dest, 'x', sizeof dest);
  int n = ZnSNPrintf(dest, sizeof dest, "%s", std::string(40, 'a').c_str());
  EXPECT_EQ(40, n);
  EXPECT_EQ(std::string(15, 'a'), dest);
}

TEST(ZnStrFunctions, NCopyFillsWithNulAndLeavesLongSourcesUnterminated) {
  char dest[8];
  memset(dest, 'x', sizeof dest);
  ZnStrNCopy(dest, sizeof dest, "ab", 5);
  EXPECT_EQ(0, memcmp(dest, "ab\0\0\0xxx", 8));
  memset(dest, 'x', sizeof dest);
  ZnStrNCopy(dest, sizeof dest, "abcdef", 3);
  EXPECT_EQ(0, memcmp(dest, "abcxxxxx", 8));
}

TEST(ZnStrFunctions, CopyCatDupAndAppendAlloc) {
  char dest[16];
  EXPECT_STREQ("ab", ZnStrCopy(dest, sizeof dest, "ab"));
  EXPECT_STREQ("abcd", ZnStrCat(dest, sizeof dest, "cd"));
  char* dup = ZnStrDup("xyz");
  ASSERT_NE(nullptr, dup);
  dup = ZnStrAppendAlloc(dup, "123");
  EXPECT_STREQ("xyz123", dup);
  free(dup);
}

TEST(ZnStrFunctions, Trimming) {
  struct {
    const char* in;
    const char* left;
    const char* right;
    const char* both;
  } cases[] = {
      {"  ab \t", "ab \t", "  ab", "ab"},
      {"   ", "", "", ""},
      {"", "", "", ""},
      {"ab", "ab", "ab", "ab"},
      {"\n a b\r\n", "a b\r\n", "\n a b", "a b"},
  };
  for (const auto& c : cases) {
    char buf[32];
    EXPECT_STREQ(c.left, ZnStrTrimLeft(strcpy(buf, c.in))) << c.in;
    EXPECT_STREQ(c.right, ZnStrTrimRight(strcpy(buf, c.in))) << c.in;
    EXPECT_STREQ(c.both, ZnStrTrim(strcpy(buf, c.in))) << c.in;
  }
}

TEST(ZnStrFunctions, FindLast) {
  const char* s = "a/b/c";
  EXPECT_EQ(s + 3, ZnStrFindLast(s, '/'));
  EXPECT_EQ(s, ZnStrFindLast(s, 'a'));
  EXPECT_EQ(nullptr, ZnStrFindLast(s, 'x'));
  EXPECT_EQ(nullptr, ZnStrFindLast(s, '\0'));
  EXPECT_EQ(nullptr, ZnStrFindLast("", '/'));
}

TEST(ZnStrFunctions, CaseInsensitiveComparisonIsZeroExactlyForEqualTexts) {
  EXPECT_EQ(0, ZnStrCaseCmp("Hello", "hELLO"));
  EXPECT_EQ(0, ZnStrCaseCmp("", ""));
  EXPECT_NE(0, ZnStrCaseCmp("abc", "abd"));
  EXPECT_NE(0, ZnStrCaseCmp("ab", "abc"));
  EXPECT_NE(0, ZnStrCaseCmp("abc", "ab"));
  EXPECT_EQ('c', ZnStrCaseCmp("ab", "abc"));
  EXPECT_EQ(-'c', ZnStrCaseCmp("abc", "ab"));
  EXPECT_EQ('d' - 'c', ZnStrCaseCmp("abc", "abd"));

  EXPECT_EQ(0, ZnStrNCaseCmp("ABC", "abd", 2));
  EXPECT_NE(0, ZnStrNCaseCmp("ABC", "abd", 3));
  EXPECT_EQ(0, ZnStrNCaseCmp("x", "y", 0));
  EXPECT_EQ('y' - 'x', ZnStrNCaseCmp("x", "y", -1));
  EXPECT_EQ(0, ZnStrNCaseCmp("ab", "AB", 10));
}
