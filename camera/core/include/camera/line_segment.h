#pragma once
// One run of lit pixels on one scan line, or a marker record in the decoder's
// record stream (frame id, frame option, end of frame).
#include <cstdint>

namespace Orvane {

class CameraObject;

class LineSegment {
public:
    static constexpr std::int32_t FrameIdLine = -1;
    static constexpr std::int32_t FrameOptionLine = -2;

    // Leaves every field uninitialised: frames hold arrays of 2000 of these
    // and fill them as they decode.
    LineSegment() = default;
    // Clears the links; the two sums and the id keep whatever they held.
    LineSegment(std::int32_t lineNumber, float startPixel, float stopPixel, float runWidth)
        : next(nullptr), line(lineNumber), start(startPixel), stop(stopPixel), width(runWidth), owner(nullptr)
    {
    }

    void Clear()
    {
        line = 0;
        start = 0.0f;
        stop = 0.0f;
        width = 0.0f;
    }
    bool IsEOF() const { return line == 0 && start == 0.0f && stop == 0.0f; }

    void SetFrameId(std::int32_t id)
    {
        line = FrameIdLine;
        idOrOption = id;
    }
    bool IsFrameId() const { return line == FrameIdLine; }

    void SetFrameOption(std::int32_t bits)
    {
        line = FrameOptionLine;
        idOrOption = bits;
    }
    bool IsFrameOption() const { return line == FrameOptionLine; }
    std::int32_t GetFrameOption() const { return IsFrameOption() ? idOrOption : 0; }
    std::int32_t GetFrameId() const { return idOrOption; }

    void SetReference(CameraObject* object) { owner = object; }
    CameraObject* GetReference() const { return owner; }

    std::int32_t GetLineNumber() const { return line; }
    float GetStartPixel() const { return start; }
    float GetStopPixel() const { return stop; }
    float GetWidth() const { return width; }
    std::int32_t GetAccumulatedSegmentInt() const { return accumulatedIntensity; }
    std::int32_t GetAccumulatedX() const { return accumulatedX; }

    // Plain fields: the decoder, the object builder and the frame readers
    // work on them directly.
    LineSegment* next;                  // next segment of the same object
    std::int32_t line;                  // scan line, or a marker value above
    float start;                        // first lit pixel
    float stop;                         // last lit pixel (inclusive)
    float width;                        // lit pixels
    std::int32_t accumulatedX;          // sum of x weighted by intensity (weighted modes)
    std::int32_t accumulatedIntensity;  // sum of intensities (weighted modes)
    std::int32_t idOrOption;            // frame id (line -1) or option bits (line -2)
    CameraObject* owner;                // object the segment belongs to
};

} // namespace Orvane
