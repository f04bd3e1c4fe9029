#include "profiles/GameList.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/crypto.h"
#include "platform/debug.h"
#include "profiles/CatalogueMaker.h"

namespace fs = std::filesystem;
namespace pc = platform::crypto;

namespace {

std::span<const std::uint8_t> bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::vector<std::uint8_t> readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, std::span<const std::uint8_t> b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

const std::string kCatalogue = R"(<?xml version="1.0" encoding="UTF-8"?>
<Games Version="7" Developer="-1">
  <Game Name="Alpha Flight" Exe="alpha.exe" Version="1.2" Url="http://alpha.example/" Id="4701" ProfileId="4702" Category="1" DevType="3">
    <DefaultProfile>Alpha.xml</DefaultProfile>
    <ApplicationID>0123456789abcDEF</ApplicationID>
    <Restrict Axis="2" Min="-16382" Max="16382" Supported="1"/>
    <Restrict Axis="3" Min="-16383" Max="16383" Supported="1"/>
    <Restrict Axis="4" Min="-20000" Max="99999"/>
    <Restrict Axis="0" Supported="0" Min="-100x" Max="+200"/>
    <Restrict Axis="6" Min="1" Max="2" Supported="1"/>
    <Restrict Axis="" Supported="1"/>
  </Game>
  <Game Name="Beta" Id="4701" ProfileId="9">
    <ApplicationID>0123456789abcde</ApplicationID>
    <DefaultProfile>One.xml</DefaultProfile>
    <DefaultProfile>Two.xml</DefaultProfile>
  </Game>
  <Game Name="Gamma" Id="4294967295" Category="">
    <ApplicationID>0123456789abcdefA</ApplicationID>
  </Game>
  <Game Id="12">
    <ApplicationID>zz23456789abcdef</ApplicationID>
  </Game>
</Games>
)";

class GameListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string t = (fs::temp_directory_path() / "gamelist-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(t.data()));
        dir_ = t;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static const pc::Bytes& privateKey()
    {
        static const pc::Bytes key = pc::generateRsaKeyPair(1024);
        return key;
    }
    static const pc::Bytes& publicKey()
    {
        static const pc::Bytes key = pc::RsaPrivateKey::fromBlob(privateKey())->publicBlob();
        return key;
    }
    void make(std::string_view xml)
    {
        ASSERT_EQ(MakeCatalogue(bytes(xml), privateKey(), dir_ / "sgl.dat", dir_ / "sgl.sig"), 0);
    }

    fs::path dir_;
};

TEST_F(GameListTest, AnInstalledUpdateIsLoadedFirstAndTheProgramsOwnWhenItDoesNot)
{
    make(R"(<Games Version="1"><Game Id="1"/></Games>)");
    fs::create_directory(dir_ / "catalogue.abc123");
    ASSERT_EQ(MakeCatalogue(bytes(R"(<Games Version="2"><Game Id="2"/></Games>)"), privateKey(),
                            dir_ / "catalogue.abc123" / "sgl.dat", dir_ / "catalogue.abc123" / "sgl.sig"),
              0);
    fs::create_directory_symlink("catalogue.abc123", dir_ / kCatalogueUpdateFolder);
    EXPECT_EQ(CurrentCatalogueFolder(dir_), fs::canonical(dir_ / "catalogue.abc123"));
    CGameList list;
    ASSERT_EQ(list.Load(dir_, publicKey()), 0);
    EXPECT_EQ(list.Version, 2);
    // An update whose pair does not load: the program's own catalogue.
    writeAll(dir_ / "catalogue.abc123" / "sgl.sig", bytes("broken"));
    ASSERT_EQ(list.Load(dir_, publicKey()), 0);
    EXPECT_EQ(list.Version, 1);
    EXPECT_EQ(list.FindById(1), 0);
}

TEST_F(GameListTest, LoadsEveryField)
{
    make(kCatalogue);
    CGameList list;
    ASSERT_EQ(list.Load(dir_, publicKey()), 0);
    EXPECT_EQ(list.Version, 7);
    EXPECT_EQ(list.Developer, -1);
    ASSERT_EQ(list.GetSize(), 4);

    const CGameInfo& a = list[0];
    EXPECT_EQ(a.Name, u"Alpha Flight");
    EXPECT_EQ(a.Exe, u"alpha.exe");
    EXPECT_EQ(a.Version, u"1.2");
    EXPECT_EQ(a.Url, u"http://alpha.example/");
    EXPECT_EQ(a.DefaultProfile, u"Alpha.xml");
    EXPECT_EQ(a.Id, 4701);
    EXPECT_EQ(a.ProfileId, 4702);
    EXPECT_EQ(a.Category, 1);
    EXPECT_EQ(a.DevType, 3);
    EXPECT_EQ(a.ApplicationID[0], 0x01234567u);
    EXPECT_EQ(a.ApplicationID[1], 0x89ABCDEFu);

    // Restrict: values strictly inside (-16383, 16383) are taken; Axis 6 or empty ignored.
    const CGameAxisLimit yaw{-100.0f, 200.0f, 0}, pitch{-16383.0f, 16383.0f, 1}, roll{-16382.0f, 16382.0f, 1},
        x{-16383.0f, 16383.0f, 1}, y{-16383.0f, 16383.0f, 0}, z{-16383.0f, 16383.0f, 0};
    EXPECT_EQ(a.Limits[0], yaw);
    EXPECT_EQ(a.Limits[1], pitch);
    EXPECT_EQ(a.Limits[2], roll);
    EXPECT_EQ(a.Limits[3], x);
    EXPECT_EQ(a.Limits[4], y);
    EXPECT_EQ(a.Limits[5], z);

    const CGameInfo& b = list[1];
    EXPECT_EQ(b.Url, kSupportedGamesUrl); // absent: the default page
    EXPECT_TRUE(b.DefaultProfile.empty()); // two elements read as missing
    EXPECT_EQ(b.ApplicationID, (std::array<std::uint32_t, 2>{0, 0})); // 15 characters
    EXPECT_EQ(b.Limits[0], (CGameAxisLimit{-16383.0f, 16383.0f, 1}));
    EXPECT_EQ(b.Limits[2], (CGameAxisLimit{-16383.0f, 16383.0f, 0}));
    EXPECT_EQ(list[2].Id, -1);
    EXPECT_EQ(list[2].ApplicationID, (std::array<std::uint32_t, 2>{0, 0})); // 17 characters
    EXPECT_EQ(list[3].ApplicationID[0], 0x00234567u); // a bad digit counts 0
    EXPECT_TRUE(list[3].Name.empty());

    EXPECT_EQ(list.FindById(4701), 0); // the first of two
    EXPECT_EQ(list.FindById(-1), 2);
    EXPECT_EQ(list.FindById(5), -1);
    EXPECT_EQ(list.GetAt(4), nullptr);
    EXPECT_EQ(list.GetAt(-1), nullptr);
}

TEST_F(GameListTest, RefusesTamperedCataloguesAndStaysEmpty)
{
    make(kCatalogue);
    const auto data = readAll(dir_ / "sgl.dat");
    const auto sig = readAll(dir_ / "sgl.sig");
    auto otherPublic = pc::RsaPrivateKey::fromBlob(pc::generateRsaKeyPair(1024))->publicBlob();
    auto shortBlob = publicKey();
    shortBlob.pop_back();

    const struct {
        const char* what;
        std::function<void()> change;
        std::vector<std::uint8_t> key;
        int expected;
    } cases[] = {
        {"a data byte flipped", [&] { auto d = data; d[100] ^= 0x20; writeAll(dir_ / "sgl.dat", d); }, publicKey(), 4},
        {"a signature byte flipped", [&] { auto s = sig; s[0] ^= 1; writeAll(dir_ / "sgl.sig", s); }, publicKey(), 4},
        {"a data byte appended", [&] { auto d = data; d.push_back(0); writeAll(dir_ / "sgl.dat", d); }, publicKey(), 4},
        {"wrong key", [] {}, otherPublic, 4},
        {"short key blob", [] {}, shortBlob, 3},
        {"no key blob", [] {}, {}, 3},
        {"missing signature", [&] { fs::remove(dir_ / "sgl.sig"); }, publicKey(), 5},
        {"missing data", [&] { fs::remove(dir_ / "sgl.dat"); }, publicKey(), 5},
    };
    for (const auto& c : cases) {
        writeAll(dir_ / "sgl.dat", data);
        writeAll(dir_ / "sgl.sig", sig);
        CGameList list;
        ASSERT_EQ(list.Load(dir_, publicKey()), 0); // a good load first: a refused one must empty it
        ASSERT_GT(list.GetSize(), 0);
        c.change();
        EXPECT_EQ(list.Load(dir_, c.key), c.expected) << c.what;
        EXPECT_EQ(list.GetSize(), 0) << c.what;
        EXPECT_EQ(list.FindById(4701), -1) << c.what;
        EXPECT_EQ(list.Version, 0) << c.what;
    }
}

// A data or signature file far larger than any catalogue's is refused before
// it is read (read error 2, with a line naming it); at the bound it is read.
TEST_F(GameListTest, FilesFarLargerThanAnyCatalogueAreRefusedUnread)
{
    make(kCatalogue);
    const auto data = readAll(dir_ / "sgl.dat");
    const auto sig = readAll(dir_ / "sgl.sig");
    const auto grown = [](std::vector<std::uint8_t> b, std::size_t size) {
        b.resize(size, 0);
        return b;
    };
    const struct {
        const char* what;
        const char* file;
        std::vector<std::uint8_t> bytes;
        int expected;
    } cases[] = {
        {"data past the bound", "sgl.dat", grown(data, kMaxCatalogueDataBytes + 1), 2},
        {"signature past the bound", "sgl.sig", grown(sig, kMaxCatalogueSignatureBytes + 1), 2},
        {"data at the bound: read, and its signature fails", "sgl.dat", grown(data, kMaxCatalogueDataBytes), 4},
    };
    for (const auto& c : cases) {
        writeAll(dir_ / "sgl.dat", data);
        writeAll(dir_ / "sgl.sig", sig);
        writeAll(dir_ / c.file, c.bytes);
        platform::debug::Capture debug;
        CGameList list;
        EXPECT_EQ(list.Load(dir_, publicKey()), c.expected) << c.what;
        EXPECT_EQ(list.GetSize(), 0) << c.what;
        EXPECT_EQ(debug.contains(std::string(c.file) + " is too large"), c.expected == 2) << c.what;
    }
}

TEST_F(GameListTest, MalformedDocumentGivesAnEmptyCatalogueAndZero)
{
    for (std::string_view xml : {std::string_view("<Games><Game Id=\"1\"></Games>"), std::string_view("not xml"),
                                 std::string_view(kCatalogue).substr(0, 300), std::string_view("")}) {
        make(xml);
        CGameList list;
        EXPECT_EQ(list.Load(dir_, publicKey()), 0);
        EXPECT_EQ(list.GetSize(), 0);
    }
}

TEST_F(GameListTest, WrongPassPhraseReadsAsMalformed)
{
    make(kCatalogue);
    CGameList list;
    EXPECT_EQ(list.Load(dir_, publicKey(), "Wrong"), 0);
    EXPECT_EQ(list.GetSize(), 0);
}

TEST_F(GameListTest, ExternalEntitiesAreNotFetched)
{
    writeAll(dir_ / "secret.txt", bytes("secret"));
    const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE Games [<!ENTITY x SYSTEM \"file://" +
                            (dir_ / "secret.txt").string() +
                            "\">]><Games><Game Name=\"&x;\" Id=\"1\"/></Games>";
    make(xml);
    CGameList list;
    list.Load(dir_, publicKey());
    for (int i = 0; i < list.GetSize(); ++i)
        EXPECT_EQ(list[i].Name.find(u"secret"), std::u16string::npos);
}

TEST_F(GameListTest, SearchesWhileAnotherThreadLoads)
{
    make(kCatalogue);
    CGameList list;
    ASSERT_EQ(list.Load(dir_, publicKey()), 0);
    std::thread loader([&] {
        for (int i = 0; i < 5; ++i)
            list.Load(dir_, publicKey());
    });
    for (int i = 0; i < 200; ++i) {
        const int found = list.FindById(4701);
        EXPECT_TRUE(found == 0 || found == -1);
    }
    loader.join();
    EXPECT_EQ(list.FindById(4701), 0);
}

TEST(BuiltInKey, IsAUsableSignatureKey)
{
    const auto key = BuiltInCatalogueKey();
    ASSERT_GE(key.size(), 20u);
    const auto parsed = pc::RsaPublicKey::fromBlob(key);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->modulusBytes(), 256u);
}

} // namespace
