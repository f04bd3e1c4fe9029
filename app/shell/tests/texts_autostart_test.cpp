// The interface texts (built-in and from a language module) and the
// autostart entry of "Run at Startup".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/shell/autostart.h"
#include "app/shell/texts.h"
#include "testing/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(Texts, FormatFillsEachPlaceholderInTurn)
{
    EXPECT_EQ(app::FormatText(u"Status: %s", {u"Tracking"}), u"Status: Tracking");
    EXPECT_EQ(app::FormatText(u"%s and %s", {u"a", u"b"}), u"a and b");
    EXPECT_EQ(app::FormatText(u"%s and %s", {u"a"}), u"a and ");
    EXPECT_EQ(app::FormatText(u"100%", {u"x"}), u"100%");
    EXPECT_EQ(app::FormatText(u"%d stays", {u"x"}), u"%d stays");
}

TEST(Texts, LanguageModuleSuppliesItsTextsAndTheRestStaysEnglish)
{
    testing_support::TempDir dir{"shell-texts"};
    const fs::path folder = dir.path() / "Language";
    fs::create_directories(folder);
    for (const char* m : {"French", "NoExport"})
        fs::copy_file(fs::path(LANGUAGE_TEST_MODULE_DIR) / (std::string(m) + ".so"), folder / (std::string(m) + ".so"));

    app::CResourceTexts english;
    EXPECT_FALSE(english.HasLanguage());
    EXPECT_EQ(english.Get(app::ids::kLanguageName), u"English");
    EXPECT_EQ(english.Get(app::ids::kConfirmQuit), u"Are you sure you want to quit?");
    EXPECT_TRUE(english.Get(123456).empty());

    struct Case {
        std::u16string module;
        bool loads;
    };
    // The built-in entry names the program, which is no module of the folder.
    for (const Case& c : {Case{u"vistrel.exe", false}, Case{u"Missing.so", false}, Case{u"NoExport.so", false},
                          Case{u"", false}, Case{u"French.so", true}}) {
        app::CResourceTexts t;
        EXPECT_EQ(t.LoadLanguage(folder, c.module), c.loads);
        EXPECT_EQ(t.HasLanguage(), c.loads);
        EXPECT_EQ(t.Get(app::ids::kLanguageName), c.loads ? u"Fran\u00e7ais" : u"English");
        EXPECT_EQ(t.Get(app::ids::kConfirmQuit), u"Are you sure you want to quit?");
    }
}

std::string Read(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Autostart, OnWritesAnEntryNamingTheProgramAndOffRemovesIt)
{
    testing_support::TempDir dir{"shell-autostart"};
    const fs::path folder = dir.path() / "config" / "autostart";
    ASSERT_TRUE(app::SetRunAtStartup(folder, "/opt/vistrel/bin/vistrel", true));
    const std::string entry = Read(folder / app::kAutostartFile);
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/vistrel/bin/vistrel\"\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / (std::string(app::kAutostartFile) + ".tmp")));

    ASSERT_TRUE(app::SetRunAtStartup(folder, "/opt/vistrel/bin/vistrel", false));
    EXPECT_FALSE(fs::exists(folder / app::kAutostartFile));
    EXPECT_TRUE(app::SetRunAtStartup(folder, "/opt/vistrel/bin/vistrel", false)) << "already off";
    EXPECT_FALSE(app::SetRunAtStartup({}, "/x", true));
}

TEST(Autostart, PathsWithReservedCharactersStayOneArgument)
{
    // Quotes, dollars, backslashes and percents are escaped; line breaks
    // cannot smuggle in keys of their own.
    const std::string entry = app::AutostartEntry("/home/a b/\"$x\\%y\n/Hidden=true/vistrel");
    const auto exec = entry.substr(entry.find("Exec="));
    EXPECT_EQ(exec.substr(0, exec.find('\n')), "Exec=\"/home/a b/\\\\\"\\\\$x\\\\\\%%y/Hidden=true/vistrel\"");
    EXPECT_EQ(entry.find("\nHidden="), std::string::npos);
}

} // namespace
