#include "system/ZnPathUtils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "system/SystemTestSupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

std::string Text(const ZnStr& s) { return s.c_str(); }

std::string Cwd() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

TEST(PathUtilsTest, CompressionExtensionIsExactAndNeedsAName) {
  struct Case {
    const char* path;
    const char* extension;  // null: none
  };
  const Case cases[] = {
      {"a.Z", "Z"},          {"a.gz", "gz"},     {"a.jpeg", "jpeg"}, {"dir/run.raw.gz", "gz"},
      {"a.GZ", nullptr},     {"a.jpg", nullptr}, {"a.z", nullptr},   {".Z", nullptr},
      {".gz", nullptr},      {".jpeg", nullptr}, {"gz", nullptr},    {"", nullptr},
      {"a.gz.raw", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ZnStr extension("untouched");
    EXPECT_EQ(ZnFindCompressionExtension(c.path, &extension), c.extension != nullptr);
    EXPECT_EQ(Text(extension), c.extension != nullptr ? c.extension : "untouched");
    EXPECT_EQ(ZnFindCompressionExtension(c.path), c.extension != nullptr);
  }
  EXPECT_FALSE(ZnFindCompressionExtension(ZnStr()));
}

TEST(PathUtilsTest, StripCompressionExtensionHandlesGzipAndCompressOnly) {
  struct Case {
    const char* path;
    const char* stripped;
    const char* extension;
  };
  const Case cases[] = {
      {"a.gz", "a", ".gz"},         {"a.Z", "a", ".Z"},        {"a.jpeg", "a.jpeg", ""},
      {"run.raw", "run.raw", ""},   {"ab", "ab", "untouched"}, {".gz", "", ".gz"},
      {"x.tar.gz", "x.tar", ".gz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ZnStr extension("untouched");
    EXPECT_EQ(Text(ZnStripCompressionExtension(c.path, &extension)), c.stripped);
    EXPECT_EQ(Text(extension), c.extension);
  }
}

TEST(PathUtilsTest, CompressedVariantPrefersThePlainFileThenGzipThenCompress) {
  TempDir dir;
  std::string plain = dir / "run.raw";
  EXPECT_EQ(Text(ZnCompressedVariant(plain.c_str())), plain);
  WriteFile(plain + ".Z", "");
  EXPECT_EQ(Text(ZnCompressedVariant(plain.c_str())), plain + ".Z");
  WriteFile(plain + ".gz", "");
  EXPECT_EQ(Text(ZnCompressedVariant(plain.c_str())), plain + ".gz");
  WriteFile(plain, "");
  EXPECT_EQ(Text(ZnCompressedVariant(plain.c_str())), plain);
}

TEST(PathUtilsTest, DirNameAndBaseName) {
  struct Case {
    const char* path;
    const char* dir;
    const char* base;
  };
  const Case cases[] = {
      {"/a", "/", "a"},        {"a/b/", "a", "b"},   {"a", "", "a"},          {"b/", "", "b"},
      {"/a/b/c", "/a/b", "c"}, {"", "", ""},         {"/", "", ""},           {"//", "/", ""},
      {"a\\b", "a", "b"},      {"a\\b\\", "a", "b"}, {"a/b\\c", "a", "b\\c"}, {"a//b", "a/", "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Text(ZnDirName(c.path)), c.dir);
    EXPECT_EQ(Text(ZnBaseName(c.path)), c.base);
  }
  EXPECT_EQ(Text(ZnDirName(ZnStr())), "");
  EXPECT_EQ(Text(ZnBaseName(ZnStr())), "");
}

TEST(PathUtilsTest, JoinPathAddsOneSeparator) {
  EXPECT_EQ(Text(ZnJoinPath("a", "b")), "a/b");
  EXPECT_EQ(Text(ZnJoinPath("a/", "b")), "a/b");
  EXPECT_EQ(Text(ZnJoinPath("/", "b")), "/b");
  EXPECT_EQ(Text(ZnJoinPath("", "b")), "b");
  EXPECT_EQ(Text(ZnJoinPathExt("dir", "run", "raw")), "dir/run.raw");
}

TEST(PathUtilsTest, SplitPathFillsTheOutputsGiven) {
  struct Case {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
  };
  const Case cases[] = {
      {"/x/y/run.raw.gz", "/x/y", "run.raw", "gz"},
      {"run", "", "run", ""},
      {"/a.b", "/", "a", "b"},
      {".hidden", "", "", "hidden"},
      {"d.x/noext", "d.x", "noext", ""},
      {"a/a/b.c", "a/a", "b", "c"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ZnStr dir("old"), name("old"), ext("old");
    ZnSplitPath(c.path, &dir, &name, &ext);
    EXPECT_EQ(Text(dir), c.dir);
    EXPECT_EQ(Text(name), c.name);
    EXPECT_EQ(Text(ext), c.ext);
    ZnStr onlyName("old");
    ZnSplitPath(c.path, nullptr, &onlyName, nullptr);
    EXPECT_EQ(Text(onlyName), c.name);
  }
}

TEST(PathUtilsTest, AbsolutePathResolvesDotsFromTheEnd) {
  struct Case {
    const char* path;
    const char* base;
    std::string expected;
  };
  const std::string cwd = Cwd();
  const Case cases[] = {
      {"x/../y/./z", "/base", "/base/y/z"},
      {"/a/b/..", "", "/a"},
      {"/a/./b/.", "", "/a/b"},
      {"/x/../y", "", "/y"},  // not "//y"
      {"/..", "", "/"},       // nothing above the root
      {"/../../a", "", "/a"},
      {"/", "/base", "/"},
      {"", "/base", "/base"},
      {"z", "", cwd + "/z"},
      {"z", "rel/dir", cwd + "/rel/dir/z"},  // a relative base is taken from here
      {"../z", "rel", cwd + "/z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " on " + c.base);
    EXPECT_EQ(Text(ZnAbsolutePath(c.path, c.base)), c.expected);
  }
}

TEST(PathUtilsTest, CurrentDirectoryIsAbsolute) { EXPECT_EQ(Text(ZnCurrentDirectory()), Cwd()); }

TEST(PathUtilsDeathTest, CurrentDirectoryThatWasRemovedEndsTheProcess) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const char* message = "^Could not get absolute path of current working directory\\.\n$";
  auto inRemovedDirectory = [] {
    char name[] = "/tmp/hdrmend-gone-XXXXXX";
    if (mkdtemp(name) == nullptr || chdir(name) != 0 || rmdir(name) != 0) exit(2);
  };
  EXPECT_EXIT(
      {
        inRemovedDirectory();
        ZnCurrentDirectory();
      },
      ::testing::ExitedWithCode(1), message);
  EXPECT_EXIT(
      {
        inRemovedDirectory();
        ZnAbsolutePath("file");
      },
      ::testing::ExitedWithCode(1), message);
}

}  // namespace
