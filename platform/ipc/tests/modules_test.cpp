#include <gtest/gtest.h>

#include "platform/modules.h"
#include "platform/program_folders.h"
#include "testing/temp_dir.h"

using namespace platform;

namespace {

const std::string kDir = IPC_TEST_MODULE_DIR;

TEST(Modules, NamesAreConvertedAndMatchedWithoutCase)
{
    EXPECT_EQ(resolveModulePath(kDir + "\\testmodule.DLL"), std::filesystem::path(kDir) / "TestModule.so");
    EXPECT_EQ(resolveModulePath(kDir + "\\\\TESTMODULE.dll"), std::filesystem::path(kDir) / "TestModule.so");
    EXPECT_EQ(resolveModulePath("no\\such\\Thing.dll"), std::filesystem::path("no/such/Thing.so"));
}

TEST(Modules, LoadsAndBindsByName)
{
    auto m = Module::load(kDir + "\\TESTMODULE.dll");
    ASSERT_TRUE(m.has_value());
    auto fn = m->function<int (*)()>("testModuleAnswer");
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    EXPECT_EQ(m->symbol("noSuchExport"), nullptr);
    EXPECT_FALSE(Module::load(kDir + "\\Missing.dll").has_value());
    EXPECT_FALSE(Module::load("\\OVClient.dll").has_value());
}

TEST(Modules, RelativeNamesAreFoundInTheProgramsFolders)
{
    // An installed program: language modules among the shipped data, the
    // view library among the libraries, nothing of either in the user's folder.
    testing_support::TempDir dir;
    const ProgramFolders folders{dir.file("work"), dir.file("data"), dir.file("lib"), true};
    std::filesystem::create_directories(folders.work);
    std::filesystem::create_directories(folders.data / "Language");
    std::filesystem::create_directories(folders.libraries);
    std::filesystem::copy_file(kDir + "/TestModule.so", folders.data / "Language/Deutsch.so");
    std::filesystem::copy_file(kDir + "/TestModule.so", folders.libraries / "VSLViews.so");
    setProgramFolders(folders);
    auto language = Module::load("Language\\deutsch.dll");
    auto views = Module::load("VSLViews.dll");
    auto missing = Module::load("Other.dll");
    setProgramFolders(std::nullopt);
    ASSERT_TRUE(language.has_value());
    ASSERT_TRUE(views.has_value());
    EXPECT_FALSE(missing.has_value());
    EXPECT_EQ(language->function<int (*)()>("testModuleAnswer")(), 42);
}

} // namespace
