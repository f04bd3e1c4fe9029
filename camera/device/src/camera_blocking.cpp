// The camera's blocking mask: made for the camera's window after each
// configuration read, written into revision 7's mask registers through the
// bridge, and reached through the camera's own operations.
#include "camera/camera.h"

namespace Orvane {

void cLumbrixBridge::WriteMaskWord(std::uint32_t address, std::uint32_t value)
{
    camera_.FPGARegWrite(21, 16, ((((value >> 16) & 3u) | 8u) << 12) | (address & 0x7FFu));
    camera_.FPGARegWrite(22, 16, value & 0xFFFFu);
}

void cLumbrixBridge::ClearMask() { camera_.FPGARegWrite(21, 16, 0x4000); }
void cLumbrixBridge::EnableMask() { camera_.FPGARegWrite(21, 16, 0x8000); }
void cLumbrixBridge::DisableMask() { camera_.FPGARegWrite(21, 16, 0); }

void Camera::InitializeBlocking(int revision)
{
    const Window w = GetActualWindow();
    const int width = w.Width();
    const int height = w.Height();
    std::lock_guard lock(maskLock_);
    const bool fresh = freshMask_.exchange(false);
    // The camera still holds the words sent from a kept mask, so keeping it
    // keeps the library's view and the camera's in step.
    if (!fresh && mask_ && maskRevision_ == revision && mask_->Width() == width && mask_->Height() == height)
        return;
    mask_ = MakeBlockingMask(revision, width, height, revision == 7 ? &bridge_ : nullptr);
    maskRevision_ = revision;
}

void Camera::AddBlockingRectangle(int x1, int y1, int x2, int y2)
{
    std::lock_guard lock(maskLock_);
    if (mask_)
        mask_->AddRectangle(x1, y1, x2, y2);
}

void Camera::RemoveBlockingRectangle(int x1, int y1, int x2, int y2)
{
    std::lock_guard lock(maskLock_);
    if (mask_)
        mask_->RemoveRectangle(x1, y1, x2, y2);
}

int Camera::UpdateBlockingMask()
{
    std::lock_guard lock(maskLock_);
    return mask_ ? mask_->Update() : 0;
}

void Camera::ClearBlockingMask()
{
    std::lock_guard lock(maskLock_);
    if (mask_)
        mask_->Clear();
}

void Camera::EnableBlockingMask()
{
    std::lock_guard lock(maskLock_);
    if (mask_)
        mask_->Enable();
}

void Camera::DisableBlockingMask()
{
    std::lock_guard lock(maskLock_);
    if (mask_)
        mask_->Disable();
}

std::size_t Camera::GetBlockingMask(std::span<std::uint8_t> bytes) const
{
    std::lock_guard lock(maskLock_);
    return mask_ ? mask_->Read(bytes) : 0;
}

std::size_t Camera::SetBlockingMask(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(maskLock_);
    return mask_ ? mask_->Write(bytes) : 0;
}

int Camera::BlockingMaskWidth() const
{
    std::lock_guard lock(maskLock_);
    return mask_ ? mask_->Columns() : 0;
}

int Camera::BlockingMaskHeight() const
{
    std::lock_guard lock(maskLock_);
    return mask_ ? mask_->Rows() : 0;
}

} // namespace Orvane
