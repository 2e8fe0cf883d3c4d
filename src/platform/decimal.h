// Decimal text to float, as std::from_chars reads it (general format: an optional '-', digits
// with an optional point, an optional exponent), with the same result bit for bit and a faster
// road for the short numbers that model files hold. Header only.
//
// The fast road takes a number of at most 19 significant digits whose power of ten lies in
// [-22, 22]: its digits and that power are exact doubles, so one multiplication or division gives
// the double nearest to the decimal value. Rounding that double to float gives the float nearest
// to the decimal value unless the double lies exactly halfway between two floats (no halfway
// point can lie between the decimal value and its nearest double); that case, and every number
// outside the fast road, goes to std::from_chars.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace wz::platform {
namespace decimal_detail {

inline constexpr uint64_t kPow10[] = {1,      10,      100,      1000,     10000,
                                      100000, 1000000, 10000000, 100000000};

// The eight digit values in the bytes of `d` (the lowest byte the most significant digit) as one
// number: pairs of digits, then pairs of pairs, combined by multiplication.
inline uint64_t EightDigits(uint64_t d) {
  d = d * 10 + (d >> 8);  // bytes 0, 2, 4, 6: two-digit numbers
  constexpr uint64_t kPairs = 0x000000FF000000FF;
  return ((d & kPairs) * (100 + (uint64_t{1000000} << 32)) +
          ((d >> 16) & kPairs) * (1 + (uint64_t{10000} << 32))) >>
         32;
}

// Appends the run of digits at p (up to `last`) to `value`, counting them in `count`; returns
// the end of the run. Bytes up to `readable` may be read: eight at a time where they are there
// (on little-endian machines). Stops adding once more than 19 digits are counted (the caller then
// gives up on `value`).
inline const char* TakeDigits(const char* p, const char* last, const char* readable,
                              uint64_t& value, int& count) {
  if constexpr (std::endian::native == std::endian::little) {
    while (readable - p >= 8 && count <= 19) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      // High bit of each byte that is not '0'..'9'; exact up to the first such byte.
      const uint64_t other =
          ((w + 0x4646464646464646) | (w - 0x3030303030303030)) & 0x8080808080808080;
      const size_t k =
          std::min<size_t>(other ? size_t(std::countr_zero(other)) / 8 : 8, size_t(last - p));
      if (k == 0) return p;
      value = value * kPow10[k] + EightDigits((w - 0x3030303030303030) << (8 * (8 - k)));
      count += int(k);
      p += k;
      if (k < 8) return p;
    }
  }
  for (; p < last && unsigned(*p - '0') < 10; ++p, ++count)
    value = value * 10 + unsigned(*p - '0');
  return p;
}

}  // namespace decimal_detail

// `readable` (at or after `last`) bounds what may be read beyond the number's text: a caller
// whose text lies in a larger buffer passes that buffer's end.
inline std::from_chars_result FloatFromChars(const char* first, const char* last, float& value,
                                             const char* readable = nullptr) {
  using namespace decimal_detail;
  if (readable < last) readable = last;
  auto isDigit = [](char c) { return unsigned(c - '0') < 10; };
  const char* p = first;
  const bool negative = p < last && *p == '-';
  p += negative;
  // Digits, with at most one point among them. More than 19 of them (leading zeros included)
  // could overflow `digits`: such numbers go to from_chars.
  uint64_t digits = 0;
  int count = 0;
  p = TakeDigits(p, last, readable, digits, count);
  int exponent = 0;  // power of ten that `digits` is scaled by
  if (p < last && *p == '.') {
    const int before = count;
    p = TakeDigits(p + 1, last, readable, digits, count);
    exponent = before - count;
  }
  if (count == 0 || count > 19) return std::from_chars(first, last, value);
  if (p < last && (*p | 0x20) == 'e') {
    const char* q = p + 1;
    const bool minus = q < last && *q == '-';
    q += q < last && (*q == '-' || *q == '+');
    if (q < last && isDigit(*q)) {
      int e = 0;
      for (; q < last && isDigit(*q); ++q) {
        if (e > 1000) return std::from_chars(first, last, value);
        e = e * 10 + (*q - '0');
      }
      exponent += minus ? -e : e;
      p = q;
    }
  }
  if (digits == 0) {
    value = negative ? -0.0f : 0.0f;
    return {p, std::errc()};
  }
  if (exponent < -22 || exponent > 22 || digits > (uint64_t{1} << 53)) {
    return std::from_chars(first, last, value);
  }
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const double d =
      exponent < 0 ? double(digits) / kPowers[-exponent] : double(digits) * kPowers[exponent];
  // Outside the normal float range the halfway test below does not hold; leave it to from_chars.
  if (!(d >= double(std::numeric_limits<float>::min()) &&
        d <= double(std::numeric_limits<float>::max()))) {
    return std::from_chars(first, last, value);
  }
  // A double halfway between two normal floats has 1 followed by 28 zeros in the 29 fraction
  // bits a float does not keep.
  constexpr uint64_t kDropped = (uint64_t{1} << 29) - 1;
  if ((std::bit_cast<uint64_t>(d) & kDropped) == (uint64_t{1} << 28)) {
    return std::from_chars(first, last, value);
  }
  const float f = static_cast<float>(d);
  value = negative ? -f : f;
  return {p, std::errc()};
}

}  // namespace wz::platform
