#include "foundation/ZnSStream.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <istream>
#include <string>

namespace {

// Stands in for an exhausted heap: dropBuffer() leaves the buffer as a failed
// first allocation would, and pretendNearLimit() makes the next growth fail
// without having to fill two gigabytes.
class TestBuf : public ZnSStreamBuf {
 public:
  void dropBuffer() {
    free(buffer_);
    buffer_ = nullptr;
    capacity_ = 0;
    setp(nullptr, nullptr);
  }
  void pretendNearLimit() {
    realCapacity_ = capacity_;
    capacity_ = INT_MAX - 100;
  }
  ~TestBuf() override { capacity_ = realCapacity_; }

 private:
  int realCapacity_ = 0;
};

std::string Text(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

TEST(ZnSStream, GrowsByExactly1024Bytes) {
  struct {
    int written;
    int capacity;
    int capacityAfterStr;
    int lengthAfterStr;
  } cases[] = {
      {0, 1024, 1024, 0},       {1, 1024, 1024, 1},       {1023, 1024, 1024, 1023},
      {1024, 1024, 2048, 1025}, {1025, 2048, 2048, 1025}, {2048, 2048, 3072, 2049},
      {2049, 3072, 3072, 2049}, {5000, 5120, 5120, 5000},
  };
  for (const auto& c : cases) {
    const std::string text = Text(c.written);
    for (bool charByChar : {false, true}) {
      SCOPED_TRACE(std::to_string(c.written) + (charByChar ? " put" : " write"));
      ZnOSStream os;
      if (charByChar) {
        for (char ch : text) os.put(ch);
      } else {
        os << text;
      }
      EXPECT_TRUE(os.good());
      EXPECT_EQ(c.capacity, os.streamBuf().capacity());
      EXPECT_EQ(c.written, os.streamBuf().length());
      EXPECT_EQ(text, os.str());
      EXPECT_EQ(c.capacityAfterStr, os.streamBuf().capacity());
      EXPECT_EQ(c.lengthAfterStr, os.streamBuf().length());
    }
  }
}

TEST(ZnSStream, FormatsTextAndNumbersAndCutsAtNul) {
  ZnOSStream os;
  EXPECT_STREQ("", os.str());
  os << "Frame " << 12 << " does not exist.";
  EXPECT_STREQ("Frame 12 does not exist.", os.str());

  ZnOSStream withNul;
  withNul << "ab" << '\0' << "cd";
  EXPECT_EQ(5, withNul.streamBuf().length());
  EXPECT_STREQ("ab", withNul.str());
}

TEST(ZnSStream, ReadingGivesEofAndFlushingSucceeds) {
  ZnOSStream os;
  os << "text";
  EXPECT_EQ(std::char_traits<char>::eof(), os.streamBuf().sgetc());
  std::istream in(&os.streamBuf());
  EXPECT_EQ(std::char_traits<char>::eof(), in.get());
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(0, os.streamBuf().pubsync());
  os.flush();
  EXPECT_TRUE(os.good());
  EXPECT_STREQ("text", os.str());
}

TEST(ZnSStream, DumpShowsTheTextWritten) {
  ZnOSStream os;
  os << "a b";
  ::testing::internal::CaptureStderr();
  os.streamBuf().dump();
  EXPECT_EQ("Buffer is 'a b'\n", ::testing::internal::GetCapturedStderr());

  TestBuf empty;
  empty.dropBuffer();
  ::testing::internal::CaptureStderr();
  empty.dump();
  EXPECT_EQ("Buffer is ''\n", ::testing::internal::GetCapturedStderr());
}

TEST(ZnSStream, FailuresAbortWithTheirTexts) {
  EXPECT_DEATH(
      {
        TestBuf buf;
        buf.dropBuffer();
        std::ostream os(&buf);
        os << 'x';
      },
      "^\nUnable to allocate stream buffer, aborting\\.\n$");
  EXPECT_DEATH(
      {
        TestBuf buf;
        std::ostream os(&buf);
        os << Text(1024);
        buf.pretendNearLimit();
        os << 'x';
      },
      "^\nUnable to increase stream buffer size, aborting\\.\n$");
}

TEST(ZnSStream, FailuresWithoutAbortKeepTheTextAndFailTheStream) {
  TestBuf none;
  none.dropBuffer();
  none.setAbortOnFailure(false);
  std::ostream noneStream(&none);
  noneStream << "lost";
  EXPECT_TRUE(noneStream.bad());
  // Taking the text allocates a first block.
  EXPECT_STREQ("", none.str());
  EXPECT_EQ(1024, none.capacity());

  TestBuf full;
  full.setAbortOnFailure(false);
  std::ostream fullStream(&full);
  const std::string text = Text(1024);
  fullStream << text;
  EXPECT_TRUE(fullStream.good());
  full.pretendNearLimit();
  fullStream << 'x';
  EXPECT_TRUE(fullStream.bad());
  EXPECT_EQ(1024, full.length());
  EXPECT_FALSE(full.enlarge(std::char_traits<char>::eof()));
  // No room for the terminator: the last character gives way to it.
  EXPECT_EQ(text.substr(0, 1023), full.str());
}

}  // namespace
