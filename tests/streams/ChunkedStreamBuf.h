// A stream buffer that serves a text a few characters at a time.
//
// Every refill makes at most `chunk` more characters readable, so tokens and
// records meet the end of the buffered characters at every position; a chunk
// of 1 leaves nothing for a reader to take from the buffer in one piece.
// Characters already served stay readable behind the read position, for
// putback. position() tells how far reading got.
#ifndef HDRMEND_TESTS_STREAMS_CHUNKEDSTREAMBUF_H_
#define HDRMEND_TESTS_STREAMS_CHUNKEDSTREAMBUF_H_

#include <algorithm>
#include <cstddef>
#include <streambuf>
#include <string>
#include <utility>

class ChunkedStreamBuf : public std::streambuf {
 public:
  ChunkedStreamBuf(std::string text, std::size_t chunk)
      : text_(std::move(text)), chunk_(std::max<std::size_t>(chunk, 1)) {
    char* base = &text_[0];
    setg(base, base, base);
  }

  std::size_t position() const { return static_cast<std::size_t>(gptr() - eback()); }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const std::size_t at = position();
    if (at >= text_.size()) return traits_type::eof();
    const std::size_t n = std::min(chunk_, text_.size() - at);
    setg(eback(), gptr(), gptr() + n);
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string text_;
  std::size_t chunk_;
};

#endif  // HDRMEND_TESTS_STREAMS_CHUNKEDSTREAMBUF_H_
