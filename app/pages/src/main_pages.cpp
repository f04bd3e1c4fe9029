#include "app/main_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "profiles/GameList.h"
#include "profiles/ProfileList.h"

namespace {

QString qs(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

// ---- Main ----

CMainPageGeneral::CMainPageGeneral(IMainPagesHost& host, QWidget* parent) : CPropertyPageBase(136, parent), host_(host)
{
    setWindowTitle(QStringLiteral("Main"));
}

bool CMainPageGeneral::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    game_ = new QLabel(this);
    profile_ = new QLabel(this);
    device_ = new QLabel(this);
    // Names are shown as they stand, never as markup.
    for (QLabel* l : {game_, profile_, device_}) {
        l->setTextFormat(Qt::PlainText);
        layout->addWidget(l);
    }
    layout->addStretch();
    OnDeviceState(0, 0);
    OnGameChanged(0, 0);
    OnProfileChanged(0, 0);
    return true;
}

platform::LRESULT CMainPageGeneral::OnDeviceState(platform::WPARAM, platform::LPARAM)
{
    if (device_) {
        device_->setText(qs(DeviceInfoText(host_.Device())));
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

bool CMainPageProfiles::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 3, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Comments"), QStringLiteral("Exclusive-load")});
    table_->setColumnWidth(0, 125);
    table_->setColumnWidth(1, 200);
    table_->setColumnWidth(2, 140);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
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
    titles_ = new QTableWidget(0, 2, this);
    titles_->setHorizontalHeaderLabels({QStringLiteral("Title"), QStringLiteral("Auto-load Profile")});
    titles_->setColumnWidth(0, 275);
    titles_->setColumnWidth(1, 178);
    titles_->setSelectionBehavior(QAbstractItemView::SelectRows);
    titles_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    titles_->verticalHeader()->hide();
    layout->addWidget(titles_);
    connect(filter_, &QComboBox::currentIndexChanged, this, [this](int i) { FilterChanged(i); });

    connect(new_, &QPushButton::clicked, this, [this] { OnNew(); });
    connect(edit_, &QPushButton::clicked, this, [this] { OnEdit(); });
    connect(delete_, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(copy_, &QPushButton::clicked, this, [this] { OnCopy(); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { ItemChanged(item); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { OnEdit(); });
    titles_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(titles_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        const QModelIndex index = titles_->indexAt(p);
        if (index.isValid() && index.column() == 0)
            TitleMenu(index.row(), titles_->viewport()->mapToGlobal(p));
    });
    connect(titles_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (column == 0)
            OnDetails(row);
    });

    BuildProfileList();
    SelectRow(0);
    OnProfileChanged(0, 0);
    OnGameChanged(0, 0);
    return true;
}

void CMainPageProfiles::BuildProfileList()
{
    building_ = true;
    CProfileList& list = host_.Profiles();
    names_ = BuildProfileNames(list);
    const auto rows = BuildProfileRows(list);
    table_->setRowCount(0);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const ProfileRow& row = rows[static_cast<std::size_t>(r)];
        // Item views show text as it stands: the names go in unescaped.
        auto* name = new QTableWidgetItem(qs(row.profile->Name));
        name->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(row.profile)));
        table_->setItem(r, 0, name);
        table_->setItem(r, 1, new QTableWidgetItem(qs(row.profile->Notes)));
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        check->setCheckState(row.exclusive ? Qt::Checked : Qt::Unchecked);
        check->setToolTip(QStringLiteral("Click to always use this profile."));
        table_->setItem(r, 2, check);
    }
    building_ = false;
    BuildTitleList();
    UpdateButtons();
}

void CMainPageProfiles::BuildTitleList()
{
    titles_->setUpdatesEnabled(false);
    const CGameList& catalogue = host_.Catalogue();
    auto rows = BuildTitleRows(catalogue, host_.Profiles(), host_.TitleFilter(),
                               [this](std::int32_t id) { return host_.IsFavorite(id); });
    std::stable_sort(rows.begin(), rows.end(), [&](const TitleRow& a, const TitleRow& b) {
        return qs(catalogue[a.record].Name).compare(qs(catalogue[b.record].Name), Qt::CaseInsensitive) < 0;
    });
    titles_->setRowCount(0);
    titles_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const TitleRow& row = rows[static_cast<std::size_t>(r)];
        auto* name = new QTableWidgetItem(qs(catalogue[row.record].Name));
        name->setData(Qt::UserRole, row.record);
        name->setToolTip(QStringLiteral("Double click for more information, right click for options."));
        titles_->setItem(r, 0, name);
        auto* combo = new QComboBox(titles_);
        for (const std::u16string& n : names_)
            combo->addItem(qs(n));
        combo->setMaxVisibleItems(10);
        combo->setCurrentIndex(row.profileIndex);
        combo->setToolTip(QStringLiteral("Select a profile to automatically load when this title starts."));
        const int record = row.record;
        connect(combo, &QComboBox::currentIndexChanged, this, [this, record](int index) {
            if (AssignTitleProfile(host_.Profiles(), host_.Catalogue()[record], index))
                host_.PostGameStarted(host_.ActiveGameId());
        });
        titles_->setCellWidget(r, 1, combo);
    }
    titles_->setUpdatesEnabled(true);
    SetExclusiveMode(host_.Profiles().FindExclusive() != nullptr);
}

int CMainPageProfiles::RecordAt(int row) const
{
    if (!titles_ || row < 0 || row >= titles_->rowCount() || !titles_->item(row, 0))
        return -1;
    return titles_->item(row, 0)->data(Qt::UserRole).toInt();
}

void CMainPageProfiles::FilterChanged(int index)
{
    if (index < 0)
        return;
    host_.SetTitleFilter(filter_->itemData(index).toInt());
    BuildTitleList();
}

platform::LRESULT CMainPageProfiles::OnGameChanged(platform::WPARAM, platform::LPARAM)
{
    if (!titles_)
        return 0;
    const int active = host_.Catalogue().FindById(host_.ActiveGameId());
    for (int r = 0; r < titles_->rowCount(); ++r) {
        const bool bold = active >= 0 && RecordAt(r) == active;
        QFont f = titles_->item(r, 0)->font();
        f.setBold(bold);
        titles_->item(r, 0)->setFont(f);
        if (bold)
            titles_->scrollToItem(titles_->item(r, 0));
    }
    return 0;
}

CProfile* CMainPageProfiles::ProfileAt(int row) const
{
    if (!table_ || row < 0 || row >= table_->rowCount() || !table_->item(row, 0))
        return nullptr;
    return static_cast<CProfile*>(table_->item(row, 0)->data(Qt::UserRole).value<void*>());
}

void CMainPageProfiles::SelectRow(int row)
{
    if (row >= 0 && row < table_->rowCount())
        table_->selectRow(row);
    UpdateButtons();
}

void CMainPageProfiles::UpdateButtons()
{
    const auto rows = table_->selectionModel()->selectedRows();
    const ProfileButtons b = ButtonsForSelection(rows.isEmpty() ? nullptr : ProfileAt(rows.first().row()));
    edit_->setEnabled(b.edit);
    copy_->setEnabled(b.copy);
    delete_->setEnabled(b.remove);
}

void CMainPageProfiles::SetExclusiveMode(bool on)
{
    exclusive_ = on;
    caption_->setText(qs(on ? kExclusiveOnCaption : kExclusiveOffCaption));
    caption_->setStyleSheet(on ? QStringLiteral("color: rgb(255,0,0)") : QStringLiteral("color: rgb(0,0,0)"));
    // With an exclusive profile the titles choose nothing: their rows are off.
    for (int r = 0; r < titles_->rowCount(); ++r) {
        if (QTableWidgetItem* item = titles_->item(r, 0))
            item->setFlags(on ? Qt::NoItemFlags : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (QWidget* cell = titles_->cellWidget(r, 1))
            cell->setEnabled(!on);
    }
}

QString CMainPageProfiles::Caption() const { return caption_ ? caption_->text() : QString(); }

void CMainPageProfiles::ItemChanged(QTableWidgetItem* item)
{
    if (building_ || !item || item->column() != 2)
        return;
    CProfile* p = ProfileAt(item->row());
    if (!p)
        return;
    const bool checked = item->checkState() == Qt::Checked;
    if (checked == (p->Override != 0))
        return;
    const ExclusiveChange change = SetExclusive(host_.Profiles(), *p, checked);
    building_ = true;
    for (int r = 0; r < table_->rowCount(); ++r)
        for (CProfile* u : change.unchecked)
            if (ProfileAt(r) == u)
                table_->item(r, 2)->setCheckState(Qt::Unchecked);
    building_ = false;
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
    for (int r = 0; r < table_->rowCount(); ++r) {
        const bool bold = ProfileAt(r) == current;
        for (int c = 0; c < 2; ++c) {
            QFont f = table_->item(r, c)->font();
            f.setBold(bold);
            table_->item(r, c)->setFont(f);
        }
        if (bold)
            table_->scrollToItem(table_->item(r, 0));
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
    if (host_.Profiles().AddProfile(owned) != 0) {
        host_.ShowMessage(u"The profile could not be saved.");
        return;
    }
    BuildProfileList();
    SelectRow(table_->rowCount() - 1);
}

void CMainPageProfiles::OnEdit()
{
    const auto rows = table_->selectionModel()->selectedRows();
    CProfile* p = rows.isEmpty() ? nullptr : ProfileAt(rows.first().row());
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
    const int row = rows.first().row();
    BuildProfileList();
    SelectRow(row);
}

void CMainPageProfiles::OnDelete()
{
    const auto rows = table_->selectionModel()->selectedRows();
    CProfile* p = rows.isEmpty() ? nullptr : ProfileAt(rows.first().row());
    if (!p)
        return;
    if (p == host_.CurrentProfile()) {
        host_.ShowMessage(kCannotDeleteCurrent);
        return;
    }
    if (!host_.ConfirmDelete(p->Name))
        return;
    if (DeleteProfile(host_.Profiles(), host_.CurrentProfile(), p) != DeleteOutcome::Deleted)
        host_.ShowMessage(u"The profile file could not be deleted.");
    BuildProfileList();
    if (table_->rowCount() > 0)
        SelectRow(0);
    else
        table_->clearSelection();
    UpdateButtons();
    host_.UpdateStatus();
}

void CMainPageProfiles::OnCopy()
{
    const auto rows = table_->selectionModel()->selectedRows();
    CProfile* p = rows.isEmpty() ? nullptr : ProfileAt(rows.first().row());
    if (!p)
        return;
    if (!CopyProfile(host_.Profiles(), *p)) {
        host_.ShowMessage(u"The profile could not be saved.");
        return;
    }
    BuildProfileList();
    SelectRow(table_->rowCount() - 1);
}

QMenu* CMainPageProfiles::TitleMenu(int row, const QPoint& globalPos, bool show)
{
    if (RecordAt(row) < 0)
        return nullptr;
    delete titleMenu_;
    titleMenu_ = new QMenu(this);
    const CGameInfo& game = host_.Catalogue()[RecordAt(row)];
    const bool favourite = host_.IsFavorite(game.ProfileId);
    QAction* toggle =
        titleMenu_->addAction(favourite ? QStringLiteral("&Remove From Favorites") : QStringLiteral("&Add To Favorites"));
    titleMenu_->addSeparator();
    QAction* details = titleMenu_->addAction(QStringLiteral("&Details..."));
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

bool CMainPageNews::OnInitDialog()
{
    auto* layout = new QVBoxLayout(this);
    link_ = new CHyperLink(this);
    layout->addWidget(link_);
    layout->addStretch();
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
    CNewsReply reply;
    std::u16string replyUrl;
    if (host_.QueryNews(reply) == 0 && !reply.ReplyURL.empty()) {
        const QString url = QString::fromUtf8(reply.ReplyURL.data(), static_cast<qsizetype>(reply.ReplyURL.size()));
        replyUrl = url.toStdU16String();
    }
    const NewsNavigation nav = NewsTarget(replyUrl);
    if (nav.saveVersion) {
        urlVersion_ = reply.URLVersion;
        host_.SaveLastNewsVersion(urlVersion_);
    }
    link_->SetURL(qs(nav.address));
    link_->setText(qs(nav.address));
}

void CMainPageNews::SaveLastNewsVersion() { host_.SaveLastNewsVersion(urlVersion_); }

QString CMainPageNews::Address() const { return link_ ? link_->GetURL() : QString(); }
