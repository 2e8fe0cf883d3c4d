// The Direct3D 9 texture stand-in: levels of real memory, level descriptions, lock and unlock.
#include "platform/d3d/texture.h"

#include <algorithm>
#include <bit>
#include <new>

namespace wz::d3d {

UINT BytesPerTexel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8:
    case D3DFMT_L8:
      return 1;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8L8:
    case D3DFMT_L16:
    case D3DFMT_R16F:
      return 2;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    case D3DFMT_G16R16F:
    case D3DFMT_R32F:
      return 4;
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_G32R32F:
      return 8;
    case D3DFMT_A32B32G32R32F:
      return 16;
    default:
      return 0;
  }
}

UINT FullMipChainLength(UINT width, UINT height) {
  return static_cast<UINT>(std::bit_width(std::max({width, height, 1u})));
}

HRESULT Texture::Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, std::shared_ptr<Texture>* out,
                        std::span<std::vector<uint8_t>> given) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  const UINT texel = BytesPerTexel(format);
  const UINT chain = FullMipChainLength(width, height);
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      texel == 0 || levels > chain || pool > D3DPOOL_SCRATCH ||
      ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)) {
    return D3DERR_INVALIDCALL;
  }
  if (levels == 0) levels = chain;
  std::shared_ptr<Texture> t(new Texture(device, format, usage, pool));
  try {
    t->levels_.resize(levels);
    UINT w = width, h = height;
    for (size_t i = 0; i < t->levels_.size(); ++i) {
      Level& level = t->levels_[i];
      level.width = w;
      level.height = h;
      level.pitch = size_t{w} * texel;
      if (i < given.size() && given[i].size() == level.pitch * h) {
        level.bits = std::move(given[i]);  // the caller's texels become the level as they are
        given[i].clear();
      } else {
        level.bits.assign(level.pitch * h, 0);  // at most 16384^2 x 16 bytes: no overflow
      }
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
    }
  } catch (const std::bad_alloc&) {
    return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
  }
  *out = std::move(t);
  return S_OK;
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) const {
  if (!desc || level >= levels_.size()) return D3DERR_INVALIDCALL;
  const Level& l = levels_[level];
  *desc = D3DSURFACE_DESC{format_, D3DRTYPE_SURFACE, usage_,  pool_, D3DMULTISAMPLE_NONE,
                          0,       l.width,          l.height};
  return S_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
  if (!locked || level >= levels_.size()) return D3DERR_INVALIDCALL;
  if (pool_ == D3DPOOL_DEFAULT && !(usage_ & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
  Level& l = levels_[level];
  if (l.locked) return D3DERR_INVALIDCALL;
  size_t offset = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
        int64_t{rect->right} > l.width || int64_t{rect->bottom} > l.height) {
      return D3DERR_INVALIDCALL;
    }
    offset = size_t(rect->top) * l.pitch + size_t(rect->left) * BytesPerTexel(format_);
  }
  l.locked = true;
  locked->Pitch = static_cast<int32_t>(l.pitch);
  locked->pBits = l.bits.data() + offset;
  return S_OK;
}

HRESULT Texture::UnlockRect(UINT level) {
  if (level >= levels_.size() || !levels_[level].locked) return D3DERR_INVALIDCALL;
  levels_[level].locked = false;
  return S_OK;
}

}  // namespace wz::d3d
