#include "formats/byte_cursor.h"

#include <gtest/gtest.h>

namespace wz {
namespace {

TEST(ByteCursor, ReadsBothByteOrdersAndFailsStickilyAtTheEnd) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  ByteCursor c(bytes);
  EXPECT_EQ(c.u16(), 0x0201);
  EXPECT_EQ(c.u16be(), 0x0304);
  EXPECT_EQ(c.remaining(), 2u);
  EXPECT_EQ(c.u32(), 0u);  // only two bytes left
  EXPECT_FALSE(c.ok());
  EXPECT_EQ(c.u8(), 0);  // stays failed
  EXPECT_EQ(c.remaining(), 0u);
}

TEST(ByteCursor, SubCursorsAndCountChecks) {
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  ByteCursor c(bytes);
  ByteCursor s = c.sub(3);
  EXPECT_EQ(s.size(), 3u);
  EXPECT_TRUE(c.canHold(2, 1));
  EXPECT_FALSE(c.canHold(3, 1));
  EXPECT_FALSE(c.canHold(0xFFFFFFFFull, 4));
  EXPECT_FALSE(c.skip(uint64_t{1} << 40));
  EXPECT_FALSE(c.ok());
}

}  // namespace
}  // namespace wz
