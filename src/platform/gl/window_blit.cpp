// The copy of a finished frame into the window's framebuffer.
#include "platform/gl/window_blit.h"

#include <epoxy/gl.h>

namespace wz::gl {

void BlitFrameToWindow(unsigned texture, int width, int height, int windowWidth, int windowHeight) {
  if (!texture || width <= 0 || height <= 0 || windowWidth <= 0 || windowHeight <= 0) return;
  GLint readFramebuffer = 0, drawFramebuffer = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer);
  const GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
  GLuint source = 0;
  glGenFramebuffers(1, &source);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glDisable(GL_SCISSOR_TEST);
  // Row 0 of the texture is the top of the picture; the window's row 0 is its bottom.
  glBlitFramebuffer(0, 0, width, height, 0, windowHeight, windowWidth, 0, GL_COLOR_BUFFER_BIT,
                    width == windowWidth && height == windowHeight ? GL_NEAREST : GL_LINEAR);
  if (scissor) glEnable(GL_SCISSOR_TEST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(readFramebuffer));
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(drawFramebuffer));
  glDeleteFramebuffers(1, &source);
}

}  // namespace wz::gl
