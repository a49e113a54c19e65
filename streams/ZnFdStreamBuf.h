// A stream buffer over a file descriptor, for reading or for writing.
//
// The compressing file streams use it for a file, a descriptor a caller
// opened, or their end of a filter's pipe. The get or put area is the
// kStreamBufferSize buffer itself, so the scanner and printer
// (streams/ZnStreamScanner.h, ZnStreamPrinter.h) work in it directly, and data
// moves in blocks of that size: a large file costs a few system calls per
// megabyte. Requests of a buffer's size or more bypass the buffer.
//
// Ownership: open() takes the descriptor; close() and the destructor close
// it. The buffer does not duplicate it: a caller that wants to keep its own
// hands over a duplicate.
//
// Failure: nothing is reported through the message list and nothing is
// thrown. A failed write or flush leaves the system's error number in errno
// and makes the buffer refuse everything after it, setting errno to that
// number again each time, so that a caller who looks at errno after any
// failed operation sees the cause. A failed read ends the data like the end
// of the file does (the standard stream cannot tell them apart), and error()
// keeps its number for the owner to report. close() answers null when the
// final flush or close(2) failed.
//
// Positions: on a seekable descriptor (lseek works) a reading buffer can seek,
// and its position is the descriptor's offset less what is still buffered;
// it keeps that offset itself, so nobody else may move the offset of the
// descriptor (or of a duplicate sharing it) while the buffer reads. A writing
// buffer only tells its position (the offset plus what is still buffered) and
// never moves the offset, since a duplicate may share it; any seek fails.
// On a pipe every seek fails (-1), as std::filebuf's do.
#ifndef HDRMEND_STREAMS_ZNFDSTREAMBUF_H_
#define HDRMEND_STREAMS_ZNFDSTREAMBUF_H_

#include <sys/types.h>

#include <ios>
#include <memory>
#include <streambuf>

// The size of each stream's file buffer (std::filebuf's default is 8 KiB).
constexpr int kStreamBufferSize = 256 * 1024;

// Characters a reading buffer keeps before its get area when it refills it
// (or reads a large request past it), so that putback() and unget() work
// right after a refill too, and a reader that looks back at what it has just
// read finds it whole although a refill fell inside it. The last
// kStreamPutback characters read since the buffer was opened or positioned
// outside what it holds (all of them, when fewer) are always in the buffer,
// just before its get position. Moving them costs a few percent of a
// refill's own copy.
constexpr int kStreamPutback = 16 * 1024;

class ZnFdStreamBuf : public std::streambuf {
 public:
  ZnFdStreamBuf() = default;
  ZnFdStreamBuf(const ZnFdStreamBuf&) = delete;
  ZnFdStreamBuf& operator=(const ZnFdStreamBuf&) = delete;
  // Closes as close() does.
  ~ZnFdStreamBuf() override;

  // Takes fd for reading (which holds std::ios_base::in) or else writing.
  // Null when the buffer is already open or fd is negative; the descriptor
  // is then not taken.
  ZnFdStreamBuf* open(int fd, std::ios_base::openmode which);
  // Flushes what is buffered for writing and closes the descriptor, which is
  // closed in any case. Null when not open, or when the flush, an earlier
  // write or close(2) failed (errno says why).
  ZnFdStreamBuf* close();

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The error number of the first failed read or write since open(); 0 when
  // none failed.
  int error() const { return error_; }
  // For a reading buffer, where the next byte read comes from: the file
  // offset, or for a pipe the bytes that came through it before; no system
  // call. -1 for a writing buffer.
  off_t position() const { return reading_ ? offset_ - (egptr() - gptr()) : -1; }

 protected:
  int_type underflow() override;
  int_type pbackfail(int_type c) override;
  std::streamsize xsgetn(char* s, std::streamsize n) override;
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  // Reads into [to, to + n); the count, 0 at the end, -1 on failure.
  ssize_t readSome(char* to, size_t n);
  // Writes all of the pending output and then [s, s + n); false on failure.
  bool writeOut(const char* s, size_t n);
  // Remembers a failed write and hands its number on in errno.
  bool failWrite(int error);

  int fd_ = -1;
  bool reading_ = false;
  bool seekable_ = false;
  // For a seekable reading buffer: the descriptor's offset, which is the
  // position of egptr().
  off_t offset_ = 0;
  int error_ = 0;
  std::unique_ptr<char[]> buffer_;
};

#endif  // HDRMEND_STREAMS_ZNFDSTREAMBUF_H_
