// The interface texts (built-in and from a language module) and the
// autostart entry of "Run at Startup".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

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

    // A module outside the language folder, which a settings file may name.
    const fs::path elsewhere = dir.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy_file(folder / "French.so", elsewhere / "French.so");
    const std::u16string outside = (elsewhere / "French.so").u16string();

    struct Case {
        std::u16string module;
        bool loads;
    };
    // The built-in entry names the program, which is no module of the folder;
    // only bare file names of the folder load.
    for (const Case& c : {Case{u"vistrel.exe", false}, Case{u"Missing.so", false}, Case{u"NoExport.so", false},
                          Case{u"", false}, Case{u"French.so", true}, Case{u"French.dll", true}, Case{outside, false},
                          Case{u"../elsewhere/French.so", false}, Case{u"..\\elsewhere\\French.dll", false},
                          Case{u".", false}, Case{u"..", false}}) {
        SCOPED_TRACE(fs::path(c.module).string());
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

// Reads an Exec value back as a desktop's launcher does: the string escapes
// first, then the quoting of one argument, then the doubled percent.
std::vector<std::string> ExecArguments(std::string_view value)
{
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char n = value[++i];
            unescaped += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            unescaped += value[i];
        }
    }
    std::vector<std::string> args;
    std::string arg;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (quoted && c == '\\' && i + 1 < unescaped.size()) {
            arg += unescaped[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
            arg += '%';
            ++i;
        } else if (c == ' ' && !quoted) {
            if (any || !arg.empty()) args.push_back(arg);
            arg.clear();
            any = false;
        } else {
            arg += c;
        }
    }
    if (any || !arg.empty()) args.push_back(arg);
    return args;
}

TEST(Autostart, AnyPathReadsBackAsOneArgument)
{
    for (const std::string path : {"/opt/vistrel/bin/vistrel", "/home/a b/\"$x\\%y`z/vistrel", "/x\\\\y/vistrel"}) {
        const auto entry = app::AutostartEntry(path);
        ASSERT_TRUE(entry) << path;
        const auto at = entry->find("\nExec=") + 6;
        const auto value = entry->substr(at, entry->find('\n', at) - at);
        EXPECT_EQ(ExecArguments(value), std::vector<std::string>{path}) << value;
    }
}

TEST(Autostart, APathWithALineBreakIsRefused)
{
    // It would name another program, or smuggle in keys of its own.
    EXPECT_FALSE(app::AutostartEntry("/home/a/\n/Hidden=true/vistrel"));
    testing_support::TempDir dir{"shell-autostart"};
    EXPECT_FALSE(app::SetRunAtStartup(dir.path(), "/bin/\rvistrel", true));
    EXPECT_FALSE(fs::exists(dir.path() / app::kAutostartFile));
}

} // namespace
