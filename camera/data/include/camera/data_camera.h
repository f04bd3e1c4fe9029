#pragma once
// The camera facts the data path reads and sets: decoding, object building
// and rasterising see the camera only through this, so they run the same
// against the device layer and against a plain test double.
#include <array>
#include <cstdint>

namespace Orvane {

class DataPathCamera {
public:
    // Frame-sending option bits.
    static constexpr int SendEmptyFrames = 0x1;
    static constexpr int SendCorruptFrames = 0x2;
    static constexpr int SegmentGreyscaleFrames = 0x4;  // cut full greyscale frames into runs
    static constexpr int RefineAlways = 0x8;            // refine centres from any present image
    // Display option bits.
    static constexpr int DisplayInfoText = 0x1;
    static constexpr int DisplayObjectNumbers = 0x2;
    static constexpr int DisplayOutlined = 0x4;
    static constexpr int DisplayKeepImage = 0x8;  // keep the accumulated image; no run segments drawn

    using WeightTable = std::array<int, 256>;

    virtual ~DataPathCamera() = default;
    virtual int GetHardwareRevision() const = 0;
    virtual int GetWindowWidth() const = 0;  // W: row stride of the current video mode
    virtual int GetWindowHeight() const = 0; // H: lines of the current video mode
    virtual int GetThreshold() const = 0;
    virtual int GetFrameSendingOptions() const = 0;
    virtual int GetDisplayOptions() const = 0;
    virtual int GetObjectCap() const = 0;
    virtual const WeightTable& GetGreyscaleWeights() const = 0;
    virtual int GetSwitchState() const = 0;
    virtual void SetSwitchState(int state) = 0;
};

// The camera's default greyscale weights: 0 below 32, then a straight rise
// to 254 at 255.
DataPathCamera::WeightTable DefaultGreyscaleWeights();

// Plain values, for tests, benchmarks and the simulated camera.
class FixedDataPathCamera : public DataPathCamera {
public:
    FixedDataPathCamera(int revision, int width, int height)
        : revision(revision), width(width), height(height), weights(DefaultGreyscaleWeights())
    {
    }

    int GetHardwareRevision() const override { return revision; }
    int GetWindowWidth() const override { return width; }
    int GetWindowHeight() const override { return height; }
    int GetThreshold() const override { return threshold; }
    int GetFrameSendingOptions() const override { return frameSendingOptions; }
    int GetDisplayOptions() const override { return displayOptions; }
    int GetObjectCap() const override { return objectCap; }
    const WeightTable& GetGreyscaleWeights() const override { return weights; }
    int GetSwitchState() const override { return switchState; }
    void SetSwitchState(int state) override { switchState = state; }

    int revision;
    int width;
    int height;
    int threshold = 128;
    int frameSendingOptions = 0;
    int displayOptions = 0;
    int objectCap = 500;
    WeightTable weights;
    int switchState = 0;
};

} // namespace Orvane
