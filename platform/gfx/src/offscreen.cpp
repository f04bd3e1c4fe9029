#include "platform/gfx/offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstring>
#include <mutex>

namespace platform::gfx {
namespace {

std::string EglError(const char* what)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s failed (EGL error 0x%04X)", what, static_cast<unsigned>(eglGetError()));
    return buffer;
}

// The surfaceless display, initialised once per process and kept: contexts
// on it may live on several threads, and terminating it would pull them away.
EGLDisplay SharedDisplay(std::string& error)
{
    static std::mutex mutex;
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string failure;
    static bool tried = false;
    std::lock_guard lock(mutex);
    if (!tried) {
        tried = true;
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay == nullptr) {
            failure = "eglGetPlatformDisplayEXT is not available";
        } else {
            EGLDisplay candidate = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            EGLint major = 0, minor = 0;
            if (candidate == EGL_NO_DISPLAY)
                failure = EglError("eglGetPlatformDisplayEXT");
            else if (eglInitialize(candidate, &major, &minor) != EGL_TRUE)
                failure = EglError("eglInitialize");
            else
                display = candidate;
        }
    }
    error = failure;
    return display;
}

} // namespace

std::uint32_t Image::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::unique_ptr<OffscreenContext> OffscreenContext::Create(int width, int height, std::string* error)
{
    std::string reason;
    auto fail = [&](std::string text) -> std::unique_ptr<OffscreenContext> {
        if (error != nullptr)
            *error = std::move(text);
        return nullptr;
    };
    if (width <= 0 || height <= 0)
        return fail("the image size must be positive");
    EGLDisplay display = SharedDisplay(reason);
    if (display == EGL_NO_DISPLAY)
        return fail(reason);
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE)
        return fail(EglError("eglBindAPI"));

    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                       EGL_DEPTH_SIZE, 16, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (eglChooseConfig(display, configAttributes, &config, 1, &count) != EGL_TRUE || count < 1)
        return fail("no EGL configuration with an offscreen buffer and a depth buffer");

    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE)
        return fail(EglError("eglCreatePbufferSurface"));

    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        std::string text = EglError("eglCreateContext");
        eglDestroySurface(display, surface);
        return fail(std::move(text));
    }

    std::unique_ptr<OffscreenContext> result(new OffscreenContext);
    result->display_ = display;
    result->context_ = context;
    result->surface_ = surface;
    result->width_ = width;
    result->height_ = height;
    return result;
}

OffscreenContext::~OffscreenContext()
{
    if (eglGetCurrentContext() == static_cast<EGLContext>(context_))
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
    eglDestroySurface(display_, surface_);
}

bool OffscreenContext::MakeCurrent()
{
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE)
        return false;
    return eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE;
}

void OffscreenContext::Release()
{
    if (eglGetCurrentContext() == static_cast<EGLContext>(context_))
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

Image OffscreenContext::ReadPixels() const
{
    Image image;
    image.width = width_;
    image.height = height_;
    const std::size_t row = static_cast<std::size_t>(width_) * 4;
    std::vector<std::uint8_t> bottomUp(row * static_cast<std::size_t>(height_));
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    image.rgba.resize(bottomUp.size());
    for (int y = 0; y < height_; ++y)
        std::memcpy(&image.rgba[static_cast<std::size_t>(y) * row],
                    &bottomUp[static_cast<std::size_t>(height_ - 1 - y) * row], row);
    return image;
}

std::string OffscreenContext::RendererInfo()
{
    auto text = [](GLenum name) {
        const auto* value = reinterpret_cast<const char*>(glGetString(name));
        return std::string(value != nullptr ? value : "?");
    };
    return text(GL_VENDOR) + " / " + text(GL_RENDERER) + " / " + text(GL_VERSION);
}

} // namespace platform::gfx
