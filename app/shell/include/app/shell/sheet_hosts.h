#pragma once
// The adapters through which the pages, the profile editor, the camera
// settings dialog and the update service reach the running program: each
// implements one narrow host interface over the main sheet. What they need
// of the desktop (questions, messages, the modal editors) goes through
// IShellDialogs, so the adapters run in tests without a person.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/UpdateService.h"
#include "app/main_pages.h"
#include "app/shell/monitor_slots.h"
#include "app/shell/texts.h"
#include "app/snap_property_sheet.h"
#include "windows/profile_sheet.h"
#include "windows/tracking_settings_model.h"

namespace app {

class IShellDialogs {
public:
    virtual ~IShellDialogs() = default;
    // A Yes/No question; true on Yes. `defaultNo` makes No the default button.
    virtual bool Ask(const std::u16string& text, bool defaultNo = false) = 0;
    virtual void Message(const std::u16string& text) = 0;
    // The profile editor, modal, on `profile` (new or live); true on OK.
    virtual bool EditProfile(CProfile& profile, bool isNew, IProfileEditorHost& host) = 0;
    // The hot-key entry dialog for key `index` of `keys`, modal.
    virtual void EditHotKey(int index, CHotKeys& keys, CKeyboard& keyboard, CActionMap& actions,
                            platform::HWND sheetWindow) = 0;
    // The curve editor on `profile`'s axis, modal; `changed` runs after each
    // edit. True on OK.
    virtual bool EditCurve(CProfile& profile, int axis, const std::function<void()>& changed) = 0;
    // The title details of a game with its favourite flag, modal; the flag
    // comes back as the user left it.
    virtual void ShowGameDetails(const CGameInfo& game, bool& favourite) = 0;
};

// Writes of the live profile: under the sheet's state lock, then handed to
// the engine, so the edit takes effect while the editor is open.
void EditLiveProfile(CSnapPropertySheet& sheet, const std::function<void()>& write);

// The profile editor's view of the program (and of the monitor windows for
// its preview check boxes).
class CSheetProfileEditorHost final : public IProfileEditorHost {
public:
    CSheetProfileEditorHost(CSnapPropertySheet& sheet, IShellDialogs& dialogs, CMonitorSlots& monitors);

    bool Ask(const std::u16string& text) override { return dialogs_.Ask(text); }
    void Message(const std::u16string& text) override { dialogs_.Message(text); }
    void ApplyTrackingSettings() override;
    void Recenter() override;
    void NotifyStateChanged() override;
    void ResetPauseState() override;
    void SetHotKeys(const CHotKeys& keys) override;
    void RefreshActions() override;
    void EditHotKey(int index, CHotKeys& keys) override;
    bool EditCurve(CProfile& profile, int axis) override;
    void Locked(const std::function<void()>& write) override { EditLiveProfile(sheet_, write); }

    // ---- IPreviewHost ----
    bool IsWindowOpen(int window) const override;
    void OpenWindow(int window) override;
    void CloseWindow(int window) override;
    std::int32_t LaunchFlag(int window) const override;
    void SetLaunchFlag(int window, std::int32_t value) override;
    void SaveSettings() override;

private:
    CSnapPropertySheet& sheet_;
    IShellDialogs& dialogs_;
    CMonitorSlots& monitors_;
};

// The main pages' view of the program.
class CSheetPagesHost final : public IMainPagesHost {
public:
    CSheetPagesHost(CSnapPropertySheet& sheet, IShellDialogs& dialogs, IProfileEditorHost& editor,
                    CMonitorSlots& monitors);

    DeviceDescription Device() override;
    std::u16string ActiveGameName() override;
    std::int32_t ActiveGameId() override { return sheet_.ActiveGameId(); }
    CProfile* CurrentProfile() override { return sheet_.CurrentProfile(); }
    CProfileList& Profiles() override { return sheet_.Profiles(); }
    void ActivateProfile(CProfile* profile) override { sheet_.ActivateProfile(profile); }
    void NotifyProfileChanged() override;
    void PostGameStarted(std::int32_t gameId) override;
    void UpdateStatus() override;
    void ApplyTrackingSettings() override;
    // The camera image window's settings button is off while a profile is
    // edited, as that dialog works on the current profile's mode.
    bool EditProfile(CProfile& profile, bool isNew) override;
    bool ConfirmDelete(std::u16string_view name) override;
    void ShowMessage(std::u16string_view text) override { dialogs_.Message(std::u16string(text)); }
    const CGameList& Catalogue() override { return sheet_.Catalogue(); }
    std::int32_t TitleFilter() override;
    void SetTitleFilter(std::int32_t filter) override;
    bool IsFavorite(std::int32_t profileId) override;
    void SetFavorite(std::int32_t profileId, bool favourite) override;
    void ShowGameDetails(const CGameInfo& game, bool& favourite) override { dialogs_.ShowGameDetails(game, favourite); }
    int QueryNews(CNewsReply& reply) override;
    void SaveLastNewsVersion(std::int32_t version) override;
    std::u16string Text(unsigned id) override;
    // The interface language's texts; none: the built-in English ones.
    void SetTexts(std::shared_ptr<const CResourceTexts> texts) { texts_ = std::move(texts); }

private:
    CSnapPropertySheet& sheet_;
    IShellDialogs& dialogs_;
    IProfileEditorHost& editor_;
    CMonitorSlots& monitors_;
    std::shared_ptr<const CResourceTexts> texts_;
};

// The camera settings dialog's view of the program.
class CSheetTrackingSettingsHost final : public ITrackingSettingsHost {
public:
    explicit CSheetTrackingSettingsHost(CSnapPropertySheet& sheet) : sheet_(sheet) {}
    int MotionType() const override;
    int HardwareRevision() const override;
    void SaveSettings() override { sheet_.SaveSettings(); }
    void ReapplyCameraOptions() override { sheet_.ReapplyCameraOptions(); }
    void ApplyScorerLimits() override { sheet_.ApplyScorerLimits(); }
    void SetIlluminationLeds() override { sheet_.SetIlluminationLeds(); }
    void ApplyTrackingSettings() override { sheet_.ApplyTrackingSettings(); }

private:
    CSnapPropertySheet& sheet_;
};

// The update service's view of the loaded game view library.
class CSheetViewLibraryHost final : public CViewLibraryHost {
public:
    explicit CSheetViewLibraryHost(CSnapPropertySheet& sheet) : sheet_(sheet) {}
    std::uint32_t GetViewsVersion() override { return sheet_.GetViewsVersion(); }
    void SetViewsEnabled(bool enabled) override { sheet_.SetViewsEnabled(enabled); }

private:
    CSnapPropertySheet& sheet_;
};

} // namespace app
