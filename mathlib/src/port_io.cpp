// Port byte I/O with optional alignment to the system tick.
#include "port_io.h"

#include "mathlib/numbra.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define NUMBRA_HAS_PORTS 1
#endif

namespace numbra {
namespace {

class SystemPorts final : public PortAccess {
public:
    bool permit(std::uint16_t port) override
    {
#ifdef NUMBRA_HAS_PORTS
        // Needs CAP_SYS_RAWIO; without it the instructions would fault.
        return ioperm(port, 1, 1) == 0;
#else
        (void)port;
        return false;
#endif
    }
    std::uint8_t in(std::uint16_t port) override
    {
#ifdef NUMBRA_HAS_PORTS
        return inb(port);
#else
        (void)port;
        return 0;
#endif
    }
    void out(std::uint16_t port, std::uint8_t value) override
    {
#ifdef NUMBRA_HAS_PORTS
        outb(value, port);
#else
        (void)port;
        (void)value;
#endif
    }
};

bool validPort(int port) { return port >= 0 && port <= 0xFFFF; }

int asResult(std::uint32_t tick) { return static_cast<int>(tick); }

} // namespace

PortAccess& systemPorts()
{
    static SystemPorts ports;
    return ports;
}

int inputByte(PortAccess& ports, int port)
{
    if (!validPort(port)) return NBR_PORT_UNAVAILABLE;
    const auto p = static_cast<std::uint16_t>(port);
    if (!ports.permit(p)) return NBR_PORT_UNAVAILABLE;
    return static_cast<std::int8_t>(ports.in(p));
}

int outputByte(PortAccess& ports, const platform::Clock& clock, int port, char value, int mode, long maxEdgeSpin)
{
    mode &= 3;
    if (mode == 3) return 0;
    if (!validPort(port)) return NBR_PORT_UNAVAILABLE;
    const auto p = static_cast<std::uint16_t>(port);
    if (!ports.permit(p)) return NBR_PORT_UNAVAILABLE;
    const auto byte = static_cast<std::uint8_t>(value);
    switch (mode) {
    case 0:
        ports.out(p, byte);
        return asResult(clock.tickCount());
    case 1: {
        const std::uint32_t before = clock.tickCount();
        ports.out(p, byte);
        const std::uint32_t after = clock.tickCount();
        return before == after ? asResult(after) : 0;
    }
    default: {
        const std::uint32_t start = clock.tickCount();
        std::uint32_t edge = start;
        for (long spins = 0; edge == start; ++spins) {
            if (spins == maxEdgeSpin) return 0;
            edge = clock.tickCount();
        }
        ports.out(p, byte);
        const std::uint32_t after = clock.tickCount();
        return after == edge ? asResult(after) : 0;
    }
    }
}

} // namespace numbra

extern "C" {

int nbr_lInputByte(int port) { return numbra::inputByte(numbra::systemPorts(), port); }

int nbr_lOutputByte(int port, char value, int mode)
{
    return numbra::outputByte(numbra::systemPorts(), platform::systemClock(), port, value, mode);
}

} // extern "C"
