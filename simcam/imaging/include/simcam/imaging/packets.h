// The camera's image packets, encoded from a rendered sensor image for each
// hardware revision and packet mode. The byte layouts are written down in
// simcam/PROTOCOL.md ("Image packets").
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "simcam/imaging/render.h"

namespace simcam::imaging {

using Bytes = std::vector<std::uint8_t>;

// Packet modes of the header's mode byte.
inline constexpr std::uint8_t kModeSegments = 0;          // revisions 6, 7, 8, 12 (any mode but 1, 2, 4)
inline constexpr std::uint8_t kModeGreyscale = 1;         // revisions 6, 7, 8, 12
inline constexpr std::uint8_t kModeHardwareObjects = 2;   // revisions 6, 7, 8, 12
inline constexpr std::uint8_t kModeGreyscaleRuns = 4;     // revisions 6, 7, 8, 12 and 9
inline constexpr std::uint8_t kModeRev9Segments = 0;
inline constexpr std::uint8_t kModeRev9Subsampled = 3;
inline constexpr std::uint8_t kModeRev9Weighted = 5;

// Deliberate damage, applied after the packet is built.
struct PacketFaults {
    bool badHeaderCheck = false;   // header (or revision 9 data header) check byte off by one
    bool badFooterCheck = false;   // footer check byte off by one (revisions 6, 7, 8, 12)
    bool highHeaderBits = false;   // header word bits 0xF800 set: the receive side drops it
    bool badCount = false;         // revision 9 trailing count off by one
    int truncate = 0;              // bytes cut from the end
    int pad = 0;                   // zero bytes added at the end
    int floodRecords = 0;          // segment modes: this many extra one-pixel runs, spread over the window
};

struct PacketParams {
    int revision = 7;
    int width = 640;               // camera window: row stride W
    int height = 480;              // camera window: line count H
    std::uint8_t mode = kModeSegments;
    std::uint8_t frameId = 0;
    std::uint8_t optionFlags = 0;  // header byte 0 (revision 8: 0x1 and 0x2 are switch bits)
    int threshold = 128;           // a pixel at or above it is lit
    int sendLevel = 0;             // greyscale runs: lowest pixel sent (0: threshold / 2, at least 1)
    std::uint8_t switchBits = 0;   // block revisions: bits 0x0C of each block's byte 1
    int columnPhase = 0;           // revision 9 mode 3 (0..63)
    int rowPhase = 0;              // revision 9 mode 3 (0..2)
    bool splitObjects = false;     // hardware objects: send each blob as two linked records
    PacketFaults faults;
};

// A whole buffer as the camera's image pipe returns it: the 4-byte
// little-endian header word, then the packet data.
Bytes EncodePacket(const Image& image, const PacketParams& params);

// The header word and data of an encoded buffer (the split the receive side makes).
struct SplitPacket {
    std::array<std::uint8_t, 4> header{};
    std::span<const std::uint8_t> data;
};
SplitPacket Split(std::span<const std::uint8_t> buffer);

// Check bytes as the camera computes them.
std::uint8_t HeaderCheck(std::uint8_t b0, std::uint8_t b1, std::uint8_t b3);
std::uint8_t FooterCheck(std::uint8_t b0, std::uint8_t b1, std::uint8_t b3);

}  // namespace simcam::imaging
