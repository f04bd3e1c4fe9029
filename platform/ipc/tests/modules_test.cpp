#include <gtest/gtest.h>

#include "platform/modules.h"

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

} // namespace
