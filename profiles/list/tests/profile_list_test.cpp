#include "profiles/ProfileList.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/debug.h"
#include "profiles/GameList.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

namespace fs = std::filesystem;
namespace reg = platform::registry;

namespace {

constexpr reg::Root kUser = reg::Root::CurrentUser;
constexpr const char* kMapKey = "SOFTWARE\\Orvane\\Vistrel\\ProfileMap";

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, std::string_view bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void parseCatalogue(CGameList& games, std::string_view xml)
{
    games.Parse(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
}

// A working folder of its own (profile paths are relative to it) and a
// registry of its own.
class ProfileListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override { fs::current_path(previous_); }

    static fs::path file(std::string_view name) { return fs::path("Profiles") / name; }

    // Saves a profile file directly, as an earlier run of the program would.
    static void saveProfile(std::u16string name, std::string_view fileName, bool isDefault = false, int override = 0)
    {
        fs::create_directories("Profiles");
        CProfile p;
        p.Name = std::move(name);
        p.Override = override;
        if (isDefault)
            p.GameIds.push_back(CProfile::kDefaultGameId);
        p.Path = u"Profiles\\" + std::u16string(fileName.begin(), fileName.end());
        ASSERT_EQ(p.Save(), 0);
    }

    reg::Store& store() { return *registry_.store(); }
    std::u16string mapValue(const std::string& name)
    {
        std::u16string v;
        return store().queryString(kUser, kMapKey, name, v) == reg::kSuccess ? v : u"<none>";
    }

    testing_support::TempDir dir_{"profile-list"};
    testing_support::TempRegistry registry_;
    fs::path previous_;
    CGameList noGames_;
};

TEST(ProfileFileNames, ReservedCharactersBecomeUnderscores)
{
    struct Case {
        std::u16string name;
        std::u16string path;
    } cases[] = {
        {u"My: Game Profile", u"Profiles\\My__Game_Profile.xml"},
        {u"a\\b/c:d*e?f\"g<h>i|j k", u"Profiles\\a_b_c_d_e_f_g_h_i_j_k.xml"},
        {u"Caf\u00e9-1.0", u"Profiles\\Caf\u00e9-1.0.xml"},
        {u"", u"Profiles\\.xml"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CProfileList::MakeFileName(c.name, false), c.path);
}

TEST_F(ProfileListTest, UniqueNamesCountFromZeroAndCountAnyExistingFile)
{
    fs::create_directories("Profiles");
    EXPECT_EQ(CProfileList::MakeFileName(u"A B", true), u"Profiles\\A_B.xml");
    writeFile(file("A_B.xml"), "x");
    EXPECT_EQ(CProfileList::MakeFileName(u"A B", false), u"Profiles\\A_B.xml");
    EXPECT_EQ(CProfileList::MakeFileName(u"A B", true), u"Profiles\\A_B000.xml");
    // A file that exists but cannot be read is still taken.
    writeFile(file("A_B000.xml"), "x");
    fs::permissions(file("A_B000.xml"), fs::perms::none);
    EXPECT_EQ(CProfileList::MakeFileName(u"A B", true), u"Profiles\\A_B001.xml");
}

TEST_F(ProfileListTest, DefaultsGoToTheHeadLaterLoadedFirst)
{
    saveProfile(u"First default", "a.xml", true);
    saveProfile(u"Ordinary", "b.xml");
    saveProfile(u"Second default", "c.xml", true);
    CProfileList list(registry_.store());
    ASSERT_EQ(list.LoadAll(noGames_), 0);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetAt(0)->Name, u"Second default");
    EXPECT_EQ(list.GetAt(1)->Name, u"First default");
    EXPECT_EQ(list.GetAt(2)->Name, u"Ordinary");
    EXPECT_EQ(list.GetAt(2)->Path, u"Profiles\\b.xml");
    EXPECT_EQ(list.FindDefault(), list.GetAt(0));
    EXPECT_EQ(list.FindExclusive(), nullptr);
}

TEST_F(ProfileListTest, BadFilesAreReportedSkippedAndNeverTouched)
{
    saveProfile(u"Good", "Good.xml");
    fs::create_directories("Profiles");
    const std::string garbage = "<Profile><Name>broken";
    writeFile(file("Broken.xml"), garbage);
    const std::string noProfile = "<?xml version=\"1.0\"?><Other/>";
    writeFile(file("Other.XML"), noProfile);
    writeFile(file("Default_Profile.xml"), garbage); // the default profile's own file name
    fs::create_directories(file("Folder.xml"));
    writeFile(file("notes.txt"), "not a profile");

    platform::debug::Capture debug;
    CProfileList list(registry_.store());
    std::vector<std::u16string> told;
    list.SetUserMessages([&](std::u16string_view text) { told.emplace_back(text); });
    ASSERT_EQ(list.LoadAll(noGames_), 0);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0)->Name, u"Good");
    EXPECT_TRUE(debug.contains("Profiles/Broken.xml"));
    EXPECT_TRUE(debug.contains("Profiles/Other.XML"));
    // The user is told of the two unreadable files (in name order), not of
    // the well-formed one that holds no profile.
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find(u"Profiles/Broken.xml"), std::u16string::npos);
    EXPECT_NE(told[1].find(u"Profiles/Default_Profile.xml"), std::u16string::npos);

    // No default profile: a new one is made beside the bad file of its name.
    CProfile* current = list.SelectStartProfile();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->Path, u"Profiles\\Default_Profile000.xml");
    EXPECT_EQ(readFile(file("Broken.xml")), garbage);
    EXPECT_EQ(readFile(file("Other.XML")), noProfile);
    EXPECT_EQ(readFile(file("Default_Profile.xml")), garbage);
    EXPECT_TRUE(fs::is_directory(file("Folder.xml")));
}

// A save killed midway leaves ".<name>.xml.tmp-XXXXXX" beside the profile;
// the next start removes exactly those files and loads the profiles whole.
TEST_F(ProfileListTest, LeftoversOfAKilledSaveAreRemovedAtStart)
{
    saveProfile(u"Good", "Good.xml");
    const std::vector<std::string> ours = {".Good.xml.tmp-a1B2c3", ".New one.XML.tmp-zzzzzz"};
    const std::vector<std::string> others = {".Good.xml.tmp-a1B2", ".Good.txt.tmp-a1B2c3", "Good.xml.tmp-a1B2c3",
                                             ".Good.xml.swp", "notes.txt"};
    for (const auto& n : ours)
        writeFile(file(n), "<?xml ver");
    for (const auto& n : others)
        writeFile(file(n), "keep");

    CProfileList list(registry_.store());
    platform::debug::Capture debug;
    ASSERT_EQ(list.LoadAll(noGames_), 0);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_TRUE(debug.contains("removed 2 temporary file"));
    for (const auto& n : ours)
        EXPECT_FALSE(fs::exists(file(n))) << n;
    for (const auto& n : others)
        EXPECT_EQ(readFile(file(n)), "keep") << n;
}

TEST_F(ProfileListTest, StartProfileIsExclusiveThenDefaultThenANewDefault)
{
    {
        CProfileList list(registry_.store());
        list.LoadAll(noGames_); // also makes the folder
        EXPECT_TRUE(fs::is_directory("Profiles"));
        CProfile* p = list.SelectStartProfile();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(list.GetAt(0), p);
        EXPECT_EQ(p->Name, u"Default Profile");
        EXPECT_EQ(p->Notes, u"This profile is loaded when there is no active game.");
        EXPECT_TRUE(p->IsDefault());
        EXPECT_EQ(p->Axes[CProfileAxis::Roll].Enabled, 0);
        EXPECT_EQ(p->Path, u"Profiles\\Default_Profile.xml");
    }
    {
        // Next start: the saved default comes back and no second one is made.
        CProfileList list(registry_.store());
        list.LoadAll(noGames_);
        ASSERT_EQ(list.GetCount(), 1);
        EXPECT_EQ(list.SelectStartProfile(), list.GetAt(0));
        EXPECT_EQ(list.GetCount(), 1);
        EXPECT_EQ(list.GetAt(0)->Axes[CProfileAxis::Roll].Enabled, 0);
    }
    saveProfile(u"Always", "Always.xml", false, 1);
    {
        CProfileList list(registry_.store());
        list.LoadAll(noGames_);
        CProfile* p = list.SelectStartProfile();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Name, u"Always");
        EXPECT_EQ(list.FindExclusive(), p);
    }
}

// The catalogue game with Id 100 has program profile id 7.
constexpr std::string_view kGames = R"(<Games Version="1" Developer="1">
  <Game Name="Flyer" Id="100" ProfileId="7"><DefaultProfile>Flyer.xml</DefaultProfile></Game>
  <Game Name="Racer" Id="200" ProfileId="8"></Game>
  <Game Name="Negative" Id="300" ProfileId="-5"><DefaultProfile>Neg.xml</DefaultProfile></Game>
</Games>)";

TEST_F(ProfileListTest, MapLookupCases)
{
    saveProfile(u"Default", "Default.xml", true);
    saveProfile(u"Flyer", "Flyer.xml");
    saveProfile(u"Racer", "Racer.xml");
    fs::create_directories("Profiles");
    writeFile(file("Damaged.xml"), "<Profile>");
    writeFile(file("flyer.xml.bak"), "");

    struct Case {
        const char* what;
        const char16_t* value; // null: no value
        const char16_t* expected;
    } cases[] = {
        {"no value", nullptr, u"Default"},
        {"loaded profile", u"Racer.xml", u"Racer"},
        {"letter case differs from the loaded path", u"racer.xml", u"Default"},
        {"file is gone", u"Gone.xml", u"Default"},
        {"file did not load", u"Damaged.xml", u"Default"},
        {"empty value", u"", u"Default"},
        {"existing file that is no profile", u"flyer.xml.bak", u"Default"},
    };
    CProfileList list(registry_.store());
    list.LoadAll(noGames_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store().deleteValue(kUser, kMapKey, "8");
        if (c.value) {
            ASSERT_EQ(store().setString(kUser, kMapKey, "8", c.value), reg::kSuccess);
        }
        const CProfile* p = list.FindForGame(8);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Name, c.expected);
    }
    // A value without a stored terminator reads the same.
    ASSERT_EQ(store().setString(kUser, kMapKey, "8", u"Racer.xml", false), reg::kSuccess);
    EXPECT_EQ(list.FindForGame(8)->Name, u"Racer");
    // A missing key falls back too.
    ASSERT_EQ(store().deleteTree(kUser, kMapKey), reg::kSuccess);
    EXPECT_EQ(list.FindForGame(8)->Name, u"Default");
}

TEST_F(ProfileListTest, NoDefaultAndNoMappingGivesNothing)
{
    saveProfile(u"Racer", "Racer.xml");
    CProfileList list(registry_.store());
    list.LoadAll(noGames_);
    EXPECT_EQ(list.FindForGame(8), nullptr);
    EXPECT_EQ(list.FindDefault(), nullptr);
}

TEST_F(ProfileListTest, SeedingFillsOnlyMissingValues)
{
    CGameList games;
    parseCatalogue(games, kGames);
    ASSERT_EQ(games.GetSize(), 3);
    // The user already chose a profile for game 7.
    ASSERT_EQ(store().createKey(kUser, kMapKey), reg::kSuccess);
    ASSERT_EQ(store().setString(kUser, kMapKey, "7", u"Mine.xml"), reg::kSuccess);

    const ProfileMap map(registry_.store());
    ASSERT_EQ(map.Seed(games), reg::kSuccess);
    EXPECT_EQ(mapValue("7"), u"Mine.xml");
    EXPECT_EQ(mapValue("-5"), u"Neg.xml");
    EXPECT_EQ(mapValue("8"), u"<none>"); // no DefaultProfile in the catalogue

    // Seeding again changes nothing, also for a value the user changed since.
    ASSERT_EQ(store().setString(kUser, kMapKey, "-5", u"Other.xml"), reg::kSuccess);
    ASSERT_EQ(map.Seed(games), reg::kSuccess);
    EXPECT_EQ(mapValue("-5"), u"Other.xml");
    EXPECT_EQ(mapValue("7"), u"Mine.xml");
}

// Two games of one program profile id: the first in catalogue order seeds it.
TEST_F(ProfileListTest, SeedingTakesTheFirstGameOfAnId)
{
    CGameList games;
    parseCatalogue(games, "<Games><Game Id=\"1\" ProfileId=\"9\"><DefaultProfile>First.xml</DefaultProfile></Game>"
                          "<Game Id=\"2\" ProfileId=\"9\"><DefaultProfile>Second.xml</DefaultProfile></Game></Games>");
    const ProfileMap map(registry_.store());
    ASSERT_EQ(map.Seed(games), reg::kSuccess);
    EXPECT_EQ(mapValue("9"), u"First.xml");
}

TEST_F(ProfileListTest, SeedingMakesTheKeyOnAFreshRegistry)
{
    CGameList games;
    parseCatalogue(games, kGames);
    CProfileList list(registry_.store());
    list.LoadAll(games);
    EXPECT_EQ(store().openKey(kUser, "Software\\orvane\\VISTREL\\profilemap"), reg::kSuccess);
    EXPECT_EQ(mapValue("7"), u"Flyer.xml");
}

TEST_F(ProfileListTest, SeedingReportsAFailedRegistry)
{
    fs::create_directories(dir_.path() / "blocked");
    const auto failed = std::make_shared<reg::Store>(dir_.path() / "blocked"); // a folder, not a file
    ASSERT_NE(failed->openStatus(), reg::kSuccess);
    CGameList games;
    parseCatalogue(games, kGames);
    EXPECT_NE(ProfileMap(failed).Seed(games), reg::kSuccess);
    // The list still loads, and lookups fall back to the default profile.
    saveProfile(u"Default", "Default.xml", true);
    CProfileList list(failed);
    EXPECT_EQ(list.LoadAll(games), 0);
    EXPECT_EQ(list.FindForGame(7), list.FindDefault());
}

TEST_F(ProfileListTest, AssigningStoresTheBareFileNameOnlyUnderAnExistingKey)
{
    const ProfileMap map(registry_.store());
    map.SetGameProfile(7, u"Profiles\\Flyer.xml");
    EXPECT_EQ(store().openKey(kUser, kMapKey), reg::kNotFound); // not made here

    ASSERT_EQ(store().createKey(kUser, kMapKey), reg::kSuccess);
    map.SetGameProfile(7, u"Profiles\\Flyer.xml");
    map.SetGameProfile(-5, u"Bare.xml");
    map.SetGameProfile(9, u"Profiles/Slash.xml");
    EXPECT_EQ(mapValue("7"), u"Flyer.xml");
    EXPECT_EQ(mapValue("-5"), u"Bare.xml");
    EXPECT_EQ(mapValue("9"), u"Slash.xml");
    reg::Value v;
    ASSERT_EQ(store().queryValue(kUser, kMapKey, "7", v), reg::kSuccess);
    EXPECT_EQ(v.type, reg::kTypeString);
    EXPECT_EQ(v.data, reg::stringData(u"Flyer.xml", true));
}

TEST_F(ProfileListTest, RenamingTheMapFollowsEveryExactMatch)
{
    ASSERT_EQ(store().createKey(kUser, kMapKey), reg::kSuccess);
    store().setString(kUser, kMapKey, "1", u"Old.xml");
    store().setString(kUser, kMapKey, "2", std::u16string(400, u'x')); // data beyond 520 bytes
    store().setString(kUser, kMapKey, "3", u"Old.xml", false);
    store().setString(kUser, kMapKey, "4", u"old.xml");
    store().setDword(kUser, kMapKey, "5", 7);
    ProfileMap(registry_.store()).RenameProfile(u"Profiles\\Old.xml", u"Profiles\\New000.xml");
    EXPECT_EQ(mapValue("1"), u"New000.xml");
    EXPECT_EQ(mapValue("2"), std::u16string(400, u'x'));
    EXPECT_EQ(mapValue("3"), u"New000.xml");
    EXPECT_EQ(mapValue("4"), u"old.xml");
    reg::Value v;
    ASSERT_EQ(store().queryValue(kUser, kMapKey, "1", v), reg::kSuccess);
    EXPECT_EQ(v.data, reg::stringData(u"New000.xml", false));

    // A profile that had no file renames no mapping, not even an empty one.
    store().setString(kUser, kMapKey, "6", u"");
    ProfileMap(registry_.store()).RenameProfile(u"", u"Profiles\\Named.xml");
    EXPECT_EQ(mapValue("6"), u"");
}

TEST_F(ProfileListTest, GameRegistrationFollowsTheOverrideAndTheMap)
{
    CGameList games;
    parseCatalogue(games, kGames);
    saveProfile(u"Default", "Default.xml", true);
    saveProfile(u"Flyer", "Flyer.xml");
    CProfileList list(registry_.store());
    list.LoadAll(games); // seeds 7 -> Flyer.xml
    CProfile* def = list.FindDefault();
    ASSERT_NE(def, nullptr);

    const CProfile* flyer = list.SelectProfileForGame(def, games, 100);
    ASSERT_NE(flyer, nullptr);
    EXPECT_EQ(flyer->Name, u"Flyer");
    EXPECT_EQ(list.SelectProfileForGame(def, games, 200), def); // no mapping: default
    EXPECT_EQ(list.SelectProfileForGame(def, games, 999), nullptr); // not in the catalogue

    def->Override = 1;
    EXPECT_EQ(list.SelectProfileForGame(def, games, 100), nullptr); // exclusive stays
}

TEST_F(ProfileListTest, AddingNeverLandsOnAnExistingFile)
{
    saveProfile(u"Racer", "Racer.xml");
    const std::string racer = readFile(file("Racer.xml"));
    CProfileList list(registry_.store());
    list.LoadAll(noGames_);

    auto copy = std::make_unique<CProfile>(*list.GetAt(0));
    copy->Notes = u"copy";
    ASSERT_EQ(list.AddProfile(copy), 0);
    EXPECT_EQ(copy, nullptr);
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetAt(1)->Path, u"Profiles\\Racer000.xml");
    EXPECT_EQ(readFile(file("Racer.xml")), racer);

    // Every counted name taken: the profile stays with the caller and the
    // last file is not overwritten.
    for (int n = 1; n <= 998; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Racer%03d.xml", n);
        writeFile(file(name), "keep");
    }
    auto another = std::make_unique<CProfile>();
    another->Name = u"Racer";
    EXPECT_EQ(list.AddProfile(another), 2);
    ASSERT_NE(another, nullptr);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(readFile(file("Racer998.xml")), "keep");
}

TEST_F(ProfileListTest, FailedAddKeepsTheProfileWithTheCaller)
{
    CProfileList list(registry_.store());
    list.LoadAll(noGames_);
    auto p = std::make_unique<CProfile>();
    p->Name = std::u16string(300, u'n'); // longer than a file name may be
    p->Path = u"kept";
    EXPECT_EQ(list.AddProfile(p), 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Path, u"kept");
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(ProfileListTest, RenameWritesTheNewFileThenDropsTheOld)
{
    saveProfile(u"Flyer", "Flyer.xml");
    saveProfile(u"Racer", "Racer.xml");
    CGameList games;
    parseCatalogue(games, kGames);
    CProfileList list(registry_.store());
    list.LoadAll(games); // 7 -> Flyer.xml
    store().setString(kUser, kMapKey, "8", u"Flyer.xml");
    CProfile* flyer = list.GetAt(0);
    ASSERT_EQ(flyer->Name, u"Flyer");

    // Onto a name whose file is another profile's: counted, the other kept.
    const std::string racer = readFile(file("Racer.xml"));
    ASSERT_EQ(list.RenameProfile(*flyer, u"Racer"), 0);
    EXPECT_EQ(flyer->Path, u"Profiles\\Racer000.xml");
    EXPECT_FALSE(fs::exists(file("Flyer.xml")));
    EXPECT_EQ(readFile(file("Racer.xml")), racer);
    EXPECT_EQ(mapValue("7"), u"Racer000.xml");
    EXPECT_EQ(mapValue("8"), u"Racer000.xml");
    CProfile reread;
    reread.Path = flyer->Path;
    ASSERT_EQ(reread.Load(), 0);
    EXPECT_EQ(reread.Name, u"Racer");
    EXPECT_EQ(list.FindForGame(7), flyer);

    // A name that keeps the same file name saves in place.
    ASSERT_EQ(list.RenameProfile(*flyer, u"Racer000"), 0);
    EXPECT_EQ(flyer->Path, u"Profiles\\Racer000.xml");
    EXPECT_TRUE(fs::exists(file("Racer000.xml")));
    EXPECT_EQ(flyer->Name, u"Racer000");
}

TEST_F(ProfileListTest, FailedRenameLeavesFileNameAndMapAsTheyWere)
{
    saveProfile(u"Flyer", "Flyer.xml");
    CGameList games;
    parseCatalogue(games, kGames);
    CProfileList list(registry_.store());
    list.LoadAll(games);
    CProfile* flyer = list.GetAt(0);
    const std::string before = readFile(file("Flyer.xml"));

    EXPECT_EQ(list.RenameProfile(*flyer, std::u16string(300, u'z')), 2);
    EXPECT_EQ(flyer->Name, u"Flyer");
    EXPECT_EQ(flyer->Path, u"Profiles\\Flyer.xml");
    EXPECT_EQ(readFile(file("Flyer.xml")), before);
    EXPECT_EQ(mapValue("7"), u"Flyer.xml");
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator("Profiles")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u); // no temporary left behind
}

TEST_F(ProfileListTest, DeleteRemovesOnlyWhenTheFileGoes)
{
    saveProfile(u"Flyer", "Flyer.xml");
    saveProfile(u"Racer", "Racer.xml");
    CProfileList list(registry_.store());
    list.LoadAll(noGames_);
    ASSERT_EQ(list.GetCount(), 2);
    CProfile* flyer = list.GetAt(0);
    CProfile* racer = list.GetAt(1);

    // The file is already gone: nothing changes.
    fs::rename(file("Racer.xml"), "elsewhere.xml");
    EXPECT_EQ(list.DeleteProfileFile(racer), 0);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.IndexOf(racer), 1);

    // A profile that is not in the list is not the list's to delete.
    CProfile stranger;
    stranger.Path = u"Profiles\\Flyer.xml";
    EXPECT_EQ(list.DeleteProfileFile(&stranger), 0);
    EXPECT_TRUE(fs::exists(file("Flyer.xml")));
    EXPECT_EQ(list.DeleteProfileFile(nullptr), 0);

    EXPECT_EQ(list.DeleteProfileFile(flyer), 1);
    EXPECT_FALSE(fs::exists(file("Flyer.xml")));
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0), racer);
}

} // namespace

// The default profile's name and notes and the message for an unreadable
// file come from the interface language; where it has no text, English.
TEST_F(ProfileListTest, TextsComeFromTheInterfaceLanguage)
{
    fs::create_directories("Profiles");
    writeFile(file("Broken.xml"), "<Profile><Name>broken");
    const std::map<unsigned, std::u16string> french{
        {5004, u"Profil par d\u00e9faut"},
        {5006, u"Lecture impossible du profil %s : %s"},
    };
    CProfileList list(registry_.store());
    list.SetTexts([&](unsigned id) {
        const auto it = french.find(id);
        return it != french.end() ? it->second : std::u16string();
    });
    std::vector<std::u16string> told;
    list.SetUserMessages([&](std::u16string_view text) { told.emplace_back(text); });
    ASSERT_EQ(list.LoadAll(noGames_), 0);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind(u"Lecture impossible du profil ", 0), 0u);
    EXPECT_NE(told[0].find(u"Profiles/Broken.xml : "), std::u16string::npos);

    CProfile* fresh = list.CreateDefaultProfile();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Name, u"Profil par d\u00e9faut");
    EXPECT_EQ(fresh->Notes, kDefaultProfileNotes); // the language has none: English
}
