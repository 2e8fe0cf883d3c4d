#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    size_t granted = 0;
    void* block = AllocateZeroed(from, &granted);
    ASSERT_NE(block, nullptr);
    ASSERT_GE(granted, from);
    ASSERT_TRUE(ZeroFrom(block, 0, granted)) << from;
    std::memset(block, 0xA5, granted);
    size_t grownSize = 0;
    void* grown = GrowZeroed(block, granted, to, &grownSize);
    ASSERT_NE(grown, nullptr) << from << " -> " << to;
    ASSERT_GE(grownSize, to);
    const auto* b = static_cast<const unsigned char*>(grown);
    EXPECT_TRUE(b[0] == 0xA5 && b[granted - 1] == 0xA5) << from << " -> " << to;
    EXPECT_TRUE(ZeroFrom(grown, granted, grownSize)) << from << " -> " << to;
    FreeZeroed(grown, grownSize, grownSize);
  }
}

TEST(ZeroedMemory, ImpossibleSizesGiveNull) {
  EXPECT_EQ(AllocateZeroed(0), nullptr);
  // Under AddressSanitizer every block is a heap block, and the sanitizer's allocator stops the
  // program on an impossible size instead of failing the call.
  if (!ZeroedBlockIsPages(kPageBlockBytes)) GTEST_SKIP() << "heap blocks only";
  EXPECT_EQ(AllocateZeroed(SIZE_MAX - 10), nullptr);
  size_t granted = 0;
  void* block = AllocateZeroed(kPageBlockBytes * 2, &granted);
  ASSERT_NE(block, nullptr);
  static_cast<unsigned char*>(block)[5] = 7;
  EXPECT_EQ(GrowZeroed(block, granted, SIZE_MAX - 10), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(block)[5], 7);  // left as it was
  FreeZeroed(block, granted, 6);
  FreeZeroed(nullptr, 10, 0);
}

TEST(ZeroedMemory, AFreedBlockComesBackZero) {
  // A freed page block may be handed out again, for the same size or a smaller one: what was
  // written must read zero then.
  const size_t bytes = 5 * kPageBlockBytes + 123;
  for (size_t written : {size_t{1}, bytes / 2, bytes, size_t{0}}) {
    std::vector<std::pair<void*, size_t>> blocks;
    for (size_t want : {bytes, bytes, bytes * 2 / 3, bytes}) {
      size_t granted = 0;
      void* b = AllocateZeroed(want, &granted);
      ASSERT_NE(b, nullptr);
      ASSERT_GE(granted, want);
      ASSERT_TRUE(ZeroFrom(b, 0, granted)) << written << " " << want;
      const size_t w = std::min(written, granted);
      std::memset(b, 0x5A, std::min(w, size_t{100}));
      // Scattered writes too: only some pages of the block hold memory.
      for (size_t at = 4096 * 3 + 17; at < w; at += 4096 * 7)
        static_cast<unsigned char*>(b)[at] = 0xA5;
      blocks.emplace_back(b, granted);
    }
    for (auto [b, granted] : blocks)
      FreeZeroed(b, granted, std::min(written, granted));
  }
}

TEST(ZeroedMemory, ABlockForWritingIsZeroPastWhatTheCallerWrites) {
  // A block written all over and freed comes back for writing: only the bytes asked for may hold
  // what it held, the rest of it reads zero. Sizes cross the 16 MB line past which pages are
  // given back rather than cleared, with an end that is not on a page.
  const size_t big = (size_t{40} << 20) + 5000;
  const std::pair<size_t, size_t> cases[] = {
      {5 * kPageBlockBytes, 5 * kPageBlockBytes - 1000},
      {5 * kPageBlockBytes, 3 * kPageBlockBytes + 7},
      {big, (size_t{21} << 20) + 1234},
      {100, 60},
      {100, (size_t{600} << 10) + 3},  // made of whole 2 MB extents: a fresh block
      {(size_t{3} << 20) + 1, (size_t{700} << 10) + 9},  // and a kept one of them
  };
  for (auto [first, forWriting] : cases) {
    SCOPED_TRACE(forWriting);
    size_t granted = 0;
    void* b = AllocateZeroed(first, &granted);
    ASSERT_NE(b, nullptr);
    std::memset(b, 0x5A, granted);
    FreeZeroed(b, granted, granted);
    size_t got = 0;
    void* w = AllocateForWriting(forWriting, &got);
    ASSERT_NE(w, nullptr);
    ASSERT_GE(got, forWriting);
    EXPECT_TRUE(ZeroFrom(w, forWriting, got));
    std::memset(w, 0x33, forWriting);
    FreeZeroed(w, got, forWriting);
    // And handed out as zeroed memory again, all of it reads zero.
    void* z = AllocateZeroed(forWriting, &got);
    ASSERT_NE(z, nullptr);
    EXPECT_TRUE(ZeroFrom(z, 0, got));
    FreeZeroed(z, got, 0);
  }
}

}  // namespace
}  // namespace wz::platform
