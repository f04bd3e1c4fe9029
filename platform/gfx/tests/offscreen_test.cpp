#include "platform/gfx/offscreen.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using platform::gfx::CurrentContext;
using platform::gfx::OffscreenContext;

namespace {
std::unique_ptr<OffscreenContext> MakeOrSkip(int w, int h)
{
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("GALLIUM_DRIVER", "llvmpipe", 1);
    std::string error;
    auto context = OffscreenContext::Create(w, h, &error);
    return context;
}
} // namespace

TEST(Offscreen, ClearsAndReadsBackTopRowFirst)
{
    auto context = MakeOrSkip(16, 8);
    if (!context)
        GTEST_SKIP() << "no EGL display here";
    CurrentContext current(*context);
    ASSERT_TRUE(current.ok());
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Paint the top half red (GL's y runs upwards).
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 4, 16, 4);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    const auto image = context->ReadPixels();
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 8);
    ASSERT_EQ(image.rgba.size(), 16u * 8u * 4u);
    EXPECT_EQ(image.Pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(image.Pixel(15, 3), 0xFF0000FFu);
    EXPECT_EQ(image.Pixel(0, 4), 0x0000FFFFu);
    EXPECT_EQ(image.Pixel(15, 7), 0x0000FFFFu);
    EXPECT_EQ(image.Pixel(16, 0), 0u); // outside
    EXPECT_NE(OffscreenContext::RendererInfo().find('/'), std::string::npos);
}

TEST(Offscreen, TwoContextsKeepTheirOwnBuffersAndMoveBetweenThreads)
{
    auto a = MakeOrSkip(4, 4);
    auto b = MakeOrSkip(8, 2);
    if (!a || !b)
        GTEST_SKIP() << "no EGL display here";
    {
        CurrentContext current(*a);
        ASSERT_TRUE(current.ok());
        glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    std::thread other([&] {
        CurrentContext current(*b);
        ASSERT_TRUE(current.ok());
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        EXPECT_EQ(b->ReadPixels().Pixel(7, 1), 0xFFFFFFFFu);
    });
    other.join();
    CurrentContext current(*a);
    ASSERT_TRUE(current.ok());
    EXPECT_EQ(a->ReadPixels().Pixel(3, 3), 0x00FF00FFu);
}

TEST(Offscreen, RefusesAnEmptySize)
{
    std::string error;
    EXPECT_EQ(OffscreenContext::Create(0, 10, &error), nullptr);
    EXPECT_FALSE(error.empty());
}
