// A bounded cursor over untrusted bytes. Every read compares what it needs with what remains;
// a read past the end fails, returns zero values and makes the cursor fail for good (sticky), so
// a reader checks ok() at record boundaries instead of after every field.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace wz {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
  size_t position() const { return pos_; }
  size_t size() const { return bytes_.size(); }
  bool ok() const { return ok_; }
  bool atEnd() const { return ok_ && pos_ == bytes_.size(); }
  void fail() { ok_ = false; }

  // Little-endian reads.
  uint8_t u8() { return static_cast<uint8_t>(Le(1)); }
  uint16_t u16() { return static_cast<uint16_t>(Le(2)); }
  uint32_t u32() { return static_cast<uint32_t>(Le(4)); }
  int16_t i16() { return static_cast<int16_t>(u16()); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  float f32() {
    uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  double f64() {
    uint64_t bits = Le(8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }

  // Big-endian reads.
  uint16_t u16be() { return static_cast<uint16_t>(Be(2)); }
  uint32_t u32be() { return static_cast<uint32_t>(Be(4)); }
  int16_t i16be() { return static_cast<int16_t>(u16be()); }
  int32_t i32be() { return static_cast<int32_t>(u32be()); }
  float f32be() {
    uint32_t bits = u32be();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }

  // Copies n bytes; fails (and zero-fills dst) when fewer remain.
  bool read(void* dst, size_t n) {
    if (!need(n)) {
      if (n) std::memset(dst, 0, n);
      return false;
    }
    if (n) std::memcpy(dst, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool skip(uint64_t n) {
    if (!need(n)) return false;
    pos_ += static_cast<size_t>(n);
    return true;
  }
  // The next n bytes as a sub-cursor, which this cursor skips.
  ByteCursor sub(uint64_t n) {
    if (!need(n)) return ByteCursor({});
    ByteCursor c(bytes_.subspan(pos_, static_cast<size_t>(n)));
    pos_ += static_cast<size_t>(n);
    return c;
  }
  std::span<const uint8_t> rest() const {
    return ok_ ? bytes_.subspan(pos_) : std::span<const uint8_t>{};
  }
  // True when count records of at least minBytes each could still fit; use before reserving.
  bool canHold(uint64_t count, uint64_t minBytes) const {
    return minBytes == 0 || count <= remaining() / minBytes;
  }

 private:
  bool need(uint64_t n) {
    if (!ok_ || n > bytes_.size() - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  uint64_t Le(int n) {
    if (!need(size_t(n))) return 0;
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
      v = (v << 8) | bytes_[pos_ + size_t(i)];
    pos_ += size_t(n);
    return v;
  }
  uint64_t Be(int n) {
    if (!need(size_t(n))) return 0;
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
      v = (v << 8) | bytes_[pos_ + size_t(i)];
    pos_ += size_t(n);
    return v;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace wz
