// The Direct3D 9 texture and surface. A texture is a chain of mip levels, each level real memory
// that LockRect hands out; levels are zero-filled at creation, rows are Pitch bytes apart (exactly
// width x bytes per texel here; callers must still use Pitch). Uncompressed formats only (the
// ones BytesPerTexel knows); block-compressed formats are refused. Render-target and
// depth-stencil textures have no memory of their own: their texels live in the backend and are
// read back with GetRenderTargetData.
//
// As on Direct3D 9, a default-pool texture without D3DUSAGE_DYNAMIC cannot be locked; the platform
// layer (device, savers) reaches its memory through LevelBits instead, which marks the texture
// changed. Ownership is shared through std::shared_ptr; a texture remembers the device it was made
// for, which may be null.
//
// A surface is a level of a texture, a render target, a depth-stencil surface, an off-screen plain
// surface or the device's back buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/d3d/d3d9_types.h"
#include "platform/d3d/resource.h"
#include "platform/win_types.h"

namespace wz::d3d {

class Surface;

// Largest texture side accepted (the biggest MaxTextureWidth/Height of Direct3D 9 adapters).
constexpr UINT kMaxTextureSide = 16384;

// Bytes per texel of the formats a texture can hold: A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8,
// R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, X4R4G4B4, A8, L8, A8L8, L16, R16F, G16R16F,
// A16B16G16R16F, R32F, G32R32F, A32B32G32R32F, and the depth formats D16, D24X8, D24S8. 0 for
// every other format.
UINT BytesPerTexel(D3DFORMAT format);
bool IsDepthFormat(D3DFORMAT format);

// Number of levels of a full chain down to 1 x 1: 1 + floor(log2(max(width, height))).
UINT FullMipChainLength(UINT width, UINT height);

class Texture : public Resource, public std::enable_shared_from_this<Texture> {
 public:
  // Creates a texture. `levels` 0 means the full chain. Fails with D3DERR_INVALIDCALL for a null
  // `out`, a zero side or one above kMaxTextureSide, more levels than the full chain, a format
  // BytesPerTexel does not know, an unknown pool, D3DUSAGE_DYNAMIC in the managed pool, a render
  // target or depth-stencil usage outside the default pool, and E_OUTOFMEMORY
  // (D3DERR_OUTOFVIDEOMEMORY in the default pool) when memory runs out.
  // `given` holds texels for the first levels (level 0, 1, ...): a buffer of exactly its level's
  // size (pitch x height) is moved in as that level instead of a zero-filled one, saving a copy;
  // buffers of another size are left with the caller.
  static HRESULT Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, std::shared_ptr<Texture>* out,
                        std::span<std::vector<uint8_t>> given = {});
  ~Texture() override;

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
  // The surface of a level (the same object while someone holds it).
  HRESULT GetSurfaceLevel(UINT level, std::shared_ptr<Surface>* surface);

  // Direct access for the platform layer.
  D3DFORMAT Format() const { return format_; }
  DWORD Usage() const { return usage_; }
  bool IsRenderTarget() const { return (usage_ & D3DUSAGE_RENDERTARGET) != 0; }
  bool IsDepthStencil() const { return (usage_ & D3DUSAGE_DEPTHSTENCIL) != 0; }
  UINT LevelWidth(UINT level) const { return levels_.at(level).width; }
  UINT LevelHeight(UINT level) const { return levels_.at(level).height; }
  size_t LevelPitch(UINT level) const { return levels_.at(level).pitch; }
  bool IsLocked(UINT level) const { return levels_.at(level).locked; }
  // All bytes of a level (LevelPitch x LevelHeight), whether locked or not; empty for render
  // targets and depth-stencil textures. The mutable form marks the texture changed.
  std::span<uint8_t> LevelBits(UINT level) {
    Touch();
    return levels_.at(level).bits;
  }
  std::span<const uint8_t> LevelBits(UINT level) const { return levels_.at(level).bits; }

 private:
  struct Level {
    UINT width;
    UINT height;
    size_t pitch;
    std::vector<uint8_t> bits;
    bool locked = false;
    std::weak_ptr<Surface> surface;
  };
  Texture(Device* device, D3DFORMAT format, DWORD usage, D3DPOOL pool)
      : Resource(device, pool), format_(format), usage_(usage) {}

  D3DFORMAT format_;
  DWORD usage_;
  std::vector<Level> levels_;
};

enum class SurfaceKind : uint8_t {
  kTextureLevel,    // a level of a texture (the container)
  kRenderTarget,    // CreateRenderTarget
  kDepthStencil,    // CreateDepthStencilSurface, or the device's automatic depth-stencil surface
  kOffscreenPlain,  // CreateOffscreenPlainSurface: system memory, lockable
  kBackBuffer,      // the device's back buffer
};

class Surface : public Resource, public std::enable_shared_from_this<Surface> {
 public:
  // A colour render target (default pool). D3DERR_INVALIDCALL for a zero or too large side or a
  // format that cannot be rendered to.
  static HRESULT CreateRenderTarget(Device* device, UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, bool lockable,
                                    std::shared_ptr<Surface>* out);
  // A depth-stencil surface (default pool): D16, D24X8 or D24S8.
  static HRESULT CreateDepthStencil(Device* device, UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, bool discard,
                                    std::shared_ptr<Surface>* out);
  // A lockable surface in system memory (pool SYSTEMMEM or SCRATCH), zero-filled.
  static HRESULT CreateOffscreenPlain(Device* device, UINT width, UINT height, D3DFORMAT format,
                                      D3DPOOL pool, std::shared_ptr<Surface>* out);
  // The device's back buffer or automatic depth-stencil surface; counted as no resource of the
  // application's.
  static std::shared_ptr<Surface> CreateImplicit(Device* device, SurfaceKind kind, UINT width,
                                                 UINT height, D3DFORMAT format,
                                                 D3DMULTISAMPLE_TYPE multisample);
  ~Surface() override;

  HRESULT GetDesc(D3DSURFACE_DESC* desc) const;
  // Locks an off-screen plain surface or a lockable texture level. D3DERR_INVALIDCALL otherwise,
  // and as Texture::LockRect.
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  HRESULT UnlockRect();

  SurfaceKind Kind() const { return kind_; }
  // The texture of a level surface (null for the other kinds) and the level.
  Texture* Container() const { return container_.get(); }
  UINT Level() const { return level_; }
  UINT Width() const { return width_; }
  UINT Height() const { return height_; }
  D3DFORMAT Format() const { return format_; }
  D3DMULTISAMPLE_TYPE MultiSample() const { return multisample_; }
  bool IsDepth() const { return IsDepthFormat(format_); }
  // Memory of an off-screen plain surface or of a texture level (empty for the other kinds); the
  // mutable form marks the surface changed.
  std::span<uint8_t> Bits();
  std::span<const uint8_t> Bits() const;
  size_t Pitch() const;
  // The device changes its implicit surfaces' size on a reset.
  void ResizeImplicit(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multisample);

 private:
  friend class Texture;
  Surface(Device* device, D3DPOOL pool, SurfaceKind kind, bool counted = true)
      : Resource(device, pool, counted), kind_(kind) {}

  SurfaceKind kind_;
  std::shared_ptr<Texture> container_;
  UINT level_ = 0;
  UINT width_ = 0;
  UINT height_ = 0;
  D3DFORMAT format_ = D3DFMT_UNKNOWN;
  D3DMULTISAMPLE_TYPE multisample_ = D3DMULTISAMPLE_NONE;
  bool lockable_ = false;
  bool locked_ = false;
  std::vector<uint8_t> bits_;
};

}  // namespace wz::d3d
