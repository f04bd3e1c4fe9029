#pragma once
// An OpenGL 2.1 compatibility context of its own with an offscreen colour
// and depth buffer, made through EGL on Mesa's surfaceless platform (no X
// server needed; llvmpipe when no GPU is there). Frames are read back as
// top-down RGBA images that a window can show.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::gfx {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4, top row first

    std::uint32_t Pixel(int x, int y) const; // 0xRRGGBBAA
};

class OffscreenContext {
public:
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // Null and a readable reason when no display, configuration or context
    // can be made.
    static std::unique_ptr<OffscreenContext> Create(int width, int height, std::string* error = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Binds the context to the calling thread; false when EGL refuses.
    bool MakeCurrent();
    // Unbinds it, so that another thread may bind it next.
    void Release();
    // The current colour buffer; the context must be current.
    Image ReadPixels() const;
    // "vendor / renderer / version" of the current context.
    static std::string RendererInfo();

private:
    OffscreenContext() = default;
    void* display_ = nullptr;
    void* context_ = nullptr;
    void* surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// RAII binding of a context to the calling thread.
class CurrentContext {
public:
    explicit CurrentContext(OffscreenContext& context) : context_(context), ok_(context.MakeCurrent()) {}
    ~CurrentContext() { context_.Release(); }
    CurrentContext(const CurrentContext&) = delete;
    CurrentContext& operator=(const CurrentContext&) = delete;
    bool ok() const { return ok_; }

private:
    OffscreenContext& context_;
    bool ok_;
};

} // namespace platform::gfx
