#include "input/ActionMap.h"

#include <array>
#include <optional>
#include <mutex>
#include <system_error>

namespace {

constexpr platform::WPARAM kButtonDown = 0x100;
constexpr platform::WPARAM kButtonUp = 0x101;
constexpr std::size_t kReadItems = 10;
// The longest an idle poll thread sleeps: a binding, a capture and a stop wake
// it at once, so this only bounds the wait.
constexpr std::uint32_t kIdleWaitMs = 1000;

} // namespace

CActionMap::CActionMap(std::unique_ptr<platform::devices::ButtonSource> source, PostMessageFn post)
    : post_(post ? std::move(post) : PostMessageFn(&platform::postMessage)), devices_(std::move(source))
{
}

std::int32_t CActionMap::Create(platform::HWND owner)
{
    std::lock_guard lock(lock_);
    owner_ = owner;
    devices_.Attach(owner);
    return devices_.Enumerate();
}

std::int32_t CActionMap::ClearBindings()
{
    std::lock_guard lock(lock_);
    bindings_.clear();
    for (CInputDevice& d : devices_.devices()) d.bindings = 0;
    updateWanted();
    return 0;
}

void CActionMap::updateWanted()
{
    if (!bindings_.empty() || capturing_)
        wanted_.set();
    else
        wanted_.reset();
}

bool CActionMap::Wanted()
{
    std::lock_guard lock(lock_);
    return !bindings_.empty() || capturing_;
}

void CActionMap::Rebase()
{
    std::lock_guard lock(lock_);
    std::array<platform::devices::ButtonItem, kReadItems> items{};
    for (CInputDevice& d : devices_.devices()) {
        d.device->acquire();
        d.device->poll();
        std::size_t count = 0;
        do {
            count = 0;
            if (d.device->read(items, count) < 0)
                break;
        } while (count == items.size());
    }
}

void CActionMap::AddHotKeys(const CHotKeys& keys, platform::UINT message)
{
    std::lock_guard lock(lock_);
    const int n = keys.GetSize() < 3 ? keys.GetSize() : 3;
    for (int i = 0; i < n; ++i) {
        const CKeyInfo key = keys.GetAt(i);
        if (key.Device == GUID_NULL) continue;
        AddBinding({i, key.Device, static_cast<std::int32_t>(key.Code), 0, static_cast<std::int32_t>(message)});
    }
}

void CActionMap::AddBinding(const CActionMapEntry& entry)
{
    std::lock_guard lock(lock_);
    CActionMapEntry e = entry;
    e.systemKeyboard = e.device == GUID_SysKeyboard ? 1 : 0;
    bool replaced = false;
    for (CActionMapEntry& b : bindings_) {
        if (b.action != e.action) continue;
        b = e;
        replaced = true;
    }
    if (replaced) {
        // A binding moved to another device must count there, or the new
        // device would never be dispatched.
        recount();
        return;
    }
    bindings_.push_back(e);
    updateWanted();
    for (CInputDevice& d : devices_.devices()) {
        if (d.instance == e.device) {
            ++d.bindings;
            break;
        }
    }
}

int CActionMap::FindEntry(CActionMapEntry& entry)
{
    std::lock_guard lock(lock_);
    for (const CActionMapEntry& b : bindings_) {
        if (b.button == entry.button && b.device == entry.device) {
            entry.action = b.action;
            return 1;
        }
    }
    return 0;
}

void CActionMap::BeginCapture(platform::HWND window, platform::UINT message)
{
    std::lock_guard lock(lock_);
    capture_ = CActionMapEntry{};
    captureWindow_ = window;
    captureMessage_ = message;
    capturing_ = true;
    updateWanted();
}

void CActionMap::EndCapture()
{
    std::lock_guard lock(lock_);
    capturing_ = false;
    updateWanted();
}

CActionMapEntry CActionMap::GetCapturedEntry()
{
    std::lock_guard lock(lock_);
    return capture_;
}

bool CActionMap::Capturing()
{
    std::lock_guard lock(lock_);
    return capturing_;
}

std::int32_t CActionMap::Refresh()
{
    std::lock_guard lock(lock_);
    const std::int32_t result = devices_.Enumerate();
    recount();
    return result;
}

void CActionMap::recount()
{
    for (CInputDevice& d : devices_.devices()) d.bindings = 0;
    for (const CActionMapEntry& b : bindings_) {
        for (CInputDevice& d : devices_.devices()) {
            if (d.instance == b.device) {
                ++d.bindings;
                break;
            }
        }
    }
}

std::int32_t CActionMap::Poll()
{
    std::lock_guard lock(lock_);
    std::int32_t result = 0;
    std::array<platform::devices::ButtonItem, kReadItems> items{};
    for (CInputDevice& d : devices_.devices()) {
        d.device->acquire();
        d.device->poll();
        std::size_t count = 0;
        const std::int32_t read = d.device->read(items, count);
        if (read < 0) {
            result = read;
            continue;
        }
        const bool keyboard = d.instance == GUID_SysKeyboard;
        const std::uint32_t base = keyboard                     ? 0u
                                   : d.instance == GUID_SysMouse ? platform::devices::kMouseButtonOffset
                                                                 : platform::devices::kJoystickButtonOffset;
        for (std::size_t i = 0; i < count; ++i) {
            const bool pressed = items[i].data == platform::devices::kPressed;
            const auto button = static_cast<std::int32_t>(items[i].offset - base);
            if (capturing_ && pressed) {
                capture_ = CActionMapEntry{};
                capture_.device = d.instance;
                capture_.button = button;
                capture_.systemKeyboard = keyboard ? 1 : 0;
                post_(captureWindow_, captureMessage_, 0, 0);
                capturing_ = false;
                updateWanted();
                continue;
            }
            if (d.bindings == 0) continue;
            for (const CActionMapEntry& b : bindings_) {
                if (b.device == d.instance && b.button == button)
                    post_(owner_, static_cast<platform::UINT>(b.message), pressed ? kButtonDown : kButtonUp,
                          static_cast<platform::LPARAM>(b.action));
            }
        }
    }
    return result;
}

std::vector<CActionMapEntry> CActionMap::Bindings()
{
    std::lock_guard lock(lock_);
    return bindings_;
}

void CActionMap::WithDevices(const std::function<void(const std::vector<CInputDevice>&)>& f)
{
    std::lock_guard lock(lock_);
    f(devices_.devices());
}

CInputPoller::CInputPoller(CActionMap& map, platform::Clock& clock, std::chrono::milliseconds period)
    : map_(map), clock_(clock), period_(period)
{
}

CInputPoller::~CInputPoller() { Stop(); }

bool CInputPoller::Start()
{
    if (thread_.joinable()) return false;
    stop_.store(false);
    stopEvent_.reset();
    try {
        thread_.start(
            [this] {
                std::optional<platform::Duration> lastPoll;
                while (!stop_.load()) {
                    if (!map_.Wanted()) {
                        platform::Event* events[] = {&stopEvent_, &map_.WantedEvent()};
                        platform::Event::waitMultiple(events, false, kIdleWaitMs);
                        if (stop_.load() || !map_.Wanted()) continue;
                        // What the buttons did while nobody looked is not news.
                        // Bindings made anew at once (a profile made current
                        // again clears and adds them) find the last samples
                        // fresh, and nothing pressed meanwhile is lost.
                        if (!lastPoll || clock_.now() - *lastPoll > 2 * period_)
                            map_.Rebase();
                    }
                    map_.Poll();
                    lastPoll = clock_.now();
                    clock_.sleepFor(period_);
                }
            },
            platform::ThreadPriority::Highest, "hotkey-poll");
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CInputPoller::Stop()
{
    stop_.store(true);
    stopEvent_.set();
    if (thread_.joinable()) thread_.join();
}
