// Buffered button items through the fake, and SDL2 joysticks through SDL's
// virtual joysticks (no device or display needed).
#include "platform/devices/button_device.h"

#include <SDL.h>

#include <gtest/gtest.h>

// After gtest: Xlib defines macros that clash with its names.
#include "../../../testing/include/testing/xvfb_server.h"

#include <X11/extensions/XTest.h>

#include <cstring>

namespace {

using namespace platform::devices;

std::vector<ButtonItem> readAll(ButtonDevice& d)
{
    std::vector<ButtonItem> out;
    std::array<ButtonItem, 4> buf{};
    for (;;) {
        std::size_t n = 0;
        if (d.read(buf, n) != kOk || n == 0) return out;
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

std::unique_ptr<ButtonDevice> only(ButtonSource& source)
{
    std::vector<std::unique_ptr<ButtonDevice>> devices;
    source.enumerate([&](std::unique_ptr<ButtonDevice> d) { devices.push_back(std::move(d)); });
    if (devices.size() != 1) return nullptr;
    return std::move(devices[0]);
}

TEST(BufferedButtons, ChangesBecomeItemsAtTheFormatsOffsets)
{
    FakeButtonSource source;
    const auto index = source.attach({{1}, {1}, kTypeJoystick, "pad"}, 8);
    source.setButton(index, 1, true);  // held before the first poll: baseline
    auto dev = only(source);
    ASSERT_TRUE(dev);
    std::size_t n = 0;
    std::array<ButtonItem, 2> buf{};
    EXPECT_EQ(dev->poll(), kErrorNotAcquired);
    EXPECT_EQ(dev->read(buf, n), kErrorNotAcquired);

    dev->setBufferSize(0xFFFFFFFFu);
    dev->acquire();
    EXPECT_EQ(dev->poll(), kOk);
    EXPECT_TRUE(readAll(*dev).empty());
    source.setButton(index, 3, true);
    dev->poll();
    source.setButton(index, 3, false);
    source.setButton(index, 1, false);
    dev->poll();
    const auto items = readAll(*dev);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].offset, 51u);
    EXPECT_EQ(items[0].data, kPressed);
    EXPECT_EQ(items[1].offset, 49u);
    EXPECT_EQ(items[1].data, 0u);
    EXPECT_EQ(items[2].offset, 51u);
    EXPECT_EQ(items[2].data, 0u);

    dev->setDataFormat(DataFormat::Mouse);
    source.setButton(index, 0, true);
    dev->poll();
    const auto mouse = readAll(*dev);
    ASSERT_EQ(mouse.size(), 1u);
    EXPECT_EQ(mouse[0].offset, 12u);
}

TEST(BufferedButtons, FullBufferDropsTheOldestAndLostDeviceFails)
{
    FakeButtonSource source;
    const auto index = source.attach({{2}, {2}, kTypeJoystick, "pad"}, 8);
    auto dev = only(source);
    dev->setBufferSize(2);
    dev->acquire();
    dev->poll();
    for (int b = 0; b < 3; ++b) source.setButton(index, b, true);
    dev->poll();
    const auto items = readAll(*dev);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].offset, 49u);
    EXPECT_EQ(items[1].offset, 50u);

    source.detach(index);
    EXPECT_EQ(dev->poll(), kErrorInputLost);
    std::size_t n = 0;
    std::array<ButtonItem, 2> buf{};
    EXPECT_EQ(dev->read(buf, n), kErrorNotAcquired);
    EXPECT_TRUE(only(source) == nullptr) << "a detached device is not listed";
}

TEST(X11Mouse, NoDisplayNoDevice)
{
    auto source = makeX11MouseSource(":9999");
    int count = 0;
    source->enumerate([&](std::unique_ptr<ButtonDevice>) { ++count; });
    EXPECT_EQ(count, 0);
}

TEST(X11Mouse, PointerButtonsUnderXvfb)
{
    testing_support::XvfbServer server;
    if (!server.ready()) GTEST_SKIP() << "no Xvfb";
    auto source = makeX11MouseSource(server.name());
    auto dev = only(*source);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->instance().instance, kSystemMouseId);
    EXPECT_EQ(dev->instance().devType, kTypeMouse);
    dev->setDataFormat(DataFormat::Mouse);
    dev->setBufferSize(0xFFFFFFFFu);
    dev->acquire();
    dev->poll();

    Display* d = XOpenDisplay(server.name().c_str());
    ASSERT_NE(d, nullptr);
    const auto click = [&](unsigned int button, bool down) {
        XTestFakeButtonEvent(d, button, down ? True : False, CurrentTime);
        XSync(d, False);
        dev->poll();
    };
    click(3, true);   // right: button 1
    click(3, false);
    click(1, true);   // left: button 0
    click(2, true);   // middle: button 2
    click(2, false);
    click(1, false);
    XCloseDisplay(d);
    const auto items = readAll(*dev);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {13, kPressed}, {13, 0}, {12, kPressed}, {14, kPressed}, {14, 0}, {12, 0}};
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].offset, expected[i].first) << i;
        EXPECT_EQ(items[i].data, expected[i].second) << i;
    }
}

class SdlVirtualJoystick : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError(); }
    void TearDown() override
    {
        for (int i = SDL_NumJoysticks() - 1; i >= 0; --i)
            if (SDL_JoystickIsVirtual(i)) SDL_JoystickDetachVirtual(i);
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }
    static int attach()
    {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = 2;
        desc.nbuttons = 12;
        desc.vendor_id = 0x1234;
        desc.product_id = 0xabcd;
        desc.name = "Test pad";
        return SDL_JoystickAttachVirtualEx(&desc);
    }
};

TEST_F(SdlVirtualJoystick, ButtonThreeArrivesAtOffset51)
{
    const int index = attach();
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* control = SDL_JoystickOpen(index);
    ASSERT_NE(control, nullptr);

    auto source = makeSdlButtonSource();
    auto dev = only(*source);
    ASSERT_TRUE(dev);
    const SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(index);
    EXPECT_EQ(std::memcmp(dev->instance().instance.data(), guid.data, 16), 0);
    EXPECT_EQ(dev->instance().devType, kTypeGamepad);
    EXPECT_EQ(dev->instance().name, "Test pad");

    dev->setDataFormat(DataFormat::Joystick);
    dev->setBufferSize(0xFFFFFFFFu);
    dev->acquire();
    dev->poll();
    SDL_JoystickSetVirtualButton(control, 3, SDL_PRESSED);
    dev->poll();
    SDL_JoystickSetVirtualButton(control, 3, SDL_RELEASED);
    dev->poll();
    const auto items = readAll(*dev);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].offset, 51u);
    EXPECT_EQ(items[0].data, kPressed);
    EXPECT_EQ(items[1].offset, 51u);
    EXPECT_EQ(items[1].data, 0u);

    SDL_JoystickClose(control);
    SDL_JoystickDetachVirtual(index);
    EXPECT_EQ(dev->poll(), kErrorInputLost);
}

TEST_F(SdlVirtualJoystick, TwoIdenticalPadsGetDistinctIds)
{
    ASSERT_GE(attach(), 0);
    ASSERT_GE(attach(), 0);
    auto source = makeSdlButtonSource();
    std::vector<DeviceId> ids;
    source->enumerate([&](std::unique_ptr<ButtonDevice> d) { ids.push_back(d->instance().instance); });
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[0], ids[1]);
}

} // namespace
