// Pool<T>: a growable array of plain records whose storage reads as zero bytes until written.
// The model's pools and the library's scratch buffers are sized to capacities far larger than
// most models use; a Pool of those sizes costs address space, not memory, until entries are
// written (large blocks are pages the kernel zeroes on first touch, see platform/memory.h), and
// growing a large Pool moves its pages rather than copying them.
//
// The interface is the part of std::vector that the library uses, with one difference: entries
// added by resize(n) are zero bytes, which for every record kept in a Pool is its new value
// (Vec3{}, Polygon{}, ... and kFreshVertexAttr, see VertexAttr). Entries added with a value
// (resize(n, v), assign, push_back) are written as usual.
//
// T must be trivially copyable and trivially destructible: entries are moved by moving memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace wz {

// True when every byte of `value` is zero, so that zero storage reads as `value`.
template <typename T>
bool IsZeroBytes(const T& value) {
  static constexpr unsigned char kZero[sizeof(T)] = {};
  return std::memcmp(&value, kZero, sizeof(T)) == 0;
}

template <typename T>
class Pool {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "Pool entries are moved and cleared as bytes");

 public:
  using value_type = T;
  using size_type = size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using const_reference = const T&;
  using pointer = T*;
  using const_pointer = const T*;
  using iterator = T*;
  using const_iterator = const T*;

  Pool() noexcept = default;
  explicit Pool(size_t n) { resize(n); }
  Pool(size_t n, const T& value) { resize(n, value); }
  Pool(std::initializer_list<T> values) { assign(values.begin(), values.end()); }
  template <std::input_iterator It>
  Pool(It first, It last) {
    assign(first, last);
  }
  explicit Pool(const std::vector<T>& values) { assign(values.begin(), values.end()); }
  Pool(const Pool& other) { assign(other.begin(), other.end()); }
  Pool(Pool&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        touched_(std::exchange(other.touched_, 0)),
        bytes_(std::exchange(other.bytes_, 0)) {}
  ~Pool() { platform::FreeZeroed(data_, bytes_, touched_ * sizeof(T)); }

  Pool& operator=(const Pool& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  Pool& operator=(Pool&& other) noexcept {
    Pool(std::move(other)).swap(*this);
    return *this;
  }
  Pool& operator=(std::initializer_list<T> values) {
    assign(values.begin(), values.end());
    return *this;
  }
  Pool& operator=(const std::vector<T>& values) {
    assign(values.begin(), values.end());
    return *this;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  size_t capacity() const noexcept { return capacity_; }
  static constexpr size_t max_size() noexcept { return SIZE_MAX / 2 / sizeof(T); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  const T* cbegin() const noexcept { return data_; }
  const T* cend() const noexcept { return data_ + size_; }
  T& operator[](size_t i) noexcept { return data_[i]; }
  const T& operator[](size_t i) const noexcept { return data_[i]; }
  T& front() noexcept { return data_[0]; }
  const T& front() const noexcept { return data_[0]; }
  T& back() noexcept { return data_[size_ - 1]; }
  const T& back() const noexcept { return data_[size_ - 1]; }

  void reserve(size_t n) {
    if (n > capacity_) Regrow(n);
  }

  // Tells that entries [0, n) are about to be written, each of them: large stretches of storage
  // never touched may then come as huge pages (see platform::AdviseWholeWrite).
  void willWrite(size_t n) const noexcept {
    platform::AdviseWholeWrite(data_, bytes_, std::min(n, capacity_) * sizeof(T));
  }

  // New entries are zero bytes. Only entries that were in use before (and were given up by a
  // shrink) are cleared; storage never used is zero already.
  void resize(size_t n) {
    if (n > size_) {
      if (n > capacity_) Grow(n);
      const size_t stale = std::min(n, touched_);
      if (stale > size_)
        std::memset(static_cast<void*>(data_ + size_), 0, (stale - size_) * sizeof(T));
      touched_ = std::max(touched_, n);
    }
    size_ = n;
  }

  void resize(size_t n, const T& value) {
    if (n > size_) {
      const T copy = value;  // `value` may be an entry of this pool
      if (n > capacity_) Grow(n);
      std::fill(data_ + size_, data_ + n, copy);
      touched_ = std::max(touched_, n);
    }
    size_ = n;
  }

  void assign(size_t n, const T& value) {
    const T copy = value;
    size_ = 0;
    resize(n, copy);
  }

  template <std::input_iterator It>
  void assign(It first, It last) {
    if constexpr (std::forward_iterator<It>) {
      const auto n = static_cast<size_t>(std::distance(first, last));
      if (n > capacity_) {
        // A fresh block when the source may lie in this pool's storage.
        Pool fresh;
        fresh.Regrow(n);
        std::copy(first, last, fresh.data_);
        fresh.size_ = fresh.touched_ = n;
        swap(fresh);
        return;
      }
      std::copy(first, last, data_);
      size_ = n;
      touched_ = std::max(touched_, n);
    } else {
      clear();
      for (; first != last; ++first)
        push_back(*first);
    }
  }
  void assign(std::initializer_list<T> values) { assign(values.begin(), values.end()); }

  void clear() noexcept { size_ = 0; }

  void push_back(const T& value) {
    if (size_ == capacity_) {
      const T copy = value;
      Grow(size_ + 1);
      data_[size_++] = copy;
    } else {
      data_[size_++] = value;
    }
    touched_ = std::max(touched_, size_);
  }
  template <typename... Args>
  T& emplace_back(Args&&... args) {
    push_back(T{std::forward<Args>(args)...});
    return back();
  }
  void pop_back() noexcept { --size_; }

  void swap(Pool& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(touched_, other.touched_);
    std::swap(bytes_, other.bytes_);
  }
  friend void swap(Pool& a, Pool& b) noexcept { a.swap(b); }

  friend bool operator==(const Pool& a, const Pool& b) {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }
  friend bool operator==(const Pool& a, const std::vector<T>& b) {
    return a.size_ == b.size() && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  // Room for at least n entries: geometric growth, so that entries added one at a time cost
  // amortised constant time (a page block's unused tail is never touched).
  void Grow(size_t n) { Regrow(std::max(n, std::min(2 * capacity_, max_size()))); }

  void Regrow(size_t n) {
    if (n > max_size()) throw std::bad_alloc();
    size_t granted = 0;
    void* p = platform::GrowZeroed(data_, bytes_, n * sizeof(T), &granted);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    bytes_ = granted;
    capacity_ = std::min(granted / sizeof(T), max_size());
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t touched_ = 0;  // entries from here to the capacity are zero bytes
  size_t bytes_ = 0;    // the size of the block, as granted
};

}  // namespace wz
