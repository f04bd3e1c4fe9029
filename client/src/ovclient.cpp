// The client library. It keeps no state of its own besides the mapping of
// the shared section and the named mutexes of the current session.
#include "client/ovclient.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <unistd.h>

#include "platform/messages.h"
#include "platform/session.h"
#include "platform/shared.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kRecordWait = 25ms;
// Commands of different clients are handled one at a time; a client holds
// this while it sends and reads its answer, so that no other command's
// result can land in between. Bounded by the send's own time-out.
constexpr auto kCommandWait = platform::kDefaultSendTimeout + 1000ms;
constexpr const char* kServerTitle = "Orvane";

struct Link {
    std::unique_ptr<platform::SharedSection> section;
    std::unique_ptr<platform::NamedMutex> recordMutex;
    std::unique_ptr<platform::NamedMutex> commandMutex;

    OVSharedSection& shared() const { return *static_cast<OVSharedSection*>(section->data()); }
};

// The link of the current session, made on first use in it and kept for the
// life of the process (as the section and mutex are never closed).
Link* link()
{
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Link>, std::less<>> links;
    const std::string& session = platform::currentSession();
    std::lock_guard lock(mutex);
    auto it = links.find(session);
    if (it != links.end())
        return it->second.get();
    auto l = std::make_unique<Link>();
    // An object that is not this user's (or not of our layout) is refused
    // by the layer; the game is told once which and why on its error
    // output, as the library has no other way to tell anyone.
    static std::atomic<bool> told{false};
    auto refused = [&] {
        if (!told.exchange(true))
            std::fprintf(stderr, "OVClient: %s\n", platform::sharedObjectError().c_str());
    };
    l->section = platform::SharedSection::open(OV_SECTION_NAME, sizeof(OVSharedSection), OVInitSharedSection);
    if (!l->section) {
        refused();
        return nullptr;
    }
    l->recordMutex = platform::NamedMutex::open(OV_RECORD_MUTEX_NAME);
    if (!l->recordMutex)
        refused();
    l->commandMutex = platform::NamedMutex::open(OV_COMMAND_MUTEX_NAME);
    if (!l->commandMutex)
        refused();
    Link* raw = l.get();
    links.emplace(session, std::move(l));
    return raw;
}

// Loading the library creates (or opens) the section and the mutex.
[[gnu::constructor]] void attach() { link(); }

template <typename T>
std::atomic_ref<T> word(T& w)
{
    return std::atomic_ref<T>(w);
}

platform::HWND findServerWindow() { return platform::findWindow(nullptr, kServerTitle); }

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Base name of the calling process's executable (a copy of a program keeps
// the name it was copied under; a symbolic link does not).
std::string ownExeName()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<std::size_t>(n));
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::int32_t command(std::uint32_t code, std::uint32_t argument)
{
    Link* l = link();
    if (l == nullptr)
        return OV_NO_SERVER;
    const platform::HWND server = findServerWindow();
    if (server == 0)
        return OV_NO_SERVER;
    if (!l->commandMutex)
        return OV_MUTEX_TIMEOUT;
    platform::NamedLock serial(*l->commandMutex, kCommandWait);
    if (!serial.owns())
        return OV_MUTEX_TIMEOUT;
    auto lastError = word(l->shared().lastError);
    lastError.store(0);
    // A send that did not reach a handler (window gone, owner died, no
    // answer in time) is "no command window", not the 0 just stored.
    if (!platform::sendMessage(server, OV_COMMAND_MESSAGE, code, static_cast<platform::LPARAM>(argument)))
        return OV_NO_SERVER;
    return lastError.load();
}

struct ExeProfile {
    const char* exe;
    std::uint16_t id;
};
constexpr ExeProfile kExeProfiles[] = {
    {"SwgClient_r.exe", 6001}, {"targetware.exe", 1202}, {"vsl2joy.exe", 2202}, {"ww2.exe", 3301},
    {"VSLF4.exe", 2203},       {"CRC_DEMO.exe", 4801},   {"mf.exe", 5101},      {"Trainz.exe", 4701},
};

// Slot of a notify type: exactly one bit, 1/2/4 -> 0-2, 16..32768 -> 3-14.
int notifySlot(std::uint16_t type)
{
    if (type == 0 || (type & (type - 1)) != 0 || type == 8)
        return -1;
    const int bit = __builtin_ctz(type);
    return bit < 3 ? bit : bit - 1;
}

} // namespace

OVCLIENT_API std::int32_t OV_RegisterProgramProfileID(std::uint16_t id)
{
    std::uint32_t argument = id;
    if (id == 0 && equalNoCase(ownExeName(), "LockOn.exe"))
        argument = OV_LOCKON_PROFILE;
    return command(OV_CMD_REGISTER_PROFILE, argument);
}

OVCLIENT_API std::int32_t OV_RegisterWindowHandle(OVWindow window) { return command(OV_CMD_REGISTER_WINDOW, window); }
OVCLIENT_API std::int32_t OV_UnregisterWindowHandle() { return command(OV_CMD_UNREGISTER_WINDOW, 0); }
OVCLIENT_API std::int32_t OV_RequestData(std::uint16_t flags) { return command(OV_CMD_REQUEST_DATA, flags); }

OVCLIENT_API std::int32_t OV_StartDataTransmission()
{
    const std::string exe = ownExeName();
    for (const auto& row : kExeProfiles) {
        if (equalNoCase(exe, row.exe)) {
            OV_RegisterProgramProfileID(row.id); // its result does not matter here
            break;
        }
    }
    return command(OV_CMD_START_DATA, 0);
}

OVCLIENT_API std::int32_t OV_StopDataTransmission() { return command(OV_CMD_STOP_DATA, 0); }
OVCLIENT_API std::int32_t OV_StartCursor() { return command(OV_CMD_START_CURSOR, 0); }
OVCLIENT_API std::int32_t OV_StopCursor() { return command(OV_CMD_STOP_CURSOR, 0); }
OVCLIENT_API std::int32_t OV_ReCenter() { return command(OV_CMD_RECENTER, 0); }

OVCLIENT_API std::int32_t OV_GetData(OVPosePacket* out)
{
    if (out == nullptr)
        return OV_BAD_ARGUMENT;
    Link* l = link();
    if (l == nullptr || findServerWindow() == 0)
        return OV_NO_SERVER;
    if (!l->recordMutex)
        return OV_MUTEX_TIMEOUT;
    platform::NamedLock lock(*l->recordMutex, kRecordWait);
    if (!lock.owns())
        return OV_MUTEX_TIMEOUT;
    std::memcpy(out, &l->shared().pose, sizeof(OVPosePacket));
    return OV_OK;
}

OVCLIENT_API std::int32_t OV_QueryVersion(std::uint16_t* out)
{
    if (out == nullptr)
        return OV_BAD_ARGUMENT;
    *out = 0;
    Link* l = link();
    if (l == nullptr || findServerWindow() == 0)
        return OV_NO_SERVER;
    *out = word(l->shared().version).load();
    return OV_OK;
}

OVCLIENT_API std::int32_t OV_GetParameter(std::int32_t index, std::int32_t* out)
{
    if (out == nullptr || index < 0 || index > 2)
        return OV_BAD_ARGUMENT;
    Link* l = link();
    if (l == nullptr)
        return OV_NO_SERVER;
    *out = word(l->shared().parameter[index]).load();
    return OV_OK;
}

OVCLIENT_API std::int32_t OV_SetParameter(std::int32_t index, std::int32_t value)
{
    if (index == 0 || index == 1)
        return OV_READ_ONLY;
    if (index != 2 || value != 0)
        return OV_BAD_ARGUMENT;
    Link* l = link();
    if (l == nullptr)
        return OV_NO_SERVER;
    word(l->shared().parameter[2]).store(0);
    return OV_OK;
}

namespace {
std::int32_t setData(const OVPosePacket* record, std::chrono::milliseconds wait)
{
    if (record == nullptr)
        return OV_BAD_ARGUMENT;
    Link* l = link();
    if (l == nullptr || findServerWindow() == 0)
        return OV_NO_SERVER;
    if (!l->recordMutex)
        return OV_MUTEX_TIMEOUT;
    platform::NamedLock lock(*l->recordMutex, wait);
    if (!lock.owns())
        return OV_MUTEX_TIMEOUT;
    std::memcpy(&l->shared().pose, record, sizeof(OVPosePacket));
    return OV_OK;
}
} // namespace

OVCLIENT_API std::int32_t OVPriv_SetData(const OVPosePacket* record) { return setData(record, kRecordWait); }
OVCLIENT_API std::int32_t OVPriv_TrySetData(const OVPosePacket* record) { return setData(record, 0ms); }

OVCLIENT_API void OVPriv_SetVersion(std::uint16_t version)
{
    if (Link* l = link())
        word(l->shared().version).store(version);
}

OVCLIENT_API void OVPriv_SetLastError(std::int32_t code)
{
    if (Link* l = link())
        word(l->shared().lastError).store(code);
}

OVCLIENT_API std::int32_t OVPriv_GetLastError()
{
    Link* l = link();
    return l != nullptr ? word(l->shared().lastError).load() : 0;
}

OVCLIENT_API std::int32_t OVPriv_SetParameter(std::int32_t index, std::int32_t value)
{
    if (index < 0 || index > 2)
        return index - 2;
    if (Link* l = link())
        word(l->shared().parameter[index]).store(value);
    return value;
}

OVCLIENT_API std::int32_t OVPriv_ClientNotify(std::uint16_t type, std::uint16_t value)
{
    Link* l = link();
    if (l == nullptr || !l->recordMutex)
        return OV_MUTEX_TIMEOUT;
    platform::NamedLock lock(*l->recordMutex, kRecordWait);
    if (!lock.owns())
        return OV_MUTEX_TIMEOUT;
    const int slot = notifySlot(type);
    if (slot < 0)
        return OV_BAD_ARGUMENT;
    OVPosePacket& pose = l->shared().pose;
    pose.value[slot] = static_cast<float>(value);
    pose.status = static_cast<std::uint16_t>(pose.status | type);
    return OV_OK;
}
