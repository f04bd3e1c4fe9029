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

std::string sessionObjectName(std::string_view name)
{
    return "/" + sessionName() + "." + clean(name);
}

} // namespace platform
