#include "app/UpdatePackage.h"
#include "app/UpdateService.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::span<const std::uint8_t> bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string le32(std::uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string record(std::uint32_t type, const std::string& data) { return le32(type) + le32(static_cast<std::uint32_t>(data.size())) + data; }

TEST(UpdateReply, FieldsDefaultsFirstOfEachNameAndIntegerSyntax)
{
    CUpdateReply reply;
    EXPECT_EQ(ParseUpdateReply(bytes("<Update><FileID>SGL</FileID><FileID>X</FileID><FileVersion>010</FileVersion>"
                                     "<DownloadURL>http://h/p.pkg</DownloadURL><Deep><MinimumSoftwareVersion>4.1.000"
                                     "</MinimumSoftwareVersion></Deep></Update>"),
                               reply),
              0);
    EXPECT_EQ(reply.FileID, "SGL");
    EXPECT_EQ(reply.FileVersion, 8); // "%i": leading 0 is octal
    EXPECT_EQ(reply.DownloadURL, "http://h/p.pkg");
    EXPECT_EQ(reply.MinimumSoftwareVersion, "4.1.000");
    EXPECT_EQ(reply.Status, 1); // missing Status counts as 1

    CUpdateReply untouched;
    untouched.FileID = "keep";
    EXPECT_EQ(ParseUpdateReply(bytes("<Anything><Status>2</Status></Anything>"), untouched), 0);
    EXPECT_EQ(untouched.FileID, "keep");
    EXPECT_EQ(untouched.Status, 2);
}

TEST(UpdateReply, MalformedOrEmptyDocumentsAreBadReplies)
{
    for (const std::string& text : std::vector<std::string>{"", "<Update><FileID>SGL</Update>", "<html><body>Not Found", "garbage", std::string("\0<a/>", 5)}) {
        CUpdateReply reply;
        EXPECT_EQ(ParseUpdateReply(bytes(text), reply), kErrorBadReply) << text;
    }
    CNewsReply news;
    EXPECT_EQ(ParseNewsReply(bytes("<NewsInfo><URLVersion>7</URLVersion><ReplyURL>http://n/x</ReplyURL></NewsInfo>"), news), 0);
    EXPECT_EQ(news.URLVersion, 7);
    EXPECT_EQ(news.ReplyURL, "http://n/x");
}

TEST(UpdatePackage, RecordsAreAllCheckedBeforeUse)
{
    const std::string format = record(1, le32(1));
    struct Case {
        const char* name;
        std::string data;
        int expected;
        std::size_t records;
    } cases[] = {
        {"good with an unknown type", format + record(2, "abc") + record(99, "zz") + record(3, ""), 0, 4},
        {"format later in the data", record(2, "abc") + format, 0, 2},
        {"empty", "", 13, 0},
        {"no format record", record(2, "abc"), 13, 0},
        {"format word 2", record(1, le32(2)) + record(2, "abc"), 13, 0},
        {"format record too short", record(1, "\x01\x00") + record(2, "abc"), 13, 0},
        {"header cut short", format + std::string("\x02\x00\x00\x00\x03", 5), 13, 0},
        {"length past the end", format + le32(2) + le32(10) + "abc", 13, 0},
        {"huge length", format + le32(2) + le32(0xFFFFFFFFu) + "abc", 13, 0},
    };
    for (const auto& c : cases) {
        std::vector<CPackageRecord> records;
        EXPECT_EQ(ParsePackage(bytes(c.data), records), c.expected) << c.name;
        EXPECT_EQ(records.size(), c.records) << c.name;
    }
    std::vector<CPackageRecord> records;
    ASSERT_EQ(ParsePackage(bytes(cases[0].data), records), 0);
    EXPECT_EQ(records[1].type, 2u);
    EXPECT_EQ(std::string(records[1].data.begin(), records[1].data.end()), "abc");
}

TEST(UpdatePackage, MadePackagesParseBack)
{
    const std::string a = "first", b(3000, 'b');
    const auto package = MakePackage({{4, bytes(a)}, {5, bytes(b)}});
    std::vector<CPackageRecord> records;
    ASSERT_EQ(ParsePackage(package, records), 0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].data.size(), 3000u);
}

TEST(UpdateVersions, NumericDottedComparison)
{
    EXPECT_LT(CompareVersions("4.1.037", "4.1.038"), 0);
    EXPECT_EQ(CompareVersions("4.1.037", "4.1.37"), 0);
    EXPECT_GT(CompareVersions("4.1.037", "4.1.000"), 0);
    EXPECT_LT(CompareVersions("4.1.037", "10.0.000"), 0);
    EXPECT_GT(CompareVersions("4.1.037", ""), 0);
    EXPECT_LT(CompareVersions("4.1", "4.1.1"), 0);
}

TEST(UpdateVersions, OperatingSystemTable)
{
    struct Case {
        COsVersion v;
        const char* text;
    } cases[] = {
        {{true, 3, 51, true, false}, "NT3_32"},   {{true, 4, 0, true, false}, "NT4_32"},
        {{false, 4, 0, true, false}, "9x_32"},    {{false, 4, 10, true, false}, "9x_32"},
        {{true, 5, 0, true, false}, "2000_32"},   {{true, 5, 1, true, true}, "XP_64"},
        {{true, 5, 2, false, false}, "S2003_32"}, {{true, 6, 0, true, true}, "Vista_64"},
        {{true, 6, 0, false, false}, "S2008_32"}, {{true, 6, 1, true, false}, "unknown_32"},
        {{true, 0, 0, true, true}, "unknown_64"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OperatingSystemText(c.v), c.text);
}

TEST(UpdateTexts, FixedValues)
{
    EXPECT_EQ(SoftwareUpdatePageUrl("http://site"), "http://site/update/index.html?user_version=4.1.037&user_product=Vistrel");
    EXPECT_NE(UpdateErrorText(kErrorBadSignature).find("not installed"), std::string::npos);
    EXPECT_FALSE(UpdateErrorText(1222).empty());
}

} // namespace
