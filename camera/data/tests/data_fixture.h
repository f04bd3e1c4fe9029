// Test pipeline for the data path: a frame sink and a minimal cutter that
// turns the decoder's records into built frames, one per end-of-frame record.
#pragma once

#include "camera/object_builder.h"
#include "camera/packet_decoder.h"
#include "simcam/imaging/packets.h"

#include <memory>
#include <span>
#include <vector>

namespace testing_support {

class RecordingSink : public Orvane::FrameSink {
public:
    Orvane::Frame& FrameInProgress() override
    {
        if (!inProgress) {
            frame.objectCount = 0;
            frame.Clear();
            frame.maskOut = false;
            frame.FreeImage();
            inProgress = true;
        }
        return frame;
    }
    void DeliverFrame(Orvane::Frame& f) override
    {
        ++delivered;
        lastObjects.assign(f.GetObjects().begin(), f.GetObjects().end());
        inProgress = false;
    }

    Orvane::Frame frame;
    bool inProgress = false;
    int delivered = 0;
    std::vector<Orvane::CameraObject> lastObjects;
};

// Decodes buffers as the camera's receive side splits them and cuts the
// records at each end-of-frame record into a built frame.
class Pipeline {
public:
    explicit Pipeline(Orvane::DataPathCamera& camera) : decoder(camera), builder(camera) {}

    void Feed(std::span<const std::uint8_t> buffer)
    {
        const auto split = simcam::imaging::Split(buffer);
        Orvane::PacketSync sync;
        decoder.Consume(split.header, split.data, sync, accumulator, sink);
        for (const Orvane::LineSegment& r : accumulator.Records()) {
            if (r.IsEOF()) {
                if (sink.inProgress) {
                    builder.Build(sink.frame, sync.threshold);
                    sink.DeliverFrame(sink.frame);
                }
                continue;
            }
            Orvane::Frame& f = sink.FrameInProgress();
            if (r.IsFrameId())
                f.frameId = r.GetFrameId();
            else if (r.IsFrameOption()) {
                if (r.GetFrameOption() & Orvane::Frame::OptionCorrupt)
                    f.corrupt = true;
                if (r.GetFrameOption() & Orvane::Frame::OptionImage)
                    f.imagePresent = true;
            } else {
                f.weighted = sync.weighted != 0;
                f.AddSegment(r);
            }
        }
        accumulator.Clear();
    }

    // Ends the frame in progress (streams without end-of-frame records).
    void Flush(std::uint8_t threshold = 0)
    {
        if (sink.inProgress) {
            builder.Build(sink.frame, threshold);
            sink.DeliverFrame(sink.frame);
        }
    }

    Orvane::PacketDecoder decoder;
    Orvane::ObjectBuilder builder;
    Orvane::SegmentAccumulator accumulator;
    RecordingSink sink;
};

} // namespace testing_support
