#pragma once
// Frames put straight into the camera system's buffers, as the packet
// processor leaves them for the engine: blobs held by value and the tracked
// coordinate of the same frame. Header only: the tests and benchmarks that
// use it link the camera library themselves.
#include <cstdint>
#include <span>

#include "camera/camera_system.h"

namespace testing_support {

struct FrameBlob {
    double x, y; // centre, pixels
    float area = 100.0f;
    float width = 11.0f;
    unsigned height = 11;
};

// Queues one frame of `blobs` and, unless `coordinate` is null (or the
// coordinate buffer is full), a tracked coordinate there with the frame's
// number; the frame is stamped `time` (performance-counter ticks). False
// when no frame was free.
inline bool QueueFrame(Orvane::CameraSystem& camera, std::span<const FrameBlob> blobs, const FrameBlob* coordinate,
                       double time = 0.0)
{
    Orvane::Frame* f = camera.GetFrameBuffer().TakeFree();
    if (f == nullptr)
        return false;
    f->Clear();
    f->time = time;
    f->SetObjectCount(static_cast<int>(blobs.size()));
    for (std::size_t i = 0; i < blobs.size(); ++i) {
        Orvane::CameraObject& o = f->objects[i];
        o.Clear();
        o.area = blobs[i].area;
        o.leftEdge = static_cast<float>(blobs[i].x - blobs[i].width / 2);
        o.rightEdge = o.leftEdge + blobs[i].width;
        o.topLine = static_cast<std::int32_t>(blobs[i].y);
        o.bottomLine = o.topLine + static_cast<std::int32_t>(blobs[i].height);
        o.xTotal = static_cast<float>(blobs[i].x * blobs[i].area);
        o.yTotal = static_cast<float>(blobs[i].y * blobs[i].area);
        o.centerXCache = blobs[i].x;
        o.centerYCache = blobs[i].y;
    }
    f->sequence = camera.NextFrameSequence();
    if (coordinate != nullptr) {
        if (Orvane::TrackedCoordinate* c = camera.GetTrackedCoordBuffer().TakeFree(); c != nullptr) {
            c->first = coordinate->x;
            c->second = coordinate->y;
            c->frameSequence = f->sequence;
            camera.GetTrackedCoordBuffer().Append(c);
        }
    }
    camera.GetFrameBuffer().Append(f);
    return true;
}

} // namespace testing_support
