#include "engine/VSLEnhanced.h"

#include <cstring>
#include <string>
#include <utility>

#include "platform/debug.h"

namespace {
constexpr platform::UINT kCommand = OV_COMMAND_MESSAGE;
constexpr platform::UINT kCommandAlt = OV_COMMAND_MESSAGE_ALT;
// How long Start waits for the command thread to have its window.
constexpr std::uint32_t kStartWaitMs = 5000;
} // namespace

CVSLEnhanced::CVSLEnhanced(std::shared_ptr<platform::registry::Store> registry, platform::ThreadStarter* threads)
    : registry_(std::move(registry)), threads_(threads != nullptr ? *threads : platform::systemThreadStarter())
{
}

CVSLEnhanced::~CVSLEnhanced() { Stop(); }

void CVSLEnhanced::Start()
{
    if (thread_.joinable())
        return;
    {
        std::lock_guard lock(recordMutex_);
        record_ = OVPosePacket{};
    }
    client_ = 0;
    SetWatch(nullptr);
    requestFlags_ = 0;
    cursorFlag_ = 1;
    missCount_ = 0;
    transmitting_ = 0;
    profileAccepted_ = 0;
    copyStalled_ = false;
    // The id too: kept from an earlier run it would refuse every game with 7.
    profileId_ = 0;
    if (!LoadClientLibrary())
        return; // no library: the engine runs on, clients hear 1
    SetVersion(static_cast<std::uint16_t>(kVersion));
    SetClientParameter(0, 1);
    stop_ = false;
    started_.reset();
    finished_.reset();
    threads_.start(thread_, [this] { Run(); }, platform::ThreadPriority::Normal, "command window");
    started_.wait(kStartWaitMs);
    // A pose left by an earlier run is not this run's. The library takes a
    // record only while the command window exists.
    ZeroSharedRecord();
}

void CVSLEnhanced::Stop()
{
    stop_ = true;
    if (!thread_.joinable())
        return;
    const platform::HWND window = commandWindow_.load();
    // Readers see the program gone, not its last pose (while the window
    // still exists, as the library asks).
    ZeroSharedRecord();
    if (window != 0)
        platform::postMessage(window, platform::WM_QUIT, 0, 0);
    if (finished_.wait(static_cast<std::uint32_t>(stopWait_.count())) != platform::kWaitObject0)
        platform::debug::output("CVSLEnhanced: command thread slow to end; waiting for it");
    // Always joined: the thread runs this object's code.
    thread_.join();
    SetWatch(nullptr);
}

void CVSLEnhanced::ZeroSharedRecord()
{
    const OVPosePacket zero{};
    SetData(zero);
}

void CVSLEnhanced::Run()
{
    const bool created = Create();
    commandWindow_ = GetSafeHwnd();
    started_.set();
    if (created) {
        platform::Msg msg;
        while (platform::getMessage(msg) != 0) {
            platform::dispatchMessage(msg);
            if (stop_)
                break;
        }
    }
    commandWindow_ = 0;
    DestroyWindow();
    exitCode_ = kThreadExitCode;
    finished_.set();
}

platform::registry::Status CVSLEnhanced::ReadClientLocation(std::string& folder)
{
    if (!registry_)
        return platform::registry::kNotFound;
    return registry_->queryStringUtf8(platform::registry::Root::CurrentUser, kLocationKey, kLocationValue, folder);
}

bool CVSLEnhanced::LoadClientLibrary()
{
    std::string folder;
    if (ReadClientLocation(folder) != platform::registry::kSuccess)
        folder.clear();
    library_ = platform::Module::load(folder + "\\" + kLibraryName);
    if (!library_)
        return false;
    clientNotify_ = library_->function<OVPriv_ClientNotify_t>("OVPriv_ClientNotify");
    setVersion_ = library_->function<OVPriv_SetVersion_t>("OVPriv_SetVersion");
    setData_ = library_->function<OVPriv_SetData_t>("OVPriv_SetData");
    trySetData_ = library_->function<OVPriv_TrySetData_t>("OVPriv_TrySetData");
    setLastError_ = library_->function<OVPriv_SetLastError_t>("OVPriv_SetLastError");
    setParameter_ = library_->function<OVPriv_SetParameter_t>("OVPriv_SetParameter");
    queryVersion_ = library_->function<OV_QueryVersion_t>("OV_QueryVersion");
    return true;
}

int CVSLEnhanced::ClientNotify(std::uint16_t type, std::uint16_t value)
{
    return clientNotify_ != nullptr ? clientNotify_(type, value) : 0;
}

void CVSLEnhanced::SetVersion(std::uint16_t version)
{
    if (setVersion_ != nullptr)
        setVersion_(version);
}

int CVSLEnhanced::SetData(const OVPosePacket& record)
{
    return setData_ != nullptr ? setData_(&record) : OV_NOT_BOUND;
}

void CVSLEnhanced::SetLastError(std::int32_t code)
{
    if (setLastError_ != nullptr)
        setLastError_(code);
}

int CVSLEnhanced::SetClientParameter(std::int32_t index, std::int32_t value)
{
    return setParameter_ != nullptr ? setParameter_(index, value) : 0;
}

int CVSLEnhanced::QueryVersion(std::uint16_t* out)
{
    return queryVersion_ != nullptr ? queryVersion_(out) : 0;
}

platform::LRESULT CVSLEnhanced::WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (message == kCommand || message == kCommandAlt) {
        OnClientCommand(wParam, lParam);
        return 0;
    }
    return CHiddenWnd::WindowProc(message, wParam, lParam);
}

void CVSLEnhanced::ClearLink()
{
    profileAccepted_ = 0;
    profileId_ = 0;
    requestFlags_ = 0;
    missCount_ = 0;
    transmitting_ = 0;
    cursorFlag_ = 1;
}

void CVSLEnhanced::OnClientCommand(platform::WPARAM code, platform::LPARAM argument)
{
    const auto arg = static_cast<std::uint32_t>(argument);
    switch (code) {
    case OV_CMD_REGISTER_PROFILE: {
        if (profileId_.load() != 0) {
            SetLastError(OV_ALREADY_REGISTERED);
            break;
        }
        const std::int32_t accepted = OnProfileId(arg);
        profileAccepted_ = accepted;
        if (accepted != 0)
            profileId_ = arg;
        else
            SetLastError(OV_PROFILE_REFUSED); // the id stays free for another try
        break;
    }
    case OV_CMD_REGISTER_WINDOW: {
        if (client_.load() != 0) {
            SetLastError(OV_ALREADY_REGISTERED);
            break;
        }
        const auto handle = static_cast<platform::HWND>(arg);
        // What the handle is decides how the watchdog checks it: a window
        // of ours, else an X11 window, else the life of the process that
        // sent this command.
        ClientKind kind = ClientKind::MessageWindow;
        std::unique_ptr<platform::life::Watch> watch;
        if (!platform::isWindow(handle)) {
            watch = platform::life::watchX11Window(handle);
            kind = ClientKind::X11Window;
            if (!watch) {
                watch = platform::life::watchProcess(platform::messageSenderPid());
                kind = watch ? ClientKind::Process : ClientKind::Unchecked;
            }
        }
        SetWatch(std::move(watch));
        clientKind_ = kind;
        if (platform::debug::enabled()) {
            static constexpr const char* kKinds[] = {"none", "a window of ours", "an X11 window", "its process",
                                                     "nothing (the watchdog's 500 checks)"};
            platform::debug::output("game link: client " + std::to_string(handle) + " registered, watched by " +
                                    kKinds[static_cast<int>(kind)]);
        }
        missCount_ = 0;
        client_ = kRegistered | handle;
        OnRegisterWindow(handle);
        break;
    }
    case OV_CMD_UNREGISTER_WINDOW:
        client_ = 0;
        ClearLink();
        SetWatch(nullptr);
        OnClientGone();
        break;
    case OV_CMD_REQUEST_DATA:
        requestFlags_ = arg;
        OnRequestData(arg);
        break;
    case OV_CMD_1040: {
        const auto client = static_cast<platform::HWND>(client_.load());
        // Without a registered window the posts go to no window: they land
        // in this thread's own queue and are dropped by the loop.
        const platform::LPARAM first = client != 0 ? 0x104 : static_cast<platform::LPARAM>((arg << 8) | 4);
        platform::postMessage(client, kCommand, 8, first);
        platform::postMessage(client, kCommand, 8, 0x200);
        OnCommand1040();
        break;
    }
    case OV_CMD_START_DATA:
        transmitting_ = 1;
        OnStartData();
        break;
    case OV_CMD_STOP_DATA:
        transmitting_ = 0;
        OnStopData();
        break;
    case OV_CMD_START_CURSOR:
        cursorFlag_ = 1;
        OnStartCursor();
        break;
    case OV_CMD_STOP_CURSOR:
        cursorFlag_ = 0;
        OnStopCursor();
        break;
    case OV_CMD_RECENTER:
        OnRecenter();
        break;
    default:
        break;
    }
}

int CVSLEnhanced::PublishPose(float x, float y, float z, float roll, float pitch, float yaw)
{
    OVPosePacket copy;
    {
        std::lock_guard lock(recordMutex_);
        record_.value[0] = roll;
        record_.value[1] = pitch;
        record_.value[2] = yaw;
        record_.value[3] = x;
        record_.value[4] = y;
        record_.value[5] = z;
        if (transmitting_.load() != 0)
            record_.frame = record_.frame >= kLastFrame ? 1 : static_cast<std::uint16_t>(record_.frame + 1);
        copy = record_;
    }
    if (client_.load() != 0 && profileAccepted_.load() != 0) {
        // At most 25 ms under the library's mutex; a failed copy is not
        // retried. Once a copy timed out (a client stopped holding the
        // mutex), later frames only try the lock until one gets through, so
        // the stall costs one wait, not one per frame.
        const int result = copyStalled_.load() && trySetData_ != nullptr ? trySetData_(&copy) : SetData(copy);
        copyStalled_.store(result == OV_MUTEX_TIMEOUT);
    }
    CheckClientWindow();
    return 1;
}

OVPosePacket CVSLEnhanced::PoseRecord() const
{
    std::lock_guard lock(recordMutex_);
    return record_;
}

void CVSLEnhanced::SetWatch(std::unique_ptr<platform::life::Watch> watch)
{
    std::unique_ptr<platform::life::Watch> old;
    {
        std::lock_guard lock(watchMutex_);
        old = std::exchange(watch_, std::move(watch));
    }
    // The old one ends outside the lock (an X11 watch joins its thread).
}

bool CVSLEnhanced::ClientAlive(platform::HWND handle, bool& definite)
{
    if (const ClientKind kind = clientKind_.load(); kind == ClientKind::MessageWindow || kind == ClientKind::Unchecked) {
        definite = false;
        return platform::isWindow(handle);
    }
    // A destroyed X11 window or an ended process never comes back.
    definite = true;
    std::lock_guard lock(watchMutex_);
    return watch_ != nullptr && watch_->alive();
}

void CVSLEnhanced::CheckClientWindow()
{
    std::uint64_t client = client_.load();
    if (client == 0)
        return;
    bool definite = false;
    if (ClientAlive(static_cast<platform::HWND>(client), definite)) {
        missCount_ = 0;
        return;
    }
    if (missCount_.fetch_add(1) + 1 <= kMaxMisses && !definite)
        return;
    // Dropped once: an unregister that got there first wins.
    if (!client_.compare_exchange_strong(client, 0))
        return;
    ClearLink();
    OnClientGone();
}

void CVSLEnhanced::OnRegisterWindow(platform::HWND) {}
void CVSLEnhanced::OnClientGone() {}
std::int32_t CVSLEnhanced::OnProfileId(std::uint32_t) { return 1; }
void CVSLEnhanced::OnCommand1040() {}
void CVSLEnhanced::OnStartData() {}
void CVSLEnhanced::OnStopData() {}
void CVSLEnhanced::OnRequestData(std::uint32_t) {}
void CVSLEnhanced::OnStartCursor() {}
void CVSLEnhanced::OnStopCursor() {}
void CVSLEnhanced::OnRecenter() {}
