#include "camera/packet_processor.h"

#include "camera/camera_system.h"

namespace Orvane {

CameraPacketProcessor::CameraPacketProcessor() = default;

CameraPacketProcessor::CameraPacketProcessor(PacketBuffer* packets, FrameBuffer* frames, DataPathCamera* camera)
    : frames_(frames), packets_(packets)
{
    SetCamera(camera);
}

CameraPacketProcessor::~CameraPacketProcessor()
{
    Stop();
}

void CameraPacketProcessor::SetCamera(DataPathCamera* camera)
{
    camera_ = camera;
    if (camera != nullptr) {
        decoder_ = std::make_unique<PacketDecoder>(*camera);
        builder_ = std::make_unique<ObjectBuilder>(*camera);
    } else {
        decoder_.reset();
        builder_.reset();
    }
}

bool CameraPacketProcessor::Start()
{
    std::lock_guard lock(threadLock_);
    if (packets_ == nullptr || frames_ == nullptr || camera_ == nullptr)
        return false;
    // A thread that left on its own (keep-running cleared) is joined first.
    if (thread_.joinable() && !threadRunning_.load(std::memory_order_acquire))
        thread_.join();
    keepRunning_.store(true, std::memory_order_release);
    if (!thread_.joinable()) {
        threadRunning_.store(true, std::memory_order_release);
        thread_.start([this] { ConsumerProducerThreadProc(); }, platform::ThreadPriority::Highest,
                      "packet processor");
    }
    return true;
}

void CameraPacketProcessor::Stop()
{
    std::lock_guard lock(threadLock_);
    keepRunning_.store(false, std::memory_order_release);
    if (thread_.joinable())
        thread_.join();
    if (inProgress_ != nullptr) {
        if (inProgress_ != &spare_ && frames_ != nullptr)
            frames_->GiveBack(inProgress_);
        inProgress_ = nullptr;
    }
}

bool CameraPacketProcessor::AddNewFrameCallback(Callback function, void* argument)
{
    if (function == nullptr)
        return false;
    std::lock_guard lock(callbackLock_);
    if (callbackCount_ == MaxCallbacks)
        return false;
    callbacks_[static_cast<std::size_t>(callbackCount_++)] = {function, argument};
    return true;
}

void CameraPacketProcessor::RemoveNewFrameCallback(Callback function)
{
    std::lock_guard lock(callbackLock_);
    for (int i = 0; i < callbackCount_; ++i) {
        if (callbacks_[static_cast<std::size_t>(i)].function == function) {
            for (int k = i + 1; k < callbackCount_; ++k)
                callbacks_[static_cast<std::size_t>(k - 1)] = callbacks_[static_cast<std::size_t>(k)];
            callbacks_[static_cast<std::size_t>(--callbackCount_)] = {};
            return;
        }
    }
}

CameraPacketProcessor::Frame* CameraPacketProcessor::GrabAvailableFrame()
{
    Frame* frame = frames_ != nullptr ? frames_->TakeFree() : nullptr;
    if (frame == nullptr)
        frame = &spare_;
    frame->objectCount = 0;
    frame->Clear();
    frame->camera = frameCamera_;
    frame->sequence = 0;
    frame->maskOut = false;
    frame->FreeImage();
    return frame;
}

void CameraPacketProcessor::ConsumerProducerThreadProc()
{
    // The next packet then wakes this thread where the camera's receiving
    // thread runs, and the engine follows this one in turn.
    platform::ProcessorFollower follower;
    while (keepRunning_.load(std::memory_order_acquire)) {
        packets_->Wait(PacketWaitMs);
        while (keepRunning_.load(std::memory_order_acquire)) {
            CameraPacket* packet = packets_->TakeFilled();
            if (packet == nullptr)
                break;
            // Packets piling up: one processor is not enough for the road.
            follower.follow(packets_->ProducerProcessor(), packets_->GetFilledCount() > 1);
            ConsumePacket(*packet);
            packets_->GiveBack(packet);
        }
    }
    threadRunning_.store(false, std::memory_order_release);
}

void CameraPacketProcessor::ConsumePacket(const CameraPacket& packet)
{
    if (!decoder_)
        return;
    packetCount_.fetch_add(1, std::memory_order_relaxed);
    PacketSync sync;
    sync.time = packet.GetTimeStamp();
    const std::span<const std::uint8_t, CameraPacket::HeaderSize> header(packet.GetHeader());
    decoder_->Consume(header, packet.GetData(), sync, accumulator_, *this);
    ProcessPacket(sync);
}

void CameraPacketProcessor::CutRecords(std::span<const LineSegment> records, const PacketSync& sync)
{
    if (!builder_)
        return;
    for (const LineSegment& r : records) {
        if (r.IsEOF())
            accumulator_.AddEndOfFrame();
        else if (r.IsFrameId())
            accumulator_.AddFrameId(r.GetFrameId());
        else if (r.IsFrameOption())
            accumulator_.AddFrameOption(r.GetFrameOption());
        else
            accumulator_.AddSegment(r);
    }
    ProcessPacket(sync);
}

void CameraPacketProcessor::EndFrame(const PacketSync& sync)
{
    Frame& frame = *inProgress_;
    frame.time = sync.time;
    builder_->Build(frame, sync.threshold);
    DoCallbacks(frame);
}

void CameraPacketProcessor::ProcessPacket(const PacketSync& sync)
{
    // Line numbers are compared only within one packet.
    ResetTrackers();
    for (const LineSegment& record : accumulator_.Records()) {
        if (!keepRunning_.load(std::memory_order_relaxed) && threadRunning_.load(std::memory_order_relaxed))
            break;
        const bool eof = record.IsEOF();
        const bool segment = !eof && record.line >= 0;
        // Segments may step back one line; a drop below the line before the
        // highest one starts a new frame.
        const bool ends = eof || (segment && previous_ != nullptr && record.line < previous_->line);
        if (ends && inProgress_ != nullptr)
            EndFrame(sync);
        if (eof)
            continue;
        if (inProgress_ == nullptr) {
            inProgress_ = GrabAvailableFrame();
            inProgress_->weighted = sync.weighted != 0;
            ResetTrackers();
        }
        if (record.IsFrameId()) {
            inProgress_->frameId = record.GetFrameId();
        } else if (record.IsFrameOption()) {
            const std::int32_t bits = record.GetFrameOption();
            if (bits & Frame::OptionCorrupt)
                inProgress_->corrupt = true;
            if (bits & Frame::OptionImage)
                inProgress_->imagePresent = true;
        } else {
            inProgress_->AddSegment(record);
            if (highest_ == nullptr) {
                highest_ = previous_ = &record;
            } else if (record.line > highest_->line) {
                previous_ = highest_;
                highest_ = &record;
            }
        }
    }
    accumulator_.Clear();
    ResetTrackers();
}

void CameraPacketProcessor::DoCallbacks(Frame& frame)
{
    const int options = camera_->GetFrameSendingOptions();
    const bool wantEmpty = (options & DataPathCamera::SendEmptyFrames) != 0;
    const bool empty = frame.IsEmpty();
    bool deliver = true;
    if (frame.corrupt)
        deliver = (options & DataPathCamera::SendCorruptFrames) != 0 || (empty && wantEmpty);
    else if (empty)
        deliver = wantEmpty;
    if (!deliver) {
        // Held back: reset, and it stays the frame in progress.
        heldBack_.fetch_add(1, std::memory_order_relaxed);
        frame.objectCount = 0;
        frame.Clear();
        return;
    }

    frame.switchState = camera_->GetSwitchState();
    const bool spare = &frame == &spare_;
    if (!spare && sequenceSource_ != nullptr)
        frame.sequence = sequenceSource_->NextFrameSequence();

    std::array<Entry, MaxCallbacks> entries;
    int count = 0;
    {
        std::lock_guard lock(callbackLock_);
        entries = callbacks_;
        count = callbackCount_;
    }
    for (int i = 0; i < count; ++i)
        entries[static_cast<std::size_t>(i)].function(&frame, entries[static_cast<std::size_t>(i)].argument);

    delivered_.fetch_add(1, std::memory_order_relaxed);
    if (spare) {
        spare_delivered_.fetch_add(1, std::memory_order_relaxed);
    } else {
        queued_.fetch_add(1, std::memory_order_relaxed);
        frames_->Append(&frame);
    }
    inProgress_ = nullptr;
}

CameraPacketProcessor::Frame& CameraPacketProcessor::FrameInProgress()
{
    if (inProgress_ == nullptr) {
        inProgress_ = GrabAvailableFrame();
        ResetTrackers();
    }
    return *inProgress_;
}

void CameraPacketProcessor::DeliverFrame(Frame& frame)
{
    if (&frame == inProgress_)
        DoCallbacks(frame);
}

CameraPacketProcessor::Stats CameraPacketProcessor::GetStats() const
{
    Stats s;
    s.packets = packetCount_.load(std::memory_order_relaxed);
    s.delivered = delivered_.load(std::memory_order_relaxed);
    s.queued = queued_.load(std::memory_order_relaxed);
    s.spareDelivered = spare_delivered_.load(std::memory_order_relaxed);
    s.heldBack = heldBack_.load(std::memory_order_relaxed);
    return s;
}

} // namespace Orvane
