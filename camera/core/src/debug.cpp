#include "camera/debug.h"

#include "camera/exceptions.h"
#include "platform/debug.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace Orvane {

namespace {

struct TextQueue {
    std::mutex lock;
    std::deque<std::string> texts;
};

// Made on first use, so it exists before anyone posts or fetches.
TextQueue& ttyQueue()
{
    static TextQueue queue;
    return queue;
}

} // namespace

void cDebug::PostTTY(std::string_view text)
{
    TextQueue& q = ttyQueue();
    std::lock_guard lock(q.lock);
    if (q.texts.size() >= TTYCapacity)
        q.texts.pop_front();
    q.texts.emplace_back(text);
}

bool cDebug::IsTTYAvailable()
{
    TextQueue& q = ttyQueue();
    std::lock_guard lock(q.lock);
    return !q.texts.empty();
}

std::optional<std::string> cDebug::FetchTTY()
{
    TextQueue& q = ttyQueue();
    std::lock_guard lock(q.lock);
    if (q.texts.empty())
        return std::nullopt;
    std::string text = std::move(q.texts.front());
    q.texts.pop_front();
    return text;
}

void cDebug::ClearTTY()
{
    TextQueue& q = ttyQueue();
    std::lock_guard lock(q.lock);
    q.texts.clear();
}

void cDebug::Format(char (&buffer)[BufferSize], const char* format, std::va_list args)
{
    // vsnprintf cuts text that does not fit and always terminates it.
    const int n = std::vsnprintf(buffer, BufferSize, format, args);
    if (n < 0)
        buffer[0] = '\0';
}

void cDebug::ReportDebug(Systems /*system*/, const char* format, ...)
{
    if (!platform::debug::enabled())
        return;
    char buffer[BufferSize];
    std::va_list args;
    va_start(args, format);
    Format(buffer, format, args);
    va_end(args);
    std::string line(buffer);
    line += '\n';
    platform::debug::output(line);
}

void cDebug::Failure(bool failed, const char* format, ...)
{
    if (!failed)
        return;
    char buffer[BufferSize];
    std::va_list args;
    va_start(args, format);
    Format(buffer, format, args);
    va_end(args);
    std::string line = "Failure: ";
    line += buffer;
    line += '\n';
    platform::debug::output(line);
    // The exception owns its copy of the text, so it outlives this frame.
    throw OVRuntimeException(std::string(buffer));
}

} // namespace Orvane
