#include "input/Keyboard.h"

#include "kbhook/keysnare.h"
#include "platform/sync.h"

#include <mutex>
#include <system_error>

// ---- choice of detector ----

int CKeyboard::GetWindowsVersionClass(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor)
{
    if (platformId == 2) {
        if (major >= 5) return minor == 0 ? 4 : 5;
        return 3;
    }
    if (platformId == 1) {
        if (minor < 10) return 0;
        if (minor < 90) return 1;
        return 2;
    }
    return -1;
}

std::unique_ptr<CKeyboard> CKeyboard::CreateForVersionClass(int versionClass)
{
    switch (versionClass) {
    case 4:
    case 5:
        return std::make_unique<CW2Kkeyboard>();
    case 1:
    case 2:
        return std::make_unique<CW9xkeyboard>();
    default:
        return nullptr;
    }
}

std::unique_ptr<CKeyboard> CKeyboard::Create() { return std::make_unique<CW2Kkeyboard>(); }

// ---- the hook detector ----

CW2Kkeyboard::~CW2Kkeyboard() { RemoveKBhook(); }

bool CW2Kkeyboard::Install(platform::HWND target, platform::UINT message)
{
    return InstallKBhook(kKeysnareLowLevelHook, target, message);
}

void CW2Kkeyboard::Uninstall() { RemoveKBhook(); }

void CW2Kkeyboard::SetHotKeys(const CHotKeys& keys)
{
    // Old records stay in the library but neither post nor swallow.
    for (const Watched& w : watched_) SetKBhotKeys(w.code, 0, 0, 0);
    for (int i = 0; i < 3; ++i) {
        const CKeyInfo key = keys.GetAt(i);
        // A device button's number is no key: it is not reported, and a
        // record that posts nothing keeps nothing from other programs.
        Watched& w = watched_[static_cast<std::size_t>(i)];
        w.code = key.Code;
        w.post = key.Device == GUID_NULL ? key.Enable : 0;
        w.trap = key.Trap;
    }
    for (const Watched& w : watched_) SetKBhotKeys(w.code, w.post, w.trap, 0);
}

void CW2Kkeyboard::SetHotKey(std::uint32_t code, int enable, int trap, int /*index*/)
{
    SetKBhotKeys(code, enable, trap, 0);
}

bool CW2Kkeyboard::FilterAllKeys(platform::HWND target, platform::UINT message)
{
    return ::FilterAllKeys(kKeysnareLowLevelHook, target, message);
}

bool CW2Kkeyboard::StartTypingHook(platform::UINT startMessage, platform::UINT stopMessage, platform::UINT idleMs)
{
    return ::StartTypingHook(startMessage, stopMessage, idleMs);
}

bool CW2Kkeyboard::StopTypingHook() { return ::StopTypingHook(); }

// ---- the key-state detector ----

namespace {

constexpr std::array<int, 7> kPolledSlots{0, 1, 2, 3, 5, 6, 7};
constexpr platform::WPARAM kKeyDown = 0x100;
constexpr platform::WPARAM kKeyUp = 0x101;

} // namespace

struct CW9xkeyboard::Impl {
    std::unique_ptr<platform::devices::KeyStateDevice> device;
    platform::Clock& clock;
    PostFn post;

    // Shared with the polling thread, which reads them while the GUI thread
    // sets keys.
    std::array<std::atomic<std::uint8_t>, platform::devices::kKeySlots> keys{};
    std::array<std::uint32_t, platform::devices::kKeySlots> states{};  // polling thread only

    // GUI thread only.
    std::array<std::uint32_t, 3> codes{};
    std::array<bool, 3> enabled{};
    platform::HWND target = 0;
    platform::UINT message = 0;
    bool installed = false;
    bool filtering = false;
    std::atomic<bool> stop{false};
    platform::Thread thread;

    Impl(std::unique_ptr<platform::devices::KeyStateDevice> d, platform::Clock& c, PostFn p)
        : device(std::move(d)), clock(c), post(std::move(p))
    {
    }

    std::array<std::uint8_t, platform::devices::kKeySlots> block() const
    {
        std::array<std::uint8_t, platform::devices::kKeySlots> b{};
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = keys[i].load(std::memory_order_relaxed);
        return b;
    }

    void send(std::uint32_t code, bool withBlock)
    {
        const auto b = block();
        device->request(code, withBlock ? std::span<const std::uint8_t>(b) : std::span<const std::uint8_t>());
    }

    // Writes the index's key into its slot and tells the device.
    void setSlot(int index)
    {
        const int slot = SlotOfIndex(index);
        if (slot < 0) return;
        const auto i = static_cast<std::size_t>(index);
        // The device watches plain keys; modifier bits have no slot.
        keys[static_cast<std::size_t>(slot)].store(device->keyFromVk(codes[i] & 0xFFFF), std::memory_order_relaxed);
        const auto& r = platform::devices::kSlotRequests[static_cast<std::size_t>(slot)];
        send(r.setKey, true);
        send(enabled[i] ? r.enable : r.disable, true);
    }

    void pollSlot(int slot)
    {
        const auto s = static_cast<std::size_t>(slot);
        const std::uint32_t vk = device->vkFromKey(keys[s].load(std::memory_order_relaxed));
        const std::uint32_t state = device->request(platform::devices::kSlotRequests[s].query, {}).value_or(0);
        if (state == 1 && states[s] == 0) post(target, message, kKeyDown, static_cast<platform::LPARAM>(vk));
        else if (state != 1 && states[s] == 1) post(target, message, kKeyUp, static_cast<platform::LPARAM>(vk));
        states[s] = state;
    }
};

CW9xkeyboard::CW9xkeyboard(std::unique_ptr<platform::devices::KeyStateDevice> device, platform::Clock& clock, PostFn post)
    : impl_(std::make_unique<Impl>(device ? std::move(device) : platform::devices::makeX11KeyStateDevice(), clock,
                                   post ? std::move(post) : PostFn(&platform::postMessage)))
{
}

CW9xkeyboard::~CW9xkeyboard() { Uninstall(); }

int CW9xkeyboard::SlotOfIndex(int index)
{
    switch (index) {
    case 0: return 5;
    case 1: return 3;
    case 2: return 7;
    default: return -1;
    }
}

bool CW9xkeyboard::Installed() const { return impl_->installed; }

bool CW9xkeyboard::Install(platform::HWND target, platform::UINT message)
{
    Impl& m = *impl_;
    // Installing again (back from capture) must not leave a second polling
    // thread, nor the capture hook swallowing every key.
    if (m.installed) Uninstall();
    if (m.filtering) {
        RemoveKBhook();
        m.filtering = false;
    }
    if (!m.device->open()) return false;
    m.installed = true;
    m.target = target;
    m.message = message;
    m.stop.store(false);
    exitCode_.store(0);
    try {
        m.thread.start(
            [this] {
                Impl& t = *impl_;
                for (;;) {
                    t.clock.sleepFor(kPeriod);
                    if (t.stop.load()) break;
                    for (int slot : kPolledSlots) t.pollSlot(slot);
                }
                exitCode_.store(kThreadExitCode);
            },
            platform::ThreadPriority::Normal, "kbd-poll");
    } catch (const std::system_error&) {
        Uninstall();
        return false;
    }
    m.send(platform::devices::kRequestStart, false);
    // Key codes may only be known once the device is open; keys set before,
    // or before an earlier Uninstall, are watched again.
    for (int i = 0; i < 3; ++i) {
        const int slot = SlotOfIndex(i);
        m.keys[static_cast<std::size_t>(slot)].store(m.device->keyFromVk(m.codes[static_cast<std::size_t>(i)] & 0xFFFF),
                                                     std::memory_order_relaxed);
    }
    m.send(platform::devices::kRequestKeyBlock, true);
    for (int i = 0; i < 3; ++i)
        if (m.enabled[static_cast<std::size_t>(i)]) m.setSlot(i);
    return true;
}

void CW9xkeyboard::Uninstall()
{
    Impl& m = *impl_;
    if (m.thread.joinable()) {
        m.stop.store(true);
        m.thread.join();
    }
    if (m.filtering) {
        RemoveKBhook();
        m.filtering = false;
    }
    m.send(platform::devices::kRequestStop, false);
    m.device->close();
    m.states.fill(0);
    m.installed = false;
}

void CW9xkeyboard::SetHotKey(std::uint32_t code, int enable, int /*trap*/, int index)
{
    if (SlotOfIndex(index) < 0) return;
    Impl& m = *impl_;
    m.codes[static_cast<std::size_t>(index)] = code;
    m.enabled[static_cast<std::size_t>(index)] = enable != 0;
    m.setSlot(index);
}

void CW9xkeyboard::SetHotKeys(const CHotKeys& keys)
{
    for (int i = 0; i < 3; ++i) {
        const CKeyInfo key = keys.GetAt(i);
        // Device buttons belong to the action map, not to the keyboard.
        SetHotKey(key.Code, key.Device == GUID_NULL ? key.Enable : 0, 1, i);
    }
}

bool CW9xkeyboard::FilterAllKeys(platform::HWND target, platform::UINT message)
{
    const bool ok = ::FilterAllKeys(kKeysnareThreadHook, target, message);
    if (ok) impl_->filtering = true;
    return ok;
}
