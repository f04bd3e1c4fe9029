#include "app/main_pages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>

#include "profiles/GameList.h"
#include "profiles/ProfileList.h"
#include "testing/qt_app.h"
#include "windows/XListCtrl.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

namespace fs = std::filesystem;

namespace {

class FakeHost : public IMainPagesHost {
public:
    DeviceDescription device;
    std::u16string gameName;
    std::int32_t gameId = 0;
    CProfile* current = nullptr;
    CProfileList* list = nullptr;
    int profileChanged = 0, updateStatus = 0, tracking = 0;
    std::vector<std::int32_t> gamesStarted;
    std::vector<std::u16string> messages;
    bool confirm = true;
    bool editOk = true;
    std::u16string editName; // name the editor gives
    int newsResult = 0;
    CNewsReply news;
    std::vector<std::int32_t> savedNews;

    DeviceDescription Device() override { return device; }
    std::u16string ActiveGameName() override { return gameName; }
    std::int32_t ActiveGameId() override { return gameId; }
    CProfile* CurrentProfile() override { return current; }
    CProfileList& Profiles() override { return *list; }
    void ActivateProfile(CProfile* p) override { current = p; }
    void NotifyProfileChanged() override { ++profileChanged; }
    void PostGameStarted(std::int32_t id) override { gamesStarted.push_back(id); }
    void UpdateStatus() override { ++updateStatus; }
    void ApplyTrackingSettings() override { ++tracking; }
    bool EditProfile(CProfile& p, bool) override
    {
        edited.push_back(p.Name);
        if (!editName.empty())
            p.Name = editName;
        p.Notes = u"edited";
        return editOk;
    }
    bool ConfirmDelete(std::u16string_view) override { return confirm; }
    void ShowMessage(std::u16string_view t) override { messages.emplace_back(t); }
    // Runs on the News page's worker; a test may hold it until released.
    int QueryNews(CNewsReply& r) override
    {
        std::unique_lock lock(newsLock);
        newsThread = std::this_thread::get_id();
        ++newsQueries;
        newsGate.wait(lock, [this] { return !holdNews; });
        r = news;
        return newsResult;
    }
    void ReleaseNews()
    {
        std::lock_guard lock(newsLock);
        holdNews = false;
        newsGate.notify_all();
    }
    std::mutex newsLock;
    std::condition_variable newsGate;
    bool holdNews = false;
    std::thread::id newsThread;
    int newsQueries = 0;
    std::map<unsigned, std::u16string> language;
    std::u16string Text(unsigned id) override
    {
        const auto it = language.find(id);
        return it != language.end() ? it->second : std::u16string();
    }
    std::vector<std::u16string> edited;
    void SaveLastNewsVersion(std::int32_t v) override { savedNews.push_back(v); }
    CGameList games;
    std::int32_t filter = -1;
    std::vector<std::int32_t> favourites;
    const CGameList& Catalogue() override { return games; }
    std::int32_t TitleFilter() override { return filter; }
    void SetTitleFilter(std::int32_t f) override { filter = f; }
    bool IsFavorite(std::int32_t id) override
    {
        return std::find(favourites.begin(), favourites.end(), id) != favourites.end();
    }
    void SetFavorite(std::int32_t id, bool on) override
    {
        std::erase(favourites, id);
        if (on)
            favourites.push_back(id);
        ++favouriteSaves;
    }
    void ShowGameDetails(const CGameInfo& game, bool& favourite) override
    {
        detailsShown.push_back(game.Name);
        favourite = detailsAnswer;
    }
    int favouriteSaves = 0;
    std::vector<std::u16string> detailsShown;
    bool detailsAnswer = false;
};

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)testing_support::qtApp();
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        fs::create_directory("Profiles");
        list_ = std::make_unique<CProfileList>(registry_.store());
        def_ = list_->CreateDefaultProfile();
        auto p = std::make_unique<CProfile>();
        p->Name = u"A & B";
        a_ = p.get();
        ASSERT_EQ(list_->AddProfile(p), 0);
        host_.list = list_.get();
        constexpr std::string_view xml = R"(<Games Version="1" Developer="1">
  <Game Name="zeta" Id="100" ProfileId="7" Category="1"></Game>
  <Game Name="Alpha &amp; Co" Id="200" ProfileId="8" Category="2"></Game>
</Games>)";
        host_.games.Parse(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
        list_->Map().Seed(host_.games);
        host_.current = def_;
    }
    void TearDown() override
    {
        list_.reset();
        fs::current_path(previous_);
    }
    static bool onDisk(const CProfile* p) { return fs::exists(ProfileFileSystemPath(p->Path)); }
    static QString text(CXListCtrl* list, int row, int column) { return list->GetCellText(row, column); }
    static bool bold(CXListCtrl* list, int row, int column) { return list->Cells().Cell(row, column)->Bold != 0; }
    // A real click in a cell of a shown list.
    static void clickCell(CXListCtrl* list, int row, int column)
    {
        const QRect r = list->visualRect(list->model()->index(row, column));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    // A user's double click: a click, then the second press that the
    // window system reports as a double click.
    static void doubleClickCell(CXListCtrl* list, int row, int column)
    {
        const QRect r = list->visualRect(list->model()->index(row, column));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    // Chooses entry `index` of a title's combo cell, as the drop-down does.
    static void chooseCombo(CXListCtrl* list, int row, int column, int index)
    {
        const CXCellRecord* c = list->Cells().Cell(row, column);
        list->SetCellCombo(row, column, true, c->ComboStrings, c->ComboHeight, index);
        emit list->comboSelection(row, column);
    }
    template <typename F>
    static bool eventually(F done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    testing_support::TempDir dir_{"app-pages-qt"};
    testing_support::TempRegistry registry_;
    fs::path previous_;
    std::unique_ptr<CProfileList> list_;
    CProfile* def_ = nullptr;
    CProfile* a_ = nullptr;
    FakeHost host_;
};

TEST_F(PagesTest, MainPageFollowsNotifications)
{
    CMainPageGeneral page(host_);
    page.CreatePage();
    EXPECT_EQ(page.DeviceText(), QStringLiteral("No device detected."));
    EXPECT_EQ(page.ProfileText(), QString::fromStdU16String(std::u16string(kDefaultProfileName)));
    EXPECT_TRUE(page.GameText().isEmpty());

    host_.device = {true, 1, 3, 0, 9};
    host_.gameName = u"Sky & Sea";
    host_.current = a_;
    const int status = host_.updateStatus;
    page.OnDeviceState(0, 0);
    page.OnGameChanged(0, 0);
    page.OnProfileChanged(0, 0);
    EXPECT_EQ(page.DeviceText(), QStringLiteral("Vistrel Pro Model 3  : 9"));
    EXPECT_EQ(page.GameText(), QStringLiteral("Sky & Sea"));
    EXPECT_EQ(page.ProfileText(), QStringLiteral("A & B"));
    EXPECT_EQ(host_.updateStatus, status + 1);
}

TEST_F(PagesTest, ProfilesPageListAndButtons)
{
    CMainPageProfiles page(host_);
    page.CreatePage();
    CXListCtrl* t = page.ProfileTable();
    ASSERT_EQ(t->GetRowCount(), 2);
    EXPECT_EQ(page.ProfileAt(0), def_);
    EXPECT_EQ(text(t, 1, 0), QStringLiteral("A & B"));
    EXPECT_TRUE(bold(t, 0, 0));
    EXPECT_FALSE(bold(t, 1, 0));
    EXPECT_EQ(t->Cells().Cell(1, 2)->ToolTip, u"Click to always use this profile.");
    EXPECT_FALSE(page.DeleteButton()->isEnabled());
    EXPECT_TRUE(page.EditButton()->isEnabled());
    t->SelectRow(1);
    EXPECT_TRUE(page.DeleteButton()->isEnabled());
    EXPECT_EQ(page.Caption(), QStringLiteral("Assign profiles to titles"));
    EXPECT_GE(host_.tracking, 1);
}

TEST_F(PagesTest, ExclusiveCheckBox)
{
    host_.gameId = 44;
    CMainPageProfiles page(host_);
    page.resize(700, 600);
    page.CreatePage();
    page.show();
    CXListCtrl* t = page.ProfileTable();
    clickCell(t, 1, 2);
    EXPECT_EQ(a_->Override, 1);
    EXPECT_EQ(host_.current, a_);
    EXPECT_TRUE(page.ExclusiveMode());
    EXPECT_EQ(page.Caption(), QStringLiteral("Auto profiles disabled - uncheck exclusive loading to enable"));

    clickCell(t, 0, 2);
    EXPECT_EQ(a_->Override, 0);
    EXPECT_EQ(t->GetCellCheck(1, 2), 0);
    EXPECT_EQ(def_->Override, 1);

    clickCell(t, 0, 2);
    EXPECT_EQ(def_->Override, 0);
    EXPECT_FALSE(page.ExclusiveMode());
    ASSERT_EQ(host_.gamesStarted.size(), 1u);
    EXPECT_EQ(host_.gamesStarted[0], 44);
}

TEST_F(PagesTest, DeleteCopyNewEdit)
{
    CMainPageProfiles page(host_);
    page.CreatePage();
    CXListCtrl* t = page.ProfileTable();

    // The current profile stays.
    host_.current = a_;
    t->SelectRow(1);
    page.OnDelete();
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], kCannotDeleteCurrent.english);
    EXPECT_EQ(t->GetRowCount(), 2);

    host_.current = def_;
    page.OnCopy();
    ASSERT_EQ(t->GetRowCount(), 3);
    EXPECT_EQ(text(t, 2, 0), QStringLiteral("Copy of A & B")); // sorted after "A & B"
    EXPECT_EQ(t->GetSelectedRow(), 2) << "the copy is selected";

    host_.confirm = false;
    page.OnDelete();
    EXPECT_EQ(t->GetRowCount(), 3);
    host_.confirm = true;
    page.OnDelete();
    EXPECT_EQ(t->GetRowCount(), 2);
    EXPECT_TRUE(onDisk(a_));

    host_.editName = u"Fresh";
    page.OnNew();
    ASSERT_EQ(t->GetRowCount(), 3);
    CProfile* fresh = page.ProfileAt(2);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Name, u"Fresh");
    EXPECT_TRUE(onDisk(fresh));

    // Cancel restores the profile; OK with a new name moves its file.
    t->SelectRow(1);
    host_.editOk = false;
    host_.editName = u"Gone";
    page.OnEdit();
    EXPECT_EQ(a_->Name, u"A & B");
    EXPECT_EQ(host_.current, def_);

    const std::u16string oldPath = a_->Path;
    host_.editOk = true;
    host_.editName = u"Renamed";
    t->SelectRow(1);
    page.OnEdit();
    EXPECT_EQ(a_->Name, u"Renamed");
    EXPECT_NE(a_->Path, oldPath);
    EXPECT_TRUE(onDisk(a_));
    EXPECT_FALSE(fs::exists(ProfileFileSystemPath(oldPath)));
    EXPECT_EQ(host_.current, def_);
    CProfile loaded;
    loaded.Path = a_->Path;
    ASSERT_EQ(loaded.Load(), 0);
    EXPECT_EQ(loaded.Notes, u"edited");
}

// A keyboard user edits one profile after another: rebuilding the list
// after the edit keeps the edited profile chosen and its buttons on, so the
// keyboard focus stays on "Edit..." rather than moving on to the next
// control past buttons disabled for a moment.
TEST_F(PagesTest, AnEditLeavesTheFocusOnEditAndTheProfileChosen)
{
    CMainPageProfiles page(host_);
    page.resize(700, 600);
    page.CreatePage();
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    CXListCtrl* t = page.ProfileTable();
    for (const char16_t* name : {u"Zebra", u"Able"}) {
        t->SelectRow(1);
        page.EditButton()->setFocus();
        ASSERT_TRUE(page.EditButton()->hasFocus());
        host_.editName = name;
        page.OnEdit();
        EXPECT_EQ(a_->Name, name);
        EXPECT_EQ(page.ProfileAt(t->GetSelectedRow()), a_);
        EXPECT_TRUE(page.EditButton()->isEnabled());
        EXPECT_TRUE(page.EditButton()->hasFocus()) << QApplication::focusWidget()->metaObject()->className();
    }
}

TEST_F(PagesTest, TitleListFilterAndExclusive)
{
    host_.gameId = 100;
    CMainPageProfiles page(host_);
    page.CreatePage();
    CXListCtrl* t = page.TitleTable();
    ASSERT_EQ(t->GetRowCount(), 2);
    EXPECT_EQ(text(t, 0, 0), QStringLiteral("Alpha & Co")); // sorted, case-insensitive
    EXPECT_TRUE(bold(t, 1, 0));                            // the running game
    const CXCellRecord* cell = t->Cells().Cell(1, 1);
    ASSERT_TRUE(cell->Combo);
    EXPECT_EQ(cell->ComboHeight, 10);
    EXPECT_EQ(t->GetComboSelection(1, 1), list_->IndexOf(def_));
    EXPECT_EQ(text(t, 1, 1), QString::fromStdU16String(std::u16string(kDefaultProfileName)));
    EXPECT_EQ(cell->ToolTip, u"Select a profile to automatically load when this title starts.");

    chooseCombo(t, 1, 1, list_->IndexOf(a_));
    EXPECT_EQ(list_->FindForGame(7), a_);
    ASSERT_EQ(host_.gamesStarted.size(), 1u);
    EXPECT_EQ(host_.gamesStarted[0], 100);

    page.FilterCombo()->setCurrentIndex(6); // Favorites, none chosen
    EXPECT_EQ(host_.filter, -2);
    EXPECT_EQ(t->GetRowCount(), 0);
    host_.favourites = {8};
    page.FilterCombo()->setCurrentIndex(0);
    page.FilterCombo()->setCurrentIndex(6);
    ASSERT_EQ(t->GetRowCount(), 1);
    EXPECT_EQ(page.RecordAt(0), 1);

    page.FilterCombo()->setCurrentIndex(0);
    page.resize(700, 600);
    page.show();
    clickCell(page.ProfileTable(), 1, 2);
    ASSERT_TRUE(page.ExclusiveMode());
    EXPECT_FALSE(t->Cells().IsRowEnabled(0));
    EXPECT_FALSE(t->Cells().IsRowEnabled(1));
}

TEST_F(PagesTest, TitleMenuAndDetailsChangeFavourites)
{
    CMainPageProfiles page(host_);
    page.CreatePage();
    // Row 0 is "Alpha & Co" (ProfileId 8), row 1 "zeta" (7).
    QMenu* menu = page.TitleMenu(0, {}, false);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 3);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("&Add To Favorites"));
    EXPECT_EQ(menu->defaultAction(), menu->actions()[2]) << "Details is the default item";
    menu->actions()[0]->trigger();
    EXPECT_EQ(host_.favourites, (std::vector<std::int32_t>{8}));
    EXPECT_EQ(page.TitleMenu(0, {}, false)->actions()[0]->text(), QStringLiteral("&Remove From Favorites"));
    EXPECT_EQ(page.TitleMenu(5, {}, false), nullptr);

    // Details: only a changed flag is saved; under Favorites the list follows.
    host_.detailsAnswer = true;
    page.OnDetails(0);
    EXPECT_EQ(host_.detailsShown, (std::vector<std::u16string>{u"Alpha & Co"}));
    EXPECT_EQ(host_.favouriteSaves, 1);
    page.FilterCombo()->setCurrentIndex(6);
    ASSERT_EQ(page.TitleTable()->GetRowCount(), 1);
    host_.detailsAnswer = false;
    page.OnDetails(0);
    EXPECT_EQ(host_.favouriteSaves, 2);
    EXPECT_TRUE(host_.favourites.empty());
    EXPECT_EQ(page.TitleTable()->GetRowCount(), 0);
}

TEST_F(PagesTest, TitleDetailsShowTheRecord)
{
    CGameInfo game;
    game.Name = u"<b>Racer</b>";
    game.Url = u"http://games.example/racer";
    game.Limits[0].Supported = 1;
    game.Limits[4].Supported = 1;
    CGameInfoDlg dlg(game, true);
    EXPECT_EQ(dlg.TitleLink()->text(), QStringLiteral("<b>Racer</b>")) << "names are text, not markup";
    EXPECT_EQ(dlg.TitleLink()->GetURL(), QStringLiteral("http://games.example/racer"));
    EXPECT_EQ(dlg.VersionText(), QStringLiteral("Any"));
    for (int axis = 0; axis < 6; ++axis) {
        EXPECT_EQ(dlg.AxisBox(axis)->isChecked(), axis == 0 || axis == 4) << axis;
        EXPECT_FALSE(dlg.AxisBox(axis)->isEnabled());
    }
    EXPECT_TRUE(dlg.Favourite());
    dlg.FavouriteBox()->setChecked(false);
    EXPECT_FALSE(dlg.Favourite());
    game.Version = u"1.2";
    EXPECT_EQ(CGameInfoDlg(game, false).VersionText(), QStringLiteral("1.2"));
}

TEST_F(PagesTest, NewsPage)
{
    host_.newsResult = 2;
    CMainPageNews page(host_);
    page.CreatePage();
    ASSERT_TRUE(eventually([&] { return !page.Querying(); }));
    EXPECT_EQ(page.Address(), QString::fromStdU16String(std::u16string(kDefaultNewsAddress)));
    EXPECT_TRUE(host_.savedNews.empty());

    host_.newsResult = 0;
    host_.news = {7, "https://news.example/7"};
    page.OnDeviceChange(0, 0);
    ASSERT_TRUE(eventually([&] { return page.Address() == QStringLiteral("https://news.example/7"); }));
    ASSERT_EQ(host_.savedNews.size(), 1u);
    EXPECT_EQ(host_.savedNews[0], 7);
    page.SaveLastNewsVersion();
    EXPECT_EQ(host_.savedNews.back(), 7);
}


// The profile list is sorted by name without regard to case, the default
// profile first; a title's profile cell, double-clicked, edits that profile.
TEST_F(PagesTest, ProfilesSortedAndTitleProfileCellEditsItsProfile)
{
    for (const char16_t* name : {u"zulu", u"Bravo", u"alpha"}) {
        auto p = std::make_unique<CProfile>();
        p->Name = name;
        ASSERT_EQ(list_->AddProfile(p), 0);
    }
    CMainPageProfiles page(host_);
    page.resize(700, 600);
    page.CreatePage();
    page.show();
    CXListCtrl* t = page.ProfileTable();
    QStringList shown;
    for (int r = 0; r < t->GetRowCount(); ++r)
        shown << text(t, r, 0);
    EXPECT_EQ(shown, (QStringList{QString::fromStdU16String(std::u16string(kDefaultProfileName)), "A & B", "alpha",
                                  "Bravo", "zulu"}));

    // "zeta" (row 1) loads ProfileId 7; point it at "Bravo", then double-click its profile cell.
    CProfile* bravo = page.ProfileAt(3);
    ASSERT_EQ(bravo->Name, u"Bravo");
    chooseCombo(page.TitleTable(), 1, 1, list_->IndexOf(bravo));
    ASSERT_EQ(list_->FindForGame(7), bravo);
    host_.edited.clear();
    doubleClickCell(page.TitleTable(), 1, 1);
    EXPECT_EQ(host_.edited, (std::vector<std::u16string>{u"Bravo"}));
    EXPECT_EQ(page.ProfileAt(t->GetSelectedRow()), bravo);
    // The first column still opens the details.
    doubleClickCell(page.TitleTable(), 1, 0);
    EXPECT_EQ(host_.detailsShown, (std::vector<std::u16string>{u"zeta"}));
}

// The pages' texts come from the interface language where it has them.
TEST_F(PagesTest, TextsComeFromTheInterfaceLanguage)
{
    host_.language = {{2023, u"&Ajouter aux favoris"}, {5107, u"Profil actif"}, {2020, u"Assigner"}};
    CMainPageProfiles page(host_);
    page.CreatePage();
    EXPECT_EQ(page.TitleMenu(0, {}, false)->actions()[0]->text(), QStringLiteral("&Ajouter aux favoris"));
    EXPECT_EQ(page.TitleMenu(0, {}, false)->actions()[2]->text(), QStringLiteral("&Details...")); // none: English
    EXPECT_EQ(page.Caption(), QStringLiteral("Assigner"));
    host_.current = a_;
    page.ProfileTable()->SelectRow(1);
    page.OnDelete();
    EXPECT_EQ(host_.messages, (std::vector<std::u16string>{u"Profil actif"}));
}

// The main page shows its two pictures: drawn, not empty.
TEST_F(PagesTest, MainPageShowsItsPictures)
{
    CMainPageGeneral page(host_);
    page.CreatePage();
    for (QLabel* frame : {page.HeaderFrame(), page.DeviceFrame()}) {
        ASSERT_NE(frame, nullptr);
        const QImage image = frame->pixmap().toImage();
        ASSERT_FALSE(image.isNull());
        int opaque = 0;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                if (qAlpha(c) > 0) {
                    ++opaque;
                    colours.insert(c);
                }
            }
        EXPECT_GT(opaque, image.width() * image.height() / 5) << frame->objectName().toStdString();
        EXPECT_GT(colours.size(), 8) << frame->objectName().toStdString();
    }
}

// The news query runs on a worker: the page is there at once with the
// product page, and shows the news page when the answer comes.
TEST_F(PagesTest, NewsQueryRunsOffTheUserInterfaceThread)
{
    host_.holdNews = true;
    host_.news = {9, "https://news.example/9"};
    CMainPageNews page(host_);
    page.CreatePage(); // returns while the query waits
    EXPECT_EQ(page.Address(), QString::fromStdU16String(std::u16string(kDefaultNewsAddress)));
    EXPECT_TRUE(page.Querying());
    page.OnDeviceChange(0, 0); // asked again while one runs: it follows
    host_.ReleaseNews();
    ASSERT_TRUE(eventually([&] { return page.Address() == QStringLiteral("https://news.example/9") && !page.Querying(); }));
    EXPECT_NE(host_.newsThread, std::this_thread::get_id());
    EXPECT_EQ(host_.newsQueries, 2);
    EXPECT_EQ(host_.savedNews, (std::vector<std::int32_t>{9, 9}));
}

// A page that goes while its query runs waits for it and drops the answer.
TEST_F(PagesTest, NewsPageClosedDuringTheQuery)
{
    host_.holdNews = true;
    std::thread release;
    {
        CMainPageNews page(host_);
        page.CreatePage();
        release = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            host_.ReleaseNews();
        });
    }
    release.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(host_.savedNews.empty());
}
} // namespace
