#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace wz::platform {
namespace {

// True when bytes [from, to) of the block are zero.
bool ZeroFrom(const void* block, size_t from, size_t to) {
  const auto* b = static_cast<const unsigned char*>(block);
  for (size_t i = from; i < to; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

TEST(ZeroedMemory, GrowingKeepsTheContentsAndZeroesTheRest) {
  // Each step crosses or stays on one side of the page-block threshold.
  const std::vector<std::pair<size_t, size_t>> steps = {
      {100, 1000},                                 // heap to heap
      {1000, kPageBlockBytes + 1},                 // heap to pages
      {kPageBlockBytes + 1, 5 * kPageBlockBytes},  // pages to pages
      {3 * kPageBlockBytes + 7, 3 * kPageBlockBytes + 9},
  };
  for (auto [from, to] : steps) {
    void* block = AllocateZeroed(from);
    ASSERT_NE(block, nullptr);
    ASSERT_TRUE(ZeroFrom(block, 0, from)) << from;
    std::memset(block, 0xA5, from);
    void* grown = GrowZeroed(block, from, to);
    ASSERT_NE(grown, nullptr) << from << " -> " << to;
    const auto* b = static_cast<const unsigned char*>(grown);
    EXPECT_TRUE(b[0] == 0xA5 && b[from - 1] == 0xA5) << from << " -> " << to;
    EXPECT_TRUE(ZeroFrom(grown, from, to)) << from << " -> " << to;
    FreeZeroed(grown, to, to);
  }
}

TEST(ZeroedMemory, ImpossibleSizesGiveNull) {
  EXPECT_EQ(AllocateZeroed(0), nullptr);
  // Under AddressSanitizer every block is a heap block, and the sanitizer's allocator stops the
  // program on an impossible size instead of failing the call.
  if (!ZeroedBlockIsPages(kPageBlockBytes)) GTEST_SKIP() << "heap blocks only";
  EXPECT_EQ(AllocateZeroed(SIZE_MAX - 10), nullptr);
  void* block = AllocateZeroed(kPageBlockBytes * 2);
  ASSERT_NE(block, nullptr);
  static_cast<unsigned char*>(block)[5] = 7;
  EXPECT_EQ(GrowZeroed(block, kPageBlockBytes * 2, SIZE_MAX - 10), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(block)[5], 7);  // left as it was
  FreeZeroed(block, kPageBlockBytes * 2, 6);
  FreeZeroed(nullptr, 10, 0);
}

TEST(ZeroedMemory, AFreedBlockComesBackZero) {
  // A freed page block may be handed out again: what was written must read zero then.
  const size_t bytes = 5 * kPageBlockBytes + 123;
  for (size_t written : {size_t{1}, bytes / 2, bytes}) {
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i) {
      void* b = AllocateZeroed(bytes);
      ASSERT_NE(b, nullptr);
      ASSERT_TRUE(ZeroFrom(b, 0, bytes)) << written << " " << i;
      std::memset(b, 0x5A, std::min(written, size_t{100}));
      // Scattered writes too: only some pages of the block hold memory.
      for (size_t at = 4096 * 3 + 17; at < written; at += 4096 * 7)
        static_cast<unsigned char*>(b)[at] = 0xA5;
      blocks.push_back(b);
    }
    for (void* b : blocks)
      FreeZeroed(b, bytes, written);
  }
  for (int i = 0; i < 4; ++i) {  // the blocks of the last round
    void* b = AllocateZeroed(bytes);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(ZeroFrom(b, 0, bytes)) << i;
    FreeZeroed(b, bytes, 0);
  }
}

}  // namespace
}  // namespace wz::platform
