#include "camera/double_buffer.h"

#include "camera/frame.h"
#include "camera/tracked_coordinate.h"

extern "C" {

Orvane::Frame* AcquireCameraBuffer(Orvane::DoubleBuffer<Orvane::Frame>* buffer)
{
    return buffer != nullptr ? buffer->TakeFilled() : nullptr;
}

Orvane::TrackedCoordinate* AcquireTrackedBuffer(Orvane::DoubleBuffer<Orvane::TrackedCoordinate>* buffer)
{
    return buffer != nullptr ? buffer->TakeFilled() : nullptr;
}

void ReleaseCameraBuffer(Orvane::DoubleBuffer<Orvane::Frame>* buffer, Orvane::Frame* item)
{
    if (buffer != nullptr)
        buffer->GiveBack(item);
}

void ReleaseTrackedBuffer(Orvane::DoubleBuffer<Orvane::TrackedCoordinate>* buffer, Orvane::TrackedCoordinate* item)
{
    if (buffer != nullptr)
        buffer->GiveBack(item);
}

} // extern "C"
