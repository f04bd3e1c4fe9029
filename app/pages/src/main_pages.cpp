#include "app/main_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>

#include "app/page_art.h"
#include "profiles/GameList.h"
#include "profiles/ProfileList.h"
#include "windows/XListCtrl.h"

namespace {

QString qs(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

constexpr int kProfileExclusiveColumn = 2;
constexpr int kTitleProfileColumn = 1;
constexpr int kTitleComboRows = 10;

} // namespace

std::u16string PageTextOf(IMainPagesHost& host, const PageText& text)
{
    std::u16string t = host.Text(text.id);
    return t.empty() ? std::u16string(text.english) : t;
}

// ---- Main ----

CMainPageGeneral::CMainPageGeneral(IMainPagesHost& host, QWidget* parent) : CPropertyPageBase(136, parent), host_(host)
{
    setWindowTitle(QStringLiteral("Main"));
}

bool CMainPageGeneral::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    header_->setObjectName(QStringLiteral("1050"));
    header_->setPixmap(app::HeaderPicture());
    layout->addWidget(header_);
    auto* row = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    game_ = new QLabel(this);
    profile_ = new QLabel(this);
    device_ = new QLabel(this);
    // Names are shown as they stand, never as markup.
    for (QLabel* l : {game_, profile_, device_}) {
        l->setTextFormat(Qt::PlainText);
        texts->addWidget(l);
    }
    row->addLayout(texts, 1);
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("1088"));
    picture_->setPixmap(app::DevicePicture());
    row->addWidget(picture_, 0, Qt::AlignTop);
    layout->addLayout(row);
    layout->addStretch();
    OnDeviceState(0, 0);
    OnGameChanged(0, 0);
    OnProfileChanged(0, 0);
    return true;
}

platform::LRESULT CMainPageGeneral::OnDeviceState(platform::WPARAM, platform::LPARAM)
{
    if (device_) {
        const DeviceDescription d = host_.Device();
        std::u16string text = DeviceInfoText(d);
        if (!d.present) {
            const std::u16string language = host_.Text(kNoDeviceTextId);
            if (!language.empty())
                text = language;
        }
        device_->setText(qs(text));
        host_.UpdateStatus();
    }
    return 0;
}

platform::LRESULT CMainPageGeneral::OnProfileChanged(platform::WPARAM, platform::LPARAM)
{
    if (profile_) {
        const CProfile* p = host_.CurrentProfile();
        profile_->setText(p ? qs(p->Name) : QString());
    }
    return 0;
}

platform::LRESULT CMainPageGeneral::OnGameChanged(platform::WPARAM, platform::LPARAM)
{
    if (game_)
        game_->setText(qs(host_.ActiveGameName()));
    return 0;
}

QString CMainPageGeneral::GameText() const { return game_ ? game_->text() : QString(); }
QString CMainPageGeneral::ProfileText() const { return profile_ ? profile_->text() : QString(); }
QString CMainPageGeneral::DeviceText() const { return device_ ? device_->text() : QString(); }

// ---- Profiles ----

CMainPageProfiles::CMainPageProfiles(IMainPagesHost& host, QWidget* parent) : CPropertyPageBase(110, parent), host_(host)
{
    setWindowTitle(QStringLiteral("Profiles"));
}

std::u16string CMainPageProfiles::T(const PageText& text) const { return PageTextOf(host_, text); }

bool CMainPageProfiles::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    table_ = new CXListCtrl(this);
    table_->setObjectName(QStringLiteral("1035"));
    table_->InsertColumn(0, qs(T(kNameColumn)), CXAlign::Left, 125);
    table_->InsertColumn(1, qs(T(kCommentsColumn)), CXAlign::Left, 200);
    table_->InsertColumn(kProfileExclusiveColumn, qs(T(kExclusiveColumn)), CXAlign::Center, 140);
    table_->SetHeaderImageList(StandardHeaderImages());
    layout->addWidget(table_);

    auto* buttons = new QHBoxLayout;
    new_ = new QPushButton(QStringLiteral("New..."), this);
    edit_ = new QPushButton(QStringLiteral("Edit..."), this);
    delete_ = new QPushButton(QStringLiteral("Delete"), this);
    copy_ = new QPushButton(QStringLiteral("Copy"), this);
    for (QPushButton* b : {new_, edit_, delete_, copy_})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    filter_ = new QComboBox(this);
    for (const TitleFilterEntry& e : TitleFilterEntries())
        filter_->addItem(qs(e.text), e.data);
    filter_->setCurrentIndex(TitleFilterIndex(host_.TitleFilter()));
    layout->addWidget(filter_);
    caption_ = new QLabel(this);
    caption_->setAttribute(Qt::WA_TranslucentBackground);
    layout->addWidget(caption_);
    titles_ = new CXListCtrl(this);
    titles_->setObjectName(QStringLiteral("1200"));
    titles_->InsertColumn(0, qs(T(kTitleColumn)), CXAlign::Left, 275);
    titles_->InsertColumn(kTitleProfileColumn, qs(T(kAutoLoadColumn)), CXAlign::Left, 178);
    layout->addWidget(titles_);
    connect(filter_, &QComboBox::currentIndexChanged, this, [this](int i) { FilterChanged(i); });

    connect(new_, &QPushButton::clicked, this, [this] { OnNew(); });
    connect(edit_, &QPushButton::clicked, this, [this] { OnEdit(); });
    connect(delete_, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(copy_, &QPushButton::clicked, this, [this] { OnCopy(); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateButtons(); });
    connect(table_, &CXListCtrl::checkboxClicked, this, [this](int row, int column) {
        if (column == kProfileExclusiveColumn)
            ExclusiveClicked(row);
    });
    connect(table_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            OnEdit();
    });
    connect(titles_, &CXListCtrl::comboSelection, this, [this](int row, int column) {
        if (column == kTitleProfileColumn)
            TitleProfileChosen(row);
    });
    titles_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(titles_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        const QModelIndex index = titles_->indexAt(p);
        if (index.isValid() && index.column() == 0 && titles_->Cells().IsRowEnabled(index.row()))
            TitleMenu(index.row(), titles_->viewport()->mapToGlobal(p));
    });
    connect(titles_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid() || !titles_->Cells().IsRowEnabled(index.row()))
            return;
        if (index.column() == 0)
            OnDetails(index.row());
        else if (index.column() == kTitleProfileColumn)
            OnEditTitleProfile(index.row());
    });

    BuildProfileList();
    SelectRow(0);
    OnProfileChanged(0, 0);
    OnGameChanged(0, 0);
    return true;
}

void CMainPageProfiles::BuildProfileList()
{
    CProfileList& list = host_.Profiles();
    names_ = BuildProfileNames(list);
    comboNames_ = std::make_shared<std::vector<std::u16string>>(names_);
    const auto rows = BuildProfileRows(list);
    // The chosen profile stays chosen through the rebuild: the buttons keep
    // their state meanwhile, so the keyboard focus stays on the one the user
    // pressed instead of moving on past buttons disabled for a moment.
    const CProfile* chosen = ProfileAt(SelectedRow());
    building_ = true;
    table_->setUpdatesEnabled(false);
    table_->DeleteAllRows();
    rowProfiles_.clear();
    const QString exclusiveTip = qs(T(kExclusiveToolTip));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const ProfileRow& row = rows[static_cast<std::size_t>(r)];
        // The list draws text as it stands: the names go in unescaped.
        table_->AddRow(r, qs(row.profile->Name));
        table_->SetCellText(r, 1, qs(row.profile->Notes));
        table_->SetCellText(r, kProfileExclusiveColumn, QString());
        table_->SetCellCheck(r, kProfileExclusiveColumn, row.exclusive ? 1 : 0);
        table_->SetCellToolTip(r, kProfileExclusiveColumn, exclusiveTip);
        table_->SetRowValue(r, static_cast<std::uint32_t>(r));
        rowProfiles_.push_back(row.profile);
    }
    // By name, ignoring case; the default profile keeps the first row.
    table_->SortRows([this](int a, int b) {
        const CProfile* pa = ProfileAt(a);
        const CProfile* pb = ProfileAt(b);
        if ((pa->IsDefault() != 0) != (pb->IsDefault() != 0))
            return pa->IsDefault() != 0;
        return qs(pa->Name).compare(qs(pb->Name), Qt::CaseInsensitive) < 0;
    });
    for (int r = 0; r < table_->GetRowCount(); ++r)
        if (chosen != nullptr && ProfileAt(r) == chosen)
            table_->SelectRow(r);
    building_ = false;
    table_->setUpdatesEnabled(true);
    BuildTitleList();
    UpdateButtons();
}

void CMainPageProfiles::BuildTitleList()
{
    titles_->setUpdatesEnabled(false);
    const CGameList& catalogue = host_.Catalogue();
    const auto rows = BuildTitleRows(catalogue, host_.Profiles(), host_.TitleFilter(),
                                     [this](std::int32_t id) { return host_.IsFavorite(id); });
    titles_->DeleteAllRows();
    const QString nameTip = qs(T(kTitleToolTip));
    const QString comboTip = qs(T(kTitleProfileToolTip));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const TitleRow& row = rows[static_cast<std::size_t>(r)];
        titles_->AddRow(r, qs(catalogue[row.record].Name));
        titles_->SetRowValue(r, static_cast<std::uint32_t>(row.record));
        titles_->SetCellToolTip(r, 0, nameTip);
        titles_->SetCellCombo(r, kTitleProfileColumn, true, comboNames_, kTitleComboRows, row.profileIndex);
        titles_->SetCellToolTip(r, kTitleProfileColumn, comboTip);
    }
    titles_->SortRows([this, &catalogue](int a, int b) {
        return qs(catalogue[RecordAt(a)].Name).compare(qs(catalogue[RecordAt(b)].Name), Qt::CaseInsensitive) < 0;
    });
    titles_->setUpdatesEnabled(true);
    SetExclusiveMode(host_.Profiles().FindExclusive() != nullptr);
    OnGameChanged(0, 0);
}

int CMainPageProfiles::RecordAt(int row) const
{
    if (!titles_ || row < 0 || row >= titles_->GetRowCount())
        return -1;
    return static_cast<int>(titles_->GetRowValue(row));
}

void CMainPageProfiles::FilterChanged(int index)
{
    if (index < 0)
        return;
    host_.SetTitleFilter(filter_->itemData(index).toInt());
    BuildTitleList();
}

void CMainPageProfiles::TitleProfileChosen(int row)
{
    const int record = RecordAt(row);
    if (record < 0)
        return;
    const int index = titles_->GetComboSelection(row, kTitleProfileColumn);
    if (AssignTitleProfile(host_.Profiles(), host_.Catalogue()[record], index))
        host_.PostGameStarted(host_.ActiveGameId());
}

platform::LRESULT CMainPageProfiles::OnGameChanged(platform::WPARAM, platform::LPARAM)
{
    if (!titles_)
        return 0;
    const int active = host_.Catalogue().FindById(host_.ActiveGameId());
    for (int r = 0; r < titles_->GetRowCount(); ++r) {
        const bool bold = active >= 0 && RecordAt(r) == active;
        titles_->SetCellBold(r, 0, bold ? 1 : 0);
        titles_->SetCellBold(r, kTitleProfileColumn, bold ? 1 : 0);
        if (bold)
            titles_->scrollTo(titles_->model()->index(r, 0));
    }
    return 0;
}

CProfile* CMainPageProfiles::ProfileAt(int row) const
{
    if (!table_ || row < 0 || row >= table_->GetRowCount())
        return nullptr;
    const std::uint32_t index = table_->GetRowValue(row);
    return index < rowProfiles_.size() ? rowProfiles_[index] : nullptr;
}

int CMainPageProfiles::SelectedRow() const { return table_->GetSelectedRow(); }

void CMainPageProfiles::SelectRow(int row)
{
    if (row >= 0 && row < table_->GetRowCount())
        table_->SelectRow(row);
    UpdateButtons();
}

void CMainPageProfiles::UpdateButtons()
{
    if (building_)
        return;
    const ProfileButtons b = ButtonsForSelection(ProfileAt(SelectedRow()));
    edit_->setEnabled(b.edit);
    copy_->setEnabled(b.copy);
    delete_->setEnabled(b.remove);
}

void CMainPageProfiles::SetExclusiveMode(bool on)
{
    exclusive_ = on;
    caption_->setText(qs(T(on ? kExclusiveOnCaption : kExclusiveOffCaption)));
    caption_->setStyleSheet(on ? QStringLiteral("color: rgb(255,0,0)") : QStringLiteral("color: rgb(0,0,0)"));
    // With an exclusive profile the titles choose nothing: their rows are off.
    for (int r = 0; r < titles_->GetRowCount(); ++r)
        titles_->SetRowEnabled(r, on ? 0 : 1);
}

QString CMainPageProfiles::Caption() const { return caption_ ? caption_->text() : QString(); }

void CMainPageProfiles::ExclusiveClicked(int row)
{
    CProfile* p = ProfileAt(row);
    if (!p)
        return;
    const bool checked = table_->GetCellCheck(row, kProfileExclusiveColumn) == 1;
    if (checked == (p->Override != 0))
        return;
    const ExclusiveChange change = SetExclusive(host_.Profiles(), *p, checked);
    for (int r = 0; r < table_->GetRowCount(); ++r)
        for (CProfile* u : change.unchecked)
            if (ProfileAt(r) == u)
                table_->SetCellCheck(r, kProfileExclusiveColumn, 0);
    if (change.restartGame)
        host_.PostGameStarted(host_.ActiveGameId());
    if (change.activate)
        host_.ActivateProfile(change.activate);
    SetExclusiveMode(change.exclusiveMode);
    host_.NotifyProfileChanged();
}

platform::LRESULT CMainPageProfiles::OnProfileChanged(platform::WPARAM, platform::LPARAM)
{
    host_.ApplyTrackingSettings();
    if (!table_)
        return 0;
    const CProfile* current = host_.CurrentProfile();
    for (int r = 0; r < table_->GetRowCount(); ++r) {
        const bool bold = ProfileAt(r) == current;
        for (int c = 0; c < 2; ++c)
            table_->SetCellBold(r, c, bold ? 1 : 0);
        if (bold)
            table_->scrollTo(table_->model()->index(r, 0));
    }
    return 0;
}

void CMainPageProfiles::OnNew()
{
    CProfile fresh;
    fresh.SetDefaults();
    const bool ok = host_.EditProfile(fresh, true);
    // The editor hands the keys it edits to the keyboard detector and the
    // action map as they change; the current profile's keys go back to them.
    host_.ActivateProfile(host_.CurrentProfile());
    if (!ok)
        return;
    auto owned = std::make_unique<CProfile>(std::move(fresh));
    owned->Path.clear();
    CProfile* added = owned.get();
    if (host_.Profiles().AddProfile(owned) != 0) {
        host_.ShowMessage(u"The profile could not be saved.");
        return;
    }
    BuildProfileList();
    for (int r = 0; r < table_->GetRowCount(); ++r)
        if (ProfileAt(r) == added)
            SelectRow(r);
}

void CMainPageProfiles::OnEdit()
{
    const int row = SelectedRow();
    CProfile* p = ProfileAt(row);
    if (!p)
        return;
    const CProfile saved = *p;
    CProfile* previous = host_.CurrentProfile();
    host_.ActivateProfile(p);
    host_.NotifyProfileChanged();
    if (host_.EditProfile(*p, false)) {
        const std::u16string newName = p->Name;
        if (CProfileList::MakeFileName(newName, false) != saved.Path) {
            // The rename writes the new file before the old one goes.
            p->Name = saved.Name;
            if (host_.Profiles().RenameProfile(*p, newName) != 0)
                host_.ShowMessage(u"The profile could not be saved.");
        }
        if (p->Save() != 0)
            host_.ShowMessage(u"The profile could not be saved.");
    } else {
        *p = saved;
    }
    host_.ActivateProfile(previous);
    host_.NotifyProfileChanged();
    host_.UpdateStatus();
    BuildProfileList();
    // The edited profile stays selected wherever its new name sorts it.
    for (int r = 0; r < table_->GetRowCount(); ++r)
        if (ProfileAt(r) == p)
            SelectRow(r);
    OnProfileChanged(0, 0);
}

void CMainPageProfiles::OnEditTitleProfile(int row)
{
    const int record = RecordAt(row);
    if (record < 0)
        return;
    const CProfile* target = host_.Profiles().FindForGame(host_.Catalogue()[record].ProfileId);
    for (int r = 0; r < table_->GetRowCount(); ++r) {
        if (ProfileAt(r) == target) {
            SelectRow(r);
            OnEdit();
            return;
        }
    }
}

void CMainPageProfiles::OnDelete()
{
    CProfile* p = ProfileAt(SelectedRow());
    if (!p)
        return;
    if (p == host_.CurrentProfile()) {
        host_.ShowMessage(T(kCannotDeleteCurrent));
        return;
    }
    if (!host_.ConfirmDelete(p->Name))
        return;
    // Its row is not chosen any more when the list is built again.
    table_->clearSelection();
    if (DeleteProfile(host_.Profiles(), host_.CurrentProfile(), p) != DeleteOutcome::Deleted)
        host_.ShowMessage(u"The profile file could not be deleted.");
    BuildProfileList();
    if (table_->GetRowCount() > 0)
        SelectRow(0);
    else
        table_->clearSelection();
    UpdateButtons();
    host_.UpdateStatus();
    OnProfileChanged(0, 0);
}

void CMainPageProfiles::OnCopy()
{
    CProfile* p = ProfileAt(SelectedRow());
    if (!p)
        return;
    CProfile* copy = CopyProfile(host_.Profiles(), *p);
    if (!copy) {
        host_.ShowMessage(u"The profile could not be saved.");
        return;
    }
    BuildProfileList();
    for (int r = 0; r < table_->GetRowCount(); ++r)
        if (ProfileAt(r) == copy)
            SelectRow(r);
    OnProfileChanged(0, 0);
}

QMenu* CMainPageProfiles::TitleMenu(int row, const QPoint& globalPos, bool show)
{
    if (RecordAt(row) < 0)
        return nullptr;
    delete titleMenu_;
    titleMenu_ = new QMenu(this);
    const CGameInfo& game = host_.Catalogue()[RecordAt(row)];
    const bool favourite = host_.IsFavorite(game.ProfileId);
    QAction* toggle = titleMenu_->addAction(qs(T(favourite ? kRemoveFromFavorites : kAddToFavorites)));
    titleMenu_->addSeparator();
    QAction* details = titleMenu_->addAction(qs(T(kTitleDetails)));
    titleMenu_->setDefaultAction(details);
    connect(toggle, &QAction::triggered, this, [this, row] { ToggleFavorite(row); });
    connect(details, &QAction::triggered, this, [this, row] { OnDetails(row); });
    if (show)
        titleMenu_->popup(globalPos);
    return titleMenu_;
}

void CMainPageProfiles::ToggleFavorite(int row)
{
    const int record = RecordAt(row);
    if (record < 0)
        return;
    const std::int32_t id = host_.Catalogue()[record].ProfileId;
    host_.SetFavorite(id, !host_.IsFavorite(id));
    if (host_.TitleFilter() == kFilterFavorites)
        BuildTitleList();
}

void CMainPageProfiles::OnDetails(int row)
{
    const int record = RecordAt(row);
    if (record < 0)
        return;
    const CGameInfo& game = host_.Catalogue()[record];
    const bool before = host_.IsFavorite(game.ProfileId);
    bool after = before;
    host_.ShowGameDetails(game, after);
    if (after == before)
        return;
    host_.SetFavorite(game.ProfileId, after);
    if (host_.TitleFilter() == kFilterFavorites)
        BuildTitleList();
}

// ---- Title details ----

CGameInfoDlg::CGameInfoDlg(const CGameInfo& game, bool favourite, QWidget* parent) : CDialogBase(kTemplateId, parent)
{
    setWindowTitle(QStringLiteral("Title Details"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    title_ = new CHyperLink(this);
    title_->setTextFormat(Qt::PlainText);
    title_->setText(qs(game.Name));
    title_->SetURL(qs(game.Url));
    form->addRow(QStringLiteral("Title:"), title_);
    version_ = new QLabel(game.Version.empty() ? QStringLiteral("Any") : qs(game.Version), this);
    version_->setTextFormat(Qt::PlainText);
    form->addRow(QStringLiteral("Version required:"), version_);
    layout->addLayout(form);
    auto* axes = new QHBoxLayout;
    static constexpr const char* kAxisNames[] = {"Yaw", "Pitch", "Roll", "X", "Y", "Z"};
    for (std::size_t i = 0; i < axes_.size(); ++i) {
        axes_[i] = new QCheckBox(QString::fromLatin1(kAxisNames[i]), this);
        axes_[i]->setChecked(game.Limits[i].Supported != 0);
        axes_[i]->setEnabled(false);
        axes->addWidget(axes_[i]);
    }
    layout->addWidget(new QLabel(QStringLiteral("Axis supported:"), this));
    layout->addLayout(axes);
    favourite_ = new QCheckBox(QStringLiteral("&Show in my favorites list"), this);
    favourite_->setChecked(favourite);
    layout->addWidget(favourite_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool CGameInfoDlg::Favourite() const { return favourite_->isChecked(); }

QString CGameInfoDlg::VersionText() const { return version_->text(); }

// ---- News ----

CMainPageNews::CMainPageNews(IMainPagesHost& host, QWidget* parent) : CPropertyPageBase(148, parent), host_(host)
{
    setWindowTitle(QStringLiteral("News"));
}

CMainPageNews::~CMainPageNews() { StopQueries(); }

void CMainPageNews::StopQueries()
{
    // A running query ends within the HTTP client's time limits; its answer
    // is dropped.
    stopped_ = true;
    again_ = false;
    if (worker_.joinable())
        worker_.join();
}

bool CMainPageNews::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    link_ = new CHyperLink(this);
    layout->addWidget(link_);
    layout->addStretch();
    // The product page stands until the news server answers.
    const NewsNavigation nav = NewsTarget({});
    link_->SetURL(qs(nav.address));
    link_->setText(qs(nav.address));
    Refresh();
    return true;
}

platform::LRESULT CMainPageNews::OnDeviceChange(platform::WPARAM, platform::LPARAM)
{
    if (link_)
        Refresh();
    return 0;
}

void CMainPageNews::Refresh()
{
    if (stopped_)
        return;
    if (worker_.joinable()) {
        again_ = true;
        return;
    }
    StartQuery();
}

void CMainPageNews::StartQuery()
{
    again_ = false;
    // The query can take as long as the server lets it (up to the client's
    // time limit): it never runs on the user-interface thread.
    worker_ = std::thread([this] {
        CNewsReply reply;
        const int result = host_.QueryNews(reply);
        QMetaObject::invokeMethod(
            this, [this, result, reply] { ShowNews(result, reply); }, Qt::QueuedConnection);
    });
}

void CMainPageNews::ShowNews(int result, const CNewsReply& reply)
{
    if (worker_.joinable())
        worker_.join();
    if (stopped_)
        return;
    std::u16string replyUrl;
    if (result == 0 && !reply.ReplyURL.empty())
        replyUrl = QString::fromUtf8(reply.ReplyURL.data(), static_cast<qsizetype>(reply.ReplyURL.size())).toStdU16String();
    const NewsNavigation nav = NewsTarget(replyUrl);
    if (nav.saveVersion) {
        urlVersion_ = reply.URLVersion;
        host_.SaveLastNewsVersion(urlVersion_);
    }
    link_->SetURL(qs(nav.address));
    link_->setText(qs(nav.address));
    if (again_)
        StartQuery();
}

void CMainPageNews::SaveLastNewsVersion() { host_.SaveLastNewsVersion(urlVersion_); }

QString CMainPageNews::Address() const { return link_ ? link_->GetURL() : QString(); }
