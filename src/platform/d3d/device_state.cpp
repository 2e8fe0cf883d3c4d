// Default device states and the pixel and vertex state lists of state blocks.
#include "platform/d3d/device_state.h"

#include <algorithm>

namespace wz::d3d {

const LightSlot* DeviceState::FindLight(DWORD index) const {
  auto it = std::lower_bound(lights.begin(), lights.end(), index,
                             [](const LightSlot& l, DWORD i) { return l.index < i; });
  return it != lights.end() && it->index == index ? &*it : nullptr;
}

LightSlot& DeviceState::LightAt(DWORD index) {
  auto it = std::lower_bound(lights.begin(), lights.end(), index,
                             [](const LightSlot& l, DWORD i) { return l.index < i; });
  if (it == lights.end() || it->index != index) {
    LightSlot slot;
    slot.index = index;
    it = lights.insert(it, slot);
  }
  return *it;
}

void SetDefaultStates(DeviceState& s, bool depthEnabled) {
  DeviceState fresh;
  auto& rs = fresh.renderStates;
  rs[D3DRS_ZENABLE] = depthEnabled ? D3DZB_TRUE : D3DZB_FALSE;
  rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = 1u;
  rs[D3DRS_LASTPIXEL] = 1u;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_FOGEND] = FloatToDword(1.0f);
  rs[D3DRS_FOGDENSITY] = FloatToDword(1.0f);
  rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_STENCILMASK] = 0xFFFFFFFFu;
  rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFFu;
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
  rs[D3DRS_CLIPPING] = 1u;
  rs[D3DRS_LIGHTING] = 1u;
  rs[D3DRS_COLORVERTEX] = 1u;
  rs[D3DRS_LOCALVIEWER] = 1u;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_POINTSIZE] = FloatToDword(1.0f);
  rs[D3DRS_POINTSIZE_MIN] = FloatToDword(1.0f);
  rs[D3DRS_POINTSIZE_MAX] = FloatToDword(64.0f);
  rs[D3DRS_MULTISAMPLEANTIALIAS] = 1u;
  rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFFu;
  rs[D3DRS_COLORWRITEENABLE] = 0xF;
  rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  rs[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
  rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFFu;
  rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
  rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
  for (uint32_t i = 0; i < kMaxTextureStages; ++i) {
    auto& t = fresh.stageStates[i];
    t[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = i;
    t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
  }
  for (auto& sampler : fresh.samplerStates) {
    sampler[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
    sampler[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
    sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
    sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    sampler[D3DSAMP_MAXANISOTROPY] = 1;
  }
  // Keep what is not state (targets) and let every version move on, so that a backend that
  // cached the old state sees the change.
  fresh.renderTarget = std::move(s.renderTarget);
  fresh.depthStencil = std::move(s.depthStencil);
  fresh.viewport = s.viewport;
  StateVersions v = s.versions;
  for (uint64_t* p :
       {&v.renderStates, &v.stages, &v.samplers, &v.transforms, &v.lights, &v.material, &v.viewport,
        &v.vertexInput, &v.textures, &v.targets, &v.program}) {
    ++*p;
  }
  fresh.versions = v;
  s = std::move(fresh);
}

bool IsPixelRenderState(uint32_t st) {
  switch (st) {
    case D3DRS_ZENABLE:
    case D3DRS_FILLMODE:
    case D3DRS_SHADEMODE:
    case D3DRS_ZWRITEENABLE:
    case D3DRS_ALPHATESTENABLE:
    case D3DRS_LASTPIXEL:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_ZFUNC:
    case D3DRS_ALPHAREF:
    case D3DRS_ALPHAFUNC:
    case D3DRS_DITHERENABLE:
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_FOGSTART:
    case D3DRS_FOGEND:
    case D3DRS_FOGDENSITY:
    case D3DRS_STENCILENABLE:
    case D3DRS_STENCILFAIL:
    case D3DRS_STENCILZFAIL:
    case D3DRS_STENCILPASS:
    case D3DRS_STENCILFUNC:
    case D3DRS_STENCILREF:
    case D3DRS_STENCILMASK:
    case D3DRS_STENCILWRITEMASK:
    case D3DRS_TEXTUREFACTOR:
    case D3DRS_COLORWRITEENABLE:
    case D3DRS_BLENDOP:
    case D3DRS_SCISSORTESTENABLE:
    case D3DRS_SLOPESCALEDEPTHBIAS:
    case D3DRS_ANTIALIASEDLINEENABLE:
    case D3DRS_TWOSIDEDSTENCILMODE:
    case D3DRS_CCW_STENCILFAIL:
    case D3DRS_CCW_STENCILZFAIL:
    case D3DRS_CCW_STENCILPASS:
    case D3DRS_CCW_STENCILFUNC:
    case D3DRS_BLENDFACTOR:
    case D3DRS_SRGBWRITEENABLE:
    case D3DRS_DEPTHBIAS:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
      return true;
    default:
      return st >= D3DRS_WRAP0 && st < D3DRS_WRAP0 + 8;
  }
}

bool IsVertexRenderState(uint32_t st) {
  switch (st) {
    case D3DRS_CULLMODE:
    case D3DRS_FOGENABLE:
    case D3DRS_FOGCOLOR:
    case D3DRS_FOGTABLEMODE:
    case D3DRS_FOGSTART:
    case D3DRS_FOGEND:
    case D3DRS_FOGDENSITY:
    case D3DRS_RANGEFOGENABLE:
    case D3DRS_AMBIENT:
    case D3DRS_COLORVERTEX:
    case D3DRS_FOGVERTEXMODE:
    case D3DRS_CLIPPING:
    case D3DRS_LIGHTING:
    case D3DRS_LOCALVIEWER:
    case D3DRS_EMISSIVEMATERIALSOURCE:
    case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_DIFFUSEMATERIALSOURCE:
    case D3DRS_SPECULARMATERIALSOURCE:
    case D3DRS_VERTEXBLEND:
    case D3DRS_CLIPPLANEENABLE:
    case D3DRS_POINTSIZE:
    case D3DRS_POINTSIZE_MIN:
    case D3DRS_POINTSPRITEENABLE:
    case D3DRS_POINTSCALEENABLE:
    case D3DRS_MULTISAMPLEANTIALIAS:
    case D3DRS_MULTISAMPLEMASK:
    case D3DRS_POINTSIZE_MAX:
    case D3DRS_INDEXEDVERTEXBLENDENABLE:
    case D3DRS_TWEENFACTOR:
    case D3DRS_NORMALIZENORMALS:
      return true;
    default:
      return false;
  }
}

bool IsVertexStageState(uint32_t st) {
  return st == D3DTSS_TEXCOORDINDEX || st == D3DTSS_TEXTURETRANSFORMFLAGS;
}

}  // namespace wz::d3d
