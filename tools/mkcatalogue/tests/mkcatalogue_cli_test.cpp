// The catalogue maker as the build and a release engineer run it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "profiles/GameList.h"

namespace fs = std::filesystem;

namespace {

class MkCatalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string t = (fs::temp_directory_path() / "mkcatalogue-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(t.data()));
        dir_ = t;
    }
    void TearDown() override { fs::remove_all(dir_); }

    int run(const std::string& args) const
    {
        const std::string command = std::string("'") + ORVANE_TEST_MKCATALOGUE + "' " + args + " >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    std::string at(const char* name) const { return "'" + (dir_ / name).string() + "'"; }
    std::vector<std::uint8_t> bytes(const char* name) const
    {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

TEST_F(MkCatalogue, MakesAKeyPairAndASignedCatalogue)
{
    ASSERT_EQ(run("genkey 1024 " + at("k.private") + " " + at("k.public")), 0);
    std::ofstream(dir_ / "games.xml") << "<?xml version=\"1.0\"?><Games Version=\"3\"><Game Name=\"A\" Id=\"5\"/></Games>";
    ASSERT_EQ(run("make " + at("games.xml") + " " + at("k.private") + " " + at("sgl.dat") + " " + at("sgl.sig")), 0);
    CGameList list;
    ASSERT_EQ(list.Load(dir_, bytes("k.public")), 0);
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.Version, 3);
    EXPECT_EQ(list[0].Id, 5);
    // Not signed with the program's key: the built-in key refuses it.
    EXPECT_EQ(list.Load(dir_, BuiltInCatalogueKey()), 4);
}

TEST_F(MkCatalogue, RefusesBadInput)
{
    ASSERT_EQ(run("genkey 1024 " + at("k.private") + " " + at("k.public")), 0);
    std::ofstream(dir_ / "bad.xml") << "<Games><Game Id=\"1\"></Games>";
    EXPECT_NE(run("make " + at("bad.xml") + " " + at("k.private") + " " + at("sgl.dat") + " " + at("sgl.sig")), 0);
    std::ofstream(dir_ / "games.xml") << "<Games><Game Id=\"1\"/></Games>";
    EXPECT_NE(run("make " + at("games.xml") + " " + at("k.public") + " " + at("sgl.dat") + " " + at("sgl.sig")), 0);
    EXPECT_FALSE(fs::exists(dir_ / "sgl.dat"));
    EXPECT_NE(run("genkey 100 " + at("a") + " " + at("b")), 0);
    EXPECT_NE(run("nonsense"), 0);
}

} // namespace
