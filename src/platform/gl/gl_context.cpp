// EGL contexts for headless drawing.
#include "platform/gl/gl_context.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <mutex>

namespace wz::gl {
namespace {

class EglContext : public GlContext {
 public:
  EglContext(EGLDisplay display, EGLContext context, std::string description)
      : display_(display), context_(context), description_(std::move(description)) {}
  bool MakeCurrent() override {
    if (eglGetCurrentContext() == context_) return true;
    return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
  }
  void ShowFrame(unsigned, int, int) override {}
  std::string Description() const override { return description_; }

 private:
  EGLDisplay display_;
  EGLContext context_;
  std::string description_;
};

EGLContext CreateCoreContext(EGLDisplay display) {
  if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                               3,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};
  // Surfaceless: no configuration is needed where EGL_KHR_no_config_context exists.
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!epoxy_has_egl_extension(display, "EGL_KHR_no_config_context")) {
    const EGLint want[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                           EGL_NONE};
    EGLint n = 0;
    if (!eglChooseConfig(display, want, &config, 1, &n) || n < 1) return EGL_NO_CONTEXT;
  }
  return eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
}

// Tries one display; on success leaves its context current.
std::unique_ptr<GlContext> TryDisplay(EGLDisplay display, const char* platform, std::string* why) {
  if (display == EGL_NO_DISPLAY) {
    *why += std::string(platform) + ": no display; ";
    return nullptr;
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    *why += std::string(platform) + ": cannot initialise; ";
    return nullptr;
  }
  EGLContext context = CreateCoreContext(display);
  if (context == EGL_NO_CONTEXT) {
    *why += std::string(platform) + ": no OpenGL 3.3 core context; ";
    return nullptr;
  }
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    *why += std::string(platform) + ": cannot make the context current; ";
    eglDestroyContext(display, context);
    return nullptr;
  }
  std::string description = std::string("EGL ") + platform + ", " +
                            reinterpret_cast<const char*>(glGetString(GL_RENDERER)) + ", " +
                            reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return std::make_unique<EglContext>(display, context, std::move(description));
}

std::unique_ptr<GlContext> MakeHeadless(std::string* why) {
  if (!epoxy_has_egl()) {
    *why = "no EGL library";
    return nullptr;
  }
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  const std::string ext = clientExtensions ? clientExtensions : "";
  std::unique_ptr<GlContext> c;
  if (ext.find("EGL_MESA_platform_surfaceless") != std::string::npos) {
    c = TryDisplay(
        eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
        "surfaceless", why);
    if (c) return c;
  }
  if (ext.find("EGL_EXT_platform_device") != std::string::npos) {
    EGLDeviceEXT devices[4];
    EGLint count = 0;
    if (eglQueryDevicesEXT(4, devices, &count)) {
      for (EGLint i = 0; i < count && !c; ++i) {
        c = TryDisplay(eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr),
                       "device", why);
      }
      if (c) return c;
    }
  }
  return TryDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY), "default", why);
}

std::mutex contextMutex;
ContextProvider provider;

}  // namespace

GlContext* HeadlessContext(std::string* why) {
  // Made once and kept for the life of the process: the driver's teardown at exit is its own.
  static std::unique_ptr<GlContext>* context = nullptr;
  static std::string failure;
  std::lock_guard lock(contextMutex);
  if (!context) {
    context = new std::unique_ptr<GlContext>(MakeHeadless(&failure));
  }
  if (!*context && why) *why = failure;
  return context->get();
}

void SetContextProvider(ContextProvider p) {
  std::lock_guard lock(contextMutex);
  provider = std::move(p);
}

GlContext* ContextFor(void* deviceWindow, std::string* why) {
  ContextProvider p;
  {
    std::lock_guard lock(contextMutex);
    p = provider;
  }
  if (p) {
    if (GlContext* c = p(deviceWindow)) return c;
  }
  return HeadlessContext(why);
}

}  // namespace wz::gl
