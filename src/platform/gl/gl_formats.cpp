// Direct3D texel formats in OpenGL.
#include "platform/gl/gl_formats.h"

namespace wz::gl {

GlFormat FormatOf(D3DFORMAT f) {
  GlFormat g;
  auto swz = [&g](GLint r, GLint gr, GLint b, GLint a) {
    g.swizzle[0] = r;
    g.swizzle[1] = gr;
    g.swizzle[2] = b;
    g.swizzle[3] = a;
  };
  switch (f) {
    case D3DFMT_A8R8G8B8:  // bytes B, G, R, A in memory
      g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV};
      break;
    case D3DFMT_X8R8G8B8:
      g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV};
      swz(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
      break;
    case D3DFMT_A8B8G8R8:
      g = {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE};
      break;
    case D3DFMT_X8B8G8R8:
      g = {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE};
      swz(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
      break;
    case D3DFMT_R5G6B5:
      g = {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
      break;
    case D3DFMT_A1R5G5B5:
      g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
      break;
    case D3DFMT_X1R5G5B5:
      g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
      swz(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
      break;
    case D3DFMT_A4R4G4B4:  // a 16-bit word: A in bits 12-15, R 8-11, G 4-7, B 0-3
      g = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV};
      break;
    case D3DFMT_X4R4G4B4:
      g = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV};
      swz(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
      break;
    case D3DFMT_A8:
      g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
      swz(GL_ZERO, GL_ZERO, GL_ZERO, GL_RED);
      break;
    case D3DFMT_L8:
      g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
      swz(GL_RED, GL_RED, GL_RED, GL_ONE);
      break;
    case D3DFMT_A8L8:
      g = {GL_RG8, GL_RG, GL_UNSIGNED_BYTE};
      swz(GL_RED, GL_RED, GL_RED, GL_GREEN);
      break;
    case D3DFMT_L16:
      g = {GL_R16, GL_RED, GL_UNSIGNED_SHORT};
      swz(GL_RED, GL_RED, GL_RED, GL_ONE);
      break;
    case D3DFMT_R16F:
      g = {GL_R16F, GL_RED, GL_HALF_FLOAT};
      swz(GL_RED, GL_ONE, GL_ONE, GL_ONE);
      break;
    case D3DFMT_G16R16F:
      g = {GL_RG16F, GL_RG, GL_HALF_FLOAT};
      swz(GL_RED, GL_GREEN, GL_ONE, GL_ONE);
      break;
    case D3DFMT_A16B16G16R16F:
      g = {GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT};
      break;
    case D3DFMT_R32F:
      g = {GL_R32F, GL_RED, GL_FLOAT};
      swz(GL_RED, GL_ONE, GL_ONE, GL_ONE);
      break;
    case D3DFMT_G32R32F:
      g = {GL_RG32F, GL_RG, GL_FLOAT};
      swz(GL_RED, GL_GREEN, GL_ONE, GL_ONE);
      break;
    case D3DFMT_A32B32G32R32F:
      g = {GL_RGBA32F, GL_RGBA, GL_FLOAT};
      break;
    case D3DFMT_D16:
      g = {GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT};
      g.depth = true;
      break;
    case D3DFMT_D24X8:
      g = {GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT};
      g.depth = true;
      break;
    case D3DFMT_D24S8:
      g = {GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8};
      g.depth = true;
      g.stencil = true;
      break;
    default:
      break;
  }
  return g;
}

}  // namespace wz::gl
