#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace reg = platform::registry;

TEST(TempDirTest, UniqueFolderRemovedWithItsContents)
{
    std::filesystem::path kept;
    {
        testing_support::TempDir a, b;
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(std::filesystem::is_directory(a.path()));
        std::filesystem::create_directories(a.file("x") / "y");
        std::ofstream(a.file("x") / "y" / "f.txt") << "data";
        kept = a.path();
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(TempRegistryTest, PointsTheDefaultStoreAtAFreshFileAndRestores)
{
    ::setenv("ORVANE_REGISTRY", "/nonexistent-outer/registry.db", 1);
    std::filesystem::path file;
    {
        testing_support::TempRegistry registry;
        file = registry.path();
        EXPECT_STREQ(std::getenv("ORVANE_REGISTRY"), file.c_str());
        EXPECT_EQ(reg::defaultStore()->path(), file);
        ASSERT_EQ(registry.store()->createKey(reg::Root::CurrentUser, "Software\\Orvane"), reg::kSuccess);
        EXPECT_EQ(reg::defaultStore()->openKey(reg::Root::CurrentUser, "software\\orvane"), reg::kSuccess);
        {
            // A nested one starts empty.
            testing_support::TempRegistry inner;
            EXPECT_EQ(reg::defaultStore()->openKey(reg::Root::CurrentUser, "software\\orvane"), reg::kNotFound);
        }
        EXPECT_EQ(reg::defaultStore()->openKey(reg::Root::CurrentUser, "software\\orvane"), reg::kSuccess);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_STREQ(std::getenv("ORVANE_REGISTRY"), "/nonexistent-outer/registry.db");
    EXPECT_EQ(reg::defaultPath(), "/nonexistent-outer/registry.db");
    ::unsetenv("ORVANE_REGISTRY");
    reg::resetDefaultStore();
}
