#pragma once
// Diagnostic text of the camera library. It goes to the suite's debug sink
// (platform::debug), never to a log file. Beside it, a small text queue that
// a reader (a console or a log page) may drain.
#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Orvane {

class cDebug {
public:
    // The part of the library that reports; it does not change the output.
    enum Systems {
        General = 0,
        Device = 1,
        PacketProcessor = 2,  // the packet decoder
        Tracking = 3,
        Configuration = 4,
    };

    // Longest text written at once, terminator included; longer text is cut.
    static constexpr int BufferSize = 512;

    // Formats printf-style and writes the text followed by "\n".
    static void ReportDebug(Systems system, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Does nothing when `failed` is false. Otherwise writes "Failure: " and
    // the formatted text, then throws OVRuntimeException with that text.
    static void Failure(bool failed, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The text queue, oldest first, shared by the whole library. Nothing in
    // the library posts to it; it keeps at most TTYCapacity texts and drops
    // the oldest beyond that, so an absent reader costs bounded memory.
    static constexpr std::size_t TTYCapacity = 256;
    static void PostTTY(std::string_view text);
    static bool IsTTYAvailable();
    // Takes the oldest text out of the queue; nothing when it is empty.
    static std::optional<std::string> FetchTTY();
    static void ClearTTY();

private:
    static void Format(char (&buffer)[BufferSize], const char* format, std::va_list args);
};

} // namespace Orvane
