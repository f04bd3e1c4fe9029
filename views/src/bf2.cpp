#include "views/game_details.h"

#include "platform/debug.h"
#include "platform/modules.h"
#include "platform/shared.h"

#include <cerrno>
#include <cstring>
#include <string_view>

using namespace views;

namespace {

// The helper's module name, as the module layer names a "VSLViewsi.dll".
constexpr std::string_view kHelperName = "VSLViewsi.dll";
constexpr std::string_view kHelperFile = "vslviewsi.so";

std::string_view fileName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void report(const std::string& text)
{
    platform::debug::output("VSLViews: Battlefield 2: " + text);
}

} // namespace

std::uint32_t CBF2::Update(CProcessPoker* poker, const OVPosePacket*)
{
    if (done_)
        return kWriteOk;
    // The profile id, for the helper to read while it loads.
    errno = 0;
    auto mapping = platform::SharedSection::open("VistrelVMSharedMemory", 4);
    if (!mapping)
        return errno != 0 ? static_cast<std::uint32_t>(errno) : kWriteFailed;
    const std::uint32_t id = kProfileId;
    std::memcpy(mapping->data(), &id, sizeof id);
    // Held while the helper starts: it tells the helper the view library is
    // the one loading it.
    auto mutex = platform::NamedMutex::open("VSLVIEWSHOOKMUTEX");
    if (!mutex)
        return kWriteFailed;
    const bool owned = platform::holds(mutex->lock(std::chrono::milliseconds(0)));
    const std::uint32_t result = start(poker->processId());
    // Released before it is closed: a robust mutex left locked and unmapped
    // would stay on this thread's list of held mutexes.
    if (owned)
        mutex->unlock();
    if (result == kWriteOk)
        done_ = true;
    return result;
}

std::uint32_t CBF2::start(std::uint32_t pid)
{
    auto game = system_.open(static_cast<int>(pid));
    if (!game) {
        report("the game's process " + std::to_string(pid) + " cannot be opened");
        return kWriteFailed;
    }
    for (const auto& region : game->regions())
        if (platform::equalsIgnoreCase(fileName(region.path), kHelperFile)) {
            // Already inside: ask it to start again.
            if (auto again = platform::NamedEvent::open("VSLViewsEvent" + std::to_string(pid), false))
                again->set();
            return kWriteOk;
        }
    const std::filesystem::path helper = platform::resolveModulePath((helperFolder_ / kHelperName).string());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(helper, ec)) {
        report("the helper " + helper.string() + " is not installed");
        return kWriteFailed;
    }
    // A load still running at the limit is not cut short: the game's thread
    // finishes it and goes back to where it was on its own. It counts as a
    // failure here; the next round finds the helper inside and asks it to
    // start again.
    const platform::RemoteCall call = game->loadModule(helper.string(), callLimit_);
    if (!call.done) {
        report(call.error);
        return kWriteFailed;
    }
    if (call.result == 0) {
        report("the game could not load " + helper.string());
        return kWriteFailed;
    }
    return kWriteOk;
}
