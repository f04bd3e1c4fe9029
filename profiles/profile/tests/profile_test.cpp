#include "profiles/Profile.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "camera/xml_utils.h"
#include "platform/debug.h"

namespace fs = std::filesystem;
using Orvane::XmlUtils;

namespace {

std::string bytesOf(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string utf16le(std::u16string_view s, bool bom = false)
{
    std::string out;
    if (bom)
        out = "\xFF\xFE";
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

void writeFile(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

const char16_t* const kSmoothData =
    u"    <CurveData p0=\"18\" p1=\"18\" p2=\"18\" p3=\"15\" p4=\"11\" p5=\"8\" p6=\"4\" p7=\"1\" p8=\"4\" "
    u"p9=\"8\" p10=\"11\" p11=\"15\" p12=\"18\" p13=\"18\" p14=\"18\"></CurveData>\n";

const CurveValues kSmoothTable{777, 597, 417, 237, 87, 32, 8, 0, 8, 32, 87, 237, 417, 597, 777};

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string t = (fs::temp_directory_path() / "profile-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(t.data()));
        dir_ = t;
        fs::create_directory(dir_ / "Profiles");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The suite's own path form, with a backslash.
    std::u16string path(std::string_view name) const
    {
        return XmlUtils::Widen((dir_ / "Profiles").string() + "\\" + std::string(name));
    }
    fs::path file(std::string_view name) const { return dir_ / "Profiles" / name; }

    // Loads a profile file made of the given UTF-16 body.
    int load(const std::u16string& xml, CProfile& into, bool bom = false)
    {
        writeFile(file("t.xml"), utf16le(xml, bom));
        into.Path = path("t.xml");
        return into.Load();
    }
    static std::u16string doc(std::u16string_view body)
    {
        return u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Profile>\n" + std::u16string(body) + u"</Profile>\n";
    }

    fs::path dir_;
};

TEST(Profile, ConstructorAndSetDefaults)
{
    CProfile p;
    EXPECT_EQ(p.Smoothing, 25.0f);
    EXPECT_EQ(p.TrueView, 1);
    EXPECT_EQ(p.MotionType, 1);
    EXPECT_EQ(p.Override, 0);
    EXPECT_EQ(p.ImagerThreshold, 0.8f);
    EXPECT_EQ(p.SixDofSmoothing, 1);
    EXPECT_EQ(p.SixDofParamB, 0.5f);
    for (int i = 0; i < 6; ++i) {
        const CProfileAxis& a = p.Axes[static_cast<std::size_t>(i)];
        EXPECT_EQ(a.Type, i);
        EXPECT_EQ(a.Enabled, 1); // roll too
        EXPECT_EQ(a.CurveType, 1);
        EXPECT_EQ(a.CurveTable.Values(), kSmoothTable);
    }
    EXPECT_EQ(p.HotKeys.GetSize(), 3);

    p.Name = u"n";
    p.GameIds = {7};
    p.Override = 1;
    p.Smoothing = 3;
    p.MotionType = 0;
    p.ImagerThreshold = 9;
    p.Axes[0].Enabled = 0;
    p.Axes[0].SetCurveType(0);
    p.HotKeys.RemoveAll();
    EXPECT_EQ(p.SetDefaults(), 0);
    EXPECT_EQ(p.Axes[CProfileAxis::Roll].Enabled, 0);
    EXPECT_EQ(p.Axes[0].Enabled, 1);
    EXPECT_EQ(p.Axes[0].CurveTable.Values(), kSmoothTable);
    EXPECT_EQ(p.Smoothing, 25.0f);
    EXPECT_EQ(p.MotionType, 1);
    EXPECT_EQ(p.HotKeys.GetSize(), 3);
    EXPECT_EQ(p.Name, u"n");
    EXPECT_EQ(p.GameIds, std::vector<std::uint32_t>{7});
    EXPECT_EQ(p.Override, 1);
    EXPECT_EQ(p.ImagerThreshold, 9.0f);
}

TEST(Profile, AssignmentReplacesIdsAndCopiesEverything)
{
    CProfile a, b;
    a.GameIds = {CProfile::kDefaultGameId};
    a.Name = u"A";
    a.Axes[4].CurveData[0] = 80;
    a.Axes[4].SetCurveType(5);
    b.GameIds = {7};
    b = a;
    EXPECT_EQ(b.GameIds, std::vector<std::uint32_t>{CProfile::kDefaultGameId});
    EXPECT_TRUE(b.IsDefault());
    EXPECT_EQ(b.IsAssociatedWith(7), 0);
    EXPECT_EQ(b, a);
}

TEST(Profile, ReplaceNoCase)
{
    const struct {
        const char16_t *text, *find, *replace, *expected;
    } cases[] = {
        {u"a&b&&c", u"&", u"&amp;", u"a&amp;b&amp;&amp;c"},
        {u"Hello hELLo", u"hello", u"x", u"x x"},
        {u"aaa", u"a", u"aa", u"aaaaaa"}, // resumes behind each replacement
        {u"abc", u"", u"x", u"abc"},
        {u"\u00C4\u00E4", u"\u00E4", u"-", u"--"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceNoCase(c.text, c.find, c.replace), c.expected);
}

TEST(Profile, Escaping)
{
    EXPECT_EQ(EscapeProfileText(u"A & <B> c"), u"A &amp; &lt;B> c");
    EXPECT_EQ(EscapeProfileText(u"x]]>y"), u"x]]&gt;y");
    EXPECT_EQ(EscapeProfileText(u"a\rb\tc\nd"), u"a&#13;b\tc\nd");
    EXPECT_EQ(EscapeProfileText(u"\u0001\uFFFE"), u"\uFFFD\uFFFD");
    std::u16string lone = u"a";
    lone += static_cast<char16_t>(0xD800);
    lone += u'b';
    EXPECT_EQ(EscapeProfileText(lone), u"a\uFFFDb");
    EXPECT_EQ(EscapeProfileText(u"\U0001F600"), u"\U0001F600");
}

TEST_F(ProfileFile, SavesTheExactBytes)
{
    CProfile p;
    p.Path = path("Default.xml");
    p.Name = u"A & <b>";
    p.GameIds = {CProfile::kDefaultGameId};
    p.SetDefaults();
    ASSERT_EQ(p.Save(), 0);

    std::u16string expected = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                              u"<Profile>\n"
                              u"  <Name>A &amp; &lt;b></Name>\n"
                              u"  <Notes></Notes>\n"
                              u"  <Smoothing>25</Smoothing>\n"
                              u"  <TrueView>1</TrueView>\n"
                              u"  <MotionType>1</MotionType>\n"
                              u"  <Override>0</Override>\n"
                              u"  <AssociatedGame Id=\"4294967295\"></AssociatedGame>\n";
    for (int i = 0; i < 6; ++i) {
        expected += u"  <Axis Type=\"" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u"\" Enabled=\"" +
                    (i == 2 ? u"0" : u"1") + u"\" Inverted=\"0\" CurveType=\"1\">\n";
        expected += kSmoothData;
        expected += u"  </Axis>\n";
    }
    const char16_t* guid = u"{00000000-0000-0000-0000-000000000000}";
    expected += u"  <HotKeys>\n";
    for (auto [i, code] : {std::pair{0, u"123"}, {1, u"120"}, {2, u"118"}})
        expected += u"    <Key Type=\"" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u"\" virtualKeyCode=\"" +
                    code + u"\" Enable=\"1\" Toggle=\"1\" Trap=\"1\" Device=\"" + guid + u"\"></Key>\n";
    expected += u"  </HotKeys>\n</Profile>\n";
    EXPECT_EQ(bytesOf(file("Default.xml")), utf16le(expected)); // no BOM, LF only

    CProfile back;
    back.Path = p.Path;
    ASSERT_EQ(back.Load(), 0);
    EXPECT_EQ(back, p);
    EXPECT_EQ(back.Name, u"A & <b>");
    EXPECT_TRUE(back.IsDefault());
    EXPECT_EQ(fs::status(file("Default.xml")).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST_F(ProfileFile, RoundTripKeepsEveryField)
{
    CProfile p;
    p.Path = path("Mine.xml");
    p.Name = u"Ä name & < > ]]> \U0001F600 \"q\" 'a'\ttab";
    p.Notes = u"line 1\nline 2\r\nline 3  \n  ";
    p.GameIds = {CProfile::kDefaultGameId, 7, 0, 4701};
    p.Smoothing = 100;
    p.Override = 1;
    p.TrueView = 0;
    p.MotionType = 3;
    for (int i = 0; i < 6; ++i) {
        CProfileAxis& a = p.Axes[static_cast<std::size_t>(i)];
        a.Enabled = i % 2;
        a.Inverted = i % 3 == 0;
        for (int k = 0; k < 15; ++k)
            a.CurveData[static_cast<std::size_t>(k)] = (i * 15 + k * 7) % 81;
        a.SetCurveType(i == 1 ? -1 : 5 + i);
    }
    p.Axes[2].SetCurveType(3);
    CKeyInfo k;
    k.Device = GUID_SysMouse;
    k.SetKey(2);
    k.Enable = 1;
    p.HotKeys.SetAtGrow(1, k);
    k = CKeyInfo{};
    k.SetKey(HotKeyAndModifiers(0x4C, 5));
    p.HotKeys.SetAtGrow(3, k);
    ASSERT_EQ(p.Save(), 0);

    CProfile back;
    back.Path = p.Path;
    ASSERT_EQ(back.Load(), 0);
    EXPECT_EQ(back.Name, p.Name);
    EXPECT_EQ(back.Notes, p.Notes);
    EXPECT_EQ(back.HotKeys, p.HotKeys);
    EXPECT_EQ(back, p);

    // Saving again replaces the file and reads back the same.
    p.Name = u"second";
    ASSERT_EQ(p.Save(), 0);
    CProfile again;
    again.Path = p.Path;
    ASSERT_EQ(again.Load(), 0);
    EXPECT_EQ(again, p);
    for (const auto& entry : fs::directory_iterator(dir_ / "Profiles"))
        EXPECT_EQ(entry.path().filename().string().front(), 'M') << "temporary file left behind";
}

TEST_F(ProfileFile, ReadingRules)
{
    const struct {
        const char* what;
        std::u16string body;
        std::function<void(const CProfile&)> check;
    } cases[] = {
        {"no Smoothing keeps 25", u"<Name>x</Name>", [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 25.0f); }},
        {"two Names read as missing", u"<Name>a</Name><Name>b</Name>",
         [](const CProfile& p) { EXPECT_TRUE(p.Name.empty()); }},
        {"nested Name counts too", u"<Name>a</Name><X><Name>b</Name></X>",
         [](const CProfile& p) { EXPECT_TRUE(p.Name.empty()); }},
        {"empty Name", u"<Name></Name>", [](const CProfile& p) { EXPECT_TRUE(p.Name.empty()); }},
        {"hexadecimal", u"<Smoothing>0x10</Smoothing>", [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 16.0f); }},
        {"octal", u"<Smoothing>010</Smoothing>", [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 8.0f); }},
        {"fraction", u"<Smoothing>25.7</Smoothing>", [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 25.0f); }},
        {"not a number", u"<Smoothing>abc</Smoothing>", [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 25.0f); }},
        {"out of range smoothing", u"<Smoothing>5000</Smoothing>",
         [](const CProfile& p) { EXPECT_EQ(p.Smoothing, 25.0f); }},
        {"out of range motion type", u"<MotionType>9</MotionType><TrueView>0</TrueView><Override>0x7</Override>",
         [](const CProfile& p) {
             EXPECT_EQ(p.MotionType, 1);
             EXPECT_EQ(p.TrueView, 0);
             EXPECT_EQ(p.Override, 7);
         }},
        {"game ids: -1 is the default's id, wrapping numbers are refused",
         u"<AssociatedGame Id=\"-1\"/><AssociatedGame Id=\"\"/><AssociatedGame Id=\"12x\"/>"
         u"<AssociatedGame Id=\"4294967295\"/><AssociatedGame Id=\"4294967296\"/><AssociatedGame Id=\"-2\"/>"
         u"<AssociatedGame Id=\"-4294967297\"/><AssociatedGame Id=\"99999999999999999999999\"/>",
         [](const CProfile& p) {
             EXPECT_EQ(p.GameIds, (std::vector<std::uint32_t>{0xFFFFFFFFu, 12, 0xFFFFFFFFu}));
             EXPECT_TRUE(p.IsDefault());
         }},
        {"axis Type 6 or empty changes nothing",
         u"<Axis Type=\"6\" Enabled=\"0\"/><Axis Type=\"\" Enabled=\"0\"/><Axis Enabled=\"0\"/>"
         u"<Axis Type=\"-1\" Enabled=\"0\"/>",
         [](const CProfile& p) {
             for (const auto& a : p.Axes)
                 EXPECT_EQ(a.Enabled, 1);
         }},
        {"axis without CurveData rebuilds from the slopes it has",
         u"<Axis Type=\"1\" CurveType=\"0\" Inverted=\"1\"></Axis>",
         [](const CProfile& p) {
             EXPECT_EQ(p.Axes[1].CurveType, 0); // stored as read, preset not applied
             EXPECT_EQ(p.Axes[1].CurveTable.Values(), kSmoothTable);
             EXPECT_EQ(p.Axes[1].Inverted, 1);
         }},
        {"slopes read, held to range, later axis wins",
         u"<Axis Type=\"3\"><CurveData p0=\"1\"/></Axis>"
         u"<Axis Type=\"3\"><CurveData p0=\"1000000000\" p14=\"-5\" p7=\"\"/><CurveData p1=\"0\"/></Axis>",
         [](const CProfile& p) {
             EXPECT_EQ(p.Axes[3].CurveData[0], 80);
             EXPECT_EQ(p.Axes[3].CurveData[14], 0);
             EXPECT_EQ(p.Axes[3].CurveData[1], 18); // only the first CurveData counts
             EXPECT_EQ(p.Axes[3].CurveTable[0], 80 * 10 + 597);
             EXPECT_EQ(p.Axes[3].CurveTable[14], 597);
         }},
        {"no HotKeys keeps the defaults", u"",
         [](const CProfile& p) { EXPECT_EQ(p.HotKeys, CHotKeys()); }},
        {"two keys make a short set",
         u"<HotKeys><Key virtualKeyCode=\"65\"/><Key virtualKeyCode=\"66\"/></HotKeys><HotKeys/>",
         [](const CProfile& p) {
             EXPECT_EQ(p.HotKeys.GetSize(), 2);
             EXPECT_EQ(p.HotKeys.FindKey(66), 1);
             EXPECT_EQ(p.HotKeys.GetAt(2).Enable, 0);
         }},
    };
    for (const auto& c : cases) {
        CProfile p;
        platform::debug::Capture capture;
        EXPECT_EQ(load(doc(c.body), p), 0) << c.what;
        c.check(p);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << c.what;
            return;
        }
    }
}

TEST_F(ProfileFile, DamagedFiles)
{
    const std::u16string good = doc(u"  <Name>Kept</Name>\n  <Smoothing>40</Smoothing>\n  <Axis Type=\"0\" "
                                    u"Enabled=\"0\"></Axis>\n");
    {
        CProfile p;
        p.Name = u"Before";
        platform::debug::Capture capture;
        // Cut in the middle of the axis: the file is refused whole and the
        // object keeps what it had.
        EXPECT_EQ(load(good.substr(0, good.find(u"<Axis") + 8), p), 2);
        EXPECT_EQ(p.Name, u"Before");
        EXPECT_EQ(p.Smoothing, 25.0f);
        EXPECT_TRUE(capture.contains("t.xml"));
        EXPECT_TRUE(capture.contains("Could not read profile"));
    }
    const struct {
        const char* what;
        std::string bytes;
        int expected;
    } cases[] = {
        {"empty file", "", 2},
        {"half a code unit", utf16le(good).substr(0, 9), 2},
        {"not XML", utf16le(u"hello"), 2},
        {"mismatched tags", utf16le(doc(u"<Name>x</Notes>")), 2},
        {"another root", utf16le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Settings/>\n"), 13},
        {"UTF-16 with a byte-order mark", utf16le(good, true), 0},
        {"UTF-8", "<?xml version=\"1.0\"?><Profile><Name>Kept</Name><Smoothing>40</Smoothing></Profile>", 0},
        {"binary noise", std::string("\x00\xFF\x13\x37\x00\x00\x01", 7), 2},
    };
    for (const auto& c : cases) {
        writeFile(file("t.xml"), c.bytes);
        CProfile p;
        p.Path = path("t.xml");
        platform::debug::Capture capture;
        std::vector<std::u16string> told;
        EXPECT_EQ(p.Load([&](std::u16string_view text) { told.emplace_back(text); }), c.expected) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(p.Name, u"Kept") << c.what;
            EXPECT_EQ(p.Smoothing, 40.0f) << c.what;
        } else {
            EXPECT_TRUE(capture.contains("t.xml")) << c.what;
        }
        // The user hears of an unreadable file, not of a well-formed one without a profile.
        ASSERT_EQ(told.size(), c.expected == 2 ? 1u : 0u) << c.what;
        if (c.expected == 2) {
            EXPECT_EQ(told[0].rfind(u"Could not read profile ", 0), 0u) << c.what;
            EXPECT_NE(told[0].find(u"t.xml. "), std::u16string::npos) << c.what;
        }
    }
    CProfile missing;
    missing.Path = path("missing.xml");
    EXPECT_EQ(missing.Load(), 2);
    EXPECT_EQ(missing, [&] {
        CProfile fresh;
        fresh.Path = missing.Path;
        return fresh;
    }());
}

// Every cut of a saved profile, and every single damaged byte in its first
// part, is either read whole or refused with nothing changed: never a crash.
TEST_F(ProfileFile, EveryCutAndBadByteIsRefusedOrRead)
{
    CProfile saved;
    saved.Path = path("Full.xml");
    saved.Name = u"Full";
    saved.GameIds = {7, CProfile::kDefaultGameId};
    ASSERT_EQ(saved.Save(), 0);
    const std::string bytes = bytesOf(file("Full.xml"));
    platform::debug::Capture capture;
    const auto check = [&](const std::string& damaged, const std::string& what) {
        writeFile(file("t.xml"), damaged);
        CProfile p;
        p.Path = path("t.xml");
        p.Name = u"Before";
        const int r = p.Load();
        if (r == 0)
            return;
        ASSERT_TRUE(r == 2 || r == 13) << what;
        CProfile fresh;
        fresh.Path = p.Path;
        fresh.Name = u"Before";
        ASSERT_EQ(p, fresh) << what;
    };
    // Every cut in the declaration and the first elements, then every
    // few bytes; a bad byte at every place in the first elements.
    for (std::size_t n = 0; n < bytes.size(); n += n < 128 ? 1 : 13)
        check(bytes.substr(0, n), "cut at " + std::to_string(n));
    for (std::size_t at = 0; at < std::min<std::size_t>(bytes.size(), 160); ++at) {
        std::string damaged = bytes;
        damaged[at] = at % 3 == 0 ? '\0' : at % 3 == 1 ? '<' : '\xFF';
        check(damaged, "byte " + std::to_string(at));
    }
}

TEST_F(ProfileFile, FarTooLargeFileIsRefusedUnread)
{
    std::string big = utf16le(doc(u"<Name>Big</Name>"));
    big.resize(static_cast<std::size_t>(CProfile::kMaxFileBytes) + 2, ' ');
    writeFile(file("t.xml"), big);
    CProfile p;
    p.Path = path("t.xml");
    std::vector<std::u16string> told;
    platform::debug::Capture capture;
    EXPECT_EQ(p.Load([&](std::u16string_view text) { told.emplace_back(text); }), 2);
    EXPECT_TRUE(p.Name.empty());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(u"at most"), std::u16string::npos);
}

TEST_F(ProfileFile, FailedSaveKeepsTheOldFile)
{
    CProfile p;
    p.Path = path("Old.xml");
    p.Name = u"old";
    ASSERT_EQ(p.Save(), 0);
    const std::string before = bytesOf(file("Old.xml"));

    CProfile q = p;
    q.Name = u"new";
    q.Path = XmlUtils::Widen((dir_ / "missing-folder" / "Old.xml").string());
    platform::debug::Capture capture;
    EXPECT_EQ(q.Save(), 2);
    EXPECT_TRUE(capture.contains("missing-folder"));

    // A target that cannot be replaced (a folder) stays, and no temporary file is left.
    fs::create_directory(file("Dir.xml"));
    q.Path = path("Dir.xml");
    EXPECT_EQ(q.Save(), 2);
    EXPECT_TRUE(fs::is_directory(file("Dir.xml")));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_ / "Profiles"))
        ++entries;
    EXPECT_EQ(entries, 2);
    EXPECT_EQ(bytesOf(file("Old.xml")), before);
}

} // namespace
