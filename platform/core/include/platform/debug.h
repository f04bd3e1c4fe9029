#pragma once
// The debug output sink. Diagnostic text goes here, never to a log file:
// silent unless ORVANE_DEBUG is set (then to standard error), and capturable
// by tests.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform::debug {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(std::string_view line) = 0;
};

// Writes one line of debug text (a trailing newline is not needed).
void output(std::string_view text);

// Whether anything is listening (a sink is installed or ORVANE_DEBUG is set);
// callers may skip formatting costly text when this is false.
bool enabled();

// Installs a sink; returns the previous one. nullptr restores the default.
Sink* setSink(Sink* sink);

// Captures debug output for the lifetime of the object (tests).
class Capture final : public Sink {
public:
    Capture();
    ~Capture() override;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    void write(std::string_view line) override;
    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Sink* previous_;
};

} // namespace platform::debug
