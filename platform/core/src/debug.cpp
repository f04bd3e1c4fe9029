#include "platform/debug.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform::debug {

namespace {

class StderrSink final : public Sink {
public:
    void write(std::string_view line) override
    {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }

private:
    std::mutex mutex_;
};

bool envEnabled()
{
    static const bool on = [] {
        const char* v = std::getenv("ORVANE_DEBUG");
        return v != nullptr && *v != '\0' && std::string_view(v) != "0";
    }();
    return on;
}

std::atomic<Sink*>& installed()
{
    static std::atomic<Sink*> sink{nullptr};
    return sink;
}

std::mutex& writeMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

bool enabled() { return installed().load(std::memory_order_acquire) != nullptr || envEnabled(); }

void output(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    // Serialised so that a sink being swapped out is never written to after
    // setSink() has returned it.
    std::lock_guard lock(writeMutex());
    if (Sink* s = installed().load(std::memory_order_acquire)) {
        s->write(text);
        return;
    }
    if (envEnabled()) {
        static StderrSink err;
        err.write(text);
    }
}

Sink* setSink(Sink* sink)
{
    std::lock_guard lock(writeMutex());
    return installed().exchange(sink, std::memory_order_acq_rel);
}

Capture::Capture() : previous_(setSink(this)) {}

Capture::~Capture() { setSink(previous_); }

void Capture::write(std::string_view line)
{
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> Capture::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

bool Capture::contains(std::string_view fragment) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

void Capture::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace platform::debug
