// The Direct3D 9 texture: a 2D texture with a chain of mip levels, each level real memory that
// LockRect hands out. Levels are zero-filled at creation, rows are Pitch bytes apart (exactly
// width x bytes per texel here; callers must still use Pitch). Uncompressed formats only (the
// ones BytesPerTexel knows); block-compressed formats are refused. Ownership is shared through
// std::shared_ptr; a texture remembers the device it was made for, which may be null.
// As on Direct3D 9, a default-pool texture without D3DUSAGE_DYNAMIC cannot be locked; the platform
// layer (device, savers) reaches its memory through LevelBits instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/win_types.h"

namespace wz::d3d {

class Device;

// Largest texture side accepted (the biggest MaxTextureWidth/Height of Direct3D 9 adapters).
constexpr UINT kMaxTextureSide = 16384;

struct D3DSURFACE_DESC {
  D3DFORMAT Format;
  D3DRESOURCETYPE Type;
  DWORD Usage;
  D3DPOOL Pool;
  D3DMULTISAMPLE_TYPE MultiSampleType;
  DWORD MultiSampleQuality;
  UINT Width;
  UINT Height;
};

struct D3DLOCKED_RECT {
  int32_t Pitch;
  void* pBits;
};

// Bytes per texel of the formats a texture can hold: A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8,
// R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, X4R4G4B4, A8, L8, A8L8, L16, R16F, G16R16F,
// A16B16G16R16F, R32F, G32R32F, A32B32G32R32F. 0 for every other format.
UINT BytesPerTexel(D3DFORMAT format);

// Number of levels of a full chain down to 1 x 1: 1 + floor(log2(max(width, height))).
UINT FullMipChainLength(UINT width, UINT height);

class Texture {
 public:
  // Creates a texture. `levels` 0 means the full chain. Fails with D3DERR_INVALIDCALL for a null
  // `out`, a zero side or one above kMaxTextureSide, more levels than the full chain, a format
  // BytesPerTexel does not know, an unknown pool, D3DUSAGE_DYNAMIC in the managed pool, and
  // E_OUTOFMEMORY (D3DERR_OUTOFVIDEOMEMORY in the default pool) when memory runs out.
  // `given` holds texels for the first levels (level 0, 1, ...): a buffer of exactly its level's
  // size (pitch x height) is moved in as that level instead of a zero-filled one, saving a copy;
  // buffers of another size are left with the caller.
  static HRESULT Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, std::shared_ptr<Texture>* out,
                        std::span<std::vector<uint8_t>> given = {});

  Device* GetDevice() const { return device_; }
  D3DRESOURCETYPE GetType() const { return D3DRTYPE_TEXTURE; }
  UINT GetLevelCount() const { return static_cast<UINT>(levels_.size()); }
  // D3DERR_INVALIDCALL for a level past the chain or a null `desc`.
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) const;
  // Locks the whole level (`rect` null) or a rectangle inside it; pBits points at the
  // rectangle's first texel, Pitch is the level's row pitch. D3DERR_INVALIDCALL for a bad level,
  // a null `locked`, an empty or out-of-bounds rectangle, a level already locked, or a texture
  // that cannot be locked (default pool without D3DUSAGE_DYNAMIC). Flags are accepted as given.
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  // D3DERR_INVALIDCALL when the level does not exist or is not locked.
  HRESULT UnlockRect(UINT level);

  // Direct access for the platform layer.
  D3DFORMAT Format() const { return format_; }
  DWORD Usage() const { return usage_; }
  D3DPOOL Pool() const { return pool_; }
  UINT LevelWidth(UINT level) const { return levels_.at(level).width; }
  UINT LevelHeight(UINT level) const { return levels_.at(level).height; }
  size_t LevelPitch(UINT level) const { return levels_.at(level).pitch; }
  bool IsLocked(UINT level) const { return levels_.at(level).locked; }
  // All bytes of a level (LevelPitch x LevelHeight), whether locked or not.
  std::span<uint8_t> LevelBits(UINT level) { return levels_.at(level).bits; }
  std::span<const uint8_t> LevelBits(UINT level) const { return levels_.at(level).bits; }

 private:
  struct Level {
    UINT width;
    UINT height;
    size_t pitch;
    std::vector<uint8_t> bits;
    bool locked = false;
  };
  Texture(Device* device, D3DFORMAT format, DWORD usage, D3DPOOL pool)
      : device_(device), format_(format), usage_(usage), pool_(pool) {}

  Device* device_;
  D3DFORMAT format_;
  DWORD usage_;
  D3DPOOL pool_;
  std::vector<Level> levels_;
};

}  // namespace wz::d3d
