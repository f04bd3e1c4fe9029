#include "app/main_pages_model.h"

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "profiles/GameList.h"
#include "profiles/ProfileList.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

namespace fs = std::filesystem;

namespace {

TEST(MainPageModel, DeviceInfoTexts)
{
    struct Case {
        DeviceDescription device;
        std::u16string expected;
    };
    const Case cases[] = {
        {{false, 0, 5, 0, 77}, u"No device detected."},
        {{true, 0, 5, 0, 77}, u"Vistrel Model 5A  : 77"},
        {{true, 0, 5, 1, 0}, u"Vistrel Model 5B "},
        {{true, 1, 3, 0, 1}, u"Vistrel Pro Model 3 "},
        {{true, 1, 3, 0, 2}, u"Vistrel Pro Model 3  : 2"},
        {{true, 9, 0, 0, -4}, u"Vistrel camera Model 0 "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceInfoText(c.device), c.expected);
}

TEST(MainPageModel, AmpersandsAreDoubled)
{
    EXPECT_EQ(DoubleAmpersands(u"Tom & Jerry &&"), u"Tom && Jerry &&&&");
    EXPECT_EQ(DoubleAmpersands(u""), u"");
}

TEST(ProfilesPageModel, TitleFilter)
{
    ASSERT_EQ(TitleFilterEntries().size(), 7u);
    EXPECT_EQ(TitleFilterEntries()[0].text, u"All titles");
    EXPECT_EQ(TitleFilterIndex(-2), 6);
    EXPECT_EQ(TitleFilterIndex(0), 5);
    EXPECT_EQ(TitleFilterIndex(42), 0);

    struct Case {
        int filter, id, category;
        bool favourite, shown;
    };
    const Case cases[] = {
        {-1, 5, 3, false, true},  {-1, -1, 3, true, false}, {3, 5, 3, false, true},
        {2, 5, 3, true, false},   {-2, 5, 3, false, false}, {-2, 5, 3, true, true},
        {0, 5, 0, false, true},   {-2, -1, 0, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsTitleShown(c.filter, c.id, c.category, c.favourite), c.shown)
            << c.filter << " " << c.id << " " << c.category << " " << c.favourite;
}

TEST(ProfilesPageModel, NoFavouritesShowsNoTitles)
{
    for (int category = 0; category <= 4; ++category)
        EXPECT_FALSE(IsTitleShown(kFilterFavorites, 10 + category, category, false));
}

TEST(NewsPageModel, TargetFollowsReply)
{
    auto none = NewsTarget(u"");
    EXPECT_EQ(none.address, kDefaultNewsAddress);
    EXPECT_FALSE(none.saveVersion);
    auto reply = NewsTarget(u"https://news.example/3");
    EXPECT_EQ(reply.address, u"https://news.example/3");
    EXPECT_TRUE(reply.saveVersion);
}

// A working folder and registry of its own: profile paths are relative.
class ProfileOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        fs::create_directory("Profiles");
        list_ = std::make_unique<CProfileList>(registry_.store());
        def_ = list_->CreateDefaultProfile();
        a_ = add(u"Flight & Co", u"notes & more");
        b_ = add(u"Racing", u"");
        ASSERT_TRUE(def_ && a_ && b_);
        ASSERT_TRUE(onDisk(def_));
    }
    void TearDown() override
    {
        list_.reset();
        fs::current_path(previous_);
    }

    CProfile* add(std::u16string name, std::u16string notes)
    {
        auto p = std::make_unique<CProfile>();
        p->Name = std::move(name);
        p->Notes = std::move(notes);
        CProfile* raw = p.get();
        return list_->AddProfile(p) == 0 ? raw : nullptr;
    }
    static bool onDisk(const CProfile* p) { return fs::exists(ProfileFileSystemPath(p->Path)); }
    static int overrideOnDisk(const CProfile* p)
    {
        CProfile loaded;
        loaded.Path = p->Path;
        EXPECT_EQ(loaded.Load(), 0);
        return loaded.Override;
    }

    testing_support::TempDir dir_{"app-pages"};
    testing_support::TempRegistry registry_;
    fs::path previous_;
    std::unique_ptr<CProfileList> list_;
    CProfile* def_ = nullptr;
    CProfile* a_ = nullptr;
    CProfile* b_ = nullptr;
};

TEST_F(ProfileOps, DefaultHeadsRowsAndAmpersandsShow)
{
    // A default profile added at the tail still heads the rows.
    auto second = std::make_unique<CProfile>();
    second->Name = u"Tail";
    list_->AddTail(std::move(second));
    auto rows = BuildProfileRows(*list_);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].profile, def_);
    EXPECT_EQ(rows[1].name, u"Flight && Co");
    EXPECT_EQ(rows[1].notes, u"notes && more");
    EXPECT_FALSE(ButtonsForSelection(def_).remove);
    EXPECT_TRUE(ButtonsForSelection(def_).edit);
    EXPECT_TRUE(ButtonsForSelection(a_).remove);
    EXPECT_FALSE(ButtonsForSelection(nullptr).copy);
    EXPECT_EQ(BuildProfileNames(*list_).size(), 4u);
}

TEST_F(ProfileOps, ExclusiveMovesBetweenProfiles)
{
    auto first = SetExclusive(*list_, *a_, true);
    EXPECT_EQ(first.activate, a_);
    EXPECT_TRUE(first.exclusiveMode);
    EXPECT_TRUE(first.unchecked.empty());
    EXPECT_EQ(overrideOnDisk(a_), 1);

    auto second = SetExclusive(*list_, *b_, true);
    ASSERT_EQ(second.unchecked.size(), 1u);
    EXPECT_EQ(second.unchecked[0], a_);
    EXPECT_EQ(a_->Override, 0);
    EXPECT_EQ(overrideOnDisk(a_), 0);
    EXPECT_EQ(overrideOnDisk(b_), 1);
    EXPECT_EQ(list_->FindExclusive(), b_);

    auto off = SetExclusive(*list_, *b_, false);
    EXPECT_TRUE(off.restartGame);
    EXPECT_FALSE(off.exclusiveMode);
    EXPECT_EQ(off.activate, nullptr);
    EXPECT_EQ(overrideOnDisk(b_), 0);
    EXPECT_EQ(list_->FindExclusive(), nullptr);
    EXPECT_EQ(off.saveFailures, 0);
}

TEST_F(ProfileOps, CopyIsANewFileAndLeavesTheSource)
{
    a_->Override = 1;
    a_->GameIds = {7, 8};
    CProfile* copy = CopyProfile(*list_, *a_);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Name, u"Copy of Flight & Co");
    EXPECT_EQ(copy->Override, 0);
    EXPECT_TRUE(copy->GameIds.empty());
    EXPECT_NE(copy->Path, a_->Path);
    EXPECT_TRUE(onDisk(copy));
    EXPECT_TRUE(onDisk(a_));
    EXPECT_EQ(a_->GameIds.size(), 2u);

    // Copying the default profile never makes a second default.
    CProfile* defCopy = CopyProfile(*list_, *def_);
    ASSERT_NE(defCopy, nullptr);
    EXPECT_EQ(defCopy->IsDefault(), 0);
    EXPECT_EQ(list_->FindDefault(), def_);

    // A second copy of the same name gets a path of its own.
    CProfile* again = CopyProfile(*list_, *a_);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again->Path, copy->Path);
    EXPECT_TRUE(onDisk(copy));
    EXPECT_EQ(list_->GetCount(), 6);
}

TEST_F(ProfileOps, DeleteNeverTakesTheCurrentProfile)
{
    const std::u16string path = a_->Path;
    EXPECT_EQ(DeleteProfile(*list_, a_, a_), DeleteOutcome::IsCurrent);
    EXPECT_TRUE(onDisk(a_));
    EXPECT_EQ(list_->IndexOf(a_), 1);

    EXPECT_EQ(DeleteProfile(*list_, def_, nullptr), DeleteOutcome::Failed);
    CProfile stranger;
    EXPECT_EQ(DeleteProfile(*list_, def_, &stranger), DeleteOutcome::Failed);
    EXPECT_EQ(list_->GetCount(), 3);

    EXPECT_EQ(DeleteProfile(*list_, def_, a_), DeleteOutcome::Deleted);
    EXPECT_FALSE(fs::exists(ProfileFileSystemPath(path)));
    EXPECT_EQ(list_->GetCount(), 2);
    EXPECT_TRUE(onDisk(b_));
}

TEST_F(ProfileOps, TitleRowsFollowFilterAndMap)
{
    constexpr std::string_view xml = R"(<Games Version="1" Developer="1">
  <Game Name="Sky &amp; Sea" Id="100" ProfileId="7" Category="1"></Game>
  <Game Name="Road" Id="200" ProfileId="8" Category="2"></Game>
  <Game Name="Hidden" Id="-1" ProfileId="9" Category="1"></Game>
</Games>)";
    CGameList games;
    games.Parse(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
    ASSERT_EQ(games.GetSize(), 3);
    list_->Map().Seed(games); // as loading the list does: the map key exists
    auto favourite = [](std::int32_t id) { return id == 8; };

    auto all = BuildTitleRows(games, *list_, kFilterAll, favourite);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].name, u"Sky && Sea");
    EXPECT_EQ(all[0].profileIndex, list_->IndexOf(def_)); // nothing mapped: the default
    auto flight = BuildTitleRows(games, *list_, 1, favourite);
    ASSERT_EQ(flight.size(), 1u);
    EXPECT_EQ(flight[0].record, 0);
    auto favs = BuildTitleRows(games, *list_, kFilterFavorites, favourite);
    ASSERT_EQ(favs.size(), 1u);
    EXPECT_EQ(favs[0].record, 1);
    EXPECT_TRUE(BuildTitleRows(games, *list_, kFilterFavorites, {}).empty());

    EXPECT_FALSE(AssignTitleProfile(*list_, games[0], 99));
    ASSERT_TRUE(AssignTitleProfile(*list_, games[0], list_->IndexOf(b_)));
    EXPECT_EQ(list_->FindForGame(7), b_);
    EXPECT_EQ(BuildTitleRows(games, *list_, kFilterAll, favourite)[0].profileIndex, list_->IndexOf(b_));
    EXPECT_TRUE(onDisk(b_));
}

} // namespace
