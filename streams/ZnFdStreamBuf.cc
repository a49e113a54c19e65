#include "streams/ZnFdStreamBuf.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::ptrdiff_t kPutback = kStreamPutback;

// A descriptor in non-blocking mode (one a caller opened so) is waited on
// rather than failed: the stream's callers expect blocking semantics.
bool WaitUntilReady(int fd, short events) {
  struct pollfd watch = {fd, events, 0};
  for (;;) {
    if (poll(&watch, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

ZnFdStreamBuf::~ZnFdStreamBuf() { close(); }

ZnFdStreamBuf* ZnFdStreamBuf::open(int fd, std::ios_base::openmode which) {
  if (fd_ >= 0 || fd < 0) return nullptr;
  if (!buffer_) buffer_.reset(new char[kPutback + kStreamBufferSize]);
  fd_ = fd;
  reading_ = (which & std::ios_base::in) != 0;
  error_ = 0;
  const off_t at = lseek(fd, 0, SEEK_CUR);
  seekable_ = at >= 0;
  offset_ = seekable_ ? at : 0;
  char* base = buffer_.get() + kPutback;
  if (reading_) {
    setg(base, base, base);
    setp(nullptr, nullptr);
  } else {
    setg(nullptr, nullptr, nullptr);
    setp(base, base + kStreamBufferSize);
  }
  return this;
}

ZnFdStreamBuf* ZnFdStreamBuf::close() {
  if (fd_ < 0) return nullptr;
  int error = 0;
  if (!reading_) {
    if (error_ != 0) {
      error = error_;
    } else if (!writeOut(nullptr, 0)) {
      error = errno;
    }
  }
  // EINTR leaves the descriptor closed on this system, and says nothing about
  // the data; EIO and the like report a write that failed late (NFS).
  if (::close(fd_) != 0 && errno != EINTR && error == 0) error = errno;
  fd_ = -1;
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  return this;
}

// ---------------------------------------------------------------------------
// Reading.

ssize_t ZnFdStreamBuf::readSome(char* to, size_t n) {
  if (error_ != 0) return -1;
  for (;;) {
    ssize_t got = read(fd_, to, n);
    if (got >= 0) {
      offset_ += got;
      return got;
    }
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilReady(fd_, POLLIN)) continue;
    error_ = errno;
    return -1;
  }
}

ZnFdStreamBuf::int_type ZnFdStreamBuf::underflow() {
  if (fd_ < 0 || !reading_) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  char* base = buffer_.get() + kPutback;
  const std::ptrdiff_t keep = std::min(kPutback, egptr() - eback());
  std::memmove(base - keep, egptr() - keep, static_cast<size_t>(keep));
  const ssize_t got = readSome(base, kStreamBufferSize);
  setg(base - keep, base, base + (got > 0 ? got : 0));
  if (got <= 0) return traits_type::eof();
  return traits_type::to_int_type(*gptr());
}

ZnFdStreamBuf::int_type ZnFdStreamBuf::pbackfail(int_type c) {
  if (fd_ < 0 || !reading_ || gptr() == eback()) return traits_type::eof();
  gbump(-1);
  // The buffer is our own copy, so a different character may take the place
  // of the one read; the file is not touched.
  if (!traits_type::eq_int_type(c, traits_type::eof())) *gptr() = traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize ZnFdStreamBuf::xsgetn(char* s, std::streamsize n) {
  if (fd_ < 0 || !reading_) return 0;
  std::streamsize done = 0;
  while (done < n) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize piece = std::min(buffered, n - done);
      std::memcpy(s + done, gptr(), static_cast<size_t>(piece));
      gbump(static_cast<int>(piece));
      done += piece;
      continue;
    }
    if (n - done < kStreamBufferSize) {
      if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
      continue;
    }
    // A buffer's worth or more goes straight to the caller, saving a copy;
    // its end stays available for putback, and where a pipe brought less
    // than that, the end of what was buffered before it.
    const ssize_t got = readSome(s + done, static_cast<size_t>(n - done));
    if (got <= 0) break;
    const std::ptrdiff_t before = egptr() - eback() - done;
    done += got;
    char* base = buffer_.get() + kPutback;
    const std::ptrdiff_t keep = std::min<std::ptrdiff_t>(kPutback, done);
    const std::ptrdiff_t older = std::max<std::ptrdiff_t>(0, std::min(kPutback - keep, before));
    if (older > 0) {
      std::memmove(base - keep - older, egptr() - (done - got) - older, static_cast<size_t>(older));
    }
    std::memcpy(base - keep, s + done - keep, static_cast<size_t>(keep));
    setg(base - keep - older, base, base);
  }
  return done;
}

// ---------------------------------------------------------------------------
// Writing.

bool ZnFdStreamBuf::failWrite(int error) {
  error_ = error;
  // No room from now on: every later write comes through overflow() or
  // xsputn() and is refused there.
  setp(pbase(), pbase());
  errno = error;
  return false;
}

bool ZnFdStreamBuf::writeOut(const char* s, size_t n) {
  if (error_ != 0) {
    errno = error_;
    return false;
  }
  struct iovec pieces[2] = {{pbase(), static_cast<size_t>(pptr() - pbase())},
                            {const_cast<char*>(s), n}};
  struct iovec* next = pieces;
  int count = 2;
  while (count > 0) {
    if (next->iov_len == 0) {
      ++next;
      --count;
      continue;
    }
    ssize_t written = writev(fd_, next, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilReady(fd_, POLLOUT)) continue;
      return failWrite(errno);
    }
    while (written > 0) {
      const size_t taken = std::min(static_cast<size_t>(written), next->iov_len);
      next->iov_base = static_cast<char*>(next->iov_base) + taken;
      next->iov_len -= taken;
      written -= static_cast<ssize_t>(taken);
      if (next->iov_len == 0 && count > 1) {
        ++next;
        --count;
      }
    }
  }
  char* base = buffer_.get() + kPutback;
  setp(base, base + kStreamBufferSize);
  return true;
}

ZnFdStreamBuf::int_type ZnFdStreamBuf::overflow(int_type c) {
  if (fd_ < 0 || reading_) return traits_type::eof();
  if (!writeOut(nullptr, 0)) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize ZnFdStreamBuf::xsputn(const char* s, std::streamsize n) {
  if (fd_ < 0 || reading_ || n <= 0) return 0;
  if (error_ != 0) {
    errno = error_;
    return 0;
  }
  const std::streamsize room = epptr() - pptr();
  if (n <= room) {
    std::memcpy(pptr(), s, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  if (n < kStreamBufferSize) {
    // Topping the buffer up keeps every write a whole buffer.
    std::memcpy(pptr(), s, static_cast<size_t>(room));
    pbump(static_cast<int>(room));
    if (!writeOut(nullptr, 0)) return room;
    std::memcpy(pptr(), s + room, static_cast<size_t>(n - room));
    pbump(static_cast<int>(n - room));
    return n;
  }
  // What is buffered and the caller's block leave in one system call,
  // without copying the block.
  return writeOut(s, static_cast<size_t>(n)) ? n : 0;
}

int ZnFdStreamBuf::sync() {
  if (fd_ < 0 || reading_) return 0;
  return writeOut(nullptr, 0) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Positions.

ZnFdStreamBuf::pos_type ZnFdStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                               std::ios_base::openmode) {
  const pos_type failed(off_type(-1));
  if (fd_ < 0 || !seekable_) return failed;
  if (!reading_) {
    // Telling only: the offset may be shared with a caller's descriptor.
    if (off != 0 || dir != std::ios_base::cur) return failed;
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    if (at < 0) return failed;
    return pos_type(off_type(at + (pptr() - pbase())));
  }
  const off_t current = offset_ - (egptr() - gptr());
  off_t target;
  if (dir == std::ios_base::beg) {
    target = off;
  } else if (dir == std::ios_base::cur) {
    if (off == 0) return pos_type(off_type(current));
    target = current + off;
  } else {
    target = -1;
  }
  // A target within what is buffered (the reader returning to the first
  // frame, say) costs no system call and no reading again.
  const off_t bufferStart = offset_ - (egptr() - eback());
  if (target >= bufferStart && target <= offset_) {
    setg(eback(), eback() + (target - bufferStart), egptr());
    return pos_type(off_type(target));
  }
  const off_t at = dir == std::ios_base::end ? lseek(fd_, off, SEEK_END)
                                             : (target < 0 ? -1 : lseek(fd_, target, SEEK_SET));
  if (at < 0) return failed;
  offset_ = at;
  char* base = buffer_.get() + kPutback;
  setg(base, base, base);
  return pos_type(off_type(at));
}

ZnFdStreamBuf::pos_type ZnFdStreamBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}
