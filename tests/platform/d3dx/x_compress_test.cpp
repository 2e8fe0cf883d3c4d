#include "platform/d3dx/x_compress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/d3dx/x_test_writer.h"

namespace wz::d3dx {
namespace {

std::vector<uint8_t> Body(size_t n, bool random) {
  std::vector<uint8_t> b(n);
  std::mt19937 rng(7);
  for (size_t i = 0; i < n; ++i)
    b[i] = random ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>("mesh 0;1;2;\n"[i % 12]);
  return b;
}

TEST(XCompress, RoundTripsBodiesOfEverySize) {
  for (size_t n :
       {size_t{0}, size_t{1}, size_t{32767}, size_t{32768}, size_t{32769}, size_t{200000}}) {
    for (bool random : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (random ? " random" : " repetitive"));
      const auto body = Body(n, random);
      std::vector<uint8_t> packed;
      ASSERT_TRUE(DeflateXBody(body, packed));
      uint32_t total;
      std::memcpy(&total, packed.data(), 4);
      EXPECT_EQ(total, n + 16);
      // Blocks of at most 32768 bytes, each with its size words and signature.
      size_t pos = 4, blocks = 0;
      while (pos < packed.size()) {
        const uint16_t plain = packed[pos] | packed[pos + 1] << 8;
        const uint16_t size = packed[pos + 2] | packed[pos + 3] << 8;
        EXPECT_LE(plain, 32768);
        EXPECT_LT(size, 32786);
        EXPECT_EQ(packed[pos + 4], 'C');
        EXPECT_EQ(packed[pos + 5], 'K');
        pos += 4 + size;
        ++blocks;
      }
      EXPECT_EQ(pos, packed.size());
      EXPECT_EQ(blocks, (n + 32767) / 32768);
      std::vector<uint8_t> back;
      XStatus st;
      ASSERT_TRUE(InflateXBody(packed, back, st)) << st.message;
      EXPECT_EQ(back, body);
    }
  }
}

TEST(XCompress, BlocksMayUseEarlierOutputAsDictionary) {
  const auto body = Body(100000, false);
  std::vector<uint8_t> packed;
  xtest::Writer::Compress(body, packed, 5000, /*chained=*/true);
  std::vector<uint8_t> back;
  XStatus st;
  ASSERT_TRUE(InflateXBody(packed, back, st)) << st.message;
  EXPECT_EQ(back, body);
}

TEST(XCompress, BytesAfterTheDeflateStreamInABlockAreIgnored) {
  // Some writers leave a 4-byte checksum after the stream: the block ends at its stated size.
  const auto body = Body(1000, false);
  std::vector<uint8_t> packed;
  ASSERT_TRUE(DeflateXBody(body, packed));
  packed.insert(packed.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  const uint16_t size = static_cast<uint16_t>((packed[6] | packed[7] << 8) + 4);
  packed[6] = size & 255;
  packed[7] = size >> 8;
  std::vector<uint8_t> back;
  XStatus st;
  ASSERT_TRUE(InflateXBody(packed, back, st)) << st.message;
  EXPECT_EQ(back, body);
}

TEST(XCompress, RefusesDamagedData) {
  const auto body = Body(40000, true);
  std::vector<uint8_t> good;
  ASSERT_TRUE(DeflateXBody(body, good));
  struct Case {
    const char* name;
    size_t at;  // byte to change
    uint8_t value;
    XError error;
  };
  const Case cases[] = {
      {"total one larger", 0, static_cast<uint8_t>(good[0] + 1), XError::Truncated},
      {"total one smaller", 0, static_cast<uint8_t>(good[0] - 1), XError::Compression},
      {"block larger than 32768", 5, 0x81, XError::Compression},
      {"block one byte larger than it decodes to", 4, static_cast<uint8_t>(good[4] + 1),
       XError::Compression},
      {"signature", 8, 'X', XError::Compression},
      {"compressed size past the end", 7, 0xFF, XError::Truncated},
      {"damaged deflate data", 12, static_cast<uint8_t>(good[12] ^ 0xFF), XError::Compression},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bad = good;
    bad[c.at] = c.value;
    std::vector<uint8_t> out;
    XStatus st;
    EXPECT_FALSE(InflateXBody(bad, out, st));
    EXPECT_EQ(st.error, c.error) << st.message;
  }
  for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 97)) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n), out;
    XStatus st;
    EXPECT_FALSE(InflateXBody(cut, out, st)) << n;
  }
}

TEST(XCompress, BodyIsBoundedByTheCompressedSize) {
  // 40 MB of one byte compress to about 40 KB: a thousandfold, beyond what mesh text gives.
  // Up to kXMaxBodyBase any ratio is taken; past it, at most kXMaxBodyRatio times the data.
  for (const auto& [size, taken] : {std::pair{kXMaxBodyBase, true}, {size_t{40} << 20, false}}) {
    std::vector<uint8_t> body(size, 'a'), packed, back;
    ASSERT_TRUE(DeflateXBody(body, packed));
    XStatus st;
    EXPECT_EQ(InflateXBody(packed, back, st), taken) << size;
    if (!taken) {
      EXPECT_EQ(st.error, XError::CountTooLarge);
      EXPECT_NE(st.message.find("times the"), std::string::npos) << st.message;
      EXPECT_TRUE(back.empty());
    }
  }
}

}  // namespace
}  // namespace wz::d3dx
