#pragma once
// The main sheet's three pages. They reach the running system through
// IMainPagesHost, which the frame implements over the sheet (and tests fake).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/UpdateService.h"
#include "app/dialog_base.h"
#include "app/hyperlink.h"
#include "app/main_pages_model.h"
#include "app/property_sheet.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class CXListCtrl;

class IMainPagesHost {
public:
    virtual ~IMainPagesHost() = default;
    virtual DeviceDescription Device() = 0;
    // The active game's catalogue Name; empty when none is found.
    virtual std::u16string ActiveGameName() = 0;
    virtual std::int32_t ActiveGameId() = 0;
    virtual CProfile* CurrentProfile() = 0;
    virtual CProfileList& Profiles() = 0;
    virtual void ActivateProfile(CProfile* profile) = 0;
    // PN_PROFILE_CHANGED to every page.
    virtual void NotifyProfileChanged() = 0;
    // WM_GAME_STARTED with the id, posted to the sheet.
    virtual void PostGameStarted(std::int32_t gameId) = 0;
    // WM_UPDATE_STATUS to the frame.
    virtual void UpdateStatus() = 0;
    virtual void ApplyTrackingSettings() = 0;
    // Runs the profile editor modal on the profile; true on OK.
    virtual bool EditProfile(CProfile& profile, bool isNew) = 0;
    // "Delete profile %s?" with Yes/No; true on Yes.
    virtual bool ConfirmDelete(std::u16string_view name) = 0;
    virtual void ShowMessage(std::u16string_view text) = 0;
    virtual const CGameList& Catalogue() = 0;
    virtual std::int32_t TitleFilter() = 0;
    // Stores the filter in the settings and saves them.
    virtual void SetTitleFilter(std::int32_t filter) = 0;
    virtual bool IsFavorite(std::int32_t profileId) = 0;
    // Adds or removes a favourite and saves the settings.
    virtual void SetFavorite(std::int32_t profileId, bool favourite) = 0;
    // The title details dialog; the flag comes back as the user left it.
    virtual void ShowGameDetails(const CGameInfo& game, bool& favourite) = 0;
    // The news query; 0 with the reply filled on success. Called on a
    // worker thread of the News page.
    virtual int QueryNews(CNewsReply& reply) = 0;
    // "Settings"/"LastNewsVersion".
    virtual void SaveLastNewsVersion(std::int32_t version) = 0;
    // The interface language's text of a string id; empty where it has none
    // (the page's built-in English text then stands).
    virtual std::u16string Text(unsigned id)
    {
        (void)id;
        return {};
    }
};

// The language's text of `text`, else its English.
std::u16string PageTextOf(IMainPagesHost& host, const PageText& text);

class CMainPageGeneral : public CPropertyPageBase {
    Q_OBJECT
public:
    explicit CMainPageGeneral(IMainPagesHost& host, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) override;
    platform::LRESULT OnProfileChanged(platform::WPARAM, platform::LPARAM) override;
    platform::LRESULT OnGameChanged(platform::WPARAM, platform::LPARAM) override;

    QString GameText() const;
    QString ProfileText() const;
    QString DeviceText() const;
    // The picture frames 1050 (header picture) and 1088 (device picture).
    QLabel* HeaderFrame() const { return header_; }
    QLabel* DeviceFrame() const { return picture_; }

private:
    IMainPagesHost& host_;
    QLabel* header_ = nullptr;
    QLabel* picture_ = nullptr;
    QLabel* game_ = nullptr;
    QLabel* profile_ = nullptr;
    QLabel* device_ = nullptr;
};

class CMainPageProfiles : public CPropertyPageBase {
    Q_OBJECT
public:
    explicit CMainPageProfiles(IMainPagesHost& host, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    platform::LRESULT OnProfileChanged(platform::WPARAM, platform::LPARAM) override;
    platform::LRESULT OnGameChanged(platform::WPARAM, platform::LPARAM) override;

    CXListCtrl* ProfileTable() const { return table_; }
    CXListCtrl* TitleTable() const { return titles_; }
    QComboBox* FilterCombo() const { return filter_; }
    // The catalogue index of a title row; -1 outside the list.
    int RecordAt(int row) const;
    QPushButton* NewButton() const { return new_; }
    QPushButton* EditButton() const { return edit_; }
    QPushButton* DeleteButton() const { return delete_; }
    QPushButton* CopyButton() const { return copy_; }
    QString Caption() const;
    bool ExclusiveMode() const { return exclusive_; }
    // The profile of a row; null outside the list.
    CProfile* ProfileAt(int row) const;
    const std::vector<std::u16string>& Names() const { return names_; }

    void OnNew();
    void OnEdit();
    void OnDelete();
    void OnCopy();
    // The title row's popup menu (Add To / Remove From Favorites, Details);
    // built and shown at `globalPos` unless `show` is false (tests).
    QMenu* TitleMenu(int row, const QPoint& globalPos, bool show = true);
    // Adds or removes the title's favourite mark.
    void ToggleFavorite(int row);
    // The title details dialog for the row.
    void OnDetails(int row);
    // A double click on a title's profile cell: that profile is selected in
    // the profile list and edited.
    void OnEditTitleProfile(int row);

private:
    void BuildProfileList();
    void BuildTitleList();
    void FilterChanged(int index);
    void SelectRow(int row);
    int SelectedRow() const;
    void SetExclusiveMode(bool on);
    void UpdateButtons();
    void ExclusiveClicked(int row);
    void TitleProfileChosen(int row);
    std::u16string T(const PageText& text) const;

    IMainPagesHost& host_;
    CXListCtrl* table_ = nullptr;
    CXListCtrl* titles_ = nullptr;
    // Row values index these (the lists sort their rows).
    std::vector<CProfile*> rowProfiles_;
    std::shared_ptr<std::vector<std::u16string>> comboNames_;
    QComboBox* filter_ = nullptr;
    QLabel* caption_ = nullptr;
    QPushButton* new_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* copy_ = nullptr;
    std::vector<std::u16string> names_;
    bool exclusive_ = false;
    bool building_ = false; // the profile rows are being built again
    QMenu* titleMenu_ = nullptr;
};

// "Title Details": one game's name (a link to its page), the version it
// needs, the axes it supports, and whether it is a favourite.
class CGameInfoDlg : public CDialogBase {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 146;

    CGameInfoDlg(const CGameInfo& game, bool favourite, QWidget* parent = nullptr);
    bool Favourite() const;
    QString VersionText() const;
    QCheckBox* AxisBox(int axis) const { return axes_[static_cast<std::size_t>(axis)]; }
    QCheckBox* FavouriteBox() const { return favourite_; }
    CHyperLink* TitleLink() const { return title_; }

private:
    CHyperLink* title_ = nullptr;
    QLabel* version_ = nullptr;
    std::array<QCheckBox*, 6> axes_{};
    QCheckBox* favourite_ = nullptr;
};

class CMainPageNews : public CPropertyPageBase {
    Q_OBJECT
public:
    explicit CMainPageNews(IMainPagesHost& host, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    platform::LRESULT OnDeviceChange(platform::WPARAM, platform::LPARAM) override;

    ~CMainPageNews() override;

    // Starts the news query on a worker thread and returns; its page (the
    // product page when none) is shown when the answer comes. A refresh
    // asked for while one runs follows it.
    void Refresh();
    void SaveLastNewsVersion();
    QString Address() const;
    std::int32_t URLVersion() const { return urlVersion_; }
    // Whether a news query is running.
    bool Querying() const { return worker_.joinable(); }
    // Waits for a running query and starts no other: the host it asks goes
    // away after this (the main window's shutdown).
    void StopQueries();

private:
    void StartQuery();
    void ShowNews(int result, const CNewsReply& reply);

    IMainPagesHost& host_;
    CHyperLink* link_ = nullptr;
    std::int32_t urlVersion_ = 0;
    std::thread worker_;
    bool again_ = false;
    bool stopped_ = false;
};
