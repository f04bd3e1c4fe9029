#pragma once
// The engine's link to game clients: the hidden command window on a thread
// of its own that answers the clients' commands, and the per-frame pose
// record copied into the client library's shared section for the one client
// that is registered with an accepted program profile id.
//
// The client library is loaded at run time from the folder the registry
// names; without it the engine runs on and nothing is published.
//
// The window a client registers is checked by the watchdog for as long as
// it holds the link. It may be a window of our message layer (dropped after
// more than 500 checks that find it gone), an X11 window on the display
// (dropped at the first check after it was destroyed), or, when the handle
// is neither (0 included), it stands for the registering process, which is
// dropped at the first check after it ended. A game that exits without
// unregistering thus frees the link within a frame or two.
//
// A derived class that overrides the On... operations must call Stop() in
// its own destructor, so that the command thread never calls into a
// half-destroyed object.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "client/ovclient.h"
#include "engine/HiddenWnd.h"
#include "platform/life_watch.h"
#include "platform/messages.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/sync.h"

class CVSLEnhanced : public CHiddenWnd {
public:
    // The registry key and value that hold the client library's folder.
    static constexpr const char* kLocationKey = ovclient::kLocationKey;
    static constexpr const char* kLocationValue = ovclient::kLocationValue;
    static constexpr const char* kLibraryName = ovclient::kClientLibrary;
    static constexpr std::uint32_t kVersion = 0x400;
    static constexpr std::uint16_t kLastFrame = 32766;
    static constexpr std::uint32_t kMaxMisses = 500;
    static constexpr std::chrono::milliseconds kDefaultStopWait{5000};
    static constexpr int kThreadExitCode = 87;

    // The command thread is made by `threads` (null: the system's).
    explicit CVSLEnhanced(std::shared_ptr<platform::registry::Store> registry = platform::registry::defaultStore(),
                          platform::ThreadStarter* threads = nullptr);
    ~CVSLEnhanced() override;

    // Resets the link, loads the client library and, when it loaded, sets
    // the version and parameter 0, zeroes the pose record in the shared
    // section (frame counter 0) and starts the command thread (returning
    // once its window exists). Throws std::system_error when the thread
    // cannot be made.
    void Start();
    // Ends the command thread: WM_QUIT to its window, waited for at most the
    // stop wait, and the thread is always joined; then the pose record in
    // the shared section is zeroed.
    void Stop();
    void SetStopWait(std::chrono::milliseconds wait) { stopWait_ = wait; }

    // One computed frame, from the engine's worker thread (or a re-centre
    // while paused). Returns 1.
    int PublishPose(float x, float y, float z, float roll, float pitch, float yaw);
    // The watchdog: after every publish and on every untracked frame.
    void CheckClientWindow();

    // Wrappers of the bound exports: without the export, SetData returns 4
    // and the others 0, doing nothing.
    int ClientNotify(std::uint16_t type, std::uint16_t value);
    void SetVersion(std::uint16_t version);
    int SetData(const OVPosePacket& record);
    void SetLastError(std::int32_t code);
    int SetClientParameter(std::int32_t index, std::int32_t value);
    int QueryVersion(std::uint16_t* out);

    // The active game's two application ids from the catalogue (0, 0 for a
    // game it does not list); the main sheet hands them over at every game
    // change, and the link keeps them for whoever asks.
    void SetApplicationIds(std::uint32_t first, std::uint32_t second)
    {
        applicationIds_[0].store(first);
        applicationIds_[1].store(second);
    }
    std::array<std::uint32_t, 2> ApplicationIds() const { return {applicationIds_[0].load(), applicationIds_[1].load()}; }

    // What the registered handle was found to be. Unchecked: none of the
    // others could be watched (no window of ours or of the display, and the
    // sender's process is not known, as for a posted command): the
    // watchdog's rule stands, more than 500 checks without its window.
    enum class ClientKind { None, MessageWindow, X11Window, Process, Unchecked };

    // State of the link, for the engine and tests.
    bool IsLibraryLoaded() const { return library_.has_value(); }
    platform::HWND CommandWindow() const { return commandWindow_.load(); }
    // Whether a client holds the link, and the handle it registered.
    bool ClientRegistered() const { return client_.load() != 0; }
    platform::HWND ClientWindow() const { return static_cast<platform::HWND>(client_.load()); }
    ClientKind RegisteredKind() const { return client_.load() != 0 ? clientKind_.load() : ClientKind::None; }
    std::uint32_t RequestFlags() const { return requestFlags_.load(); }
    std::int32_t CursorFlag() const { return cursorFlag_.load(); }
    std::uint32_t MissCount() const { return missCount_.load(); }
    std::int32_t Transmitting() const { return transmitting_.load(); }
    std::int32_t ProfileAccepted() const { return profileAccepted_.load(); }
    std::uint32_t ProfileId() const { return profileId_.load(); }
    int ThreadExitCode() const { return exitCode_.load(); }
    // The record as last built.
    OVPosePacket PoseRecord() const;

protected:
    // What the engine adds to each command; the base does nothing, and
    // accepts every profile id.
    virtual void OnRegisterWindow(platform::HWND window);
    virtual void OnClientGone();
    virtual std::int32_t OnProfileId(std::uint32_t id);
    virtual void OnCommand1040();
    virtual void OnStartData();
    virtual void OnStopData();
    virtual void OnRequestData(std::uint32_t flags);
    virtual void OnStartCursor();
    virtual void OnStopCursor();
    virtual void OnRecenter();

    platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam) override;
    void OnClientCommand(platform::WPARAM code, platform::LPARAM argument);

    bool LoadClientLibrary();
    platform::registry::Status ReadClientLocation(std::string& folder);
    // What makes the link's thread, for the threads of an engine built on it.
    platform::ThreadStarter& Threads() const { return threads_; }

private:
    void Run();
    void ClearLink();
    void ZeroSharedRecord();
    // Whether the registered client still lives; `definite` when a "no"
    // cannot turn into a "yes" later.
    bool ClientAlive(platform::HWND handle, bool& definite);
    void SetWatch(std::unique_ptr<platform::life::Watch> watch);

    std::shared_ptr<platform::registry::Store> registry_;
    std::chrono::milliseconds stopWait_ = kDefaultStopWait;

    // Link state: written by the command thread and the watchdog. The
    // client is 0 while there is none, else kRegistered | its handle (a
    // handle of 0 registers too); only the command thread makes it non-zero,
    // after it has set the kind and the watch.
    static constexpr std::uint64_t kRegistered = std::uint64_t{1} << 32;
    std::atomic<std::uint64_t> client_{0};
    std::atomic<ClientKind> clientKind_{ClientKind::None};
    // What stands for a client's X11 window or process; replaced by the
    // command thread, asked by the watchdog, both under the lock (held for
    // a non-blocking check).
    std::mutex watchMutex_;
    std::unique_ptr<platform::life::Watch> watch_;
    std::atomic<std::uint32_t> requestFlags_{0};
    std::atomic<std::int32_t> cursorFlag_{1};
    std::atomic<std::uint32_t> missCount_{0};
    std::atomic<std::int32_t> transmitting_{0};
    std::atomic<std::int32_t> profileAccepted_{0};
    std::atomic<std::uint32_t> profileId_{0};
    std::array<std::atomic<std::uint32_t>, 2> applicationIds_{};
    std::atomic<bool> stop_{false};
    std::atomic<platform::HWND> commandWindow_{0};
    // The last copy into the library timed out: copy without waiting.
    std::atomic<bool> copyStalled_{false};
    std::atomic<int> exitCode_{0};

    platform::ThreadStarter& threads_;
    platform::Thread thread_;
    platform::Event started_{platform::Event::Reset::Manual};
    platform::Event finished_{platform::Event::Reset::Manual};

    // Built by the worker each frame, and by a re-centre while paused on
    // the command thread; held only for the build and a copy.
    mutable std::mutex recordMutex_;
    OVPosePacket record_{};

    std::optional<platform::Module> library_;
    OVPriv_ClientNotify_t clientNotify_ = nullptr;
    OVPriv_SetVersion_t setVersion_ = nullptr;
    OVPriv_SetData_t setData_ = nullptr;
    OVPriv_TrySetData_t trySetData_ = nullptr; // optional: without it every copy waits
    OVPriv_SetLastError_t setLastError_ = nullptr;
    OVPriv_SetParameter_t setParameter_ = nullptr;
    OV_QueryVersion_t queryVersion_ = nullptr;
};
