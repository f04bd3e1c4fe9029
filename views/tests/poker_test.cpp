#include "views/process_poker.h"

#include "target_runner.h"

#include <array>
#include <gtest/gtest.h>

using testing_support::TargetProcess;

namespace {

constexpr std::uint32_t kCode = 0x10400000;
constexpr std::uint32_t kData = 0x10410000;

class PokerOnTarget : public ::testing::Test {
protected:
    void SetUp() override { ORVANE_SKIP_WITHOUT_MEMORY_ACCESS(); }
    TargetProcess target{PROCESS_TARGET, {"0x10400000:4096:rx", "0x10410000:4096:rw", "0x10400020=e88c05f6ff",
                                          "0x10410000=00112233445566778899"}};
};

TEST_F(PokerOnTarget, RememberedPatchesAndSnapshotsComeBackByteExact)
{
    ASSERT_TRUE(target.ready());
    {
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
        EXPECT_EQ(poker.processId(), static_cast<std::uint32_t>(target.pid()));

        ASSERT_TRUE(poker.Remember(kCode + 0x20, 5));
        const std::array<std::uint8_t, 5> jump{0xE9, 0xBF, 0x8E, 0xF4, 0xFF};
        ASSERT_TRUE(poker.Write(jump.data(), kCode + 0x20, 5));
        // The same range patched twice: the first original wins.
        ASSERT_TRUE(poker.Remember(kCode + 0x20, 2));
        const std::array<std::uint8_t, 2> again{0x90, 0x90};
        ASSERT_TRUE(poker.Write(again.data(), kCode + 0x20, 2));
        EXPECT_EQ(target.command("dump 0x10400020 5"), "90908ef4ff");

        ASSERT_TRUE(poker.Snapshot(3, kData + 2, 4));
        EXPECT_EQ(std::vector<std::uint8_t>(poker.GetSnapshot(3).begin(), poker.GetSnapshot(3).end()),
                  (std::vector<std::uint8_t>{0x22, 0x33, 0x44, 0x55}));
        const std::array<std::uint8_t, 6> junk{1, 2, 3, 4, 5, 6};
        ASSERT_TRUE(poker.Write(junk.data(), kData, 6));
        EXPECT_EQ(target.command("dump 0x10410000 6"), "010203040506");
    }
    // The poker is gone: everything it remembered is back.
    EXPECT_EQ(target.command("dump 0x10400020 5"), "e88c05f6ff");
    EXPECT_EQ(target.command("dump 0x10410000 10"), "01022233445566778899");
}

TEST_F(PokerOnTarget, RestoreSnapshotKeepsOrFreesTheSlot)
{
    ASSERT_TRUE(target.ready());
    CProcessPoker poker;
    ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
    ASSERT_TRUE(poker.Snapshot(0, kData, 2));
    EXPECT_EQ(target.command("poke 0x10410000 ffff"), "ok");
    EXPECT_TRUE(poker.RestoreSnapshot(0, true));
    EXPECT_EQ(target.command("dump 0x10410000 2"), "0011");
    EXPECT_FALSE(poker.GetSnapshot(0).empty());
    EXPECT_TRUE(poker.RestoreSnapshot(0, false));
    EXPECT_TRUE(poker.GetSnapshot(0).empty());
    // An empty slot restores nothing and succeeds.
    EXPECT_EQ(target.command("poke 0x10410000 ffff"), "ok");
    EXPECT_TRUE(poker.RestoreSnapshot(0, false));
    EXPECT_EQ(target.command("dump 0x10410000 2"), "ffff");
    // A failed read leaves the slot empty.
    EXPECT_FALSE(poker.Snapshot(1, 0x20000000, 8));
    EXPECT_TRUE(poker.GetSnapshot(1).empty());
    EXPECT_FALSE(poker.Snapshot(CProcessPoker::kSnapshotSlots, kData, 2));
}

TEST_F(PokerOnTarget, RememberOfUnreadableRangeAppendsNothing)
{
    ASSERT_TRUE(target.ready());
    CProcessPoker poker;
    ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
    EXPECT_FALSE(poker.Remember(0x20000000, 4));
    EXPECT_EQ(poker.rememberedCount(), 0u);
    const std::array<std::uint8_t, 2> bytes{7, 7};
    ASSERT_TRUE(poker.Write(bytes.data(), kData, 2));
    poker.Undo();
    // Nothing was remembered, so the write stays.
    EXPECT_EQ(target.command("dump 0x10410000 2"), "0707");
}

TEST_F(PokerOnTarget, GameThatExitsLeavesThePokerSound)
{
    ASSERT_TRUE(target.ready());
    CProcessPoker poker;
    ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
    ASSERT_TRUE(poker.Remember(kCode + 0x20, 5));
    ASSERT_TRUE(poker.Snapshot(2, kData, 4));
    target.kill();
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    EXPECT_FALSE(poker.Write(bytes.data(), kData, 4));
    EXPECT_FALSE(poker.attached());
    EXPECT_EQ(poker.processId(), 0u);
    std::array<std::uint8_t, 4> out{};
    EXPECT_FALSE(poker.Read(out.data(), kData, 4));
    // Without a process Undo does nothing and keeps the list; the
    // destructor frees it.
    poker.Undo();
    EXPECT_EQ(poker.rememberedCount(), 1u);
}

TEST(Poker, WithoutProcessEverythingFails)
{
    platform::FakeProcessSystem system;
    CProcessPoker poker(system);
    EXPECT_FALSE(poker.Attach(77));
    std::uint32_t v = 0;
    EXPECT_FALSE(poker.ReadValue(0x1000, v));
    EXPECT_FALSE(poker.WriteValue(0x1000, v));
    EXPECT_FALSE(poker.Remember(0x1000, 4));
    EXPECT_TRUE(poker.RestoreSnapshot(0, false));
}

} // namespace
