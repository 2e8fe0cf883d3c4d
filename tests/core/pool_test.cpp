#include "core/pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "model/model.h"
#include "platform/memory.h"

namespace wz {
namespace {

// Sizes on both sides of the page-block threshold, so that heap blocks, page blocks and the move
// from one to the other are all exercised.
const size_t kSmall = 10;
const size_t kLarge = platform::kPageBlockBytes / sizeof(Vec3) + 1000;

Vec3 At(size_t i) {
  return {float(i), float(i) + 0.5f, -float(i)};
}

TEST(Pool, NewEntriesAreZeroEvenWhereEntriesWereUsedBefore) {
  for (size_t n : {kSmall, kLarge}) {
    Pool<Vec3> p;
    p.resize(n);
    for (size_t i = 0; i < n; ++i)
      p[i] = At(i + 1);
    p.resize(n / 2);
    p.resize(n + 3);  // entries n/2 .. n were in use; n .. n+3 never were
    ASSERT_EQ(p.size(), n + 3);
    for (size_t i = 0; i < n / 2; ++i)
      ASSERT_EQ(p[i], At(i + 1)) << i;
    for (size_t i = n / 2; i < n + 3; ++i)
      ASSERT_EQ(p[i], Vec3{}) << i;
    p.clear();
    p.resize(n);
    for (size_t i = 0; i < n; ++i)
      ASSERT_EQ(p[i], Vec3{}) << i;
  }
}

TEST(Pool, GrowingKeepsEntriesAcrossEveryKindOfBlock) {
  // One entry at a time from empty to past the page-block threshold, then one large step: each
  // move of the storage (heap to heap, heap to pages, pages to pages) keeps what was written.
  Pool<Vec3> p;
  for (size_t i = 0; i < kLarge; ++i)
    p.push_back(At(i));
  p.resize(4 * kLarge, Vec3{1, 2, 3});
  ASSERT_EQ(p.size(), 4 * kLarge);
  for (size_t i = 0; i < kLarge; ++i)
    ASSERT_EQ(p[i], At(i)) << i;
  for (size_t i = kLarge; i < 4 * kLarge; ++i)
    ASSERT_EQ(p[i], (Vec3{1, 2, 3})) << i;
  p.reserve(10 * kLarge);
  EXPECT_GE(p.capacity(), 10 * kLarge);
  EXPECT_EQ(p[kLarge - 1], At(kLarge - 1));
}

TEST(Pool, GrowsStepByStepPastLargeBlocks) {
  // A pool made large at once (a preallocated model's, 5 MB) takes huge pages past its first
  // 2 MB only; a reader then grows it to what it fills, with advice about the whole write. Each
  // growth must move every entry whatever advice the block has had. Steps cross the 2 MB and
  // 16 MB lines; each leaves the last eighth of the pool unwritten.
  for (const size_t firstMegabytes : {1, 5}) {
    Pool<Vec3> p;
    p.resize((firstMegabytes << 20) / sizeof(Vec3));  // no advice, as GiveCapacityPools
    size_t written = 1000;
    for (size_t i = 0; i < written; ++i)
      p[i] = At(i + 1);
    for (size_t megabytes : {3, 9, 17, 40}) {
      if (megabytes <= firstMegabytes) continue;
      const size_t n = (megabytes << 20) / sizeof(Vec3);
      GrowTo(p, n);
      ASSERT_EQ(p.size(), n) << megabytes;
      for (; written < n - n / 8; ++written)
        p[written] = At(written + 1);
      for (size_t i = 0; i < written; ++i)
        ASSERT_EQ(p[i], At(i + 1)) << firstMegabytes << " to " << megabytes << " MB, entry " << i;
      for (size_t i = written; i < n; ++i)
        ASSERT_EQ(p[i], Vec3{}) << firstMegabytes << " to " << megabytes << " MB, entry " << i;
    }
  }
}

TEST(Pool, ValueTakenFromThePoolItselfSurvivesTheMove) {
  Pool<Vec3> p{At(7)};
  p.resize(kLarge, p[0]);  // p[0] moves with the storage
  EXPECT_EQ(p[kLarge - 1], At(7));
  Pool<Vec3> q{At(1), At(2)};
  q.push_back(q[1]);
  q.push_back(q[0]);
  EXPECT_EQ(q, (std::vector<Vec3>{At(1), At(2), At(2), At(1)}));
  q.assign(3, q[3]);
  EXPECT_EQ(q, (std::vector<Vec3>{At(1), At(1), At(1)}));
}

TEST(Pool, CopiesMovesAssignsAndComparesLikeAVector) {
  const std::vector<Vec3> values = {At(1), At(2), At(3)};
  Pool<Vec3> a(values);
  EXPECT_EQ(a, values);
  EXPECT_EQ(a.front(), At(1));
  EXPECT_EQ(a.back(), At(3));

  Pool<Vec3> b = a;
  b[1] = At(9);
  EXPECT_EQ(a[1], At(2));  // a copy owns its storage
  EXPECT_FALSE(a == b);

  Pool<Vec3> c = std::move(b);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(c[1], At(9));
  c = a;
  EXPECT_EQ(c, a);
  c = {At(5)};
  EXPECT_EQ(c.size(), 1u);
  c.assign(values.rbegin(), values.rend());
  EXPECT_EQ(c, (std::vector<Vec3>{At(3), At(2), At(1)}));
  c.emplace_back(1.0f, 2.0f, 3.0f);
  c.pop_back();
  EXPECT_EQ(c.size(), 3u);

  swap(a, c);
  EXPECT_EQ(a[0], At(3));
  EXPECT_EQ(c[0], At(1));
  EXPECT_EQ(std::vector<Vec3>(c.begin(), c.end()), values);
}

// Zero storage must read as the value each model pool gives a new entry.
template <typename T>
T FromZeroBytes() {
  T t;
  const unsigned char zeros[sizeof(T)] = {};
  std::memcpy(static_cast<void*>(&t), zeros, sizeof(T));
  return t;
}

TEST(Pool, ZeroStorageIsTheNewEntryOfEveryModelPool) {
  EXPECT_EQ(FromZeroBytes<Vec3>(), Vec3{});
  EXPECT_EQ(FromZeroBytes<ColourF>(), ColourF{});
  EXPECT_EQ(FromZeroBytes<Uv>(), Uv{});
  EXPECT_EQ(FromZeroBytes<Polygon>(), Polygon{});
  EXPECT_EQ(FromZeroBytes<VertexAttr>(), kFreshVertexAttr);
  EXPECT_EQ(FromZeroBytes<uint8_t>(), 0);
  // The zeroed attribute stays the one with auto-bind off.
  EXPECT_EQ(VertexAttr{}.autoBind, 0);
  EXPECT_NE(VertexAttr{}, kFreshVertexAttr);
  EXPECT_TRUE(IsZeroBytes(kFreshVertexAttr));
  EXPECT_FALSE(IsZeroBytes(VertexAttr{}));
}

TEST(Pool, GrowToWritesAFillThatIsNotZeroStorage) {
  Pool<VertexAttr> attrs;
  GrowTo(attrs, 3);  // VertexAttr{}: auto-bind off
  GrowTo(attrs, 5, kFreshVertexAttr);
  ASSERT_EQ(attrs.size(), 5u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(attrs[i].autoBind, 0) << i;
  for (size_t i = 3; i < 5; ++i)
    EXPECT_EQ(attrs[i].autoBind, 1) << i;
  attrs[0].autoBind = 1;
  EXPECT_EQ(attrs[0], kFreshVertexAttr);
}

}  // namespace
}  // namespace wz
