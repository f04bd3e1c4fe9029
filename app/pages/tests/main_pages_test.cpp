#include "app/main_pages.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>

#include "profiles/GameList.h"
#include "profiles/ProfileList.h"
#include "testing/qt_app.h"
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
        if (!editName.empty())
            p.Name = editName;
        p.Notes = u"edited";
        return editOk;
    }
    bool ConfirmDelete(std::u16string_view) override { return confirm; }
    void ShowMessage(std::u16string_view t) override { messages.emplace_back(t); }
    int QueryNews(CNewsReply& r) override
    {
        r = news;
        return newsResult;
    }
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
    QTableWidget* t = page.ProfileTable();
    ASSERT_EQ(t->rowCount(), 2);
    EXPECT_EQ(page.ProfileAt(0), def_);
    EXPECT_EQ(t->item(1, 0)->text(), QStringLiteral("A & B"));
    EXPECT_TRUE(t->item(0, 0)->font().bold());
    EXPECT_FALSE(t->item(1, 0)->font().bold());
    EXPECT_FALSE(page.DeleteButton()->isEnabled());
    EXPECT_TRUE(page.EditButton()->isEnabled());
    t->selectRow(1);
    EXPECT_TRUE(page.DeleteButton()->isEnabled());
    EXPECT_EQ(page.Caption(), QStringLiteral("Assign profiles to titles"));
    EXPECT_GE(host_.tracking, 1);
}

TEST_F(PagesTest, ExclusiveCheckBox)
{
    host_.gameId = 44;
    CMainPageProfiles page(host_);
    page.CreatePage();
    QTableWidget* t = page.ProfileTable();
    t->item(1, 2)->setCheckState(Qt::Checked);
    EXPECT_EQ(a_->Override, 1);
    EXPECT_EQ(host_.current, a_);
    EXPECT_TRUE(page.ExclusiveMode());
    EXPECT_EQ(page.Caption(), QStringLiteral("Auto profiles disabled - uncheck exclusive loading to enable"));

    t->item(0, 2)->setCheckState(Qt::Checked);
    EXPECT_EQ(a_->Override, 0);
    EXPECT_EQ(t->item(1, 2)->checkState(), Qt::Unchecked);
    EXPECT_EQ(def_->Override, 1);

    t->item(0, 2)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(def_->Override, 0);
    EXPECT_FALSE(page.ExclusiveMode());
    ASSERT_EQ(host_.gamesStarted.size(), 1u);
    EXPECT_EQ(host_.gamesStarted[0], 44);
}

TEST_F(PagesTest, DeleteCopyNewEdit)
{
    CMainPageProfiles page(host_);
    page.CreatePage();
    QTableWidget* t = page.ProfileTable();

    // The current profile stays.
    host_.current = a_;
    t->selectRow(1);
    page.OnDelete();
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], kCannotDeleteCurrent);
    EXPECT_EQ(t->rowCount(), 2);

    host_.current = def_;
    page.OnCopy();
    ASSERT_EQ(t->rowCount(), 3);
    EXPECT_EQ(t->item(2, 0)->text(), QStringLiteral("Copy of A & B"));

    host_.confirm = false;
    t->selectRow(2);
    page.OnDelete();
    EXPECT_EQ(t->rowCount(), 3);
    host_.confirm = true;
    page.OnDelete();
    EXPECT_EQ(t->rowCount(), 2);
    EXPECT_TRUE(onDisk(a_));

    host_.editName = u"Fresh";
    page.OnNew();
    ASSERT_EQ(t->rowCount(), 3);
    CProfile* fresh = page.ProfileAt(2);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Name, u"Fresh");
    EXPECT_TRUE(onDisk(fresh));

    // Cancel restores the profile; OK with a new name moves its file.
    t->selectRow(1);
    host_.editOk = false;
    host_.editName = u"Gone";
    page.OnEdit();
    EXPECT_EQ(a_->Name, u"A & B");
    EXPECT_EQ(host_.current, def_);

    const std::u16string oldPath = a_->Path;
    host_.editOk = true;
    host_.editName = u"Renamed";
    t->selectRow(1);
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

TEST_F(PagesTest, TitleListFilterAndExclusive)
{
    host_.gameId = 100;
    CMainPageProfiles page(host_);
    page.CreatePage();
    QTableWidget* t = page.TitleTable();
    ASSERT_EQ(t->rowCount(), 2);
    EXPECT_EQ(t->item(0, 0)->text(), QStringLiteral("Alpha & Co")); // sorted, case-insensitive
    EXPECT_TRUE(t->item(1, 0)->font().bold());                     // the running game
    auto* combo = qobject_cast<QComboBox*>(t->cellWidget(1, 1));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentIndex(), list_->IndexOf(def_));

    combo->setCurrentIndex(list_->IndexOf(a_));
    EXPECT_EQ(list_->FindForGame(7), a_);
    ASSERT_EQ(host_.gamesStarted.size(), 1u);
    EXPECT_EQ(host_.gamesStarted[0], 100);

    page.FilterCombo()->setCurrentIndex(6); // Favorites, none chosen
    EXPECT_EQ(host_.filter, -2);
    EXPECT_EQ(t->rowCount(), 0);
    host_.favourites = {8};
    page.FilterCombo()->setCurrentIndex(0);
    page.FilterCombo()->setCurrentIndex(6);
    ASSERT_EQ(t->rowCount(), 1);
    EXPECT_EQ(page.RecordAt(0), 1);

    page.FilterCombo()->setCurrentIndex(0);
    page.ProfileTable()->item(1, 2)->setCheckState(Qt::Checked);
    EXPECT_FALSE(t->cellWidget(0, 1)->isEnabled());
    EXPECT_FALSE(t->item(0, 0)->flags() & Qt::ItemIsEnabled);
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
    ASSERT_EQ(page.TitleTable()->rowCount(), 1);
    host_.detailsAnswer = false;
    page.OnDetails(0);
    EXPECT_EQ(host_.favouriteSaves, 2);
    EXPECT_TRUE(host_.favourites.empty());
    EXPECT_EQ(page.TitleTable()->rowCount(), 0);
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
    EXPECT_EQ(page.Address(), QString::fromStdU16String(std::u16string(kDefaultNewsAddress)));
    EXPECT_TRUE(host_.savedNews.empty());

    host_.newsResult = 0;
    host_.news = {7, "https://news.example/7"};
    page.OnDeviceChange(0, 0);
    EXPECT_EQ(page.Address(), QStringLiteral("https://news.example/7"));
    ASSERT_EQ(host_.savedNews.size(), 1u);
    EXPECT_EQ(host_.savedNews[0], 7);
    page.SaveLastNewsVersion();
    EXPECT_EQ(host_.savedNews.back(), 7);
}

} // namespace
