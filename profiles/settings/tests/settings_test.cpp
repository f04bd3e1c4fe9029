#include "profiles/AppSettings.h"

#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <csignal>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

std::string readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& file, std::string_view text)
{
    std::ofstream(file, std::ios::binary) << text;
}

// The file of a default object, byte for byte.
constexpr std::string_view kDefaultFile =
    "<Settings>\r\n"
    "  <RunAtStartup>0</RunAtStartup>\r\n"
    "  <CloseToTray>0</CloseToTray>\r\n"
    "  <RunMinimized>0</RunMinimized>\r\n"
    "  <ConfirmClose>1</ConfirmClose>\r\n"
    "  <LanguageDll>vistrel.exe</LanguageDll>\r\n"
    "  <PeriodicNewsCheck>1</PeriodicNewsCheck>\r\n"
    "  <ProfileLaunchHeads>1</ProfileLaunchHeads>\r\n"
    "  <ProfileLaunchGauges>1</ProfileLaunchGauges>\r\n"
    "  <ProfileLaunchGlobe>1</ProfileLaunchGlobe>\r\n"
    "  <ProfileLaunchTracking>1</ProfileLaunchTracking>\r\n"
    "  <TitleFilter>-1</TitleFilter>\r\n"
    "  <LedsOn>1</LedsOn>\r\n"
    "  <LightFiltering>0</LightFiltering>\r\n"
    "  <HalvexorLedsOn>0</HalvexorLedsOn>\r\n"
    "  <HalvexorLightFiltering>1</HalvexorLightFiltering>\r\n"
    "  <UseBlueLed>1</UseBlueLed>\r\n"
    "  <FilterThreshold>130</FilterThreshold>\r\n"
    "  <HalvexorFilterThreshold>230</HalvexorFilterThreshold>\r\n"
    "  <ObjectType>0</ObjectType>\r\n"
    "  <CameraRotation>0</CameraRotation>\r\n"
    "  <ObjectRatioMin>0.25</ObjectRatioMin>\r\n"
    "  <ObjectRatioMax>4</ObjectRatioMax>\r\n"
    "  <ObjectRatioBest>1</ObjectRatioBest>\r\n"
    "  <ObjectSizeMin>5</ObjectSizeMin>\r\n"
    "  <ObjectSizeMax>500</ObjectSizeMax>\r\n"
    "  <ObjectSizeBest>100</ObjectSizeBest>\r\n"
    "  <PendrixLocation>0</PendrixLocation>\r\n"
    "  <Sorting>0</Sorting>\r\n"
    "  <PointT_X>0</PointT_X>\r\n"
    "  <PointT_Y>0</PointT_Y>\r\n"
    "  <PointT_Z>-200</PointT_Z>\r\n"
    "  <Delta_0>-716</Delta_0>\r\n"
    "  <Delta_1>-600</Delta_1>\r\n"
    "  <Delta_2>-600</Delta_2>\r\n"
    "  <dist01>113</dist01>\r\n"
    "  <dist02>113</dist02>\r\n"
    "  <dist12>68</dist12>\r\n"
    "</Settings>\r\n";

// Every field away from its default.
CAppSettings changedSettings()
{
    CAppSettings s;
    s.RunAtStartup = 1;
    s.CloseToTray = 1;
    s.RunMinimized = 1;
    s.ConfirmClose = 0;
    s.PeriodicNewsCheck = 0;
    s.ProfileLaunchHeads = 0;
    s.ProfileLaunchGlobe = 0;
    s.ProfileLaunchGauges = 1; // Globe and Gauges differ: neither is read for the other
    s.ProfileLaunchTracking = 0;
    s.Favorites = {7, 4294967295u, 7, 0};
    s.TitleFilter = 3;
    s.LanguageDll = u"lang & <fr> \u00e9\u20ac\U0001F600 \t\r\n x";
    CTrackingSettings& t = s.Tracking;
    t.LedsOn = 0;
    t.LightFiltering = 1;
    t.HalvexorLedsOn = 1;
    t.HalvexorLightFiltering = 0;
    t.UseBlueLed = 0;
    t.SetObjectType(1);
    t.CameraRotation = 3;
    t.FilterThreshold = 0; // the ends of the camera's range
    t.HalvexorFilterThreshold = 255;
    t.ObjectRatioMin = 0.1f;
    t.ObjectSizeMax = 1e-7f;
    t.ObjectSizeBest = std::numeric_limits<float>::max();
    t.PendrixLocation = 4;
    t.Sorting = 3;
    t.PointT_X = 85;
    t.PointT_Y = 1.0 / 3.0;
    t.PointT_Z = -100;
    t.Delta_0 = -710.000000001;
    t.Delta_1 = std::numeric_limits<double>::denorm_min();
    t.Delta_2 = -1e300;
    t.dist01 = 50.06999969482422;
    t.dist02 = 94.12000274658203;
    t.dist12 = 179.3000030517578;
    return s;
}

class SettingsFileTest : public ::testing::Test {
protected:
    testing_support::TempDir dir_{"orvane-settings"};
    std::filesystem::path file_ = dir_.file("settings.xml");
};

TEST_F(SettingsFileTest, DefaultsAndTheirFile)
{
    const CAppSettings s;
    EXPECT_EQ(s.LanguageDll, u"vistrel.exe");
    EXPECT_EQ(s.TitleFilter, -1);
    EXPECT_TRUE(s.Favorites.empty());
    EXPECT_EQ(s.Tracking.dist12, 68.0);
    EXPECT_EQ(s.ToXml(), kDefaultFile);
    ASSERT_EQ(s.Save(file_), 0);
    EXPECT_EQ(readFile(file_), kDefaultFile);

    CAppSettings back;
    back.Tracking.FilterThreshold = 1;
    ASSERT_EQ(back.Load(file_), 0);
    EXPECT_EQ(back, s);
}

TEST_F(SettingsFileTest, EveryValueReadsBackAsSaved)
{
    const CAppSettings saved = changedSettings();
    ASSERT_EQ(saved.Save(file_), 0);
    const std::string text = readFile(file_);
    for (unsigned char c : text)
        ASSERT_LT(c, 0x80) << "the file stays ASCII";
    EXPECT_NE(text.find("  <LanguageDll>lang &amp; &lt;fr&gt; &#xe9;&#x20ac;&#x1f600; &#x9;&#xd;&#xa; x</LanguageDll>\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  <Favorite Id=\"4294967295\"></Favorite>\r\n"), std::string::npos);
    EXPECT_NE(text.find("  <dist01>50.06999969482422</dist01>\r\n"), std::string::npos);
    EXPECT_NE(text.find("  <ObjectRatioBest>2.2</ObjectRatioBest>\r\n"), std::string::npos);

    CAppSettings loaded;
    ASSERT_EQ(loaded.Load(file_), 0);
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(loaded.LanguageDll, saved.LanguageDll);
    EXPECT_EQ(loaded.Favorites, saved.Favorites);
    EXPECT_EQ(loaded.Tracking.Delta_1, std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(loaded.ProfileLaunchGlobe, 0);
    EXPECT_EQ(loaded.ProfileLaunchGauges, 1);

    // The other way round as well.
    CAppSettings flipped = saved;
    flipped.ProfileLaunchGlobe = 1;
    flipped.ProfileLaunchGauges = 0;
    ASSERT_EQ(flipped.Save(file_), 0);
    CAppSettings again;
    ASSERT_EQ(again.Load(file_), 0);
    EXPECT_EQ(again.ProfileLaunchGlobe, 1);
    EXPECT_EQ(again.ProfileLaunchGauges, 0);
}

TEST_F(SettingsFileTest, CharactersXmlCannotHold)
{
    CAppSettings s;
    s.LanguageDll = std::u16string(u"a\x01") + u"b" + char16_t(0xD800) + u"c" + char16_t(0xFFFF) + u"]]>";
    ASSERT_EQ(s.Save(file_), 0);
    CAppSettings back;
    ASSERT_EQ(back.Load(file_), 0) << readFile(file_);
    EXPECT_EQ(back.LanguageDll, u"a\uFFFDb\uFFFDc\uFFFD]]>");
}

struct ReadCase {
    const char* what;
    std::string body; // between <Settings> and </Settings>
    void (*check)(const CAppSettings&);
};

class SettingsReadTest : public SettingsFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsReadTest, Reads)
{
    const auto& c = GetParam();
    writeFile(file_, "<Settings>\r\n" + c.body + "</Settings>\r\n");
    CAppSettings s;
    ASSERT_EQ(s.Load(file_), 0);
    c.check(s);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SettingsReadTest,
    ::testing::Values(
        ReadCase{"MissingGlobeKeepsItsDefault",
                 "<ProfileLaunchHeads>0</ProfileLaunchHeads><ProfileLaunchGauges>0</ProfileLaunchGauges>"
                 "<ProfileLaunchTracking>0</ProfileLaunchTracking>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.ProfileLaunchGlobe, 1);
                     EXPECT_EQ(s.ProfileLaunchGauges, 0);
                     EXPECT_EQ(s.ProfileLaunchHeads, 0);
                 }},
        ReadCase{"TwoElementsOfOneNameAreIgnored", "<TitleFilter>4</TitleFilter><TitleFilter>5</TitleFilter>",
                 [](const CAppSettings& s) { EXPECT_EQ(s.TitleFilter, -1); }},
        ReadCase{"DescendantsCount", "<Group><RunAtStartup>1</RunAtStartup></Group>",
                 [](const CAppSettings& s) { EXPECT_EQ(s.RunAtStartup, 1); }},
        ReadCase{"SameFavouriteTwice",
                 "<Favorite Id=\"12\"></Favorite><Favorite Id=\"12\"/><Favorite Id=\"\"/><Favorite/>"
                 "<Favorite Id=\"-1\"/><Favorite Id=\"4294967298\"/><Favorite Id=\" +7x\"/>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.Favorites, (std::vector<std::uint32_t>{12, 12, 4294967295u, 2, 7}));
                     EXPECT_EQ(s.IsFavorite(12), 1);
                 }},
        ReadCase{"IntegersInCSyntax",
                 "<FilterThreshold>0x10</FilterThreshold><HalvexorFilterThreshold>010</HalvexorFilterThreshold>"
                 "<CameraRotation> 2.7</CameraRotation><TitleFilter>-3</TitleFilter>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.Tracking.FilterThreshold, 16);
                     EXPECT_EQ(s.Tracking.HalvexorFilterThreshold, 8);
                     EXPECT_EQ(s.Tracking.CameraRotation, 2);
                     EXPECT_EQ(s.TitleFilter, -3);
                 }},
        ReadCase{"MalformedValuesKeepTheirDefaultsAndTheRestLoads",
                 "<FilterThreshold>abc</FilterThreshold><ObjectSizeMax>x1</ObjectSizeMax><dist12></dist12>"
                 "<PointT_Z>--5</PointT_Z><LanguageDll></LanguageDll><UseBlueLed>0</UseBlueLed>"
                 "<dist01>  +1.5e1mm</dist01><ObjectRatioMax>0x1p-2</ObjectRatioMax>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.Tracking.FilterThreshold, 130);
                     EXPECT_EQ(s.Tracking.ObjectSizeMax, 500.0f);
                     EXPECT_EQ(s.Tracking.dist12, 68.0);
                     EXPECT_EQ(s.Tracking.PointT_Z, -200.0);
                     EXPECT_EQ(s.LanguageDll, u"vistrel.exe");
                     EXPECT_EQ(s.Tracking.UseBlueLed, 0);
                     EXPECT_EQ(s.Tracking.dist01, 15.0);
                     EXPECT_EQ(s.Tracking.ObjectRatioMax, 0.25f);
                 }},
        ReadCase{"ObjectTypeStoredAsReadLimitsFromTheirElements",
                 "<ObjectType>1</ObjectType><ObjectSizeBest>42</ObjectSizeBest>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.Tracking.ObjectType, 1);
                     EXPECT_EQ(s.Tracking.ObjectSizeBest, 42.0f);
                     EXPECT_EQ(s.Tracking.ObjectRatioMax, 4.0f) << "type 0's limit stays";
                 }},
        ReadCase{"ValuesTheFieldCannotTakeAreKeptOrHeld",
                 "<CameraRotation>180</CameraRotation><FilterThreshold>300</FilterThreshold>"
                 "<HalvexorFilterThreshold>-4</HalvexorFilterThreshold><PendrixLocation>9</PendrixLocation>"
                 "<Sorting>-1</Sorting><ObjectSizeMax>0</ObjectSizeMax><ObjectSizeMin>-5</ObjectSizeMin>"
                 "<ObjectRatioBest>nan</ObjectRatioBest><ObjectRatioMax>1e300</ObjectRatioMax>"
                 "<dist01>inf</dist01><dist02>-113</dist02><Delta_1>-infinity</Delta_1>"
                 "<PointT_X>1e400</PointT_X><PointT_Y>-12.5</PointT_Y>",
                 [](const CAppSettings& s) {
                     const CTrackingSettings d;
                     EXPECT_EQ(s.Tracking.CameraRotation, 0);
                     EXPECT_EQ(s.Tracking.FilterThreshold, 255);
                     EXPECT_EQ(s.Tracking.HalvexorFilterThreshold, 0);
                     EXPECT_EQ(s.Tracking.PendrixLocation, d.PendrixLocation);
                     EXPECT_EQ(s.Tracking.Sorting, d.Sorting);
                     EXPECT_EQ(s.Tracking.ObjectSizeMax, d.ObjectSizeMax);
                     EXPECT_EQ(s.Tracking.ObjectSizeMin, d.ObjectSizeMin);
                     EXPECT_EQ(s.Tracking.ObjectRatioBest, d.ObjectRatioBest);
                     EXPECT_EQ(s.Tracking.ObjectRatioMax, d.ObjectRatioMax);
                     EXPECT_EQ(s.Tracking.dist01, d.dist01);
                     EXPECT_EQ(s.Tracking.dist02, d.dist02);
                     EXPECT_EQ(s.Tracking.Delta_1, d.Delta_1);
                     EXPECT_EQ(s.Tracking.PointT_X, d.PointT_X);
                     EXPECT_EQ(s.Tracking.PointT_Y, -12.5);
                 }},
        ReadCase{"EveryValidChoiceIsTaken",
                 "<CameraRotation>3</CameraRotation><PendrixLocation>4</PendrixLocation><Sorting>3</Sorting>"
                 "<ObjectSizeMin>0</ObjectSizeMin>",
                 [](const CAppSettings& s) {
                     EXPECT_EQ(s.Tracking.CameraRotation, 3);
                     EXPECT_EQ(s.Tracking.PendrixLocation, 4);
                     EXPECT_EQ(s.Tracking.Sorting, 3);
                     EXPECT_EQ(s.Tracking.ObjectSizeMin, 0.0f);
                 }},
        ReadCase{"EmptySettingsChangesNothing", "", [](const CAppSettings& s) { EXPECT_EQ(s, CAppSettings()); }}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.what); });

TEST_F(SettingsFileTest, EmptySelfClosedSettings)
{
    writeFile(file_, "<Settings/>");
    CAppSettings s = changedSettings();
    ASSERT_EQ(s.Load(file_), 0);
    EXPECT_EQ(s, changedSettings());
}

TEST_F(SettingsFileTest, UnreadableFilesChangeNothing)
{
    const CAppSettings before = changedSettings();
    for (const char* text : {"<Settings><RunAtStartup>0</RunAtStartup>", "not xml at all", "",
                             "<Other><RunAtStartup>0</RunAtStartup></Other>"}) {
        writeFile(file_, text);
        CAppSettings s = before;
        EXPECT_EQ(s.Load(file_), 2) << text;
        EXPECT_EQ(s, before) << text;
    }
    CAppSettings s = before;
    EXPECT_EQ(s.Load(dir_.file("missing.xml")), 2);
    EXPECT_EQ(s, before);
}

TEST_F(SettingsFileTest, SettingsBelowAnotherRoot)
{
    writeFile(file_, "<Config><Settings><TitleFilter>9</TitleFilter></Settings></Config>");
    CAppSettings s;
    ASSERT_EQ(s.Load(file_), 0);
    EXPECT_EQ(s.TitleFilter, 9);
}

TEST_F(SettingsFileTest, MissingFileIsReplacedByDefaultsSilently)
{
    CAppSettings fresh;
    std::filesystem::path kept = "x";
    EXPECT_EQ(fresh.LoadOrCreate(file_, &kept), 2);
    EXPECT_TRUE(kept.empty());
    EXPECT_EQ(readFile(file_), kDefaultFile);

    ASSERT_EQ(changedSettings().Save(file_), 0);
    CAppSettings good;
    EXPECT_EQ(good.LoadOrCreate(file_, &kept), 0);
    EXPECT_TRUE(kept.empty());
    EXPECT_EQ(good, changedSettings());
}

// A damaged file is never lost: it is kept beside under a dated name, the
// defaults take its place, and the next start finds a good file.
TEST_F(SettingsFileTest, DamagedFileIsKeptBesideAndDefaultsUsed)
{
    std::string damaged = changedSettings().ToXml();
    damaged.resize(damaged.size() / 2);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut in half", damaged},
        {"not XML", "\x00\x01garbage"},
        {"another root", "<Other/>"},
        {"far too large", "<Settings>" + std::string(static_cast<std::size_t>(CAppSettings::kMaxFileBytes), ' ') +
                              "</Settings>"},
    };
    for (const auto& c : cases) {
        writeFile(file_, c.bytes);
        CAppSettings s;
        s.TitleFilter = 5;
        std::filesystem::path kept;
        EXPECT_EQ(s.LoadOrCreate(file_, &kept), 2) << c.what;
        EXPECT_EQ(s.TitleFilter, -1) << c.what;
        EXPECT_EQ(readFile(file_), kDefaultFile) << c.what;
        ASSERT_FALSE(kept.empty()) << c.what;
        EXPECT_EQ(kept.parent_path(), file_.parent_path()) << c.what;
        EXPECT_EQ(kept.filename().string().rfind("settings-damaged-", 0), 0u) << kept;
        EXPECT_EQ(kept.extension(), ".xml");
        EXPECT_EQ(readFile(kept), c.bytes) << c.what;
        EXPECT_NE(CAppSettings::DamagedMessage(kept).find(kept.u16string()), std::u16string::npos);
        // Told once: the next start reads the fresh file.
        EXPECT_EQ(CAppSettings().LoadOrCreate(file_, &kept), 0) << c.what;
        EXPECT_TRUE(kept.empty()) << c.what;
    }
    // Four damaged files kept, none overwritten by another, even within one second.
    int keptFiles = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        keptFiles += e.path().filename().string().rfind("settings-damaged-", 0) == 0;
    EXPECT_EQ(keptFiles, 4);

    const std::time_t when = 1700000000;
    writeFile(file_, "x");
    const auto a = CAppSettings::KeepDamaged(file_, when);
    writeFile(file_, "y");
    const auto b = CAppSettings::KeepDamaged(file_, when);
    EXPECT_NE(a, b);
    EXPECT_EQ(readFile(a), "x");
    EXPECT_EQ(readFile(b), "y");
    EXPECT_TRUE(CAppSettings::KeepDamaged(dir_.file("missing.xml"), when).empty());
}

// The damaged-settings message is text 5007 of the interface language, its
// "%s" the kept file's name; English where the language has none.
TEST(AppSettingsTest, DamagedMessageIsTheLanguagesText5007)
{
    const std::filesystem::path kept = "settings-damaged-2026-01-02-030405.xml";
    EXPECT_EQ(kSettingsDamagedId, 5007u);
    EXPECT_EQ(CAppSettings::DamagedMessage(kept),
              u"The settings file could not be read, so the default settings are used. The damaged file was kept "
              u"as settings-damaged-2026-01-02-030405.xml.");
    EXPECT_EQ(CAppSettings::DamagedMessage(kept, u"Fichier de r\u00e9glages illisible, gard\u00e9 sous %s."),
              u"Fichier de r\u00e9glages illisible, gard\u00e9 sous settings-damaged-2026-01-02-030405.xml.");
}

TEST_F(SettingsFileTest, LeftoverTemporariesAreRemovedAndNothingElse)
{
    const std::vector<std::string> ours = {".settings.xml.tmp-Ab3xYz", ".settings.xml.tmp-000000"};
    const std::vector<std::string> others = {"settings.xml",          ".settings.xml.tmp-Ab3x",  ".settings.xml.tmp-Ab3xY!",
                                             ".other.xml.tmp-Ab3xYz", "settings.xml.tmp-Ab3xYz", ".settings.xml.bak",
                                             "notes.txt"};
    for (const auto& n : ours)
        writeFile(dir_.file(n), "partial");
    for (const auto& n : others)
        writeFile(dir_.file(n), "keep");
    std::filesystem::create_directory(dir_.file(".settings.xml.tmp-Folder"));
    std::filesystem::create_symlink(dir_.file("notes.txt"), dir_.file(".settings.xml.tmp-Linked"));

    EXPECT_EQ(CAppSettings::RemoveLeftovers(file_), ours.size());
    for (const auto& n : ours)
        EXPECT_FALSE(std::filesystem::exists(dir_.file(n))) << n;
    for (const auto& n : others)
        EXPECT_EQ(readFile(dir_.file(n)), "keep") << n;
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file(".settings.xml.tmp-Folder")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.file(".settings.xml.tmp-Linked")));
}

TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFile)
{
    ASSERT_EQ(changedSettings().Save(file_), 0);
    const std::string old = readFile(file_);

    // A folder that does not exist.
    EXPECT_EQ(CAppSettings().Save(dir_.file("none") / "settings.xml"), 2);

    // The disk fills up half-way through the write (a file-size limit in a
    // child process stands in for it).
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200, 200};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(CAppSettings().Save(file_) == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reports the failure";
    EXPECT_EQ(readFile(file_), old);
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFileTest, NumbersIgnoreTheLocale)
{
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = name;
            break;
        }
    }
    if (!comma)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const CAppSettings s = changedSettings();
    ASSERT_EQ(s.Save(file_), 0);
    EXPECT_NE(readFile(file_).find("<ObjectRatioMin>0.25</ObjectRatioMin>"), std::string::npos);
    CAppSettings back;
    ASSERT_EQ(back.Load(file_), 0);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(back, s);
}

TEST(TrackingSettingsTest, ObjectTypeLimits)
{
    CTrackingSettings t;
    t.SetObjectType(1);
    EXPECT_EQ(t.ObjectType, 1);
    EXPECT_EQ(t.ObjectRatioMax, 5.0f);
    EXPECT_EQ(t.ObjectRatioBest, 2.2f);
    EXPECT_EQ(t.ObjectSizeBest, 200.0f);
    t.SetObjectType(7);
    EXPECT_EQ(t.ObjectType, 7);
    EXPECT_EQ(t.ObjectRatioMax, 5.0f) << "an unknown type keeps the limits";
    t.SetObjectType(0);
    EXPECT_EQ(t.ObjectRatioMax, 4.0f);
    EXPECT_EQ(t.ObjectSizeBest, 100.0f);
}

TEST(AppSettingsTest, FavouritesAndDefaults)
{
    CAppSettings s;
    s.AddFavorite(3);
    s.AddFavorite(5);
    s.AddFavorite(3);
    EXPECT_EQ(s.IsFavorite(3), 1);
    EXPECT_EQ(s.IsFavorite(4), 0);
    s.RemoveFavorite(3);
    EXPECT_EQ(s.Favorites, (std::vector<std::uint32_t>{5, 3}));
    s.RemoveFavorite(9);
    EXPECT_EQ(s.Favorites.size(), 2u);

    s.TitleFilter = 2;
    s.Tracking.dist01 = 1;
    s.Tracking.SetObjectType(1);
    EXPECT_EQ(s.SetDefaults(), 0);
    EXPECT_EQ(s.TitleFilter, -1);
    EXPECT_EQ(s.Tracking, CTrackingSettings());
    EXPECT_EQ(s.Favorites.size(), 2u) << "favourites are not defaults";
}

} // namespace
