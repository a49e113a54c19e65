#include "foundation/ZnSStream.h"

#include <climits>
#include <cstdlib>
#include <iostream>

namespace {

const int kGrowth = 1024;

}  // namespace

ZnSStreamBuf::ZnSStreamBuf() {
  // A failed allocation is not reported here: the stream is still a usable
  // object, and the first write that needs room decides what happens.
  buffer_ = static_cast<char*>(malloc(kGrowth));
  if (buffer_ != nullptr) {
    capacity_ = kGrowth;
    setp(buffer_, buffer_ + capacity_);
  }
}

ZnSStreamBuf::~ZnSStreamBuf() { free(buffer_); }

bool ZnSStreamBuf::enlarge(int c) {
  int oldCapacity = capacity_;
  // Refusing to pass INT_MAX keeps the capacity and the put-area arithmetic
  // in range; it is reported like any other growth failure.
  char* grown = nullptr;
  if (oldCapacity <= INT_MAX - kGrowth) {
    grown = static_cast<char*>(realloc(buffer_, static_cast<size_t>(oldCapacity) + kGrowth));
  }
  if (grown == nullptr) {
    if (abortOnFailure_) {
      std::cerr << "\nUnable to increase stream buffer size, aborting.\n";
      abort();
    }
    return false;
  }
  buffer_ = grown;
  capacity_ = oldCapacity + kGrowth;
  setp(buffer_, buffer_ + capacity_);
  pbump(oldCapacity);
  if (c != traits_type::eof()) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return true;
}

ZnSStreamBuf::int_type ZnSStreamBuf::overflow(int_type c) {
  if (buffer_ == nullptr) {
    if (abortOnFailure_) {
      std::cerr << "\nUnable to allocate stream buffer, aborting.\n";
      abort();
    }
    return traits_type::eof();
  }
  if (pptr() == epptr()) {
    if (!enlarge(c)) return traits_type::eof();
    return traits_type::not_eof(c);
  }
  // The standard buffer only calls this when the put area is full; a direct
  // call with room left still must not lose the character.
  if (c != traits_type::eof()) return sputc(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

ZnSStreamBuf::int_type ZnSStreamBuf::underflow() { return traits_type::eof(); }

int ZnSStreamBuf::sync() { return 0; }

const char* ZnSStreamBuf::str() {
  if (pptr() == epptr()) {
    if (!enlarge(0)) {
      // Only reachable with abortOnFailure clear: give up the last character
      // rather than hand out text without a terminator.
      if (buffer_ == nullptr || pptr() == buffer_) return "";
      pbump(-1);
      *pptr() = '\0';
    }
    return buffer_;
  }
  *pptr() = '\0';
  return buffer_;
}

void ZnSStreamBuf::dump() const {
  std::cerr << "Buffer is '";
  if (buffer_ != nullptr) std::cerr.write(buffer_, pptr() - buffer_);
  std::cerr << "'\n";
}
