// The port routines' timing rules over a fake port and a scripted tick.
#include "port_io.h"

#include "mathlib/numbra.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

class FakePorts final : public numbra::PortAccess {
public:
    bool allowed = true;
    std::uint8_t value = 0;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> writes;
    int asked = 0;

    bool permit(std::uint16_t) override
    {
        ++asked;
        return allowed;
    }
    std::uint8_t in(std::uint16_t) override { return value; }
    void out(std::uint16_t port, std::uint8_t v) override
    {
        writes.emplace_back(port, v);
        writeAtRead = reads;
    }
    int reads = 0;
    int writeAtRead = -1;
};

// A tick that follows a script: read k gives ticks[k] (the last one after that).
class ScriptedClock final : public platform::Clock {
public:
    explicit ScriptedClock(std::vector<std::uint32_t> ticks, FakePorts* ports = nullptr)
        : ticks_(std::move(ticks)), ports_(ports)
    {
    }
    platform::Duration now() const override
    {
        const std::size_t k = std::min(reads_, ticks_.size() - 1);
        ++reads_;
        if (ports_) ports_->reads = static_cast<int>(reads_);
        return std::chrono::milliseconds(ticks_[k]);
    }
    void sleepFor(platform::Duration) override {}
    std::size_t reads() const { return reads_; }

private:
    std::vector<std::uint32_t> ticks_;
    FakePorts* ports_;
    mutable std::size_t reads_ = 0;
};

TEST(NumbraPortIo, InputSignExtendsAndRefuses)
{
    FakePorts ports;
    ports.value = 0xFF;
    EXPECT_EQ(numbra::inputByte(ports, 0x378), -1);
    ports.value = 0x7F;
    EXPECT_EQ(numbra::inputByte(ports, 0x378), 127);
    ports.allowed = false;
    EXPECT_EQ(numbra::inputByte(ports, 0x378), NBR_PORT_UNAVAILABLE);
    EXPECT_EQ(numbra::inputByte(ports, 0x10000), NBR_PORT_UNAVAILABLE);
}

TEST(NumbraPortIo, OutputModes)
{
    {
        FakePorts ports;
        ScriptedClock clock({100, 101});
        EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, char(0xAB), 0), 100);
        ASSERT_EQ(ports.writes.size(), 1u);
        EXPECT_EQ(ports.writes[0].first, 0x378);
        EXPECT_EQ(ports.writes[0].second, 0xAB);
    }
    {
        // Mode 4 is mode 0.
        FakePorts ports;
        ScriptedClock clock({100});
        EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, 1, 4), 100);
        EXPECT_EQ(ports.writes.size(), 1u);
    }
    {
        // Mode 3 and its aliases write nothing and ask for nothing.
        FakePorts ports;
        ScriptedClock clock({100});
        EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, 1, 3), 0);
        EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, 1, 7), 0);
        EXPECT_TRUE(ports.writes.empty());
        EXPECT_EQ(ports.asked, 0);
    }
    {
        // Mode 1: within one tick, or 0 when the tick moved during the write.
        FakePorts ports;
        ScriptedClock same({200, 200});
        EXPECT_EQ(numbra::outputByte(ports, same, 0x378, 1, 1), 200);
        ScriptedClock moved({200, 201});
        EXPECT_EQ(numbra::outputByte(ports, moved, 0x378, 1, 1), 0);
        EXPECT_EQ(ports.writes.size(), 2u);
    }
    {
        // Mode 2: waits for the edge, writes just after it.
        FakePorts ports;
        ScriptedClock clock({300, 300, 300, 301, 301}, &ports);
        EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, 1, 2), 301);
        ASSERT_EQ(ports.writes.size(), 1u);
        EXPECT_EQ(ports.writeAtRead, 4);  // after the fourth read, the first to show 301
        ScriptedClock late({300, 301, 302});
        EXPECT_EQ(numbra::outputByte(ports, late, 0x378, 1, 2), 0);
    }
    {
        // A tick that never moves: the spin gives up, nothing is written.
        FakePorts ports;
        ScriptedClock stuck({5});
        EXPECT_EQ(numbra::outputByte(ports, stuck, 0x378, 1, 2, 1000), 0);
        EXPECT_EQ(stuck.reads(), 1001u);
        EXPECT_TRUE(ports.writes.empty());
    }
    {
        // Refused: an error, nothing written.
        FakePorts ports;
        ports.allowed = false;
        ScriptedClock clock({100});
        for (int mode : {0, 1, 2}) EXPECT_EQ(numbra::outputByte(ports, clock, 0x378, 1, mode), NBR_PORT_UNAVAILABLE);
        EXPECT_TRUE(ports.writes.empty());
    }
}

} // namespace
