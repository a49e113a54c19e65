// Typed arrays of exactly count() elements in one heap block.
//
// ZnArray<T> owns the block (malloc/realloc/free) and the elements in it;
// ZnDArray<T> adds resizing. There is no spare capacity: every size change
// reallocates to the exact new size, so callers that know the final size set
// it once and then fill. Elements are relocated byte for byte by realloc, never
// by copy construction; T must survive that (plain values, pointers, ZnStr).
// Pointer elements are not owned: destroying an array of pointers frees only
// the block.
//
// Running out of memory is fatal: a fixed report goes to std::cerr and the
// process aborts. Indexes are not checked.
#ifndef HDRMEND_FOUNDATION_ZNARRAY_H_
#define HDRMEND_FOUNDATION_ZNARRAY_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

// Writes the allocation-failure report for a request of count elements
// totalling bytes bytes to std::cerr, then aborts.
[[noreturn]] void ZnArrayReportAllocationFailure(long long count, long long bytes);

template <class T>
class ZnArray {
 public:
  ZnArray() = default;
  virtual ~ZnArray() { release(); }

  // Copying lives in ZnDArray, which knows how to size the copy; a base copy
  // would share the block and free it twice.
  ZnArray(const ZnArray&) = delete;
  ZnArray& operator=(const ZnArray&) = delete;

  int count() const { return count_; }

  T& operator[](int i) { return data_[i]; }
  const T& operator[](int i) const { return data_[i]; }

  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

 protected:
  // Reallocates to exactly n elements. Removed elements are destroyed; new
  // slots are left unconstructed for the caller to construct. A negative n is
  // an unsatisfiable request and takes the allocation-failure path.
  void resizeStorage(int n);

  // Destroys the elements and frees the block; leaves no block and count 0.
  void release();

  // Takes over other's block, leaving other empty.
  void takeFrom(ZnArray& other) {
    release();
    data_ = other.data_;
    count_ = other.count_;
    other.data_ = nullptr;
    other.count_ = 0;
  }

  static void destroy(T* first, T* last) {
    if constexpr (!std::is_trivially_destructible<T>::value) {
      for (; first != last; ++first) first->~T();
    }
  }

  T* data_ = nullptr;
  int count_ = 0;
};

template <class T>
class ZnDArray : public ZnArray<T> {
 public:
  ZnDArray() = default;
  ZnDArray(const ZnDArray& other) : ZnArray<T>() { assign(other); }
  ZnDArray(ZnDArray&& other) noexcept : ZnArray<T>() { this->takeFrom(other); }

  ZnDArray& operator=(const ZnDArray& other) {
    assign(other);
    return *this;
  }
  ZnDArray& operator=(const ZnArray<T>& other) {
    assign(other);
    return *this;
  }
  ZnDArray& operator=(ZnDArray&& other) noexcept {
    if (this != &other) this->takeFrom(other);
    return *this;
  }

  // Reallocates to exactly n elements; slots beyond the old count are left
  // unconstructed. Elements of class type must be constructed before use,
  // which resize() does.
  void setCount(int n) { this->resizeStorage(n); }

  // setCount(n), then default-constructs the new slots (plain records are
  // zero-filled by value-initialisation).
  void resize(int n) {
    int old = this->count_;
    this->resizeStorage(n);
    for (int i = old; i < n; ++i) new (static_cast<void*>(this->data_ + i)) T();
  }

  // setCount(n), then copy-constructs the new slots from value. value may be
  // an element of this array: it is copied before the block can move.
  void resize(int n, const T& value) {
    int old = this->count_;
    if (n <= old) {
      this->resizeStorage(n);
      return;
    }
    T copy(value);
    this->resizeStorage(n);
    for (int i = old; i < n; ++i) new (static_cast<void*>(this->data_ + i)) T(copy);
  }

  void append(const T& value) { resize(this->count_ + 1, value); }

  // Resizes to other's count and copies the elements one by one.
  void assign(const ZnArray<T>& other) {
    if (this == &other) return;
    int n = other.count();
    int old = this->count_;
    this->resizeStorage(n);
    int kept = old < n ? old : n;
    for (int i = 0; i < kept; ++i) this->data_[i] = other[i];
    for (int i = kept; i < n; ++i) new (static_cast<void*>(this->data_ + i)) T(other[i]);
  }
};

template <class T>
void ZnArray<T>::release() {
  if (data_ != nullptr) {
    destroy(data_, data_ + count_);
    free(static_cast<void*>(data_));
  }
  data_ = nullptr;
  count_ = 0;
}

template <class T>
void ZnArray<T>::resizeStorage(int n) {
  if (n == count_) return;
  if (n == 0) {
    release();
    return;
  }
  long long requested = static_cast<long long>(n) * static_cast<long long>(sizeof(T));
  if (n < 0 || static_cast<std::size_t>(n) > SIZE_MAX / sizeof(T)) {
    ZnArrayReportAllocationFailure(n, requested);
  }
  int old = count_;
  count_ = n;
  if (n < old) destroy(data_ + n, data_ + old);
  std::size_t bytes = static_cast<std::size_t>(n) * sizeof(T);
  // Relocation by realloc is the design (see the header comment); the void*
  // casts say so to the compiler.
  void* block = data_ != nullptr ? realloc(static_cast<void*>(data_), bytes) : malloc(bytes);
  if (block == nullptr) ZnArrayReportAllocationFailure(n, requested);
  data_ = static_cast<T*>(block);
}

#endif  // HDRMEND_FOUNDATION_ZNARRAY_H_
