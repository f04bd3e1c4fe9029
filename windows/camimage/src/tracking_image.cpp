#include "windows/tracking_image.h"

#include <algorithm>

#include "camera/settings.h"

namespace camimage {

double ScaleForRevision(int revision) { return revision >= 7 && revision <= 9 ? 0.55 : 1.0; }

ImageSize ImageSizeForRevision(int revision)
{
    const double scale = ScaleForRevision(revision);
    return {static_cast<int>(Orvane::Settings::GetMaxScanLineWidth(revision) * scale),
            static_cast<int>(Orvane::Settings::GetMaxNumScanLines(revision) * scale)};
}

std::vector<std::uint32_t> BuildColourTable(int entries)
{
    std::vector<std::uint32_t> table(static_cast<std::size_t>(std::max(entries, 0)));
    std::uint32_t grey = 191;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i == 0) {
            table[i] = 0x00FF00;
        } else if (i == 1) {
            table[i] = 0xFFFFFF;
        } else {
            table[i] = grey * 0x010101u;
            if (grey >= 64 + 63)
                grey -= 64;
        }
    }
    return table;
}

CFrameCopy::CFrameCopy() { Reserve(kObjectGrowth); }

void CFrameCopy::Reserve(std::size_t objects)
{
    if (objects > objects_.capacity())
        objects_.reserve((objects + kObjectGrowth - 1) / kObjectGrowth * kObjectGrowth);
}

void CFrameCopy::Clear()
{
    objects_.clear();
    runs_.clear();
}

void CFrameCopy::AddObject(std::int32_t rank, double score, float area, std::span<const Run> runs)
{
    Reserve(objects_.size() + 1);
    objects_.push_back({rank, score, area, static_cast<std::uint32_t>(runs_.size()),
                        static_cast<std::uint32_t>(runs.size())});
    runs_.insert(runs_.end(), runs.begin(), runs.end());
}

void CFrameCopy::CopyFrom(const Orvane::Frame& frame)
{
    Clear();
    const auto objects = frame.GetObjects();
    Reserve(objects.size());
    if (runs_.capacity() < static_cast<std::size_t>(frame.GetSegmentCount()))
        runs_.reserve(static_cast<std::size_t>(frame.GetSegmentCount()));
    for (const Orvane::CameraObject& o : objects) {
        const auto first = static_cast<std::uint32_t>(runs_.size());
        // A run list is bounded by the frame's segments; the bound also
        // stops a corrupt, circular list.
        std::size_t guard = static_cast<std::size_t>(Orvane::Frame::MaxSegments);
        for (const Orvane::LineSegment* s = o.GetSegmentHead(); s && guard > 0; s = s->next, --guard)
            runs_.push_back({s->GetLineNumber(), s->GetStartPixel(), s->GetStopPixel()});
        objects_.push_back({o.GetRank(), o.GetScore(), o.GetArea(), first,
                            static_cast<std::uint32_t>(runs_.size()) - first});
    }
}

DrawResult DrawFrameCopy(const CFrameCopy& copy, Orvane::BitMap& bitmap, double scale, int motionType,
                         std::span<const std::uint32_t> colours)
{
    DrawResult result;
    const auto n = static_cast<std::int32_t>(colours.size());
    int index = 0;
    for (const auto& o : copy.Objects()) {
        std::uint32_t colour = kOtherColour;
        if (motionType != 0) {
            if (index < 3 && n > 0)
                colour = colours[0];
        } else if (o.score >= 0 && o.rank >= 1 && n > 0) {
            colour = colours[static_cast<std::size_t>(std::min(o.rank, n) - 1)];
            if (o.rank == 1)
                result.bestArea = static_cast<int>(o.area);
        }
        // Unranked objects (score 0, rank 0) in one-point mode are drawn as rejected.
        ++index;
        for (const auto& run : copy.RunsOf(o)) {
            if (run.stop < run.start)
                continue;
            bitmap.WriteLineSegment(static_cast<int>(run.line * scale), static_cast<int>(run.start * scale),
                                    static_cast<int>(run.stop * scale), colour);
            ++result.runsDrawn;
        }
    }
    return result;
}

bool DotLabel::Update(int motionType, int bestArea)
{
    if (motionType != 0) {
        const bool changed = visible;
        visible = false;
        return changed;
    }
    // Also shown again after a three-point spell even when the area is the one shown last.
    if (bestArea >= 1 && (bestArea != shown || !visible)) {
        shown = bestArea;
        visible = true;
        return true;
    }
    return false;
}

CTrackingImage::CTrackingImage() : colours_(BuildColourTable(Orvane::Settings::GetMaxNumberOfObjects())) {}

void CTrackingImage::Init(int revision)
{
    revision_ = revision;
    scale_ = ScaleForRevision(revision);
    const ImageSize size = ImageSizeForRevision(revision);
    const Orvane::BitMap::ColorDepth depths[] = {Orvane::BitMap::Depth16, Orvane::BitMap::Depth24,
                                                 Orvane::BitMap::Depth32};
    for (std::size_t i = 0; i < bitmaps_.size(); ++i)
        bitmaps_[i].Initialize(size.width, size.height, 0, depths[i], nullptr);
    sized_ = true;
    reinitialised_ = true;
}

bool CTrackingImage::TakeEraseRequest()
{
    const bool e = erase_;
    erase_ = false;
    return e;
}

bool CTrackingImage::Tick(ITrackingImageSource& source, int screenDepth)
{
    const std::uint32_t counter = source.FrameCounter();
    if (counter == lastFrame_)
        return false;
    if (!source.CopyHeldFrame(copy_))
        copy_.Clear();
    const int revision = source.HardwareRevision();
    if (revision != revision_ || !sized_)
        Init(revision);
    if (screenDepth != depth_ || reinitialised_) {
        chosen_ = screenDepth == 16 ? 0 : screenDepth == 24 ? 1 : 2;
        depth_ = screenDepth;
        erase_ = true;
        reinitialised_ = false;
    }
    Orvane::BitMap& bitmap = bitmaps_[chosen_];
    bitmap.Clear();
    const int motion = source.MotionType();
    last_ = DrawFrameCopy(copy_, bitmap, scale_, motion, colours_);
    label_.Update(motion, last_.bestArea);
    lastFrame_ = counter;
    return true;
}

} // namespace camimage
