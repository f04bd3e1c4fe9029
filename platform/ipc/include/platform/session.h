#pragma once
// The session: every named object of the suite (shared sections, mutexes,
// events, the window table, message sockets) lives under one session name,
// so that parallel runs (tests above all) never meet each other's objects.
#include <string>
#include <string_view>

namespace platform {

// $ORVANE_SESSION when set and not empty, else "orvane-<uid>". Read on
// every call, so a test that changes the variable is seen at once.
std::string sessionName();

// The same, kept per thread and made again only when the environment
// changed: no allocation on the paths that run every frame.
const std::string& currentSession();

// The POSIX shared-memory name of object `name` in the current session:
// "/<session>.<name>" ('/' inside either part becomes '_').
std::string sessionObjectName(std::string_view name);

} // namespace platform
