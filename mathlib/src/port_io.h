#pragma once
// Byte access to x86 I/O ports, behind an interface so that the timing rules
// of the output routine can be tested without touching a port.
#include "platform/clock.h"

#include <cstdint>

namespace numbra {

class PortAccess {
public:
    virtual ~PortAccess() = default;
    // Asks the system for access to one port; false when it refuses.
    virtual bool permit(std::uint16_t port) = 0;
    virtual std::uint8_t in(std::uint16_t port) = 0;
    virtual void out(std::uint16_t port, std::uint8_t value) = 0;
};

// ioperm + inb/outb on x86; refuses every port elsewhere.
PortAccess& systemPorts();

// Most tick reads the output routine spins through waiting for a tick edge
// before it gives up (the system tick moves every millisecond).
inline constexpr long kMaxEdgeSpin = 50'000'000;

// The byte sign-extended, or NBR_PORT_UNAVAILABLE.
int inputByte(PortAccess& ports, int port);
// Timed output by mode & 3; NBR_PORT_UNAVAILABLE when the port is refused.
int outputByte(PortAccess& ports, const platform::Clock& clock, int port, char value, int mode,
               long maxEdgeSpin = kMaxEdgeSpin);

} // namespace numbra
