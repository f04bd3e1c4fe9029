#include "camera/object_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Orvane {

void ProcessLineSegments(CameraObject& o)
{
    o.ClearGeometry();
    for (LineSegment* s = o.segmentHead; s != nullptr; s = s->next) {
        o.yTotal += s->width * static_cast<float>(s->line);
        o.xTotal += s->width * (s->start + s->stop) / 2.0f;
        o.area += s->width;
        o.topLine = o.topLine < 0 ? s->line : std::min(o.topLine, s->line);
        o.bottomLine = std::max(o.bottomLine, s->line);
        o.leftEdge = o.leftEdge < 0.0f ? s->start : std::min(o.leftEdge, s->start);
        o.rightEdge = std::max(o.rightEdge, s->stop);
    }
    o.bottomLine += 1;
    o.rightEdge += 1.0f;
}

void ProcessWeightedLineSegments(CameraObject& o)
{
    o.ClearGeometry();
    double x = 0.0, y = 0.0, a = 0.0;
    for (LineSegment* s = o.segmentHead; s != nullptr; s = s->next) {
        const double intensity = s->accumulatedIntensity;
        y += intensity * s->line;
        x += intensity * s->start + s->accumulatedX;
        a += intensity;
        o.topLine = o.topLine < 0 ? s->line : std::min(o.topLine, s->line);
        o.bottomLine = std::max(o.bottomLine, s->line);
        o.leftEdge = o.leftEdge < 0.0f ? s->start : std::min(o.leftEdge, s->start);
        o.rightEdge = std::max(o.rightEdge, s->stop);
    }
    o.bottomLine += 1;
    o.rightEdge += 1.0f;
    constexpr double scale = 1.0 / 255.0;
    o.xTotal = static_cast<float>(x * scale);
    o.yTotal = static_cast<float>(y * scale);
    o.area = static_cast<float>(a * scale);
    // From the double sums: the float totals would cost precision far from the origin.
    o.centerXCache = x / a;
    o.centerYCache = y / a;
}

void ProcessObjectData(CameraObject& o, double x, double y, double area)
{
    o.ClearSegmentList();
    o.ClearGeometry();
    o.xTotal = static_cast<float>(x / 4.0);
    o.yTotal = static_cast<float>(y / 2.0);
    o.area = static_cast<float>(area / 2.0);
    o.centerXCache = (x / 4.0) / (area / 2.0);
    o.centerYCache = (y / 2.0) / (area / 2.0);
}

void PrecessPrecisionData(CameraObject& o, double x, double y, double weight)
{
    o.xTotal = static_cast<float>(x / 255.0);
    o.yTotal = static_cast<float>(y / 255.0);
    o.area = static_cast<float>(weight / 255.0);
    o.centerXCache = x / weight;
    o.centerYCache = y / weight;
}

void AddScanLineList(CameraObject& object, CameraObject& other)
{
    if (other.segmentHead == nullptr)
        return;
    for (LineSegment* s = other.segmentHead; s != nullptr; s = s->next)
        s->owner = &object;
    if (object.segmentTail != nullptr)
        object.segmentTail->next = other.segmentHead;
    else
        object.segmentHead = other.segmentHead;
    object.segmentTail = other.segmentTail;
    other.ClearSegmentList();
}

namespace {

CameraObject* root(CameraObject* o)
{
    // Merged-into links only ever point at objects made earlier in the
    // merge walk; the bound guards against a cycle all the same.
    for (int i = 0; i < ObjectBuilder::MaxObjects && o->mergedInto != nullptr; ++i)
        o = o->mergedInto;
    return o;
}

} // namespace

void ObjectBuilder::Build(Frame& frame, std::uint8_t threshold)
{
    overflow_ = false;
    frame.mergePairCount = 0;
    int used = 0;
    auto segments = frame.GetSegments();
    for (LineSegment& s : segments) {
        s.owner = nullptr;
        s.next = nullptr;
    }

    // Runs of consecutive segments on one line: [prevBegin, prevEnd) is the
    // run just before the current one.
    std::size_t prevBegin = 0, prevEnd = 0, curBegin = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        LineSegment& s = segments[i];
        if (i > 0 && s.line != segments[curBegin].line) {
            prevBegin = curBegin;
            prevEnd = i;
            curBegin = i;
        }
        if (prevEnd > prevBegin && s.line == segments[prevBegin].line + 1) {
            for (std::size_t j = prevBegin; j < prevEnd; ++j) {
                LineSegment& other = segments[j];
                if (!(s.start <= other.stop && other.start <= s.stop) || other.owner == nullptr)
                    continue;
                if (s.owner == nullptr)
                    other.owner->AddScanLine(&s);
                else if (other.owner != s.owner)
                    frame.AddMergePair(s.owner, other.owner);
            }
        }
        if (s.owner == nullptr) {
            if (used < MaxObjects) {
                working_[used].Clear();
                working_[used].AddScanLine(&s);
                ++used;
            } else {
                overflow_ = true;
            }
        }
    }

    for (int p = 0; p < frame.mergePairCount; ++p) {
        CameraObject* a = root(frame.mergePairs[p].first);
        CameraObject* b = root(frame.mergePairs[p].second);
        if (a != b) {
            if (!b->aggregated) {
                b->partial = true;
                b->mergedInto = a;
                AddScanLineList(*a, *b);
            }
        } else {
            a->partial = false;
            a->aggregated = false;
            a->mergedInto = nullptr;
        }
    }

    int whole = 0;
    for (int i = 0; i < used; ++i)
        whole += working_[i].partial ? 0 : 1;
    if (whole > MaxObjects)
        overflow_ = true;
    frame.objectCount = 0;
    frame.SetObjectCount(std::min(whole, MaxObjects));

    const int examined = std::min(used, std::max(camera_.GetObjectCap(), 0));
    int kept = 0;
    for (int i = 0; i < examined; ++i) {
        CameraObject& w = working_[i];
        if (w.partial)
            continue;
        if (kept >= MaxObjects) {
            overflow_ = true;
            break;
        }
        CameraObject& slot = frame.objects[static_cast<std::size_t>(kept)];
        slot.Clear();
        slot = w;
        for (LineSegment* s = slot.segmentHead; s != nullptr; s = s->next)
            s->owner = &slot;
        if (frame.weighted)
            ProcessWeightedLineSegments(slot);
        else
            ProcessLineSegments(slot);
        if (std::isnan(slot.GetCenterMassX()) || std::isnan(slot.GetCenterMassY()))
            continue;
        ++kept;
    }
    frame.objectCount = kept;

    if (frame.imagePresent && (frame.maskOut || (camera_.GetFrameSendingOptions() & DataPathCamera::RefineAlways)))
        Refine(frame, threshold);

    for (int i = 0; i < frame.objectCount;) {
        CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
        if (std::isnan(o.GetCenterMassX()) || std::isnan(o.GetCenterMassY())) {
            const int last = frame.objectCount - 1;
            if (i != last) {
                o = frame.objects[static_cast<std::size_t>(last)];
                for (LineSegment* s = o.segmentHead; s != nullptr; s = s->next)
                    s->owner = &o;
            }
            frame.objectCount = last;
        } else {
            ++i;
        }
    }

    if (frame.maskOut)
        MaskOut(frame);
}

void ObjectBuilder::Refine(Frame& frame, std::uint8_t t)
{
    const int W = frame.imageWidth, H = frame.imageHeight;
    if (W < 5 || H < 5 || frame.image.size() < static_cast<std::size_t>(W) * static_cast<std::size_t>(H))
        return;
    const std::uint8_t* img = frame.image.data();
    const auto& w = camera_.GetGreyscaleWeights();
    auto px = [&](int x, int y) { return img[static_cast<std::size_t>(y) * W + x]; };
    for (int i = 0; i < frame.objectCount; ++i) {
        CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
        if (!(o.area < 400.0f))
            continue;
        const int x0 = std::max(2, static_cast<int>(o.leftEdge - 2.0f));
        const int x1 = std::min(W - 3, static_cast<int>(o.rightEdge + 2.0f));
        const int y0 = std::max(2, o.topLine - 2);
        const int y1 = std::min(H - 3, o.bottomLine + 2);
        double sx = 0.0, sy = 0.0, sw = 0.0;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const int v = px(x, y);
                bool counts = v > t || v == 0;
                if (!counts) {
                    for (int dy = -2; dy <= 2 && !counts; ++dy)
                        for (int dx = -2; dx <= 2 && !counts; ++dx)
                            counts = px(x + dx, y + dy) >= t;
                }
                if (!counts)
                    continue;
                sx += static_cast<double>(w[static_cast<std::size_t>(v)]) * x;
                sy += static_cast<double>(w[static_cast<std::size_t>(v)]) * y;
                sw += w[static_cast<std::size_t>(v)];
            }
        }
        PrecessPrecisionData(o, sx, sy, sw);
    }
}

void ObjectBuilder::MaskOut(Frame& frame)
{
    const int W = frame.imageWidth, H = frame.imageHeight;
    const std::size_t size = std::min(frame.image.size(), static_cast<std::size_t>(std::max(W, 0)) *
                                                              static_cast<std::size_t>(std::max(H, 0)));
    if (overflow_ || frame.segmentCount >= Frame::MaxSegments) {
        std::fill(frame.image.begin(), frame.image.end(), std::uint8_t{0});
        return;
    }
    if (camera_.GetDisplayOptions() & DataPathCamera::DisplayKeepImage) {
        frame.maskOut = false;
        return;
    }
    if (W <= 0 || H <= 0)
        return;
    for (int i = 0; i < frame.objectCount; ++i) {
        const CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
        const int x0 = std::clamp(static_cast<int>(o.leftEdge - 2.0f), 0, W - 1);
        const int x1 = std::min(static_cast<int>(o.rightEdge + 2.0f), W - 1);
        const int y0 = std::max(o.topLine - 2, 0);
        const int y1 = std::min(o.bottomLine + 2, H - 1);
        for (int y = y0; y < y1; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * W;
            if (x1 > x0 && row + x1 <= size)
                std::memset(frame.image.data() + row + x0, 0, static_cast<std::size_t>(x1 - x0));
        }
    }
}

bool DecodeHardwareObjects(Frame& frame, std::span<const std::uint8_t> data, int objectCap,
                           std::vector<HardwareObjectRecord>& records)
{
    frame.objectCount = 0;
    if (data.size() < 12)
        return false;
    const std::size_t n = data[0] | static_cast<std::size_t>(data[1]) << 8;
    const std::size_t m = data[2] | static_cast<std::size_t>(data[3]) << 8;
    if (data.size() != 8 * n + 4 * m + 12)
        return false;
    using Record = HardwareObjectRecord;
    // Records past the 400 that can become objects still take part in the
    // links, so they are all read.
    records.resize(n + 1);
    for (std::size_t k = 1; k <= n; ++k) {
        const std::uint8_t* b = data.data() + 4 + 8 * (k - 1);
        records[k] = {static_cast<std::uint32_t>(b[1] << 16 | b[0] << 8 | b[3]),
                      static_cast<std::uint32_t>(b[2] << 16 | b[5] << 8 | b[4]),
                      static_cast<std::uint32_t>(b[7] << 8 | b[6]), b[4]};
    }
    auto follow = [&](std::size_t k) {
        for (int step = 0; step < 256; ++step) {
            const Record& r = records[k];
            if (r.area != 0 || r.mergedInto < 1 || r.mergedInto > n || r.mergedInto == k)
                break;
            k = r.mergedInto;
        }
        return k;
    };
    bool ok = true;
    for (std::size_t l = 0; l < m; ++l) {
        const std::uint8_t* b = data.data() + 4 + 8 * n + 4 * l;
        const std::size_t a = b[2], c = b[3];
        if (a < 1 || a > n || c < 1 || c > n) {
            ok = false;
            continue;
        }
        const std::size_t ra = follow(a), rc = follow(c);
        if (ra == rc)
            continue;
        Record& first = records[ra];
        Record& second = records[rc];
        const bool saturated = first.x == 0xFFFFFF || first.y == 0xFFFFFF || first.area == 0xFFFF;
        if (!saturated) {
            first.x = std::min<std::uint32_t>(first.x + second.x, 0xFFFFFF);
            first.y = std::min<std::uint32_t>(first.y + second.y, 0xFFFFFF);
            first.area = std::min<std::uint32_t>(first.area + second.area, 0xFFFF);
        }
        second.area = 0;
        second.mergedInto = static_cast<std::uint32_t>(ra);
    }
    const std::size_t limit = std::min<std::size_t>(
        {n, static_cast<std::size_t>(ObjectBuilder::MaxObjects), static_cast<std::size_t>(std::max(objectCap, 0))});
    frame.SetObjectCount(static_cast<int>(limit));
    int kept = 0;
    for (std::size_t k = 1; k <= limit; ++k) {
        const Record& r = records[k];
        if (r.area == 0 && r.mergedInto != 0)
            continue;
        CameraObject& o = frame.objects[static_cast<std::size_t>(kept)];
        o.Clear();
        ProcessObjectData(o, r.x, r.y, r.area);
        if (std::isnan(o.GetCenterMassX()) || std::isnan(o.GetCenterMassY()))
            continue;
        ++kept;
    }
    frame.objectCount = kept;
    return ok;
}

} // namespace Orvane
