#pragma once
// The main property sheet: the owner of the running system (camera system,
// tracking engine, games catalogue, profiles, settings, hot-key objects,
// camera thread). Worker threads reach it by posting to its message window;
// it also provides the engine's view of the program (IEngineHost).
#include <functional>
#include <memory>
#include <mutex>

#include "app/NewsCheck.h"
#include "app/UpdateService.h"
#include "app/app_profile.h"
#include "app/camera_thread.h"
#include "app/property_sheet.h"
#include "camera/camera_system_facade.h"
#include "engine/CameraDataProcessor.h"
#include "engine/EngineHost.h"
#include "input/ActionMap.h"
#include "input/Keyboard.h"
#include "profiles/AppSettings.h"
#include "profiles/GameList.h"
#include "profiles/Languages.h"
#include "profiles/ProfileList.h"

inline constexpr platform::UINT WM_SELECT_DEFAULT_PROFILE = 0x812D;
inline constexpr platform::UINT WM_SHOW_NEWS = 0x8131;
inline constexpr platform::UINT WM_NEWS_AVAILABLE = 0x8132;
inline constexpr platform::UINT WM_NOTIFY_PAGES = 0x8133;
// The camera thread's request to store the thresholds of the camera's
// revision (wParam) in the settings, which only the GUI thread changes.
inline constexpr platform::UINT WM_STORE_THRESHOLDS = 0x8134;
inline constexpr platform::UINT WM_KEYDOWN_ = 0x0100;
inline constexpr platform::UINT WM_KEYUP_ = 0x0101;
inline constexpr platform::UINT PBT_APMSUSPEND = 4;
inline constexpr platform::UINT PBT_APMRESUMESUSPEND = 7;
// Text 5126, asked when the news server has something new.
inline constexpr unsigned kNewsQuestionId = 5126;
inline constexpr std::u16string_view kNewsQuestion = u"Updated news is available.  View news now?";

// What the sheet asks of the main frame's monitor windows when a game comes
// and goes.
class IFrameWindows {
public:
    virtual ~IFrameWindows() = default;
    // Re-opens the windows marked for re-opening (unless forced, only while
    // the frame is shown and not minimised).
    virtual void ShowChildWindows(bool force) = 0;
    // Closes every monitor window; `remember` marks the open ones for re-opening.
    virtual void CloseChildWindows(bool remember) = 0;
};

class CSnapPropertySheet : public CPropertySheetBase, public IEngineHost {
    Q_OBJECT
public:
    static constexpr std::uintptr_t kRecenterTimer = 100;
    static constexpr std::uint32_t kRecenterDelayMs = 250;
    static constexpr int kCameraNumber = Orvane::CameraSystemFacade::FirstManagedCamera;
    static constexpr std::uintptr_t kNewsTimer = 101;
    // A week between news checks.
    static constexpr std::uint32_t kNewsIntervalMs = 604'800'000;
    static constexpr std::int32_t kNoNotifyGameId = 1003;

    struct Config {
        // Makes the camera system (the device camera of the chosen backend).
        std::function<std::unique_ptr<Orvane::CameraSystemFacade>()> makeCameraSystem;
        std::shared_ptr<platform::registry::Store> registry = platform::registry::defaultStore();
        CCameraDataProcessor::Options engine;
        CCameraThread::Options cameraThread;
        // Loads the catalogue; null: the shipped files of the working folder.
        std::function<int(CGameList&)> loadCatalogue;
        // The keyboard detector; null: CKeyboard::Create.
        std::function<std::unique_ptr<CKeyboard>()> makeKeyboard;
        // The main window, told of status changes (0: none).
        platform::HWND mainWindow = 0;
        // The settings file, relative to the working folder.
        std::filesystem::path settingsFile = CAppSettings::kFileName;
        // The input devices of the action map (null: the system's).
        std::unique_ptr<platform::devices::ButtonSource> buttons;
        platform::Clock* pollClock = nullptr;
        // The update and news service's HTTP client (null: the sheet's own
        // libcurl client) and its server ("": ORVANE_SERVICE_URL or the maker's).
        platform::http::Client* http = nullptr;
        std::string serviceUrl;
        std::uint32_t newsIntervalMs = kNewsIntervalMs;
        // Asks the news question (text 5126, "Updated news is available.
        // View news now?"); true on Yes. Null: a message box.
        std::function<bool(std::u16string_view question)> askShowNews;
        // Tells the user something (a profile file that cannot be read);
        // null: a message box.
        std::function<void(std::u16string_view)> tellUser;
        // The interface language's texts; null: the built-in English ones.
        TextLookup texts;
    };

    explicit CSnapPropertySheet(Config config, QWidget* parent = nullptr);
    ~CSnapPropertySheet() override;

    // Starts everything (the window's creation); 0, or -1 without a window.
    int OnCreate();
    // Stops everything in order; joins every thread.
    void OnDestroy();

    platform::HWND Window() const { return hwnd_; }
    platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

    void ActivateProfile(CProfile* profile);
    CProfile* CurrentProfile() const { return current_; }
    // After the current profile or the tracking settings were edited.
    void ProfileEdited();
    void ApplyTrackingSettings();
    void ApplyCameraOptions();
    void ReapplyCameraOptions();
    void ApplyScorerLimits();
    void SetIlluminationLeds();
    void ResetPauseState();
    // Saves the settings (after every change); 0 when written.
    int SaveSettings();
    // Hands the current profile, the game limits and the settings to the
    // engine and the camera thread (after the live profile was edited).
    void PushProfileToEngine() { RefreshEngineCopies(); }

    void SetIrLeds(bool on);
    void SetCaseLight(bool on) override;
    void SetRedLight(bool on);
    void SetGreenLight(bool on);

    void WakeCameraThread() { cameraThread_->Wake(); }
    void StopCameraThread();
    void SetViewsEnabled(bool on) { cameraThread_->SetViewsEnabled(on); }
    unsigned GetViewsVersion() const { return cameraThread_->GetViewsVersion(); }
    // A device arrival or removal reported to the main window.
    void OnDeviceChange();
    // Power notices (suspend 4, resume 7).
    void OnPowerBroadcast(platform::WPARAM event);

    platform::LRESULT OnHotKeyKey(platform::WPARAM wParam, platform::LPARAM lParam);
    platform::LRESULT OnHotKeyAction(platform::WPARAM wParam, platform::LPARAM lParam);
    void OnGameStarted(std::int32_t id);
    void OnActiveGame(std::int32_t id, int flag);

    // The news check: one query on the news thread; news newer than the last
    // seen posts WM_NEWS_AVAILABLE with the news version.
    void StartNewsThread();
    bool NewsThreadRunning() const { return news_ && news_->Running(); }
    // Timer 101 while PeriodicNewsCheck is on, else killed.
    void SetNewsTimer();
    // Asks whether to show the news; Yes shows the News page, No stores the
    // version as seen.
    void OnNewsAvailable(std::int32_t version);
    // The update service for the camera now attached.
    CUpdateService UpdateService();
    // The frame's monitor windows, told of games starting and ending.
    void SetFrameWindows(IFrameWindows* windows) { frameWindows_ = windows; }
    // The per-user profile ("Settings", "windows", window placements).
    app::CAppProfile& AppProfile() { return appProfile_; }
    const std::filesystem::path& PoseFile() const { return config_.engine.poseFile; }
    // The camera's serial number (0 before a camera started).
    std::uint32_t CameraSerial();
    // The active game's catalogue record; null when the id is not listed.
    const CGameInfo* ActiveGameRecord() const;

    CGameList& Catalogue() { return catalogue_; }
    CLanguageList& Languages() { return languages_; }
    CProfileList& Profiles() { return profiles_; }
    // The settings and the current profile belong to the GUI thread. The
    // engine and the camera thread work on copies, refreshed by
    // SaveSettings, ActivateProfile and PushProfileToEngine; writers that
    // may race a copy being taken hold this lock.
    CAppSettings& Settings() { return settings_; }
    platform::CriticalSection& StateLock() { return stateLock_; }
    Orvane::CameraSystemFacade& CameraSystem() { return *camera_; }
    CCameraDataProcessor& Engine() { return *engine_; }
    CCameraThread& CameraThread() { return *cameraThread_; }
    CActionMap& ActionMap() { return actionMap_; }
    CKeyboard* Keyboard() const { return keyboard_.get(); }
    bool PauseState() const { return pauseState_ != 0; }

    // ---- IEngineHost ----
    void CopyProfile(CEngineProfile& out) override;
    std::int32_t CameraRotation() override;
    void CopyGameLimits(CEngineLimits& out) override;
    std::int32_t ActiveGameId() override { return activeGameId_.load(); }
    bool CaseStatusLightOption() override;
    void PostToSheet(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) override;
    void PostToMainWindow(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) override;

private:
    class CameraHost;
    class FacadeControl;

    // The camera options after a start on the camera thread: from the copy
    // of the settings; the thresholds are stored by the GUI thread.
    void ApplyCameraOptionsOnCameraThread();
    void DriveCameraOptions(int revision);
    void StoreThresholds(int revision);
    platform::LRESULT Center(platform::WPARAM keyState);
    platform::LRESULT Pause(platform::WPARAM keyState);
    platform::LRESULT Precision(platform::WPARAM keyState);
    // Whether the current profile's key of the function toggles.
    bool IsToggle(int function) const;
    void RefreshEngineCopies();

    Config config_;
    CGameList catalogue_;
    CProfileList profiles_;
    CLanguageList languages_;
    CAppSettings settings_;
    app::CAppProfile appProfile_;
    std::unique_ptr<Orvane::CameraSystemFacade> camera_;
    std::unique_ptr<CCameraDataProcessor> engine_;
    CProfile* current_ = nullptr;
    std::unique_ptr<CKeyboard> keyboard_;
    CActionMap actionMap_;
    std::unique_ptr<CInputPoller> poller_;
    std::unique_ptr<FacadeControl> control_;
    std::unique_ptr<CameraHost> cameraHost_;
    std::unique_ptr<CCameraThread> cameraThread_;
    platform::HWND hwnd_ = 0;
    bool created_ = false;
    IFrameWindows* frameWindows_ = nullptr;
    std::unique_ptr<platform::http::Client> ownHttp_;
    std::unique_ptr<CUpdateService> newsService_;
    std::unique_ptr<CNewsCheck> news_;

    int pauseLatch_ = 0;
    int pauseState_ = 0;
    int precisionLatch_ = 0;
    std::atomic<bool> redLight_{false};
    std::atomic<bool> caseLight_{false};
    std::atomic<std::int32_t> activeGameId_{-1};
    const CGameInfo* activeGame_ = nullptr;

    mutable platform::CriticalSection stateLock_;
    // What the engine copies each frame, refreshed on the user-interface thread.
    std::mutex copyLock_;
    CEngineProfile engineProfile_;
    CEngineLimits engineLimits_ = FullRangeLimits();
    std::int32_t cameraRotation_ = 0;
    bool caseLightOption_ = true;
    // What the camera thread reads after a camera start.
    CTrackingSettings cameraSettings_;
    std::int32_t cameraMotionType_ = 0;
};
