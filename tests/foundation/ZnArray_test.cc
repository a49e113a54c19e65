#include "foundation/ZnArray.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ios>
#include <string>

#include "foundation/ZnStr.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ScopedEnv;

// The size and layout of a glob record: two coordinates and a pixel count.
struct Glob {
  int pixels;
  float x;
  float y;
};
static_assert(sizeof(Glob) == 12, "a glob is 12 bytes");

// Owns a heap int and counts the live instances, so that a missed or doubled
// destruction shows as a wrong count (and, in the sanitizer build, as a leak
// or a double free). Relocatable byte for byte, like every element type here.
struct Owned {
  static int live;
  int* value;
  Owned() : value(new int(-1)) { ++live; }
  explicit Owned(int v) : value(new int(v)) { ++live; }
  Owned(const Owned& o) : value(new int(*o.value)) { ++live; }
  Owned& operator=(const Owned& o) {
    *value = *o.value;
    return *this;
  }
  ~Owned() {
    delete value;
    --live;
  }
};
int Owned::live = 0;

class ZnArrayTest : public ::testing::Test {
 protected:
  void SetUp() override { Owned::live = 0; }
  void TearDown() override { EXPECT_EQ(0, Owned::live); }
};

std::string EscapeRegex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string FailureReport(const std::string& count, const std::string& bytes) {
  return "\nUnable to allocate memory!\nAttempted to allocate " + count +
         " elements, total size: " + bytes + ".\n\n";
}

// Under AddressSanitizer a huge request aborts inside the sanitizer unless it
// may return null: this is ASAN_OPTIONS with that option added. The threadsafe
// death test re-executes this program with the current environment, so the
// option set around the death tests reaches the child.
std::string AllocatorMayReturnNull() {
  const char* old = getenv("ASAN_OPTIONS");
  return (old != nullptr ? std::string(old) + ":" : std::string()) + "allocator_may_return_null=1";
}

TEST_F(ZnArrayTest, SetCountZeroLeavesNoBlock) {
  ZnDArray<int> a;
  a.setCount(0);
  EXPECT_EQ(0, a.count());
  EXPECT_EQ(nullptr, a.begin());
  a.setCount(3);
  EXPECT_EQ(3, a.count());
  EXPECT_NE(nullptr, a.begin());
  a.setCount(0);
  EXPECT_EQ(0, a.count());
  EXPECT_EQ(nullptr, a.begin());
}

TEST_F(ZnArrayTest, GrowingKeepsValuesAndConstructsOnlyNewSlots) {
  ZnDArray<int> ints;
  ints.resize(2, 7);
  ints[1] = 8;
  ints.append(9);
  ints.resize(5);
  ASSERT_EQ(5, ints.count());
  const int expected[] = {7, 8, 9, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[i], ints[i]) << i;

  ZnDArray<Glob> globs;
  globs.setCount(1);
  globs[0] = {5, 1.5f, 2.5f};
  globs.resize(3);
  EXPECT_EQ(5, globs[0].pixels);
  EXPECT_EQ(2.5f, globs[0].y);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(0, globs[i].pixels);
    EXPECT_EQ(0.0f, globs[i].x);
    EXPECT_EQ(0.0f, globs[i].y);
  }

  ZnDArray<std::streampos> positions;
  positions.resize(2);
  positions[1] = std::streampos(4096);
  positions.resize(3);
  EXPECT_EQ(std::streamoff(0), std::streamoff(positions[0]));
  EXPECT_EQ(std::streamoff(4096), std::streamoff(positions[1]));
  EXPECT_EQ(std::streamoff(0), std::streamoff(positions[2]));

  int x = 0;
  ZnDArray<int*> pointers;
  pointers.resize(2, &x);
  EXPECT_EQ(&x, pointers[1]);
}

TEST_F(ZnArrayTest, ElementsAreDestroyedExactlyOnceOnShrinkReleaseAndDestruction) {
  {
    ZnDArray<Owned> a;
    for (int i = 0; i < 5; ++i) a.append(Owned(i));
    EXPECT_EQ(5, Owned::live);
    a.setCount(2);
    EXPECT_EQ(2, Owned::live);
    EXPECT_EQ(1, *a[1].value);
    a.resize(4);
    EXPECT_EQ(4, Owned::live);
    EXPECT_EQ(-1, *a[3].value);
    a.setCount(0);
    EXPECT_EQ(0, Owned::live);
    a.resize(3, Owned(42));
  }
  EXPECT_EQ(0, Owned::live);
}

TEST_F(ZnArrayTest, AppendingAnElementOfTheSameArraySurvivesTheMove) {
  ZnDArray<Owned> a;
  a.append(Owned(1));
  for (int i = 0; i < 6; ++i) a.append(a[0]);
  a.resize(10, a[a.count() - 1]);
  ASSERT_EQ(10, a.count());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(1, *a[i].value) << i;
}

TEST_F(ZnArrayTest, AssignmentAndCopiesAreDeep) {
  ZnDArray<Owned> source;
  for (int i = 0; i < 3; ++i) source.append(Owned(i));

  struct {
    int startCount;
  } cases[] = {{0}, {1}, {3}, {6}};
  for (const auto& c : cases) {
    ZnDArray<Owned> target;
    target.resize(c.startCount, Owned(99));
    target = source;
    ASSERT_EQ(3, target.count()) << c.startCount;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(i, *target[i].value) << c.startCount;
    *target[0].value = 50;
    EXPECT_EQ(0, *source[0].value);
    EXPECT_EQ(6, Owned::live) << c.startCount;
  }

  ZnDArray<Owned> copy(source);
  *copy[2].value = 7;
  EXPECT_EQ(2, *source[2].value);
  const ZnArray<Owned>& base = copy;
  source = base;
  EXPECT_EQ(7, *source[2].value);
  ZnDArray<Owned>& alias = source;
  source = alias;
  EXPECT_EQ(3, source.count());

  ZnDArray<Owned> moved(std::move(copy));
  EXPECT_EQ(0, copy.count());
  EXPECT_EQ(3, moved.count());
  copy = std::move(moved);
  EXPECT_EQ(0, moved.count());
  EXPECT_EQ(7, *copy[2].value);
}

TEST_F(ZnArrayTest, ShrinkingStringsReleasesTheirBufferReferences) {
  ZnDArray<ZnStr> lines;
  lines.resize(4, ZnStr("shared"));
  lines[3] = "own";
  EXPECT_EQ(3, lines[0].refCount());
  ZnStr survivor = lines[1];
  lines.append(survivor);
  EXPECT_EQ(5, survivor.refCount());
  lines.setCount(1);
  EXPECT_EQ(2, survivor.refCount());
  EXPECT_STREQ("shared", survivor.c_str());
  lines.setCount(0);
  EXPECT_EQ(1, survivor.refCount());
  EXPECT_STREQ("shared", survivor.c_str());
}

TEST_F(ZnArrayTest, FailureReportText) {
  EXPECT_DEATH(ZnArrayReportAllocationFailure(1000, 1000 * sizeof(Glob)),
               "^" + EscapeRegex(FailureReport("1000", "12000")) + "$");
}

struct Huge {
  char bytes[1 << 20];
};

// An optimiser may drop an allocation whose block is never used, and assume
// it succeeded; publishing the block keeps the request real.
void* volatile published;
void Publish(ZnDArray<Huge>& a) { published = a.begin(); }

TEST_F(ZnArrayTest, UnsatisfiableRequestsReportAndAbort) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  // The sanitizer may warn about the request before the report: no "^".
  ScopedEnv mayReturnNull("ASAN_OPTIONS", AllocatorMayReturnNull().c_str());
  const std::string hugeBytes = std::to_string(static_cast<long long>(INT_MAX) << 20);
  EXPECT_DEATH(
      {
        ZnDArray<Huge> a;
        a.setCount(INT_MAX);
        Publish(a);
      },
      EscapeRegex(FailureReport(std::to_string(INT_MAX), hugeBytes)) + "$");
  EXPECT_DEATH(
      {
        ZnDArray<Huge> a;
        a.setCount(1);
        Publish(a);
        a.setCount(INT_MAX);
        Publish(a);
      },
      EscapeRegex(FailureReport(std::to_string(INT_MAX), hugeBytes)) + "$");
  EXPECT_DEATH(
      {
        ZnDArray<Glob> a;
        a.setCount(-2);
      },
      "^" + EscapeRegex(FailureReport("-2", "-24")) + "$");
}

}  // namespace
