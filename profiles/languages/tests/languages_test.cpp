#include "profiles/Languages.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/debug.h"
#include "testing/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A working folder of its own: the list reads "Language" in it.
class LanguageListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override { fs::current_path(previous_); }

    // Puts a built test module into the folder under a file name.
    static void install(const char* module, const char* as)
    {
        fs::create_directories("Language");
        fs::copy_file(fs::path(LANGUAGE_TEST_MODULE_DIR) / (std::string(module) + ".so"), fs::path("Language") / as,
                      fs::copy_options::overwrite_existing);
    }

    testing_support::TempDir dir_{"languages"};
    fs::path previous_;
};

const CLanguageInfo kEnglish{u"English", u"vistrel.exe"};

TEST_F(LanguageListTest, WithoutModulesOnlyEnglishAndTheFolderIsMade)
{
    CLanguageList list;
    list.Build();
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list[0], kEnglish);
    EXPECT_TRUE(fs::is_directory("Language"));
    list.Build(); // an existing folder is fine, and the list starts anew
    EXPECT_EQ(list.GetSize(), 1);
}

TEST_F(LanguageListTest, ModulesThatNameTheirLanguageAreListedByBareFileName)
{
    install("French", "French.so");
    install("EnglishToo", "EnglishUK.so");
    install("French", "Upper.SO");
    platform::debug::Capture debug;
    CLanguageList list;
    list.Build();
    ASSERT_EQ(list.GetSize(), 4);
    EXPECT_EQ(list[0], kEnglish);
    // File-name order after English.
    EXPECT_EQ(list[1], (CLanguageInfo{u"English", u"EnglishUK.so"}));
    EXPECT_EQ(list[2], (CLanguageInfo{u"Fran\u00e7ais", u"French.so"}));
    EXPECT_EQ(list[3], (CLanguageInfo{u"Fran\u00e7ais", u"Upper.SO"}));
    EXPECT_EQ(list.FindModule(u"French.so"), 2);
    EXPECT_EQ(list.FindModule(u"vistrel.exe"), 0);
    EXPECT_EQ(list.FindModule(u"Language/French.so"), -1);
    EXPECT_EQ(list.GetAt(4), nullptr);
}

TEST_F(LanguageListTest, ModulesWithoutANameOrThatDoNotLoadAreLeftOut)
{
    install("Nameless", "Nameless.so");
    install("EmptyName", "EmptyName.so");
    install("NoExport", "NoExport.so");
    install("French", "French.so");
    {
        std::ofstream bad("Language/Broken.so", std::ios::binary);
        bad << "not a shared object";
    }
    fs::create_directories("Language/Folder.so");
    install("French", "French.dll"); // not a module name on this system
    std::ofstream("Language/readme.txt") << "x";

    platform::debug::Capture debug;
    CLanguageList list;
    list.Build();
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list[0], kEnglish);
    EXPECT_EQ(list[1], (CLanguageInfo{u"Fran\u00e7ais", u"French.so"}));
    EXPECT_TRUE(debug.contains("Language/Broken.so"));
    EXPECT_TRUE(debug.contains("Language/Nameless.so"));
}

} // namespace
