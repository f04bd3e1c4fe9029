#include "app/snap_property_sheet.h"

#include <cstring>

#include <QMessageBox>

#include "camera/camera_manager.h"

#include "camera/camera.h"
#include "engine/pose_models.h"
#include "platform/debug.h"

namespace {

constexpr platform::UINT kDeviceChangeMessage = 0x0219; // WM_DEVICECHANGE from the camera manager
constexpr platform::UINT kPowerMessage = 0x0218;        // WM_POWERBROADCAST

bool IsActiveClip(std::int32_t motionType) { return motionType == 2 || motionType == 3; }

} // namespace

// The camera thread's view of the facade.
class CSnapPropertySheet::FacadeControl final : public ICameraControl {
public:
    FacadeControl(CSnapPropertySheet& sheet) : sheet_(sheet) {}
    void RegisterNotificationWindow() override
    {
        const platform::HWND main = sheet_.config_.mainWindow;
        Orvane::CameraSystemFacade::RegisterNotificationWindow([main](unsigned message, unsigned w, long l) {
            if (main != 0)
                platform::postMessage(main, message, w, l);
        });
    }
    void ProbeForDevices() override { camera().ProbeForDevices(); }
    bool Start(bool green, bool illumination) override { return camera().Start(green, illumination); }
    void Stop() override { camera().Stop(); }
    void CancelStarts(bool cancel) override
    {
        if (Orvane::Camera* device = camera().GetCamera().GetDevice())
            device->CancelStarts(cancel);
    }
    bool IsDevicePresent() override { return camera().IsDevicePresent(); }
    bool IsUsbDeviceOpen() override { return camera().IsUsbDeviceOpen(); }
    void SetCameraNumber(int number) override { camera().SetCameraNumber(number); }
    // The generic driver's cameras are the ones the camera manager lists;
    // the first of them is the one to start when the own driver has none.
    bool QueryUsbDriver(int& number) override
    {
        const auto cameras = Orvane::CameraManager::X().GetCameras();
        if (cameras.empty())
            return false;
        number = cameras.front().GetDeviceIndex();
        return true;
    }
    unsigned char ReadLeds() override
    {
        Orvane::Camera* device = camera().GetCamera().GetDevice();
        return device != nullptr ? device->ReadLeds() : 0;
    }
    int ReadConfiguration() override { return camera().GetCamera().GetHardwareRevision(); }
    bool ReadCameraStatus(std::array<std::uint8_t, 5>& status) override
    {
        Orvane::Camera* device = camera().GetCamera().GetDevice();
        _OV_RESERVED raw{};
        if (device == nullptr || !device->ReadCameraStatus(&raw))
            return false;
        std::memcpy(status.data(), &raw, status.size());
        return true;
    }

private:
    Orvane::CameraSystemFacade& camera() { return *sheet_.camera_; }
    CSnapPropertySheet& sheet_;
};

class CSnapPropertySheet::CameraHost final : public ICameraThreadHost {
public:
    explicit CameraHost(CSnapPropertySheet& sheet) : sheet_(sheet) {}
    void PostNotifyPages(platform::UINT code) override { platform::postMessage(sheet_.hwnd_, WM_NOTIFY_PAGES, code, 0); }
    void PostUpdateStatus() override { sheet_.PostToMainWindow(WM_UPDATE_STATUS, 0, 0); }
    void OnCameraStarted() override
    {
        sheet_.ApplyCameraOptionsOnCameraThread();
        sheet_.engine_->SetupCamera();
    }
    void SetRecenterTimer() override { platform::setTimer(sheet_.hwnd_, kRecenterTimer, kRecenterDelayMs); }

private:
    CSnapPropertySheet& sheet_;
};

CSnapPropertySheet::CSnapPropertySheet(Config config, QWidget* parent)
    : CPropertySheetBase(QString(), parent),
      config_(std::move(config)),
      profiles_(config_.registry),
      appProfile_(config_.registry),
      camera_(config_.makeCameraSystem()),
      actionMap_(std::move(config_.buttons))
{
    engine_ = std::make_unique<CCameraDataProcessor>(*this, *camera_, config_.engine);
    control_ = std::make_unique<FacadeControl>(*this);
    cameraHost_ = std::make_unique<CameraHost>(*this);
    cameraThread_ = std::make_unique<CCameraThread>(*control_, *cameraHost_, config_.cameraThread);
    if (config_.http == nullptr) {
        ownHttp_ = std::make_unique<platform::http::CurlClient>();
        config_.http = ownHttp_.get();
    }
    SetRunFlag(false);
}

CSnapPropertySheet::~CSnapPropertySheet()
{
    OnDestroy();
    if (hwnd_ != 0)
        platform::destroyWindow(hwnd_);
    // The engine's threads call back into the sheet (a game's end turns the
    // case light off through the camera thread): they end before the
    // members they call are gone.
    engine_.reset();
}

int CSnapPropertySheet::OnCreate()
{
    if (created_)
        return 0;
    // Not listed with the session's windows: only this program's threads
    // post the sheet its messages, through its handle.
    hwnd_ = platform::createWindow({"OrvaneSnapSheet", "", false},
                                   [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                                       return WindowProc(m, w, l);
                                   });
    if (hwnd_ == 0)
        return -1;
    created_ = true;

    keyboard_ = config_.makeKeyboard ? config_.makeKeyboard() : CKeyboard::Create();
    if (keyboard_ && !keyboard_->Install(hwnd_, WM_HOTKEY_KEY))
        platform::debug::output("The keyboard hot keys could not be installed.\n");
    actionMap_.Create(hwnd_);

    if (config_.loadCatalogue)
        config_.loadCatalogue(catalogue_);
    else
        catalogue_.Load();
    OnActiveGame(-1, -1);

    const std::function<void(std::u16string_view)> tell =
        config_.tellUser ? config_.tellUser : [this](std::u16string_view text) {
            QMessageBox::warning(this, QStringLiteral("Vistrel"),
                                 QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
        };
    profiles_.SetUserMessages(tell);
    profiles_.SetTexts(config_.texts);
    profiles_.LoadAll(catalogue_);
    ActivateProfile(profiles_.SelectStartProfile());

    languages_.Build();

    std::filesystem::path damagedSettings;
    {
        std::lock_guard lock(stateLock_);
        // This instance is the only one: what an interrupted save left
        // beside the settings can go.
        CAppSettings::RemoveLeftovers(config_.settingsFile);
        settings_.LoadOrCreate(config_.settingsFile, &damagedSettings);
    }
    // What a recording cut short by a kill recorded is the user's: it is
    // kept under a name of its own, as a recording that could not be saved.
    for (const std::filesystem::path& kept : CPoseFileWriter::RecoverLeftovers(config_.engine.poseFile))
        platform::debug::output("A recording cut short was kept as " + kept.string() + ".\n");
    if (!damagedSettings.empty())
        tell(CAppSettings::DamagedMessage(damagedSettings,
                                          LanguageText(config_.texts, kSettingsDamagedId, kSettingsDamaged)));
    RefreshEngineCopies();

    SetRunFlag(true);
    cameraThread_->Start();

    engine_->SetupCamera();
    engine_->Start();
    ApplyTrackingSettings();

    caseLight_.store(false);
    ResetPauseState();
    ApplyCameraOptions();

    poller_ = std::make_unique<CInputPoller>(actionMap_, config_.pollClock ? *config_.pollClock : platform::systemClock());
    poller_->Start();

    bool periodicNews = false;
    {
        std::lock_guard lock(stateLock_);
        periodicNews = settings_.PeriodicNewsCheck != 0;
    }
    if (periodicNews)
        StartNewsThread();
    SetNewsTimer();

    cameraThread_->SetViewsEnabled(true);
    return 0;
}

void CSnapPropertySheet::StopCameraThread()
{
    SetRunFlag(false);
    cameraThread_->Stop();
}

void CSnapPropertySheet::OnDestroy()
{
    if (!created_)
        return;
    created_ = false;
    // The view library goes first, while the camera still runs under it.
    StopCameraThread();
    if (poller_)
        poller_->Stop();
    // The news query is bounded by the service's time-outs.
    news_.reset();
    newsService_.reset();
    if (keyboard_)
        keyboard_->Uninstall();
    engine_->Stop();
    camera_->Stop();
    platform::killTimer(hwnd_, kRecenterTimer);
    platform::killTimer(hwnd_, kNewsTimer);
}

CUpdateService CSnapPropertySheet::UpdateService()
{
    CUpdateService::Config c;
    // Updates are judged against, and go where, the catalogue loader looks.
    const CCatalogueFolders catalogue = ProgramCatalogueFolders();
    c.folder = catalogue.updates;
    c.shippedCatalogueFolder = catalogue.shipped;
    if (!config_.serviceUrl.empty())
        c.serviceUrl = config_.serviceUrl;
    c.cameraSerial = CameraSerial();
    return CUpdateService(*config_.http, std::move(c));
}

std::uint32_t CSnapPropertySheet::CameraSerial()
{
    return static_cast<std::uint32_t>(camera_->GetConfigurationData().GetSerialNumber());
}

void CSnapPropertySheet::StartNewsThread()
{
    if (NewsThreadRunning())
        return;
    news_.reset();
    newsService_ = std::make_unique<CUpdateService>(UpdateService());
    // The last version seen is read here, on the GUI thread; the news
    // thread only queries and posts.
    const std::int32_t last = appProfile_.GetProfileInt("Settings", "LastNewsVersion", 0);
    news_ = std::make_unique<CNewsCheck>(
        *newsService_, [last] { return last; },
        [this](const CNewsReply& reply) {
            PostToSheet(WM_NEWS_AVAILABLE, static_cast<platform::WPARAM>(static_cast<std::uint32_t>(reply.URLVersion)),
                        0);
        });
    news_->Start();
}

void CSnapPropertySheet::SetNewsTimer()
{
    if (hwnd_ == 0)
        return;
    bool on = false;
    {
        std::lock_guard lock(stateLock_);
        on = settings_.PeriodicNewsCheck != 0;
    }
    if (on)
        platform::setTimer(hwnd_, kNewsTimer, config_.newsIntervalMs);
    else
        platform::killTimer(hwnd_, kNewsTimer);
}

void CSnapPropertySheet::OnNewsAvailable(std::int32_t version)
{
    const std::u16string question = LanguageText(config_.texts, kNewsQuestionId, kNewsQuestion);
    const bool show = config_.askShowNews
                          ? config_.askShowNews(question)
                          : QMessageBox::question(this, QStringLiteral("Vistrel"), QString::fromStdU16String(question),
                                                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    if (show)
        PostToSheet(WM_SHOW_NEWS, 0, 0);
    else
        appProfile_.WriteProfileInt("Settings", "LastNewsVersion", version);
}

const CGameInfo* CSnapPropertySheet::ActiveGameRecord() const
{
    const int index = catalogue_.FindById(activeGameId_.load());
    return index >= 0 ? catalogue_.GetAt(index) : nullptr;
}

platform::LRESULT CSnapPropertySheet::WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    switch (message) {
    case WM_HOTKEY_KEY:
        return OnHotKeyKey(wParam, lParam);
    case WM_HOTKEY_ACTION:
        return OnHotKeyAction(wParam, lParam);
    case WM_SELECT_DEFAULT_PROFILE:
        // Its tracking settings (the clip model) go to the engine here, as
        // for a game start: the pages that would apply them may have no
        // window yet.
        ActivateProfile(profiles_.FindDefault());
        ApplyTrackingSettings();
        NotifyPages(app::PN_PROFILE_CHANGED, 0, 0);
        return 0;
    case WM_GAME_STARTED:
        OnGameStarted(static_cast<std::int32_t>(wParam));
        return 0;
    case WM_ACTIVE_GAME:
        OnActiveGame(static_cast<std::int32_t>(wParam), 0);
        return 0;
    case WM_SHOW_NEWS:
        if (PageCount() > 2)
            SetActivePage(2);
        return 0;
    case WM_NEWS_AVAILABLE:
        OnNewsAvailable(static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam)));
        return 0;
    case WM_STORE_THRESHOLDS:
        StoreThresholds(static_cast<int>(wParam));
        return 0;
    case WM_NOTIFY_PAGES:
        NotifyPages(static_cast<platform::UINT>(wParam), 0, 0);
        return 0;
    case platform::WM_TIMER:
        if (wParam == kRecenterTimer) {
            engine_->Recenter();
            platform::killTimer(hwnd_, kRecenterTimer);
        } else if (wParam == kNewsTimer) {
            StartNewsThread();
        }
        return 0;
    case kDeviceChangeMessage:
        OnDeviceChange();
        return 1;
    case kPowerMessage:
        OnPowerBroadcast(wParam);
        return 1;
    default:
        return 0;
    }
}

void CSnapPropertySheet::OnDeviceChange()
{
    cameraThread_->Wake();
    NotifyPages(app::PN_DEVICE_CHANGE, 0, 0);
}

void CSnapPropertySheet::OnPowerBroadcast(platform::WPARAM event)
{
    if (event == PBT_APMSUSPEND)
        cameraThread_->Suspend();
    else if (event == PBT_APMRESUMESUSPEND)
        cameraThread_->Resume();
}

void CSnapPropertySheet::ActivateProfile(CProfile* profile)
{
    {
        std::lock_guard lock(stateLock_);
        current_ = profile;
    }
    if (profile != nullptr && keyboard_) {
        keyboard_->SetHotKeys(profile->HotKeys);
        actionMap_.ClearBindings();
        actionMap_.AddHotKeys(profile->HotKeys, WM_HOTKEY_ACTION);
    }
    RefreshEngineCopies();
    PostToMainWindow(WM_UPDATE_STATUS, 0, 0);
    if (platform::debug::enabled())
        platform::debug::output("Current profile: " +
                                (profile != nullptr ? QString::fromStdU16String(profile->Name).toStdString()
                                                    : std::string("none")));
}

void CSnapPropertySheet::ProfileEdited()
{
    RefreshEngineCopies();
    ApplyTrackingSettings();
}

void CSnapPropertySheet::RefreshEngineCopies()
{
    std::lock_guard state(stateLock_);
    CEngineProfile profile;
    if (current_ != nullptr)
        CopyEngineProfile(*current_, profile);
    CEngineLimits limits = FullRangeLimits();
    if (activeGame_ != nullptr)
        CopyEngineLimits(*activeGame_, limits);
    std::lock_guard lock(copyLock_);
    engineProfile_ = profile;
    engineLimits_ = limits;
    cameraRotation_ = settings_.Tracking.CameraRotation;
    cameraSettings_ = settings_.Tracking;
    cameraMotionType_ = current_ != nullptr ? current_->MotionType : 0;
}

int CSnapPropertySheet::SaveSettings()
{
    RefreshEngineCopies();
    std::lock_guard lock(stateLock_);
    return settings_.Save(config_.settingsFile);
}

void CSnapPropertySheet::OnGameStarted(std::int32_t id)
{
    CProfile* profile = profiles_.SelectProfileForGame(current_, catalogue_, id);
    if (profile == nullptr)
        return;
    ActivateProfile(profile);
    ApplyTrackingSettings();
    NotifyPages(app::PN_PROFILE_CHANGED, 0, 0);
    PostToMainWindow(WM_UPDATE_STATUS, 0, 0);
}

void CSnapPropertySheet::OnActiveGame(std::int32_t id, int flag)
{
    activeGameId_.store(id);
    const int index = catalogue_.FindById(id);
    activeGame_ = catalogue_.GetAt(index >= 0 ? index : 0);
    const CGameInfo* listed = index >= 0 ? activeGame_ : nullptr;
    engine_->SetApplicationIds(listed ? listed->ApplicationID[0] : 0u, listed ? listed->ApplicationID[1] : 0u);
    RefreshEngineCopies();
    if (flag == -1)
        return;
    NotifyPages(app::PN_GAME_CHANGED, 0, 0);
    if (frameWindows_ == nullptr)
        return;
    if (id == -1)
        frameWindows_->ShowChildWindows(false);
    else
        frameWindows_->CloseChildWindows(id != kNoNotifyGameId);
}

bool CSnapPropertySheet::IsToggle(int function) const
{
    if (current_ == nullptr || function < 0 || function >= current_->HotKeys.GetSize())
        return false;
    return current_->HotKeys.GetAt(function).Toggle != 0;
}

platform::LRESULT CSnapPropertySheet::OnHotKeyKey(platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (current_ == nullptr)
        return 0;
    const int function = current_->HotKeys.FindKey(static_cast<std::uint32_t>(lParam));
    return OnHotKeyAction(wParam, function);
}

platform::LRESULT CSnapPropertySheet::OnHotKeyAction(platform::WPARAM wParam, platform::LPARAM lParam)
{
    platform::LRESULT result = 0;
    switch (lParam) {
    case 0:
        result = Center(wParam);
        break;
    case 1:
        result = Pause(wParam);
        break;
    case 2:
        result = Precision(wParam);
        break;
    default:
        return 0;
    }
    // What each press and release did, for whoever reads the debug output.
    if (platform::debug::enabled()) {
        static constexpr const char* kNames[] = {"Center", "Pause", "Precision"};
        platform::debug::output(std::string("Hot key ") + kNames[lParam] + (wParam == WM_KEYUP_ ? " up" : " down") +
                                ": paused " + (engine_->IsPaused() ? "1" : "0") + ", precision " +
                                (engine_->IsPrecision() ? "1" : "0"));
    }
    return result;
}

platform::LRESULT CSnapPropertySheet::Center(platform::WPARAM keyState)
{
    if (keyState == WM_KEYDOWN_)
        engine_->Recenter();
    return 1;
}

platform::LRESULT CSnapPropertySheet::Pause(platform::WPARAM keyState)
{
    const bool toggle = IsToggle(1);
    if (toggle) {
        if (keyState == WM_KEYUP_) {
            pauseLatch_ = 0;
            return 0;
        }
        if (pauseLatch_ != 0)
            return 1;
        pauseLatch_ = 1;
        if (pauseState_ != 0) {
            SetRedLight(false);
            engine_->SetPaused(false);
            pauseState_ = 0;
        } else {
            SetRedLight(true);
            engine_->SetPaused(true);
            pauseState_ = 1;
        }
    } else {
        if (keyState == WM_KEYUP_) {
            SetRedLight(true);
            engine_->SetPaused(true);
            pauseLatch_ = 0;
        } else {
            if (pauseLatch_ != 0)
                return 1;
            SetRedLight(false);
            engine_->SetPaused(false);
            pauseLatch_ = 1;
        }
    }
    PostToMainWindow(WM_UPDATE_STATUS, 0, 0);
    return 0;
}

platform::LRESULT CSnapPropertySheet::Precision(platform::WPARAM keyState)
{
    const bool toggle = IsToggle(2);
    if (toggle) {
        if (keyState == WM_KEYDOWN_) {
            precisionLatch_ = 1;
        } else if (keyState == WM_KEYUP_) {
            engine_->SetPrecision(!engine_->IsPrecision());
            precisionLatch_ = 0;
        }
    } else {
        if (keyState == WM_KEYDOWN_ && precisionLatch_ == 0) {
            engine_->SetPrecision(true);
            precisionLatch_ = 1;
        } else if (keyState == WM_KEYUP_) {
            engine_->SetPrecision(false);
            precisionLatch_ = 0;
        }
    }
    return 0;
}

void CSnapPropertySheet::ResetPauseState()
{
    pauseState_ = 0;
    if (IsToggle(1)) {
        engine_->SetPaused(false);
        SetRedLight(false);
    } else {
        engine_->SetPaused(true);
        SetRedLight(true);
    }
    pauseLatch_ = 0;
}

void CSnapPropertySheet::SetIrLeds(bool on)
{
    // Through the camera system, which keeps the state for the next start.
    if (on)
        camera_->IlluminationLedOn();
    else
        camera_->IlluminationLedOff();
    cameraThread_->RequestRead(CCameraThread::kReadLeds);
}

void CSnapPropertySheet::SetCaseLight(bool on)
{
    caseLight_.store(on);
    if (on)
        camera_->StatusCaseOn();
    else
        camera_->StatusCaseOff();
    cameraThread_->RequestRead(CCameraThread::kReadLeds);
}

void CSnapPropertySheet::SetRedLight(bool on)
{
    redLight_.store(on);
    if (on)
        camera_->StatusRedOn();
    else
        camera_->StatusRedOff();
    cameraThread_->RequestRead(CCameraThread::kReadLeds);
}

void CSnapPropertySheet::SetGreenLight(bool on)
{
    if (on)
        camera_->StatusGreenOn();
    else
        camera_->StatusGreenOff();
    cameraThread_->RequestRead(CCameraThread::kReadLeds);
}

void CSnapPropertySheet::SetIlluminationLeds()
{
    const bool active = current_ != nullptr && IsActiveClip(current_->MotionType);
    SetIrLeds((active ? settings_.Tracking.HalvexorLedsOn : settings_.Tracking.LedsOn) != 0);
}

void CSnapPropertySheet::ApplyCameraOptions()
{
    const int revision = camera_->GetCamera().GetHardwareRevision();
    StoreThresholds(revision);
    DriveCameraOptions(revision);
}

void CSnapPropertySheet::ApplyCameraOptionsOnCameraThread()
{
    const int revision = camera_->GetCamera().GetHardwareRevision();
    DriveCameraOptions(revision);
    PostToSheet(WM_STORE_THRESHOLDS, static_cast<platform::WPARAM>(revision), 0);
}

namespace {

// The thresholds a camera of this revision starts with (reflective and
// active-LED clips).
void SetThresholdsForRevision(CTrackingSettings& t, int revision)
{
    t.FilterThreshold = revision == 9 ? 150 : 130;
    t.HalvexorFilterThreshold = revision == 9 ? 240 : 230;
}

} // namespace

void CSnapPropertySheet::StoreThresholds(int revision)
{
    {
        std::lock_guard lock(stateLock_);
        SetThresholdsForRevision(settings_.Tracking, revision);
    }
    RefreshEngineCopies();
}

void CSnapPropertySheet::DriveCameraOptions(int revision)
{
    SetCaseLight(caseLight_.load());
    SetRedLight(redLight_.load());
    // Runs on the camera thread after each start: it reads the copy the GUI
    // thread keeps, with the thresholds of the camera's revision.
    CTrackingSettings t;
    bool active = false;
    {
        std::lock_guard lock(copyLock_);
        t = cameraSettings_;
        active = IsActiveClip(cameraMotionType_);
    }
    SetThresholdsForRevision(t, revision);
    Orvane::Camera* device = camera_->GetCamera().GetDevice();
    if (revision == 9 && device != nullptr)
        device->SetVideoType(5, true);
    // An active clip gets its own threshold after a start, as on re-apply.
    if (t.LightFiltering != 0)
        camera_->SetCameraOptions(active ? t.HalvexorFilterThreshold : t.FilterThreshold, false, false);
    SetIrLeds((active ? t.HalvexorLedsOn : t.LedsOn) != 0);
    if (revision == 9 && device != nullptr)
        device->SetExposure(active ? 150 : 399, true);
}

void CSnapPropertySheet::ReapplyCameraOptions()
{
    // The next camera start applies the same values.
    RefreshEngineCopies();
    const bool active = current_ != nullptr && IsActiveClip(current_->MotionType);
    const int revision = camera_->GetCamera().GetHardwareRevision();
    camera_->SetCameraOptions(active ? settings_.Tracking.HalvexorFilterThreshold : settings_.Tracking.FilterThreshold,
                              false, false);
    Orvane::Camera* device = camera_->GetCamera().GetDevice();
    if (revision == 9 && device != nullptr)
        device->SetExposure(active ? 150 : 399, true);
}

void CSnapPropertySheet::ApplyScorerLimits()
{
    auto set = [this](int name, double min, double max, double best) {
        if (camera_->GetScorerMinValue(name) != min || camera_->GetScorerMaxValue(name) != max ||
            camera_->GetScorerBestValue(name) != best)
            camera_->SetScorerValues(name, min, max, best);
    };
    if (settings_.Tracking.ObjectType == 1)
        set(1, 0.25, 5.0, static_cast<double>(2.2f));
    else
        set(1, 0.25, 4.0, 1.0);
    set(0, 5.0, settings_.Tracking.ObjectSizeMax, settings_.Tracking.ObjectSizeBest);
}

void CSnapPropertySheet::ApplyTrackingSettings()
{
    SetIlluminationLeds();
    ReapplyCameraOptions();
    ApplyScorerLimits();
    if (current_ == nullptr)
        return;
    int location = -1;
    switch (current_->MotionType) {
    case 0:
    case 1:
        location = 0;
        break;
    case 2:
        location = 2;
        break;
    case 3:
        location = 1;
        break;
    default:
        return;
    }
    CHeadsetModel model = CHeadsetModel::ForLocation(location);
    model.TX = model.TY = model.TZ = 0.0;
    engine_->ApplyModel(model);
    if (platform::debug::enabled())
        platform::debug::output("Clip model: mounting location " + std::to_string(location));
}

void CSnapPropertySheet::CopyProfile(CEngineProfile& out)
{
    std::lock_guard lock(copyLock_);
    out = engineProfile_;
}

std::int32_t CSnapPropertySheet::CameraRotation()
{
    std::lock_guard lock(copyLock_);
    return cameraRotation_;
}

void CSnapPropertySheet::CopyGameLimits(CEngineLimits& out)
{
    std::lock_guard lock(copyLock_);
    out = engineLimits_;
}

bool CSnapPropertySheet::CaseStatusLightOption()
{
    std::lock_guard lock(copyLock_);
    return caseLightOption_;
}

void CSnapPropertySheet::PostToSheet(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (hwnd_ != 0)
        platform::postMessage(hwnd_, message, wParam, lParam);
}

void CSnapPropertySheet::PostToMainWindow(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (config_.mainWindow != 0)
        platform::postMessage(config_.mainWindow, message, wParam, lParam);
}
