#include "platform/session.h"

#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {
std::string clean(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c == '/' || c == '\0')
            c = '_';
    return out;
}
} // namespace

std::string sessionName()
{
    const char* env = std::getenv("ORVANE_SESSION");
    if (env != nullptr && *env != '\0')
        return clean(env);
    return "orvane-" + std::to_string(::getuid());
}

const std::string& currentSession()
{
    thread_local std::string cached;
    thread_local bool cachedFromEnv = false;
    const char* env = std::getenv("ORVANE_SESSION");
    const bool fromEnv = env != nullptr && *env != '\0';
    bool same = !cached.empty() && fromEnv == cachedFromEnv;
    if (same && fromEnv) {
        std::size_t i = 0;
        for (; env[i] != '\0' && same; ++i)
            same = i < cached.size() && cached[i] == (env[i] == '/' ? '_' : env[i]);
        same = same && i == cached.size();
    }
    if (!same) {
        cached = sessionName();
        cachedFromEnv = fromEnv;
    }
    return cached;
}

std::string sessionObjectName(std::string_view name)
{
    return "/" + sessionName() + "." + clean(name);
}

} // namespace platform
