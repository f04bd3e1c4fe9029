#pragma once
// The four status-bar pane texts, from what the frame knows of the system.
#include <array>
#include <string>

namespace app {
class CResourceTexts;
}

struct StatusInputs {
    bool devicePresent = false;
    bool configuring = false;
    bool paused = false;
    bool targetLost = false;
    bool recording = false;
    bool playback = false;
    int motionType = 0;
    std::u16string centerKey;
    std::u16string pauseKey;
};

// In the texts of `texts` (null: the built-in English).
std::array<std::u16string, 4> StatusTexts(const StatusInputs& in, const app::CResourceTexts* texts = nullptr);
