// How each Direct3D texel format is stored in OpenGL: internal format, upload format and type,
// and the swizzle that makes the texel read as Direct3D reads it (X8R8G8B8 alpha as 1, L8 as
// grey, A8 as alpha only, R16F and R32F with 1 in the missing channels).
#pragma once

#include <epoxy/gl.h>

#include "platform/win_types.h"

namespace wz::gl {

struct GlFormat {
  GLenum internalFormat = 0;  // 0: not supported
  GLenum format = 0;          // upload and read-back format
  GLenum type = 0;
  GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
  bool depth = false;
  bool stencil = false;
};

GlFormat FormatOf(D3DFORMAT format);

}  // namespace wz::gl
