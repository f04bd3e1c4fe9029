#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../src/wire.h"

using namespace platform::wire;

namespace {

std::vector<std::uint8_t> bytesOf(const auto& frame)
{
    std::vector<std::uint8_t> out(sizeof frame);
    std::memcpy(out.data(), &frame, sizeof frame);
    return out;
}

TEST(WireFrames, OnlyWholeWellFormedFramesAreTaken)
{
    const Request good{kMagic, kPost, 0x10000, 0x12, 5, -7};
    struct Case {
        const char* what;
        std::vector<std::uint8_t> frame;
        bool taken;
    };
    auto changed = [&](auto edit) {
        Request r = good;
        edit(r);
        return bytesOf(r);
    };
    auto longer = bytesOf(good);
    longer.push_back(0);
    auto shorter = bytesOf(good);
    shorter.pop_back();
    const Case cases[] = {
        {"a post", bytesOf(good), true},
        {"a send", changed([](Request& r) { r.kind = kSend; }), true},
        {"empty", {}, false},
        {"cut short", shorter, false},
        {"one byte more", longer, false},
        {"wrong magic", changed([](Request& r) { r.magic ^= 1; }), false},
        {"unknown kind", changed([](Request& r) { r.kind = 3; }), false},
        {"no window", changed([](Request& r) { r.hwnd = 0; }), false},
        {"a reply's length", std::vector<std::uint8_t>(16, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = parseRequest(c.frame);
        ASSERT_EQ(parsed.has_value(), c.taken);
        if (c.taken) {
            EXPECT_EQ(bytesOf(*parsed), c.frame);
        }
    }

    const Reply answer{kMagic, 1, -42};
    ASSERT_TRUE(parseReply(bytesOf(answer)));
    EXPECT_EQ(parseReply(bytesOf(answer))->result, -42);
    EXPECT_FALSE(parseReply(bytesOf(Reply{kMagic, 2, 0}))) << "handled is 0 or 1";
    EXPECT_FALSE(parseReply(bytesOf(Reply{0, 1, 0})));
    EXPECT_FALSE(parseReply(bytesOf(good)));
}

} // namespace
