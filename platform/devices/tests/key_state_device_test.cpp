// The slot request protocol through the fake, and XQueryKeymap under a
// private Xvfb with XTest.
#include "platform/devices/key_state_device.h"

#include <gtest/gtest.h>

// After gtest: Xlib defines macros that clash with its names.
#include "../../../testing/include/testing/xvfb_server.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace platform::devices;

std::array<std::uint8_t, kKeySlots> blockWith(int slot, std::uint8_t key)
{
    std::array<std::uint8_t, kKeySlots> b{};
    b[static_cast<std::size_t>(slot)] = key;
    return b;
}

TEST(KeySlotProtocol, QueryIsOneOnlyWhenStartedEnabledAndDown)
{
    FakeKeyStateDevice dev;
    ASSERT_TRUE(dev.open());
    const auto& s5 = kSlotRequests[5];
    const auto b = blockWith(5, 0x7B);
    dev.press(0x7B);
    EXPECT_EQ(dev.request(s5.setKey, b), 0u);
    EXPECT_EQ(dev.request(s5.enable, b), 0u);
    EXPECT_EQ(dev.request(s5.query, {}), 0u) << "not started";
    EXPECT_EQ(dev.request(kRequestStart, {}), 0u);
    EXPECT_EQ(dev.request(s5.query, {}), 1u);
    EXPECT_EQ(dev.request(kSlotRequests[3].query, {}), 0u) << "another slot";
    dev.release(0x7B);
    EXPECT_EQ(dev.request(s5.query, {}), 0u);
    dev.press(0x7B);
    EXPECT_EQ(dev.request(s5.disable, b), 0u);
    EXPECT_EQ(dev.request(s5.query, {}), 0u) << "disabled";
    EXPECT_EQ(dev.request(s5.enable, b), 0u);
    EXPECT_EQ(dev.request(kRequestStop, {}), 0u);
    EXPECT_EQ(dev.request(kRequestStart, {}), 0u);
    EXPECT_EQ(dev.request(s5.query, {}), 0u) << "stop forgets the enables";
}

TEST(KeySlotProtocol, KeyBlockSetsEverySlotAndBadRequestsHaveNoAnswer)
{
    FakeKeyStateDevice dev;
    EXPECT_FALSE(dev.request(kRequestStart, {})) << "closed";
    ASSERT_TRUE(dev.open());
    std::array<std::uint8_t, kKeySlots> b{};
    b[3] = 0x41;
    b[7] = 0x42;
    ASSERT_EQ(dev.request(kRequestKeyBlock, b), 0u);
    dev.request(kRequestStart, {});
    dev.request(kSlotRequests[3].enable, b);
    dev.request(kSlotRequests[7].enable, b);
    dev.press(0x42);
    EXPECT_EQ(dev.request(kSlotRequests[3].query, {}), 0u);
    EXPECT_EQ(dev.request(kSlotRequests[7].query, {}), 1u);

    const std::array<std::uint8_t, 4> shortBlock{};
    EXPECT_FALSE(dev.request(kRequestKeyBlock, shortBlock));
    EXPECT_FALSE(dev.request(kSlotRequests[7].setKey, shortBlock));
    EXPECT_FALSE(dev.request(999, {}));
    EXPECT_EQ(dev.request(kSlotRequests[2].unused, {}), 0u);
    dev.close();
    EXPECT_FALSE(dev.request(kSlotRequests[7].query, {}));
}

TEST(KeySlotProtocol, UnavailableDeviceDoesNotOpen)
{
    FakeKeyStateDevice dev;
    dev.setAvailable(false);
    EXPECT_FALSE(dev.open());
    EXPECT_FALSE(dev.isOpen());
}

TEST(X11KeyStateDevice, NoDisplayDoesNotOpen)
{
    auto dev = makeX11KeyStateDevice(":9999");
    EXPECT_FALSE(dev->open());
    EXPECT_EQ(dev->keyFromVk(0x7B), 0);
}

TEST(X11KeyStateDevice, SeesKeysPressedThroughXTest)
{
    testing_support::XvfbServer server;
    if (!server.ready()) GTEST_SKIP() << "no Xvfb";
    auto dev = makeX11KeyStateDevice(server.name());
    ASSERT_TRUE(dev->open());
    const std::uint8_t f12 = dev->keyFromVk(0x7B);
    ASSERT_NE(f12, 0);
    EXPECT_EQ(dev->vkFromKey(f12), 0x7Bu);

    Display* d = XOpenDisplay(server.name().c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(XKeysymToKeycode(d, XK_F12), f12);
    const auto b = blockWith(7, f12);
    dev->request(kRequestStart, {});
    dev->request(kSlotRequests[7].setKey, b);
    dev->request(kSlotRequests[7].enable, b);
    EXPECT_EQ(dev->request(kSlotRequests[7].query, {}), 0u);
    XTestFakeKeyEvent(d, f12, True, CurrentTime);
    XSync(d, False);
    EXPECT_EQ(dev->request(kSlotRequests[7].query, {}), 1u);
    XTestFakeKeyEvent(d, f12, False, CurrentTime);
    XSync(d, False);
    EXPECT_EQ(dev->request(kSlotRequests[7].query, {}), 0u);
    XCloseDisplay(d);
    dev->close();
    EXPECT_FALSE(dev->isOpen());
}

} // namespace
