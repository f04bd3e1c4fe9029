#include "simcam/imaging/packets.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace simcam::imaging {
namespace {

constexpr std::uint8_t bit(int value, int n) { return static_cast<std::uint8_t>((value >> n) & 1); }

void footer(Bytes& data, std::uint8_t frameId, bool bad) {
    std::array<std::uint8_t, 8> f{};
    f[3] = frameId;
    f[2] = static_cast<std::uint8_t>(FooterCheck(f[0], f[1], f[3]) ^ (bad ? 1 : 0));
    data.insert(data.end(), f.begin(), f.end());
}

int sendLevel(const PacketParams& p) {
    if (p.sendLevel > 0) return p.sendLevel;
    return std::max(1, p.threshold / 2);
}

// Revisions 6, 7, 8, 12, segment records. Half-pixel k is centred on x = k / 2;
// a record carries the first lit half-pixel and the one just past the last.
void segmentRecords(const Image& image, const PacketParams& p, Bytes& data) {
    const int halves = image.width * 2 - 1;
    auto value2 = [&](int k, int y) {
        if (k % 2 == 0) return 2 * image.at(k / 2, y);
        return image.at(k / 2, y) + image.at(k / 2 + 1, y);
    };
    // With a positive threshold only half-pixels next to a pixel that is not
    // 0 can be lit; the zeros between are passed over a word at a time.
    const bool skipZeros = p.threshold > 0;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.width;
        int k = 0;
        while (k < halves) {
            if (skipZeros) {
                // Half-pixel 2j - 1 is the first to take pixel j.
                const int j = SkipZeros(row, image.width, k / 2);
                if (j == image.width) break;
                k = std::max(k, 2 * j - 1);
            }
            if (value2(k, y) < 2 * p.threshold) {
                ++k;
                continue;
            }
            const int s = k;
            while (k < halves && value2(k, y) >= 2 * p.threshold) ++k;
            const int t = k;
            const std::uint8_t b3 = static_cast<std::uint8_t>(
                bit(s, 10) << 7 | bit(t, 10) << 6 | bit(y, 9) << 5 | bit(s, 9) << 4 | bit(t, 9) << 3 |
                bit(y, 8) << 2 | bit(s, 8) << 1 | bit(t, 8));
            data.insert(data.end(), {static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(s & 0xFF),
                                     static_cast<std::uint8_t>(t & 0xFF), b3});
        }
    }
}

// Segment records of one-pixel runs scattered over the window, as a camera
// flooded with light sends them.
void flood(const PacketParams& p, bool rev9, Bytes& data) {
    for (int i = 0; i < p.faults.floodRecords; ++i) {
        const int y = (i * 7) % std::max(p.height, 1);
        const int x = 1 + (i * 13) % std::max(p.width - 1, 1);  // never a run at 0, 0 (end of frame)
        const int s = 2 * x, t = rev9 ? 2 * x : 2 * x + 1;
        const std::uint8_t b3 = rev9 ? static_cast<std::uint8_t>(bit(s, 8) << 7 | bit(t, 8) << 6 | bit(y, 8) << 5 |
                                                                 bit(s, 9) << 4 | bit(t, 9) << 3 | bit(s, 10) << 1 |
                                                                 bit(t, 10))
                                     : static_cast<std::uint8_t>(bit(s, 10) << 7 | bit(t, 10) << 6 | bit(y, 9) << 5 |
                                                                 bit(s, 9) << 4 | bit(t, 9) << 3 | bit(y, 8) << 2 |
                                                                 bit(s, 8) << 1 | bit(t, 8));
        data.push_back(static_cast<std::uint8_t>(y & 0xFF));
        data.push_back(static_cast<std::uint8_t>(s & 0xFF));
        data.push_back(static_cast<std::uint8_t>(t & 0xFF));
        data.push_back(b3);
    }
}

// Greyscale run records: x low, line low, high bits, pixels (never 0), then 0.
void greyRunRecords(const Image& image, const PacketParams& p, Bytes& data) {
    const int level = sendLevel(p);
    for (const Run& r : ThresholdRuns(image, level)) {
        data.push_back(static_cast<std::uint8_t>(r.first & 0xFF));
        data.push_back(static_cast<std::uint8_t>(r.line & 0xFF));
        data.push_back(static_cast<std::uint8_t>(bit(r.line, 8) << 2 | ((r.first >> 8) & 3)));
        for (int x = r.first; x <= r.last; ++x) data.push_back(image.at(x, r.line));
        data.push_back(0);
    }
}

struct Blob {
    double weight = 0.0;  // sum of pixel weights v / 255
    double sumX = 0.0;
    double sumY = 0.0;
};

// 8-connected blobs of pixels at or above the level, in order of their first
// pixel (row-major).
std::vector<std::vector<std::pair<int, int>>> blobs(const Image& image, int threshold) {
    std::vector<int> label(image.pixels.size(), -1);
    std::vector<std::vector<std::pair<int, int>>> out;
    std::vector<std::pair<int, int>> stack;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * image.width + x;
            if (label[i] >= 0 || image.pixels[i] < threshold) continue;
            const int id = static_cast<int>(out.size());
            out.emplace_back();
            label[i] = id;
            stack.push_back({x, y});
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                out[id].push_back({cx, cy});
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
                        const std::size_t n = static_cast<std::size_t>(ny) * image.width + nx;
                        if (label[n] >= 0 || image.pixels[n] < threshold) continue;
                        label[n] = id;
                        stack.push_back({nx, ny});
                    }
                }
            }
        }
    }
    for (auto& b : out) std::sort(b.begin(), b.end(), [](auto a, auto c) { return a.second != c.second ? a.second < c.second : a.first < c.first; });
    return out;
}

// Hardware object record: intensity-weighted moments in the camera's units
// (area and y in half pixels, x in quarter pixels). The sums are rounded so
// that they give the blob's centre to within a quarter of a unit of area.
void objectRecord(const Blob& b, Bytes& data) {
    const long long area = std::clamp<long long>(std::llround(2.0 * b.weight), 1, 0xFFFF);
    const double cx = b.weight > 0.0 ? b.sumX / b.weight : 0.0;
    const double cy = b.weight > 0.0 ? b.sumY / b.weight : 0.0;
    const auto x = static_cast<std::uint32_t>(std::clamp<long long>(std::llround(2.0 * area * cx), 0, 0xFFFFFF));
    const auto y = static_cast<std::uint32_t>(std::clamp<long long>(std::llround(area * cy), 0, 0xFFFFFF));
    const auto a = static_cast<std::uint32_t>(area);
    data.insert(data.end(), {static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x >> 16),
                             static_cast<std::uint8_t>(y >> 16), static_cast<std::uint8_t>(x),
                             static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y >> 8),
                             static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(a >> 8)});
}

void hardwareObjects(const Image& image, const PacketParams& p, Bytes& data) {
    std::vector<Blob> records;
    std::vector<std::pair<int, int>> links;
    // Blobs are the lit pixels' connected areas, grown over the dimmer
    // pixels around them down to the send level.
    const int level = sendLevel(p);
    for (const auto& pixels : blobs(image, level)) {
        bool lit = false;
        for (auto [x, y] : pixels) lit = lit || image.at(x, y) >= p.threshold;
        if (!lit) continue;
        const int top = pixels.front().second;
        int bottom = top;
        for (auto [x, y] : pixels) bottom = std::max(bottom, y);
        const int split = p.splitObjects && bottom > top ? (top + bottom + 1) / 2 : -1;
        Blob upper, lower;
        for (auto [x, y] : pixels) {
            Blob& b = (split >= 0 && y >= split) ? lower : upper;
            const double w = image.at(x, y) / 255.0;
            b.weight += w;
            b.sumX += w * x;
            b.sumY += w * y;
        }
        records.push_back(upper);
        if (lower.weight > 0.0) {
            records.push_back(lower);
            links.push_back({static_cast<int>(records.size()) - 1, static_cast<int>(records.size())});
        }
    }
    const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(records.size(), 0xFFFF));
    const auto m = static_cast<std::uint16_t>(std::min<std::size_t>(links.size(), 0xFFFF));
    data.insert(data.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                             static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8)});
    for (std::size_t i = 0; i < n; ++i) objectRecord(records[i], data);
    for (std::size_t i = 0; i < m; ++i) {
        data.insert(data.end(), {0, 0, static_cast<std::uint8_t>(links[i].first),
                                 static_cast<std::uint8_t>(links[i].second)});
    }
}

void greyscale(const Image& image, const PacketParams& p, Bytes& data) {
    const int rows = p.revision == 6 ? image.height - 1 : image.height;
    for (int y = 0; y < rows; ++y) {
        const auto* row = image.pixels.data() + static_cast<std::size_t>(y) * image.width;
        data.insert(data.end(), row, row + image.width);
    }
    if (p.revision != 6) {
        while ((data.size() + 8) % 4 != 0) data.push_back(0);
    }
}

// Revision 9 segment records in full pixels, carried as doubled values.
void rev9Segments(const Image& image, const PacketParams& p, Bytes& data) {
    for (const Run& r : ThresholdRuns(image, p.threshold)) {
        const int s = 2 * r.first, t = 2 * r.last, y = r.line;
        const std::uint8_t b3 = static_cast<std::uint8_t>(bit(s, 8) << 7 | bit(t, 8) << 6 | bit(y, 8) << 5 |
                                                          bit(s, 9) << 4 | bit(t, 9) << 3 | bit(s, 10) << 1 |
                                                          bit(t, 10));
        data.insert(data.end(), {static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(s & 0xFF),
                                 static_cast<std::uint8_t>(t & 0xFF), b3});
    }
}

// Revision 9 weighted runs: start, line, length, then the run's intensity
// sum and its intensity-weighted x measured from the run's start.
// Runs reach down to the send level, so the sums hold the marker's dim rim.
void rev9Weighted(const Image& image, const PacketParams& p, Bytes& data) {
    for (const Run& r : ThresholdRuns(image, sendLevel(p))) {
        long long sumI = 0, sumX = 0;
        for (int x = r.first; x <= r.last; ++x) {
            sumI += image.at(x, r.line);
            sumX += static_cast<long long>(image.at(x, r.line)) * (x - r.first);
        }
        const auto ax = static_cast<std::uint32_t>(std::min<long long>(sumX, 0xFFFFF));
        const auto ai = static_cast<std::uint32_t>(std::min<long long>(sumI, 0x7FFF));
        const int x = r.first, y = r.line, len = std::min(r.last - r.first + 1, 1023);
        data.insert(data.end(),
                    {static_cast<std::uint8_t>(x >> 2), static_cast<std::uint8_t>((x & 3) << 6 | (y >> 3)),
                     static_cast<std::uint8_t>((y & 7) << 5 | (len >> 5)),
                     static_cast<std::uint8_t>((len & 0x1F) << 3 | (ax >> 17)), static_cast<std::uint8_t>(ax >> 9),
                     static_cast<std::uint8_t>(ax >> 1), static_cast<std::uint8_t>((ax & 1) << 7 | (ai >> 8)),
                     static_cast<std::uint8_t>(ai)});
    }
}

void rev9Subsampled(const Image& image, const PacketParams& p, Bytes& data) {
    const int cols = image.width / 64, rows = image.height / 3;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            const int x = std::min(p.columnPhase + 64 * i, image.width - 1);
            const int y = std::min(p.rowPhase + 3 * j, image.height - 1);
            data.push_back(image.at(x, y));
        }
    }
    if (!data.empty() && cols > 0 && rows > 0) {
        // The first sample's byte carries the phases.
        data[4] = static_cast<std::uint8_t>((p.rowPhase & 3) << 6 | (p.columnPhase & 0x3F));
    }
}

// Blocks of 64 bytes: used length, block type with switch bits, records.
void blocks(const Image& image, const PacketParams& p, Bytes& data) {
    const int recordSize = p.revision < 4 ? 3 : 4;
    const int perBlock = (64 - 2) / recordSize;
    std::vector<std::array<std::uint8_t, 4>> records;
    for (const Run& r : ThresholdRuns(image, p.threshold)) {
        std::array<std::uint8_t, 4> rec{};
        if (p.revision < 4) {
            rec = {static_cast<std::uint8_t>(r.line), static_cast<std::uint8_t>(r.first),
                   static_cast<std::uint8_t>(r.last), 0};
        } else if (p.revision == 4) {
            const int y = r.line + 12, s = r.first + 42, t = r.last + 42;
            rec = {static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(s & 0xFF),
                   static_cast<std::uint8_t>(t & 0xFF),
                   static_cast<std::uint8_t>(bit(s, 8) << 7 | bit(t, 8) << 6 | bit(y, 8) << 5)};
        } else {
            const int y = r.line + 11, s = 2 * r.first + 74, t = 2 * r.last + 74;
            rec = {static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(s & 0xFF),
                   static_cast<std::uint8_t>(t & 0xFF),
                   static_cast<std::uint8_t>(bit(s, 8) << 7 | bit(t, 8) << 6 | bit(y, 8) << 5 | bit(s, 9) << 4 |
                                             bit(t, 9) << 3 | bit(y, 9) << 2 | bit(s, 10) << 1 | bit(t, 10))};
        }
        records.push_back(rec);
    }
    if (p.revision >= 4) records.push_back({0, 0, 0, 0});  // end of frame
    std::size_t next = 0;
    do {
        std::array<std::uint8_t, 64> block{};
        const std::size_t n = std::min<std::size_t>(perBlock, records.size() - next);
        block[0] = static_cast<std::uint8_t>(2 + n * recordSize);
        block[1] = static_cast<std::uint8_t>(0x10 | (p.switchBits & 0x0C));
        for (std::size_t i = 0; i < n; ++i) {
            std::copy_n(records[next + i].begin(), recordSize, block.begin() + 2 + i * recordSize);
        }
        next += n;
        data.insert(data.end(), block.begin(), block.end());
    } while (next < records.size());
}

}  // namespace

std::uint8_t HeaderCheck(std::uint8_t b0, std::uint8_t b1, std::uint8_t b3) {
    return static_cast<std::uint8_t>(b0 ^ b1 ^ b3 ^ 0xAA);
}

std::uint8_t FooterCheck(std::uint8_t b0, std::uint8_t b1, std::uint8_t b3) {
    return static_cast<std::uint8_t>(b0 ^ b1 ^ b3 ^ 0x0F);
}

Bytes EncodePacket(const Image& image, const PacketParams& p) {
    std::array<std::uint8_t, 4> header{};
    Bytes data;
    const PacketFaults& f = p.faults;
    if (p.revision == 9) {
        data = {p.frameId, 0, p.mode, 0};
        data[3] = static_cast<std::uint8_t>((data[0] ^ data[1] ^ data[2] ^ 0xAA) ^ (f.badHeaderCheck ? 1 : 0));
        switch (p.mode) {
            case kModeRev9Segments:
                rev9Segments(image, p, data);
                flood(p, true, data);
                break;
            case kModeRev9Weighted: rev9Weighted(image, p, data); break;
            case kModeRev9Subsampled: rev9Subsampled(image, p, data); break;
            case kModeGreyscaleRuns: greyRunRecords(image, p, data); break;
            default: break;
        }
        const std::uint32_t count = static_cast<std::uint32_t>(data.size() + 4 - 8) + (f.badCount ? 1 : 0);
        data.insert(data.end(), {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
                                 static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)});
    } else if (p.revision == 6 || p.revision == 7 || p.revision == 8 || p.revision == 12) {
        header = {p.optionFlags, p.mode, 0, p.frameId};
        header[2] = static_cast<std::uint8_t>(HeaderCheck(header[0], header[1], header[3]) ^ (f.badHeaderCheck ? 1 : 0));
        switch (p.mode) {
            case kModeGreyscale: greyscale(image, p, data); break;
            case kModeHardwareObjects: hardwareObjects(image, p, data); break;
            case kModeGreyscaleRuns:
                data = {static_cast<std::uint8_t>(std::clamp(p.threshold, 0, 255)), 0, 0, 0};
                greyRunRecords(image, p, data);
                break;
            default:
                segmentRecords(image, p, data);
                flood(p, false, data);
                break;
        }
        footer(data, p.frameId, f.badFooterCheck);
    } else {
        header = {p.optionFlags, p.mode, 0, p.frameId};
        blocks(image, p, data);
    }
    if (f.highHeaderBits) header[1] |= 0xF8;
    // Whole packet, then the length faults: cut bytes off the end, or pad with zeros.
    const std::size_t whole = 4 + data.size();
    const std::size_t cut = std::min<std::size_t>(whole, static_cast<std::size_t>(std::max(f.truncate, 0)));
    const std::size_t pad = static_cast<std::size_t>(std::clamp(f.pad, 0, 1 << 24));
    Bytes full(header.begin(), header.end());
    full.insert(full.end(), data.begin(), data.end());
    Bytes out(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(whole - cut));
    for (std::size_t i = 0; i < pad; ++i)
        out.push_back(0);
    return out;
}

SplitPacket Split(std::span<const std::uint8_t> buffer) {
    SplitPacket s;
    const std::size_t n = std::min<std::size_t>(buffer.size(), 4);
    std::copy_n(buffer.begin(), n, s.header.begin());
    s.data = buffer.subspan(n);
    return s;
}

}  // namespace simcam::imaging
