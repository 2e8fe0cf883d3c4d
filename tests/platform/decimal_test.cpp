#include "platform/decimal.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace wz::platform {
namespace {

// FloatFromChars must agree with std::from_chars on the value's bits, the end and the error.
// The text after `logical` bytes may be read but is not part of the number.
void ExpectSameAsFromChars(const std::string& text, size_t logical) {
  float want = 123.0f, got = 123.0f;
  const char* first = text.data();
  const auto a = std::from_chars(first, first + logical, want);
  const auto b = FloatFromChars(first, first + logical, got, first + text.size());
  ASSERT_EQ(a.ec, b.ec) << '"' << text.substr(0, logical) << '"';
  ASSERT_EQ(a.ptr - first, b.ptr - first) << '"' << text.substr(0, logical) << '"';
  ASSERT_EQ(std::bit_cast<uint32_t>(want), std::bit_cast<uint32_t>(got))
      << '"' << text.substr(0, logical) << "\" " << want << " " << got;
}

TEST(FloatFromChars, AgreesWithFromCharsOnHandPickedText) {
  const char* cases[] = {
      "0",
      "-0",
      "0.0",
      "-0.000",
      ".5",
      "-.5",
      "5.",
      ".",
      "-",
      "",
      "+1",
      "e5",
      "1e",
      "1e+",
      "1e-",
      "1.5e3",
      "1.5E-3",
      "2.5e+10",
      "00000000000000000000001.5",
      "1234567890123456789",
      "12345678901234567890",
      "0.1234567890123456789",
      "16777217",  // exactly halfway between two floats: ties to even
      "16777219",
      "3.4028235e38",
      "3.4028236e38",
      "1e39",
      "1e-38",
      "1.17549435e-38",
      "1e-45",
      "1e-46",
      "7.006492e-46",
      "inf",
      "-infinity",
      "nan",
      "0x1p3",
      "1,5",
      "1.5.5",
      "9007199254740993",
      "0.30000001192092896",
      "123456789e-22",
      "1e22",
      "1e23",
      "4.7e-3;",
      "1.#QNAN0",
      "12345678",
      "123456789",
      "-12.345678\r\n",
      "0.370000\r\n3DFACE",
      "0.5000000298023224",  // its nearest double is halfway between two floats; it is not
  };
  for (const char* c : cases) {
    const std::string text(c);
    ExpectSameAsFromChars(text, text.size());
  }
}

TEST(FloatFromChars, StopsAtTheLogicalEndWhenMoreDigitsFollow) {
  const std::string text = "12345678901234567890.123456789e12";
  for (size_t logical = 0; logical <= text.size(); ++logical)
    ExpectSameAsFromChars(text, logical);
}

TEST(FloatFromChars, AgreesWithFromCharsOnRandomText) {
  std::mt19937 rng(20240611);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
      s += char('0' + rng() % 10);
    return s;
  };
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    if (rng() % 3 == 0) s += '-';
    s += digits(int(rng() % 12));
    if (rng() % 2) s += '.' + digits(int(rng() % 12));
    if (rng() % 4 == 0) {
      s += "eE"[rng() % 2];
      if (rng() % 2) s += "+-"[rng() % 2];
      s += digits(int(rng() % 3));
    }
    const size_t logical = s.size();
    s += digits(int(rng() % 10)) + ";";
    ExpectSameAsFromChars(s, logical);
  }
  for (int i = 0; i < 100000; ++i) {
    const float f = std::bit_cast<float>(uint32_t(rng()) & 0x7FFFFFFF);
    if (!std::isfinite(f)) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", int(rng() % 12) + 1, double(f));
    ExpectSameAsFromChars(text, std::char_traits<char>::length(text));
    std::snprintf(text, sizeof text, "%.6f", double(f) * 1e-30);
    ExpectSameAsFromChars(text, std::char_traits<char>::length(text));
    // Decimals near the point halfway to the next float, whose nearest double may be that point.
    const double halfway = (double(f) + double(std::nextafter(f, INFINITY))) / 2;
    std::snprintf(text, sizeof text, "%.*g", 15 + int(rng() % 3), halfway);
    ExpectSameAsFromChars(text, std::char_traits<char>::length(text));
  }
}

}  // namespace
}  // namespace wz::platform
