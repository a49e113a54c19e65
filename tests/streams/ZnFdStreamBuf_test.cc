#include "streams/ZnFdStreamBuf.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "system/SystemTestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Bytes that differ from their neighbours, so that a block out of place shows.
std::string Pattern(size_t n) {
  std::string data(n, '\0');
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return data;
}

// Every way a block can meet the buffer: inside it, topping it up, exactly
// one buffer, and more than one (which goes past the buffer), written and
// read in pieces of the same sizes so that the two sides disagree about
// where the blocks end.
TEST(FdStreamBufTest, DataRoundTripsWhateverThePieceSizes) {
  TempDir dir;
  const std::string path = dir / "data";
  const size_t kSize = kStreamBufferSize;
  const std::string data = Pattern(3 * kSize + 17);
  for (size_t piece : {size_t{1}, size_t{1000}, kSize - 1, kSize, kSize + 1, 2 * kSize + 5}) {
    SCOPED_TRACE(piece);
    {
      ZnFdStreamBuf out;
      ASSERT_NE(out.open(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                         std::ios_base::out),
                nullptr);
      for (size_t at = 0; at < data.size(); at += piece) {
        const std::streamsize n = static_cast<std::streamsize>(std::min(piece, data.size() - at));
        ASSERT_EQ(out.sputn(data.data() + at, n), n);
      }
      ASSERT_NE(out.close(), nullptr);
    }
    ASSERT_EQ(ReadFile(path), data);
    ZnFdStreamBuf in;
    ASSERT_NE(in.open(::open(path.c_str(), O_RDONLY), std::ios_base::in), nullptr);
    std::string back;
    std::string block(piece, '\0');
    for (std::streamsize n; (n = in.sgetn(&block[0], static_cast<std::streamsize>(piece))) > 0;) {
      back.append(block, 0, static_cast<size_t>(n));
      // The last character read can always be put back, whichever path
      // brought it.
      ASSERT_EQ(in.sungetc(), static_cast<unsigned char>(back.back()));
      ASSERT_EQ(in.sbumpc(), static_cast<unsigned char>(back.back()));
    }
    EXPECT_EQ(back, data);
    EXPECT_EQ(in.error(), 0);
  }
}

TEST(FdStreamBufTest, ReadingBufferSeeksAndTellsTheFilePosition) {
  TempDir dir;
  const std::string path = dir / "data";
  const std::string data = Pattern(2 * kStreamBufferSize + 100);
  ASSERT_TRUE(WriteFile(path, data));
  ZnFdStreamBuf in;
  ASSERT_NE(in.open(::open(path.c_str(), O_RDONLY), std::ios_base::in), nullptr);
  struct Step {
    std::streamoff offset;
    std::ios_base::seekdir dir;
    std::streamoff expected;  // the position after the seek; each step then reads a byte
  };
  const Step steps[] = {
      {10, std::ios_base::beg, 10},
      {5, std::ios_base::cur, 16},  // within the buffer, after the byte read
      {-17, std::ios_base::cur, 0},
      {kStreamBufferSize + 3, std::ios_base::beg, kStreamBufferSize + 3},  // past it
      {-1, std::ios_base::end, static_cast<std::streamoff>(data.size()) - 1},
      {0, std::ios_base::beg, 0},
      {-1, std::ios_base::beg, -1},  // refused; the position stays
  };
  std::streamoff position = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.offset);
    const std::streamoff answer = in.pubseekoff(step.offset, step.dir, std::ios_base::in);
    EXPECT_EQ(answer, step.expected);
    if (answer >= 0) position = answer;
    EXPECT_EQ(in.pubseekoff(0, std::ios_base::cur, std::ios_base::in), position);
    char c;
    ASSERT_EQ(in.sgetn(&c, 1), 1);
    EXPECT_EQ(c, data[static_cast<size_t>(position)]);
    ++position;
    EXPECT_EQ(in.pubseekoff(0, std::ios_base::cur, std::ios_base::in), position);
  }
}

// Nothing on a pipe can seek, not even tell: that is how a reader finds out
// that it cannot jump between frames.
TEST(FdStreamBufTest, PipesRefuseEverySeek) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "abc", 3), 3);
  ZnFdStreamBuf in;
  ZnFdStreamBuf out;
  ASSERT_NE(in.open(ends[0], std::ios_base::in), nullptr);
  ASSERT_NE(out.open(ends[1], std::ios_base::out), nullptr);
  EXPECT_EQ(in.pubseekoff(0, std::ios_base::cur, std::ios_base::in), std::streamoff(-1));
  EXPECT_EQ(in.pubseekpos(0, std::ios_base::in), std::streamoff(-1));
  EXPECT_EQ(out.pubseekoff(0, std::ios_base::cur, std::ios_base::out), std::streamoff(-1));
  EXPECT_EQ(in.sbumpc(), 'a');
}

// The last kStreamPutback characters read stay in the buffer, where a
// reader looks back at a record: here a request past the buffer that a pipe
// answers with less keeps the end of what was buffered before it too.
TEST(FdStreamBufTest, LastCharactersReadStayForPutback) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string data = Pattern(kStreamPutback + 100);
  ASSERT_EQ(write(ends[1], data.data(), kStreamPutback), kStreamPutback);
  ZnFdStreamBuf in;
  ASSERT_NE(in.open(ends[0], std::ios_base::in), nullptr);
  std::string got(2 * kStreamBufferSize, '\0');
  ASSERT_EQ(in.sgetn(&got[0], 200), 200);  // the buffer takes all there is
  ASSERT_EQ(write(ends[1], data.data() + kStreamPutback, 100), 100);
  close(ends[1]);
  ASSERT_EQ(in.sgetn(&got[0], 2 * kStreamBufferSize), kStreamPutback - 100);
  for (std::size_t k = data.size(); k-- > 100;) {
    ASSERT_EQ(in.sungetc(), static_cast<unsigned char>(data[k])) << k;
  }
}

// The writer of a raw data file names the cause of a failed write from errno,
// which must still hold it after every later attempt; nothing may pass for
// written once a write failed.
TEST(FdStreamBufTest, FailedWriteKeepsItsErrorNumber) {
  ZnFdStreamBuf out;
  ASSERT_NE(out.open(::open("/dev/full", O_WRONLY), std::ios_base::out), nullptr);
  const std::string data = Pattern(1000);
  ASSERT_EQ(out.sputn(data.data(), 1000), 1000);  // only buffered so far
  errno = 0;
  EXPECT_EQ(out.pubsync(), -1);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(out.sputc('x'), std::char_traits<char>::eof());
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(out.sputn(data.data(), 10), 0);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(out.close(), nullptr);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(out.is_open());
}

}  // namespace
