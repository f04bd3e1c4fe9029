#pragma once
// The centre, in image pixels, of the object the scorer tracks in one frame,
// as the tracked-coordinate double buffer carries it.
#include <cstdint>

namespace Orvane {

struct TrackedCoordinate {
    double first = 0.0;   // x
    double second = 0.0;  // y
    // Sequence number of the frame this centre was computed for (see
    // Frame::sequence); 0 = not tied to a frame.
    std::uint64_t frameSequence = 0;

    double x() const { return first; }
    double y() const { return second; }
};

} // namespace Orvane
