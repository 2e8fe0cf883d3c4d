// The Direct3D 9 texture and surface stand-ins: levels of real memory, level descriptions, lock
// and unlock, level surfaces, render targets, depth-stencil and off-screen plain surfaces.
#include "platform/d3d/texture.h"

#include <algorithm>
#include <bit>
#include <new>
#include <utility>

namespace wz::d3d {
namespace {

bool ValidRect(const RECT* rect, UINT width, UINT height) {
  return !rect || (rect->left >= 0 && rect->top >= 0 && rect->left < rect->right &&
                   rect->top < rect->bottom && int64_t{rect->right} <= width &&
                   int64_t{rect->bottom} <= height);
}

bool RenderableColourFormat(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    case D3DFMT_R5G6B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_R16F:
    case D3DFMT_G16R16F:
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_R32F:
    case D3DFMT_G32R32F:
    case D3DFMT_A32B32G32R32F:
      return true;
    default:
      return false;
  }
}

}  // namespace

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
    case D3DFMT_D16:
      return 2;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    case D3DFMT_G16R16F:
    case D3DFMT_R32F:
    case D3DFMT_D24X8:
    case D3DFMT_D24S8:
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

bool IsDepthFormat(D3DFORMAT format) {
  return format == D3DFMT_D16 || format == D3DFMT_D24X8 || format == D3DFMT_D24S8;
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
  const bool target = usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL);
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      texel == 0 || levels > chain || pool > D3DPOOL_SCRATCH ||
      ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) ||
      (target && pool != D3DPOOL_DEFAULT) ||
      ((usage & D3DUSAGE_RENDERTARGET) && !RenderableColourFormat(format)) ||
      (IsDepthFormat(format) != ((usage & D3DUSAGE_DEPTHSTENCIL) != 0))) {
    return D3DERR_INVALIDCALL;
  }
  if (levels == 0) levels = chain;
  try {
    std::shared_ptr<Texture> t(new Texture(device, format, usage, pool));
    t->levels_.resize(levels);
    UINT w = width, h = height;
    for (size_t i = 0; i < t->levels_.size(); ++i) {
      Level& level = t->levels_[i];
      level.width = w;
      level.height = h;
      level.pitch = size_t{w} * texel;
      if (target) {
        // The texels of a render target live in the backend.
      } else if (i < given.size() && given[i].size() == level.pitch * h) {
        level.bits = std::move(given[i]);  // the caller's texels become the level as they are
        given[i].clear();
      } else {
        level.bits.assign(level.pitch * h, 0);  // at most 16384^2 x 16 bytes: no overflow
      }
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
    }
    *out = std::move(t);
  } catch (const std::bad_alloc&) {
    return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
  }
  return S_OK;
}

Texture::~Texture() = default;

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) const {
  if (!desc || level >= levels_.size()) return D3DERR_INVALIDCALL;
  const Level& l = levels_[level];
  *desc = D3DSURFACE_DESC{format_, D3DRTYPE_SURFACE, usage_,  Pool(), D3DMULTISAMPLE_NONE,
                          0,       l.width,          l.height};
  return S_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
  if (!locked || level >= levels_.size()) return D3DERR_INVALIDCALL;
  if (Pool() == D3DPOOL_DEFAULT && !(usage_ & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
  Level& l = levels_[level];
  if (l.locked || l.bits.empty() || !ValidRect(rect, l.width, l.height)) {
    return D3DERR_INVALIDCALL;
  }
  size_t offset = 0;
  if (rect) offset = size_t(rect->top) * l.pitch + size_t(rect->left) * BytesPerTexel(format_);
  l.locked = true;
  locked->Pitch = static_cast<int32_t>(l.pitch);
  locked->pBits = l.bits.data() + offset;
  return S_OK;
}

HRESULT Texture::UnlockRect(UINT level) {
  if (level >= levels_.size() || !levels_[level].locked) return D3DERR_INVALIDCALL;
  levels_[level].locked = false;
  Touch();
  return S_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, std::shared_ptr<Surface>* surface) {
  if (!surface || level >= levels_.size()) return D3DERR_INVALIDCALL;
  Level& l = levels_[level];
  std::shared_ptr<Surface> s = l.surface.lock();
  if (!s) {
    try {
      s.reset(new Surface(GetDevice(), Pool(), SurfaceKind::kTextureLevel));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    s->container_ = shared_from_this();
    s->level_ = level;
    s->width_ = l.width;
    s->height_ = l.height;
    s->format_ = format_;
    l.surface = s;
  }
  *surface = std::move(s);
  return S_OK;
}

HRESULT Surface::CreateRenderTarget(Device* device, UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, bool lockable,
                                    std::shared_ptr<Surface>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      !RenderableColourFormat(format)) {
    return D3DERR_INVALIDCALL;
  }
  try {
    std::shared_ptr<Surface> s(new Surface(device, D3DPOOL_DEFAULT, SurfaceKind::kRenderTarget));
    s->width_ = width;
    s->height_ = height;
    s->format_ = format;
    s->multisample_ = multisample;
    s->lockable_ = lockable;
    *out = std::move(s);
  } catch (const std::bad_alloc&) {
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  return S_OK;
}

HRESULT Surface::CreateDepthStencil(Device* device, UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, bool,
                                    std::shared_ptr<Surface>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      !IsDepthFormat(format)) {
    return D3DERR_INVALIDCALL;
  }
  try {
    std::shared_ptr<Surface> s(new Surface(device, D3DPOOL_DEFAULT, SurfaceKind::kDepthStencil));
    s->width_ = width;
    s->height_ = height;
    s->format_ = format;
    s->multisample_ = multisample;
    *out = std::move(s);
  } catch (const std::bad_alloc&) {
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  return S_OK;
}

HRESULT Surface::CreateOffscreenPlain(Device* device, UINT width, UINT height, D3DFORMAT format,
                                      D3DPOOL pool, std::shared_ptr<Surface>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  const UINT texel = BytesPerTexel(format);
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      texel == 0 || (pool != D3DPOOL_SYSTEMMEM && pool != D3DPOOL_SCRATCH)) {
    return D3DERR_INVALIDCALL;
  }
  try {
    std::shared_ptr<Surface> s(new Surface(device, pool, SurfaceKind::kOffscreenPlain));
    s->width_ = width;
    s->height_ = height;
    s->format_ = format;
    s->lockable_ = true;
    s->bits_.assign(size_t{width} * texel * height, 0);
    *out = std::move(s);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

std::shared_ptr<Surface> Surface::CreateImplicit(Device* device, SurfaceKind kind, UINT width,
                                                 UINT height, D3DFORMAT format,
                                                 D3DMULTISAMPLE_TYPE multisample) {
  // Implicit surfaces are counted as none of the application's resources.
  std::shared_ptr<Surface> s(new Surface(device, D3DPOOL_DEFAULT, kind, false));
  s->width_ = width;
  s->height_ = height;
  s->format_ = format;
  s->multisample_ = multisample;
  return s;
}

Surface::~Surface() = default;

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  DWORD usage = 0;
  if (container_) {
    usage = container_->Usage();
  } else if (kind_ == SurfaceKind::kRenderTarget || kind_ == SurfaceKind::kBackBuffer) {
    usage = D3DUSAGE_RENDERTARGET;
  } else if (kind_ == SurfaceKind::kDepthStencil) {
    usage = D3DUSAGE_DEPTHSTENCIL;
  }
  *desc =
      D3DSURFACE_DESC{format_, D3DRTYPE_SURFACE, usage, Pool(), multisample_, 0, width_, height_};
  return S_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (container_) return container_->LockRect(level_, locked, rect, flags);
  if (!locked || kind_ != SurfaceKind::kOffscreenPlain || locked_ ||
      !ValidRect(rect, width_, height_)) {
    return D3DERR_INVALIDCALL;
  }
  const size_t pitch = Pitch();
  size_t offset = 0;
  if (rect) offset = size_t(rect->top) * pitch + size_t(rect->left) * BytesPerTexel(format_);
  locked_ = true;
  locked->Pitch = static_cast<int32_t>(pitch);
  locked->pBits = bits_.data() + offset;
  return S_OK;
}

HRESULT Surface::UnlockRect() {
  if (container_) return container_->UnlockRect(level_);
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  Touch();
  return S_OK;
}

std::span<uint8_t> Surface::Bits() {
  if (container_) return container_->LevelBits(level_);
  Touch();
  return bits_;
}

std::span<const uint8_t> Surface::Bits() const {
  if (container_) return std::as_const(*container_).LevelBits(level_);
  return bits_;
}

size_t Surface::Pitch() const {
  return size_t{width_} * BytesPerTexel(format_);
}

void Surface::ResizeImplicit(UINT width, UINT height, D3DFORMAT format,
                             D3DMULTISAMPLE_TYPE multisample) {
  width_ = width;
  height_ = height;
  format_ = format;
  multisample_ = multisample;
  Touch();
}

}  // namespace wz::d3d
