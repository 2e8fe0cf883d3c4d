#include "platform/d3d/texture.h"
#include "platform/d3d/device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace wz::d3d {
namespace {

std::shared_ptr<Texture> Make(UINT w, UINT h, UINT levels, D3DFORMAT format,
                              D3DPOOL pool = D3DPOOL_MANAGED, DWORD usage = 0) {
  std::shared_ptr<Texture> t;
  EXPECT_EQ(Texture::Create(nullptr, w, h, levels, usage, format, pool, &t), S_OK);
  return t;
}

TEST(Texture, FullChainHalvesEachSideDownToOne) {
  struct Case {
    UINT w, h;
    std::vector<std::pair<UINT, UINT>> levels;
  } cases[] = {
      {256, 64, {{256, 64}, {128, 32}, {64, 16}, {32, 8}, {16, 4}, {8, 2}, {4, 1}, {2, 1}, {1, 1}}},
      {4, 1, {{4, 1}, {2, 1}, {1, 1}}},
      {1, 1, {{1, 1}}},
      {300,
       200,
       {{300, 200}, {150, 100}, {75, 50}, {37, 25}, {18, 12}, {9, 6}, {4, 3}, {2, 1}, {1, 1}}},
  };
  for (const Case& c : cases) {
    auto t = Make(c.w, c.h, 0, D3DFMT_A8R8G8B8);
    ASSERT_EQ(t->GetLevelCount(), c.levels.size()) << c.w << "x" << c.h;
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
      D3DSURFACE_DESC d{};
      ASSERT_EQ(t->GetLevelDesc(i, &d), S_OK);
      EXPECT_EQ(d.Width, c.levels[i].first);
      EXPECT_EQ(d.Height, c.levels[i].second);
      EXPECT_EQ(d.Format, D3DFMT_A8R8G8B8);
      EXPECT_EQ(d.Type, D3DRTYPE_SURFACE);
      EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
      EXPECT_EQ(d.Usage, 0u);
      EXPECT_EQ(d.MultiSampleType, D3DMULTISAMPLE_NONE);
    }
  }
  EXPECT_EQ(Make(256, 64, 3, D3DFMT_A8R8G8B8)->GetLevelCount(), 3u);
}

TEST(Texture, PitchFollowsTheFormat) {
  const std::pair<D3DFORMAT, int> formats[] = {
      {D3DFMT_A8R8G8B8, 4}, {D3DFMT_X8R8G8B8, 4},      {D3DFMT_A4R4G4B4, 2},
      {D3DFMT_R32F, 4},     {D3DFMT_R16F, 2},          {D3DFMT_L8, 1},
      {D3DFMT_R5G6B5, 2},   {D3DFMT_A16B16G16R16F, 8}, {D3DFMT_A32B32G32R32F, 16},
  };
  for (auto [format, bytes] : formats) {
    auto t = Make(7, 3, 1, format);
    D3DLOCKED_RECT r{};
    ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK) << format;
    EXPECT_EQ(r.Pitch, 7 * bytes) << format;
    // Every byte of the level is there and starts at zero.
    const uint8_t* p = static_cast<const uint8_t*>(r.pBits);
    for (int i = 0; i < r.Pitch * 3; ++i)
      ASSERT_EQ(p[i], 0) << format;
    EXPECT_EQ(t->UnlockRect(0), S_OK);
  }
}

TEST(Texture, LockedMemoryKeepsWhatWasWritten) {
  auto t = Make(4, 4, 0, D3DFMT_A8R8G8B8);
  D3DLOCKED_RECT r{};
  ASSERT_EQ(t->LockRect(1, &r, nullptr, 0), S_OK);
  uint32_t v = 0x11223344;
  std::memcpy(static_cast<uint8_t*>(r.pBits) + r.Pitch + 4, &v, 4);  // texel (1, 1) of level 1
  ASSERT_EQ(t->UnlockRect(1), S_OK);
  // A rectangle lock points at its first texel with the level's pitch.
  RECT rect{1, 1, 2, 2};
  ASSERT_EQ(t->LockRect(1, &r, &rect, D3DLOCK_READONLY), S_OK);
  EXPECT_EQ(r.Pitch, 8);
  uint32_t read;
  std::memcpy(&read, r.pBits, 4);
  EXPECT_EQ(read, v);
  ASSERT_EQ(t->UnlockRect(1), S_OK);
  // The other levels are separate memory.
  ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK);
  for (int i = 0; i < 16 * 4; ++i)
    EXPECT_EQ(static_cast<uint8_t*>(r.pBits)[i], 0);
  ASSERT_EQ(t->UnlockRect(0), S_OK);
}

TEST(Texture, BadLevelsLocksAndRectanglesAreInvalidCalls) {
  auto t = Make(8, 4, 2, D3DFMT_A8R8G8B8);
  D3DSURFACE_DESC d;
  D3DLOCKED_RECT r;
  EXPECT_EQ(t->GetLevelDesc(2, &d), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->GetLevelDesc(0, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->LockRect(2, &r, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);  // not locked
  EXPECT_EQ(t->UnlockRect(5), D3DERR_INVALIDCALL);
  const RECT bad[] = {{0, 0, 9, 4}, {0, 0, 8, 5}, {-1, 0, 2, 2}, {3, 0, 3, 2}, {0, 2, 2, 1}};
  for (const RECT& rect : bad) {
    EXPECT_EQ(t->LockRect(0, &r, &rect, 0), D3DERR_INVALIDCALL) << rect.left << rect.right;
  }
  ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK);
  EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
  EXPECT_EQ(t->LockRect(1, &r, nullptr, 0), S_OK);                // another level may be
  EXPECT_TRUE(t->IsLocked(0));
  EXPECT_EQ(t->UnlockRect(0), S_OK);
  EXPECT_EQ(t->UnlockRect(1), S_OK);
}

TEST(Texture, CreationRefusesImpossibleTextures) {
  std::shared_ptr<Texture> t;
  struct Case {
    const char* name;
    UINT w, h, levels;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
  } cases[] = {
      {"zero width", 0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"zero height", 4, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"too wide", kMaxTextureSide + 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"too many levels", 4, 4, 4, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"block format", 4, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED},
      {"unknown format", 4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED},
      {"dynamic managed", 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"unknown pool", 4, 4, 1, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(7)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Texture::Create(nullptr, c.w, c.h, c.levels, c.usage, c.format, c.pool, &t),
              D3DERR_INVALIDCALL)
        << c.name;
    EXPECT_EQ(t, nullptr) << c.name;
  }
  EXPECT_EQ(Texture::Create(nullptr, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(Texture::Create(nullptr, 4, 4, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
}

TEST(Texture, DefaultPoolLocksOnlyWhenDynamic) {
  D3DLOCKED_RECT r;
  auto fixed = Make(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
  EXPECT_EQ(fixed->LockRect(0, &r, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(fixed->LevelBits(0).size(), 64u);  // the platform layer still reaches the memory
  auto dynamic = Make(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC);
  EXPECT_EQ(dynamic->LockRect(0, &r, nullptr, D3DLOCK_DISCARD), S_OK);
  auto system = Make(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
  EXPECT_EQ(system->LockRect(0, &r, nullptr, 0), S_OK);
}

TEST(Texture, RemembersItsDevice) {
  D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = params.BackBufferHeight = 4;
  Device device(D3DCAPS9{}, D3DDEVTYPE_HAL, 0, params);
  std::shared_ptr<Texture> t;
  ASSERT_EQ(Texture::Create(&device, 2, 2, 1, 0, D3DFMT_R32F, D3DPOOL_MANAGED, &t), S_OK);
  EXPECT_EQ(t->GetDevice(), &device);
  EXPECT_EQ(t->GetType(), D3DRTYPE_TEXTURE);
  EXPECT_EQ(t->Format(), D3DFMT_R32F);
}

}  // namespace
}  // namespace wz::d3d
