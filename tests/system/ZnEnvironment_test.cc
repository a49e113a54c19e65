#include "system/ZnEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/SystemTestSupport.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Text(const ZnStr& s) { return s.c_str(); }

class PathSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    first_ = dir_ / "first";
    second_ = dir_ / "second";
    mkdir(first_.c_str(), 0755);
    mkdir(second_.c_str(), 0755);
  }
  void Make(const std::string& path, mode_t mode) {
    WriteFile(path, "#!/bin/sh\n");
    chmod(path.c_str(), mode);
  }
  TempDir dir_;
  std::string first_;
  std::string second_;
};

TEST_F(PathSearchTest, FindInPathSkipsEmptyEntriesAndFilesThatCannotRun) {
  Make(first_ + "/tool", 0644);  // there, but not executable
  Make(second_ + "/tool", 0755);
  ScopedEnv path("PATH", (first_ + "::" + second_ + "/").c_str());
  ZnStr found;
  EXPECT_TRUE(ZnFindInPath("tool", &found));
  EXPECT_EQ(Text(found), second_ + "/tool");
  EXPECT_TRUE(ZnFindInPath("tool"));
  // ZnWhichCommand always adds the separator.
  EXPECT_EQ(Text(ZnWhichCommand("tool")), second_ + "//tool");

  Make(first_ + "/tool", 0755);
  EXPECT_TRUE(ZnFindInPath("tool", &found));
  EXPECT_EQ(Text(found), first_ + "/tool");

  found = "unchanged";
  EXPECT_FALSE(ZnFindInPath("absent", &found));
  EXPECT_EQ(Text(found), "unchanged");
  EXPECT_EQ(Text(ZnWhichCommand("absent")), "");
  // Every directory is executable; an empty name must not find one.
  EXPECT_FALSE(ZnFindInPath(""));
  EXPECT_EQ(Text(ZnWhichCommand("")), "");
}

// ZnWhichCommand wants a regular file its owner may run; ZnFindInPath takes
// whatever access() lets through.
TEST_F(PathSearchTest, WhichCommandIsStricterThanFindInPath) {
  mkdir((first_ + "/dirtool").c_str(), 0755);
  Make(first_ + "/otherstool", 0601);
  ScopedEnv path("PATH", first_.c_str());
  EXPECT_TRUE(ZnFindInPath("dirtool"));
  EXPECT_EQ(Text(ZnWhichCommand("dirtool")), "");
  if (geteuid() == 0) {
    // Root may run a file that anybody may run.
    EXPECT_TRUE(ZnFindInPath("otherstool"));
  }
  EXPECT_EQ(Text(ZnWhichCommand("otherstool")), "");
}

TEST_F(PathSearchTest, UnsetOrEmptyPathFindsNothing) {
  Make(first_ + "/tool", 0755);
  for (const char* value : {static_cast<const char*>(nullptr), "", ":::"}) {
    SCOPED_TRACE(value != nullptr ? value : "(unset)");
    ScopedEnv path("PATH", value);
    EXPECT_FALSE(ZnFindInPath("sh"));
    EXPECT_EQ(Text(ZnWhichCommand("sh")), "");
  }
}

TEST(EnvironmentDeathTest, RequiredVariableMissingEndsTheProcess) {
  EXPECT_EXIT(
      {
        unsetenv("HDRMEND_NOT_SET");
        ZnRequireEnv("HDRMEND_NOT_SET");
      },
      ::testing::ExitedWithCode(1), "^Environment variable 'HDRMEND_NOT_SET' not defined\\.\n$");
}

// The locale set-up runs once per process, so each case runs in a process of
// its own. A UTF-8 locale first makes a change to "POSIX" visible.
class LocaleDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    const char* before = setlocale(LC_ALL, "C.UTF-8");
    if (before == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    setlocale(LC_ALL, "C");
  }
};

// Exits 0 when the locale is `expected` after ZnInitLocale() with these LANG
// values, one call for each.
void InitLocaleWith(std::initializer_list<const char*> langs, const char* expected) {
  setlocale(LC_ALL, "C.UTF-8");
  for (const char* lang : langs) {
    if (lang != nullptr) {
      setenv("LANG", lang, 1);
    } else {
      unsetenv("LANG");
    }
    ZnInitLocale();
  }
  exit(strcmp(setlocale(LC_ALL, nullptr), expected) == 0 ? 0 : 3);
}

TEST_F(LocaleDeathTest, LanguageSetsThePosixLocale) {
  EXPECT_EXIT(InitLocaleWith({"de_DE.UTF-8"}, "C"), ::testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(InitLocaleWith({"en_US"}, "C"), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(LocaleDeathTest, NoLanguageBeforeTheDotLeavesTheLocale) {
  EXPECT_EXIT(InitLocaleWith({".UTF-8"}, "C.UTF-8"), ::testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(InitLocaleWith({""}, "C.UTF-8"), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(LocaleDeathTest, OnlyTheFirstCallCounts) {
  EXPECT_EXIT(InitLocaleWith({".UTF-8", "de_DE.UTF-8"}, "C.UTF-8"), ::testing::ExitedWithCode(0),
              "^$");
  EXPECT_EXIT(InitLocaleWith({nullptr, nullptr, "de_DE"}, "C.UTF-8"), ::testing::ExitedWithCode(0),
              "^LANG environment variable is not defined!\n$");
}

}  // namespace
