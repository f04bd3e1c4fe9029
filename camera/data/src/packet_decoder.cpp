#include "camera/packet_decoder.h"

#include "camera/debug.h"
#include "camera/object_builder.h"
#include "camera/settings.h"

#include <algorithm>
#include <cstring>

namespace Orvane {

DataPathCamera::WeightTable DefaultGreyscaleWeights()
{
    DataPathCamera::WeightTable w{};
    for (int g = 32; g < 256; ++g)
        w[static_cast<std::size_t>(g)] = static_cast<int>((g - 32) * 1.1434977);
    return w;
}

SegmentAccumulator::SegmentAccumulator(std::size_t capacity)
    : records_(std::max<std::size_t>(capacity, MarkerReserve + 1))
{
}

bool SegmentAccumulator::AddSegment(const LineSegment& segment)
{
    if (size_ + MarkerReserve >= records_.size()) {
        ++dropped_;
        return false;
    }
    records_[size_++] = segment;
    return true;
}

void SegmentAccumulator::AddMarker(const LineSegment& record)
{
    if (size_ >= records_.size()) {
        ++dropped_;
        return;
    }
    records_[size_++] = record;
}

void SegmentAccumulator::AddFrameId(std::int32_t id)
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    r.accumulatedX = 0;
    r.accumulatedIntensity = 0;
    r.SetFrameId(id);
    AddMarker(r);
}

void SegmentAccumulator::AddFrameOption(std::int32_t bits)
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    r.accumulatedX = 0;
    r.accumulatedIntensity = 0;
    r.SetFrameOption(bits);
    AddMarker(r);
}

void SegmentAccumulator::AddEndOfFrame()
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    r.accumulatedX = 0;
    r.accumulatedIntensity = 0;
    r.idOrOption = 0;
    AddMarker(r);
}

namespace {

constexpr int bit(std::uint8_t b, int n) { return (b >> n) & 1; }

LineSegment segment(int line, float start, float stop, float width)
{
    LineSegment s(line, start, stop, width);
    s.accumulatedX = 0;
    s.accumulatedIntensity = 0;
    s.idOrOption = 0;
    return s;
}

// Greyscale run records: 3 header bytes, pixel bytes, a 0 byte. Walks the
// records between begin and end as the decoder will and reports whether
// every run it would read ends inside that range.
struct RunHeader {
    int x;
    int line;
    std::uint8_t high;
};

RunHeader runHeader(const std::uint8_t* p)
{
    return {p[0] | (p[2] & 3) << 8, p[1] | ((p[2] >> 2) & 1) << 8, p[2]};
}

// Index of the 0 byte that ends a run starting at from, or end when none.
std::size_t runEnd(std::span<const std::uint8_t> data, std::size_t from, std::size_t end)
{
    const auto* hit = static_cast<const std::uint8_t*>(std::memchr(data.data() + from, 0, end - from));
    return hit == nullptr ? end : static_cast<std::size_t>(hit - data.data());
}

} // namespace

PacketDecoder::PacketDecoder(DataPathCamera& camera) : camera_(camera) {}

void PacketDecoder::Consume(std::span<const std::uint8_t, 4> header, std::span<const std::uint8_t> data,
                            PacketSync& sync, SegmentAccumulator& accumulator, FrameSink& sink)
{
    ++stats_.packets;
    const int revision = camera_.GetHardwareRevision();
    if (revision == 6 || revision == 7 || revision == 8 || revision == 12)
        ConsumeFamily6(header, data, sync, accumulator, sink);
    else if (revision == 9)
        ConsumeRev9(data, sync, accumulator, sink);
    else {
        accumulator.AddFrameId(header[3]);
        ConsumeBlocks(revision, data, accumulator);
    }
}

void PacketDecoder::Consume(CameraPacket& packet, PacketSync& sync, SegmentAccumulator& accumulator, FrameSink& sink)
{
    sync.time = packet.GetTimeStamp();
    Consume(packet.GetHeader(), packet.GetData(), sync, accumulator, sink);
    packet.SetNumBytesInPacket(0);
}

void PacketDecoder::ConsumeFamily6(std::span<const std::uint8_t, 4> header, std::span<const std::uint8_t> data,
                                   PacketSync& sync, SegmentAccumulator& acc, FrameSink& sink)
{
    const int revision = camera_.GetHardwareRevision();
    const std::size_t len = data.size();
    // The frame id of revisions 7 and 12 is footer byte 3; a packet too
    // short for a footer falls back to the header's.
    const int frameId = (revision == 7 || revision == 12) && len >= 8 ? data[len - 5] : header[3];
    acc.AddFrameId(frameId);
    if (len < 8) {
        ++stats_.shortPackets;
        acc.AddEndOfFrame();
        return;
    }
    if (header[2] != (header[0] ^ header[1] ^ header[3] ^ 0xAA)) {
        ++stats_.badHeader;
        cDebug::ReportDebug(cDebug::PacketProcessor, "Bad header CRC on incoming data");
        acc.AddEndOfFrame();
        return;
    }
    const std::uint8_t* f = data.data() + len - 8;
    if (f[2] != (f[0] ^ f[1] ^ f[3] ^ 0x0F)) {
        ++stats_.badFooter;
        cDebug::ReportDebug(cDebug::PacketProcessor, "Bad footer CRC on incoming data");
        acc.AddEndOfFrame();
        return;
    }
    if (revision == 8)
        camera_.SetSwitchState(((header[0] & 0x1) ? 0x8 : 0) | ((header[0] & 0x2) ? 0x4 : 0));

    const int W = camera_.GetWindowWidth();
    const int H = camera_.GetWindowHeight();
    const std::uint8_t mode = header[1];

    if (mode == 1) {
        acc.AddFrameOption(Frame::OptionImage);
        const long long raw = revision == 6 ? static_cast<long long>(H - 1) * W + 8 : static_cast<long long>(H) * W + 8;
        const long long expected = revision == 6 ? raw : (raw + 3) / 4 * 4;
        if (W <= 0 || H <= 1 || static_cast<long long>(len) != expected) {
            ++stats_.wrongLength;
            cDebug::ReportDebug(cDebug::PacketProcessor, "Received %d bytes via USB (expected %d)",
                                static_cast<int>(len), static_cast<int>(expected));
            acc.AddEndOfFrame();
            return;
        }
        Frame& frame = sink.FrameInProgress();
        frame.maskOut = false;
        if (frame.image.size() != len)
            frame.ResizeImage(static_cast<std::uint32_t>(len));
        std::memcpy(frame.image.data(), data.data(), len);
        frame.imageWidth = W;
        frame.imageHeight = H - 1;
        frame.frameId = frameId;
        frame.imagePresent = true;
        frame.time = sync.time;
        if (camera_.GetFrameSendingOptions() & DataPathCamera::SegmentGreyscaleFrames) {
            const int t = std::clamp(camera_.GetThreshold(), 0, 255);
            sync.threshold = static_cast<std::uint8_t>(t);
            for (int y = 0; y < H - 1; ++y) {
                const std::uint8_t* row = data.data() + static_cast<std::size_t>(y) * W;
                int x = 0;
                while (x < W) {
                    if (row[x] < t) {
                        ++x;
                        continue;
                    }
                    const int start = x;
                    while (x < W && row[x] >= t)
                        ++x;
                    const int stop = x - 1;
                    acc.AddSegment(segment(y, static_cast<float>(start), static_cast<float>(stop),
                                           static_cast<float>(stop - start + 1)));
                }
            }
            acc.AddEndOfFrame();
        } else {
            sink.DeliverFrame(frame);
            acc.Clear();
        }
        return;
    }

    if (mode == 2) {
        Frame& frame = sink.FrameInProgress();
        frame.maskOut = false;
        frame.FreeImage();
        if (!DecodeHardwareObjects(frame, data, camera_.GetObjectCap(), hardwareRecords_)) {
            if (frame.objectCount == 0)
                ++stats_.wrongLength;
            else
                ++stats_.malformed;
        }
        frame.frameId = frameId;
        frame.time = sync.time;
        sink.DeliverFrame(frame);
        acc.Clear();
        return;
    }

    if (mode == 4) {
        acc.AddFrameOption(Frame::OptionImage);
        const std::size_t end = len - 8;  // runs never reach into the footer
        // Walk first: a run that is not ended before the footer drops the packet.
        for (std::size_t pos = 4; pos + 12 <= len;) {
            const RunHeader h = runHeader(data.data() + pos);
            if (!(h.line < H && h.x < W && h.high < 8))
                break;
            const std::size_t stop = runEnd(data, std::min(pos + 3, end), end);
            if (stop >= end) {
                ++stats_.malformed;
                acc.AddEndOfFrame();
                return;
            }
            pos = stop + 1;
        }
        Frame& frame = sink.FrameInProgress();
        const std::size_t size = static_cast<std::size_t>(std::max(W, 0)) * static_cast<std::size_t>(std::max(H, 0));
        if (frame.image.size() != size || frame.imageWidth != W || frame.imageHeight != H)
            frame.SetImageSize(W, H);
        frame.imagePresent = true;
        if (!frame.maskOut) {
            std::fill(frame.image.begin(), frame.image.end(), std::uint8_t{0});
            frame.maskOut = true;
        }
        const std::uint8_t t = data[0];
        sync.threshold = t;
        for (std::size_t pos = 4; pos + 12 <= len;) {
            if (acc.Size() >= 1999)
                break;
            const RunHeader h = runHeader(data.data() + pos);
            if (!(h.line < H && h.x < W && h.high < 8))
                break;  // the rest of the packet is not run data
            const std::size_t first = pos + 3;
            const std::size_t stop = runEnd(data, first, end);
            const int count = std::min(static_cast<int>(stop - first), std::max(W - 3 - h.x, 0));
            std::uint8_t* row = frame.image.data() + static_cast<std::size_t>(h.line) * W;
            std::memcpy(row + h.x, data.data() + first, static_cast<std::size_t>(count));
            int i = 0;
            while (i < count) {
                if (data[first + i] <= t) {
                    ++i;
                    continue;
                }
                const int s = i;
                while (i < count && data[first + i] > t)
                    ++i;
                acc.AddSegment(segment(h.line, static_cast<float>(h.x + s), static_cast<float>(h.x + i - 1),
                                       static_cast<float>(i - s)));
            }
            pos = stop + 1;
        }
        acc.AddEndOfFrame();
        return;
    }

    // Segment records; a trailing partial record would overlap the footer
    // and is not read.
    const std::size_t n = (len - 8) / 4;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* b = data.data() + 4 * k;
        const int line = b[0] + 512 * bit(b[3], 5) + 256 * bit(b[3], 2);
        const float start = static_cast<float>(b[1] + 1024 * bit(b[3], 7) + 512 * bit(b[3], 4) + 256 * bit(b[3], 1)) / 2.0f;
        const float stop =
            static_cast<float>(b[2] + 1024 * bit(b[3], 6) + 512 * bit(b[3], 3) + 256 * bit(b[3], 0)) / 2.0f - 0.5f;
        acc.AddSegment(segment(line, start, stop, stop - start + 0.5f));
    }
    acc.AddEndOfFrame();
}

void PacketDecoder::ConsumeRev9(std::span<const std::uint8_t> data, PacketSync& sync, SegmentAccumulator& acc,
                                FrameSink& sink)
{
    const std::size_t len = data.size();
    const int frameId = len >= 1 ? data[0] : -1;
    acc.AddFrameId(frameId);
    if (len < 8) {
        ++stats_.shortPackets;
        acc.AddEndOfFrame();
        return;
    }
    if (data[3] != (data[0] ^ data[1] ^ data[2] ^ 0xAA)) {
        ++stats_.badHeader;
        acc.AddEndOfFrame();
        return;
    }
    const std::uint8_t* c = data.data() + len - 4;
    const std::uint64_t count = static_cast<std::uint64_t>(c[0]) << 24 | static_cast<std::uint64_t>(c[1]) << 16 |
                                static_cast<std::uint64_t>(c[2]) << 8 | c[3];
    if (count + 8 != len) {
        ++stats_.badCount;
        acc.AddEndOfFrame();
        return;
    }
    const int W = camera_.GetWindowWidth();
    const int H = camera_.GetWindowHeight();
    const std::size_t end = len - 4;  // end of the counted data
    switch (data[2]) {
    case 0: {
        assembly_.clear();
        const std::size_t n = (len - 8) / 4;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t* b = data.data() + 4 + 4 * k;
            const int line = b[0] + 256 * bit(b[3], 5) + 256 * bit(b[3], 2);
            const float start =
                static_cast<float>(b[1] + 256 * bit(b[3], 7) + 512 * bit(b[3], 4) + 1024 * bit(b[3], 1)) / 2.0f;
            const float stop =
                static_cast<float>(b[2] + 256 * bit(b[3], 6) + 512 * bit(b[3], 3) + 1024 * bit(b[3], 0)) / 2.0f;
            acc.AddSegment(segment(line, start, stop, stop - start + 1.0f));
        }
        acc.AddEndOfFrame();
        return;
    }
    case 5: {
        sync.weighted = 1;
        assembly_.clear();
        const std::size_t n = (len - 8) / 8;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t* b = data.data() + 4 + 8 * k;
            const int x = b[0] << 2 | b[1] >> 6;
            const int line = (b[1] & 0x3F) << 3 | b[2] >> 5;
            const int run = (b[2] & 0x1F) << 5 | b[3] >> 3;
            const int accX = (b[3] & 7) << 17 | b[4] << 9 | b[5] << 1 | b[6] >> 7;
            const int accI = (b[6] & 0x7F) << 8 | b[7];
            if (!(x < W && line < H && x + run <= W))
                continue;
            LineSegment s = segment(line, static_cast<float>(x), static_cast<float>(x + run - 1), static_cast<float>(run));
            s.accumulatedX = accX;
            s.accumulatedIntensity = accI;
            acc.AddSegment(s);
        }
        acc.AddEndOfFrame();
        return;
    }
    case 3: {
        acc.AddFrameOption(Frame::OptionImage);
        const long long expected = static_cast<long long>(W / 64) * (H / 3) + 8;
        if (W < 64 || H < 3 || static_cast<long long>(len) != expected) {
            ++stats_.wrongLength;
            cDebug::ReportDebug(cDebug::PacketProcessor, "Received %d bytes via USB (expected %d)",
                                static_cast<int>(len), static_cast<int>(expected));
            acc.AddFrameOption(Frame::OptionCorrupt);
            acc.AddEndOfFrame();
            return;
        }
        Frame& frame = sink.FrameInProgress();
        const std::size_t size = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
        frame.SetImageSize(W, H);
        if (assembly_.size() != size)
            assembly_.assign(size, 0);
        const int columnPhase = data[4] & 0x3F;
        const int rowPhase = data[4] >> 6;
        const std::uint8_t* p = data.data() + 4;
        for (int j = 0; j < H / 3; ++j) {
            for (int i = 0; i < W / 64; ++i, ++p) {
                const int y = rowPhase + 3 * j, x = columnPhase + 64 * i;
                if (y < H && x < W)
                    assembly_[static_cast<std::size_t>(y) * W + x] = *p;
            }
        }
        std::memcpy(frame.image.data(), assembly_.data(), size);
        frame.frameId = frameId;
        frame.imagePresent = true;
        frame.time = sync.time;
        sink.DeliverFrame(frame);
        acc.Clear();
        return;
    }
    case 4: {
        acc.AddFrameOption(Frame::OptionImage);
        for (std::size_t pos = 4; pos + 3 <= end;) {
            const RunHeader h = runHeader(data.data() + pos);
            if (!(h.line < H && h.x < W)) {
                pos += 3;
                continue;
            }
            const std::size_t stop = runEnd(data, pos + 3, end);
            if (stop >= end) {
                ++stats_.malformed;
                acc.AddEndOfFrame();
                return;
            }
            pos = stop + 1;
        }
        Frame& frame = sink.FrameInProgress();
        frame.SetImageSize(W, H);
        std::fill(frame.image.begin(), frame.image.end(), std::uint8_t{0});
        for (std::size_t pos = 4; pos + 3 <= end;) {
            const RunHeader h = runHeader(data.data() + pos);
            if (!(h.line < H && h.x < W)) {
                pos += 3;
                continue;
            }
            const std::size_t first = pos + 3;
            const std::size_t stop = runEnd(data, first, end);
            const std::size_t count = std::min(stop - first, static_cast<std::size_t>(W - h.x));
            std::memcpy(frame.image.data() + static_cast<std::size_t>(h.line) * W + h.x, data.data() + first, count);
            pos = stop + 1;
        }
        frame.frameId = frameId;
        frame.imagePresent = true;
        frame.time = sync.time;
        sink.DeliverFrame(frame);
        acc.Clear();
        return;
    }
    default:
        return;
    }
}

void PacketDecoder::ConsumeBlocks(int revision, std::span<const std::uint8_t> data, SegmentAccumulator& acc)
{
    const std::size_t blocks = data.size() / 64;
    const int recordSize = revision < 4 ? 3 : 4;
    // Check every segment block's used length before reading any.
    for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint8_t* b = data.data() + 64 * k;
        if ((b[1] >> 4) == 1 && (b[0] > 64 || b[0] < 2)) {
            ++stats_.malformed;
            acc.AddEndOfFrame();
            return;
        }
    }
    if (data.size() % 64 != 0)
        ++stats_.malformed;  // the partial block at the end is not read
    const int W = Settings::GetMaxScanLineWidth(revision), H = Settings::GetMaxNumScanLines(revision);
    for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint8_t* block = data.data() + 64 * k;
        if ((block[1] >> 4) != 1)
            continue;
        camera_.SetSwitchState(block[1] & 0x0C);
        const int n = (block[0] - 2) / recordSize;
        for (int r = 0; r < n; ++r) {
            const std::uint8_t* b = block + 2 + r * recordSize;
            int line = 0, start = 0, stop = 0;
            if (revision < 4) {
                line = b[0];
                start = b[1];
                stop = b[2];
            } else {
                if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0) {
                    acc.AddEndOfFrame();
                    continue;
                }
                if (revision == 4) {
                    line = b[0] + 256 * bit(b[3], 5) - 12;
                    start = b[1] + 256 * bit(b[3], 7) - 42;
                    stop = b[2] + 256 * bit(b[3], 6) - 42;
                } else if (revision == 5) {
                    line = b[0] + 256 * bit(b[3], 5) + 512 * bit(b[3], 2) - 11;
                    start = (b[1] + 256 * bit(b[3], 7) + 512 * bit(b[3], 4) + 1024 * bit(b[3], 1) - 74) / 2;
                    stop = (b[2] + 256 * bit(b[3], 6) + 512 * bit(b[3], 3) + 1024 * bit(b[3], 0) - 74) / 2;
                } else {
                    continue;  // no record format known for this revision
                }
            }
            start = std::max(start, 0);
            stop = std::min(std::max(stop, 0), W - 1);
            line = std::max(line, 0);
            if (start <= stop && line <= H - 1)
                acc.AddSegment(segment(line, static_cast<float>(start), static_cast<float>(stop),
                                       static_cast<float>(stop - start + 1)));
        }
    }
}

} // namespace Orvane
