// Shows a finished frame in the window of the current context: the colour texture (row 0 = the
// picture's top row, as the device keeps it) is copied to the default framebuffer, turned upright
// because a window's framebuffer starts at its bottom row, and scaled to the window's size.
#pragma once

namespace wz::gl {

// Leaves the framebuffer bindings and the scissor test as it found them.
void BlitFrameToWindow(unsigned texture, int width, int height, int windowWidth, int windowHeight);

}  // namespace wz::gl
