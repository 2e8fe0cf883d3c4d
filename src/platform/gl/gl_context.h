// The OpenGL 3.3 core context the device draws with. Headless (and in CI) it comes from EGL:
// Mesa's surfaceless platform first, then the device platform, then the default display; there
// is one such context per process, made on first use and kept until the process ends. A desktop
// window system may install its own provider (the window's context and buffer swap).
//
// The only headers of the project that include GL or EGL are in this folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace wz::gl {

class GlContext {
 public:
  virtual ~GlContext() = default;
  // Makes the context current on the calling thread. False when that fails.
  virtual bool MakeCurrent() = 0;
  // Shows a finished frame held in the colour texture `texture` (width x height, row 0 = top)
  // where the context has a window; headless contexts show nothing.
  virtual void ShowFrame(unsigned texture, int width, int height) = 0;
  virtual std::string Description() const = 0;
};

// The process's headless context, made on first call; null with the reason when none can be
// made (no EGL, no OpenGL 3.3 core).
GlContext* HeadlessContext(std::string* why);

// A window system that draws on screen installs a provider; the device's backend then uses the
// provider's context for the device window (null from the provider: use the headless one).
using ContextProvider = std::function<GlContext*(void* deviceWindow)>;
void SetContextProvider(ContextProvider provider);
GlContext* ContextFor(void* deviceWindow, std::string* why);

}  // namespace wz::gl
