#include "app/shell/sheet_hosts.h"

#include <mutex>

#include "app/shell/texts.h"
#include "windows/tracking_dlg.h"

namespace app {

void EditLiveProfile(CSnapPropertySheet& sheet, const std::function<void()>& write)
{
    {
        std::lock_guard lock(sheet.StateLock());
        write();
    }
    sheet.PushProfileToEngine();
}

// ---- profile editor ----

CSheetProfileEditorHost::CSheetProfileEditorHost(CSnapPropertySheet& sheet, IShellDialogs& dialogs,
                                                 CMonitorSlots& monitors)
    : sheet_(sheet), dialogs_(dialogs), monitors_(monitors)
{
}

void CSheetProfileEditorHost::ApplyTrackingSettings()
{
    sheet_.ProfileEdited();
}

void CSheetProfileEditorHost::Recenter() { sheet_.Engine().Recenter(); }

void CSheetProfileEditorHost::NotifyStateChanged()
{
    sheet_.PostToMainWindow(WM_UPDATE_STATUS, 0, 0);
}

void CSheetProfileEditorHost::ResetPauseState() { sheet_.ResetPauseState(); }

void CSheetProfileEditorHost::SetHotKeys(const CHotKeys& keys)
{
    if (CKeyboard* keyboard = sheet_.Keyboard())
        keyboard->SetHotKeys(keys);
}

void CSheetProfileEditorHost::RefreshActions() { sheet_.ActionMap().Refresh(); }

void CSheetProfileEditorHost::EditHotKey(int index, CHotKeys& keys)
{
    // Without a keyboard detector there is nothing to capture keys with.
    CKeyboard* keyboard = sheet_.Keyboard();
    if (keyboard == nullptr)
        return;
    dialogs_.EditHotKey(index, keys, *keyboard, sheet_.ActionMap(), sheet_.Window());
}

bool CSheetProfileEditorHost::EditCurve(CProfile& profile, int axis)
{
    return dialogs_.EditCurve(profile, axis, [this] { sheet_.PushProfileToEngine(); });
}

bool CSheetProfileEditorHost::IsWindowOpen(int window) const { return monitors_.IsOpen(window); }

void CSheetProfileEditorHost::OpenWindow(int window) { monitors_.CreateChildWindow(window); }

void CSheetProfileEditorHost::CloseWindow(int window) { monitors_.CloseChildWindow(window); }

namespace {

std::int32_t* LaunchField(CAppSettings& settings, int window)
{
    switch (window) {
    case profile_editor::kGauges:
        return &settings.ProfileLaunchGauges;
    case profile_editor::kTracking:
        return &settings.ProfileLaunchTracking;
    case profile_editor::kHeads:
        return &settings.ProfileLaunchHeads;
    case profile_editor::kGlobe:
        return &settings.ProfileLaunchGlobe;
    default:
        return nullptr;
    }
}

} // namespace

std::int32_t CSheetProfileEditorHost::LaunchFlag(int window) const
{
    const std::int32_t* field = LaunchField(sheet_.Settings(), window);
    return field != nullptr ? *field : 0;
}

void CSheetProfileEditorHost::SetLaunchFlag(int window, std::int32_t value)
{
    if (std::int32_t* field = LaunchField(sheet_.Settings(), window)) {
        std::lock_guard lock(sheet_.StateLock());
        *field = value;
    }
}

void CSheetProfileEditorHost::SaveSettings() { sheet_.SaveSettings(); }

// ---- main pages ----

CSheetPagesHost::CSheetPagesHost(CSnapPropertySheet& sheet, IShellDialogs& dialogs, IProfileEditorHost& editor,
                                 CMonitorSlots& monitors)
    : sheet_(sheet), dialogs_(dialogs), editor_(editor), monitors_(monitors)
{
}

DeviceDescription CSheetPagesHost::Device()
{
    DeviceDescription d;
    d.present = sheet_.CameraThread().DevicePresent();
    if (!d.present)
        return d;
    // The configuration block's fields are single atomic words.
    const Orvane::CameraConfigurationData& c = sheet_.CameraSystem().GetConfigurationData();
    d.modelType = c.GetModelType();
    d.modelVersion = c.GetModelVersion();
    d.hardwareRevision = c.GetHardwareRevision();
    d.serial = static_cast<std::int32_t>(c.GetSerialNumber());
    return d;
}

std::u16string CSheetPagesHost::ActiveGameName()
{
    const CGameInfo* game = sheet_.ActiveGameRecord();
    return game != nullptr ? game->Name : std::u16string();
}

void CSheetPagesHost::NotifyProfileChanged() { sheet_.NotifyPages(PN_PROFILE_CHANGED, 0, 0); }

void CSheetPagesHost::PostGameStarted(std::int32_t gameId)
{
    sheet_.PostToSheet(WM_GAME_STARTED, static_cast<platform::WPARAM>(static_cast<std::uint32_t>(gameId)), 0);
}

void CSheetPagesHost::UpdateStatus() { sheet_.PostToMainWindow(WM_UPDATE_STATUS, 0, 0); }

void CSheetPagesHost::ApplyTrackingSettings()
{
    sheet_.ProfileEdited();
}

bool CSheetPagesHost::EditProfile(CProfile& profile, bool isNew)
{
    if (!isNew)
        monitors_.Message(kSlotTracking, CTrackingDlg::kEnableSettingsMessage, 0);
    const bool ok = dialogs_.EditProfile(profile, isNew, editor_);
    if (!isNew)
        monitors_.Message(kSlotTracking, CTrackingDlg::kEnableSettingsMessage, 1);
    // A cancelled edit restores the profile after this returns; the page then
    // activates a profile again, which hands it to the engine.
    return ok;
}

bool CSheetPagesHost::ConfirmDelete(std::u16string_view name)
{
    return dialogs_.Ask(FormatText(Text(ids::kDeleteProfile), {name}));
}

std::u16string CSheetPagesHost::Text(unsigned id)
{
    return texts_ ? texts_->Get(id) : std::u16string(BuiltInText(id));
}

std::int32_t CSheetPagesHost::TitleFilter() { return sheet_.Settings().TitleFilter; }

void CSheetPagesHost::SetTitleFilter(std::int32_t filter)
{
    {
        std::lock_guard lock(sheet_.StateLock());
        sheet_.Settings().TitleFilter = filter;
    }
    sheet_.SaveSettings();
}

bool CSheetPagesHost::IsFavorite(std::int32_t profileId)
{
    return sheet_.Settings().IsFavorite(static_cast<std::uint32_t>(profileId)) != 0;
}

void CSheetPagesHost::SetFavorite(std::int32_t profileId, bool favourite)
{
    const auto id = static_cast<std::uint32_t>(profileId);
    {
        std::lock_guard lock(sheet_.StateLock());
        CAppSettings& s = sheet_.Settings();
        // Every copy goes, so that a list with duplicates ends up clean.
        while (s.IsFavorite(id) != 0)
            s.RemoveFavorite(id);
        if (favourite)
            s.AddFavorite(id);
    }
    sheet_.SaveSettings();
}

int CSheetPagesHost::QueryNews(CNewsReply& reply) { return sheet_.UpdateService().QueryNews(reply); }

void CSheetPagesHost::SaveLastNewsVersion(std::int32_t version)
{
    sheet_.AppProfile().WriteProfileInt("Settings", "LastNewsVersion", version);
}

// ---- camera settings ----

int CSheetTrackingSettingsHost::MotionType() const
{
    const CProfile* p = sheet_.CurrentProfile();
    return p != nullptr ? p->MotionType : 0;
}

int CSheetTrackingSettingsHost::HardwareRevision() const
{
    return sheet_.CameraSystem().GetCamera().GetHardwareRevision();
}

} // namespace app
