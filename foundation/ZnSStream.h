// An output string stream over a growable heap buffer.
//
// Build a ZnOSStream on the stack, write to it with the ordinary insertion
// operators, take the text with str() and copy it at once: the pointer belongs
// to the stream and stays valid only until the next write or destruction.
// The stream is write-only; reading gives end-of-file at once.
//
// The buffer starts at 1024 bytes and grows by exactly 1024 bytes through
// realloc whenever a character arrives at a full buffer. Running out of memory
// is fatal when abortOnFailure is set (the default): a fixed text goes to
// std::cerr and the process aborts. With it clear, the failing write reports
// end-of-file, the stream sets its bad state and the text so far stays intact.
#ifndef HDRMEND_STREAMS_ZNSSTREAM_H_
#define HDRMEND_STREAMS_ZNSSTREAM_H_

#include <ios>
#include <ostream>
#include <streambuf>

class ZnSStreamBuf : public std::streambuf {
 public:
  ZnSStreamBuf();
  ~ZnSStreamBuf() override;

  ZnSStreamBuf(const ZnSStreamBuf&) = delete;
  ZnSStreamBuf& operator=(const ZnSStreamBuf&) = delete;

  // The text written so far, NUL-terminated. When the buffer is full the
  // terminator is stored by growing it and counts as a written character.
  // Never null: with abortOnFailure clear and the heap exhausted, the text is
  // cut by one character to make room for the terminator, or is "" when there
  // is no buffer at all.
  const char* str();

  // Grows the buffer by 1024 bytes and, unless c is EOF, stores c as the next
  // character. REQUIRES: the buffer is full. Returns false on failure (only
  // with abortOnFailure clear), leaving the buffer as it was.
  bool enlarge(int c);

  // Writes "Buffer is '<text>'\n" to std::cerr, for debugging.
  void dump() const;

  bool abortOnFailure() const { return abortOnFailure_; }
  void setAbortOnFailure(bool abort) { abortOnFailure_ = abort; }

  // Size of the heap block in bytes, and the number of bytes written into it.
  int capacity() const { return capacity_; }
  int length() const { return buffer_ == nullptr ? 0 : static_cast<int>(pptr() - buffer_); }

 protected:
  int_type overflow(int_type c) override;
  int_type underflow() override;
  int sync() override;

  // Protected so that a test can stand in for an exhausted heap.
  char* buffer_ = nullptr;
  int capacity_ = 0;

 private:
  bool abortOnFailure_ = true;
};

// Holds the buffer so that it exists before the std::ostream base that writes
// to it is constructed.
class ZnSStreamBase : virtual public std::basic_ios<char> {
 public:
  ZnSStreamBase() { init(&buf_); }
  ~ZnSStreamBase() override = default;

  const char* str() { return buf_.str(); }
  ZnSStreamBuf& streamBuf() { return buf_; }

 protected:
  ZnSStreamBuf buf_;
};

class ZnOSStream : public ZnSStreamBase, public std::ostream {
 public:
  ZnOSStream() : ZnSStreamBase(), std::ostream(&buf_) {}
  ~ZnOSStream() override = default;
};

#endif  // HDRMEND_STREAMS_ZNSSTREAM_H_
