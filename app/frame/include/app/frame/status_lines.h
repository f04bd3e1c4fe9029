#pragma once
// Short status lines for a program that shows no window (headless): one
// line when the camera starts or stops and when the head is tracked or lost,
// at most one a second. A change within a second of the last line (or of the
// start, while the camera is still starting) is held back and written when
// its second is up, if it still differs from what was last written;
// flickers in between are never written. At exit the line held back and
// the final state's line are written at once (Finish).
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

class CStatusLines {
public:
    static constexpr std::chrono::milliseconds kSpacing{1000};

    CStatusLines(platform::Clock& clock, std::function<void(std::string_view line)> write)
        : clock_(clock), write_(std::move(write)), lastTime_(clock.now())
    {
    }

    // The state now. Writes its line at once, or holds it back (see Due).
    void Update(bool cameraRunning, bool tracked);
    // How long until a held-back line is due; nullopt when none is held.
    std::optional<std::chrono::milliseconds> Due() const;
    // Writes the held-back line when it is due.
    void Flush();
    // At exit: the line held back (the last state the program was in), then
    // the final state's line, each at once when it differs from the line
    // before it.
    void Finish(bool cameraRunning, bool tracked);

    static std::string Line(bool cameraRunning, bool tracked);

private:
    void Write();

    platform::Clock& clock_;
    std::function<void(std::string_view)> write_;
    std::string last_;     // the line last written
    std::string current_;  // the line of the state now
    platform::Duration lastTime_; // of the last line, or of the start
};
