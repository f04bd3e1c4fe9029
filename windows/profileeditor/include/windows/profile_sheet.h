#pragma once
// The profile editor: a modal sheet of three pages (General, Motion, HotKeys)
// over the live profile. Every control writes the profile at once and the
// host pushes the change on to the engine.
#include <array>
#include <functional>
#include <memory>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "app/property_sheet.h"
#include "profiles/Profile.h"
#include "windows/XListCtrl.h"
#include "windows/profile_editor_model.h"

// What the editor needs from the program around it.
class IProfileEditorHost : public profile_editor::IPreviewHost {
public:
    // Yes/No question; true on Yes.
    virtual bool Ask(const std::u16string& text) = 0;
    virtual void Message(const std::u16string& text) = 0;
    virtual void ApplyTrackingSettings() = 0;
    virtual void Recenter() = 0;
    virtual void NotifyStateChanged() = 0;
    virtual void ResetPauseState() = 0;
    virtual void SetHotKeys(const CHotKeys& keys) = 0;
    virtual void RefreshActions() = 0;
    // The hot-key entry dialog for key `index`, modal.
    virtual void EditHotKey(int index, CHotKeys& keys) = 0;
    // The curve editor on the live profile's axis, modal; true on OK.
    virtual bool EditCurve(CProfile& profile, int axis) = 0;
    // Runs a write of the live profile under the lock the engine reads it
    // under (the main sheet's state lock).
    virtual void Locked(const std::function<void()>& write) { write(); }
};

class CProfilePropertySheet;

class CProfilePageGeneral : public CPropertyPageBase {
    Q_OBJECT
public:
    CProfilePageGeneral();
    bool OnInitDialog() override;
    bool OnKillActive() override;
    void OnOK() override;
    platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) override;
    void OnDefaults();

    QLineEdit* name = nullptr;
    QPlainTextEdit* notes = nullptr;
    QPushButton* defaults = nullptr;

private:
    CProfilePropertySheet& sheet() const;
    void load();
};

class CProfilePageMotion : public CPropertyPageBase {
    Q_OBJECT
public:
    CProfilePageMotion();
    ~CProfilePageMotion() override;
    bool OnInitDialog() override;
    platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) override;
    // The page is going: tidy up the preview windows.
    void Close();

    void OnRadio();
    void OnEditAxis();
    void OnSmoothing(int position);

    std::array<QRadioButton*, 4> radios{}; // Dot, Pendrix, Halvexor, Custom
    QPushButton* customEdit = nullptr;
    QCheckBox* trueView = nullptr;
    CXListCtrl* list = nullptr;
    QPushButton* editAxis = nullptr;
    QSlider* smoothing = nullptr;
    QLabel* smoothingValue = nullptr;
    QPushButton* less = nullptr;
    QPushButton* more = nullptr;
    QCheckBox* heads = nullptr;
    QCheckBox* gauges = nullptr;
    QCheckBox* tracking = nullptr;
    QCheckBox* world = nullptr;

private:
    CProfilePropertySheet& sheet() const;
    void load();
    void fillList();
    std::unique_ptr<profile_editor::CPreviewWindows> previews_;
    bool closed_ = false;
};

class CProfilePageHotKeys : public CPropertyPageBase {
    Q_OBJECT
public:
    CProfilePageHotKeys();
    bool OnInitDialog() override;
    platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) override;

    struct Row {
        QPushButton* change = nullptr;
        QCheckBox* enable = nullptr;
        QCheckBox* toggle = nullptr; // none for Center
        QCheckBox* trap = nullptr;
        QLabel* key = nullptr;
    };
    std::array<Row, 3> rows{};
    QPushButton* refresh = nullptr;

private:
    CProfilePropertySheet& sheet() const;
    void load();
    void onFlag(bool pauseToggle);
};

class CProfilePropertySheet : public CPropertySheetBase {
    Q_OBJECT
public:
    CProfilePropertySheet(CProfile& profile, IProfileEditorHost& host, QWidget* parent = nullptr);
    ~CProfilePropertySheet() override;

    void SetNewProfile(int flag);
    void SetCaption(const std::u16string& name);
    int NewProfile() const { return newProfile_; }

    CProfile& Profile() const { return profile_; }
    IProfileEditorHost& Host() const { return host_; }

    CProfilePageGeneral& General() const { return *general_; }
    CProfilePageMotion& Motion() const { return *motion_; }
    CProfilePageHotKeys& HotKeys() const { return *hotKeys_; }

    void done(int result) override;

private:
    CProfile& profile_;
    IProfileEditorHost& host_;
    int newProfile_ = 0;
    CProfilePageGeneral* general_;
    CProfilePageMotion* motion_;
    CProfilePageHotKeys* hotKeys_;
};
