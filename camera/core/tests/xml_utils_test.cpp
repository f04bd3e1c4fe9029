#include "camera/xml_utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Orvane;
namespace fs = std::filesystem;

class XmlUtilsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("lumbrix-xml-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& content)
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    fs::path dir_;
};

namespace {

const char* const kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<Root>
  <Decimal>12</Decimal>
  <Hex>0x10</Hex>
  <Octal>010</Octal>
  <Negative> -7</Negative>
  <Words>abc</Words>
  <Empty></Empty>
  <Twice>1</Twice>
  <Twice>2</Twice>
  <Name>Zündung &amp; Start</Name>
  <Item kind="Größe" count="3"/>
</Root>
)";

} // namespace

TEST_F(XmlUtilsTest, ReadsElementsAttributesAndIntegers)
{
    std::string error = "stale";
    auto parser = XmlUtils::LoadXml(Write("doc.xml", kDocument), error);
    ASSERT_NE(parser, nullptr) << error;
    EXPECT_TRUE(error.empty());
    const xercesc::DOMElement* root = parser->getDocument()->getDocumentElement();

    struct Case {
        const char* tag;
        bool ok;
        int value;
    } cases[] = {
        {"Decimal", true, 12}, {"Hex", true, 16},    {"Octal", true, 8},      {"Negative", true, -7},
        {"Words", true, -99},  {"Empty", false, -99}, {"Twice", false, -99}, {"Missing", false, -99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        int value = -99;
        EXPECT_EQ(XmlUtils::GetNodeIntValue(XmlUtils::GetElementsByTagName(root, c.tag), value), c.ok);
        EXPECT_EQ(value, c.value);
    }

    std::string narrow = "old";
    EXPECT_FALSE(XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root, "Empty"), narrow));
    EXPECT_EQ(narrow, "") << "the narrow form always assigns";
    std::u16string wide = u"old";
    EXPECT_FALSE(XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root, u"Twice"), wide));
    EXPECT_EQ(wide, u"old");

    EXPECT_TRUE(XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root, "Name"), narrow));
    EXPECT_EQ(narrow, "Zündung & Start");
    EXPECT_TRUE(XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root, u"Name"), wide));
    EXPECT_EQ(wide, u"Zündung & Start") << "narrow and wide forms agree";

    const auto* item =
        static_cast<const xercesc::DOMElement*>(XmlUtils::GetElementsByTagName(root, "Item")->item(0));
    EXPECT_EQ(XmlUtils::GetAttribute(item, "kind"), "Größe");
    EXPECT_EQ(XmlUtils::GetAttribute(item, u"kind"), u"Größe");
    EXPECT_EQ(XmlUtils::GetAttribute(item, "absent"), "");
    EXPECT_EQ(XmlUtils::GetAttribute(nullptr, "kind"), "");
    EXPECT_EQ(XmlUtils::GetElementsByTagName(nullptr, "Item"), nullptr);
    int v = 0;
    EXPECT_FALSE(XmlUtils::GetNodeIntValue(static_cast<const xercesc::DOMNodeList*>(nullptr), v));
}

TEST_F(XmlUtilsTest, WideLoadReadsUtf16Files)
{
    // UTF-16LE with a byte-order mark, as profile files are written.
    const std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Profile><Name>日本</Name></Profile>\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text) {
        bytes.push_back(static_cast<char>(ch & 0xFF));
        bytes.push_back(static_cast<char>(ch >> 8));
    }
    const std::string path = Write("wide.xml", bytes);
    std::u16string error;
    auto parser = XmlUtils::LoadXml(XmlUtils::Widen(path), error);
    ASSERT_NE(parser, nullptr) << XmlUtils::Narrow(error);
    std::u16string name;
    EXPECT_TRUE(XmlUtils::GetNodeStringValue(
        XmlUtils::GetElementsByTagName(parser->getDocument()->getDocumentElement(), u"Name"), name));
    EXPECT_EQ(name, u"日本");
}

TEST_F(XmlUtilsTest, BadFilesGiveNullAndAnError)
{
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"mismatched.xml", "<Root><a></b></Root>"},
             {"truncated.xml", "<Root><a>1</a>"},
             {"empty.xml", ""},
             {"garbage.xml", "\x01\x02 not xml"},
         }) {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_EQ(XmlUtils::LoadXml(Write(name, content), error), nullptr);
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_EQ(XmlUtils::LoadXml((dir_ / "absent.xml").string(), error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(XmlUtilsTest, ExternalEntitiesAreNotFetched)
{
    const std::string secret = Write("secret.txt", "SECRET");
    const std::string doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE Root [<!ENTITY x SYSTEM \"file://" + secret +
                            "\">]>\n<Root><Value>&x;</Value></Root>\n";
    std::string error;
    auto parser = XmlUtils::LoadXml(Write("entity.xml", doc), error);
    if (parser) {
        std::string value;
        XmlUtils::GetNodeStringValue(
            XmlUtils::GetElementsByTagName(parser->getDocument()->getDocumentElement(), "Value"), value);
        EXPECT_EQ(value.find("SECRET"), std::string::npos);
    }
}

TEST_F(XmlUtilsTest, MemoryDocumentsAndParallelLoads)
{
    std::string error;
    auto parser = XmlUtils::LoadXmlFromMemory(std::string_view("<A><B>0x1F</B></A>"), error);
    ASSERT_NE(parser, nullptr) << error;
    int v = 0;
    EXPECT_TRUE(XmlUtils::GetNodeIntValue(
        XmlUtils::GetElementsByTagName(parser->getDocument()->getDocumentElement(), "B"), v));
    EXPECT_EQ(v, 31);
    EXPECT_EQ(XmlUtils::LoadXmlFromMemory(std::string_view("<A>"), error), nullptr);
    EXPECT_FALSE(error.empty());

    const std::string path = Write("doc.xml", kDocument);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                std::string e;
                auto p = XmlUtils::LoadXml(path, e);
                int value = 0;
                if (p && XmlUtils::GetNodeIntValue(
                             XmlUtils::GetElementsByTagName(p->getDocument()->getDocumentElement(), "Hex"), value) &&
                    value == 16)
                    good.fetch_add(1);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 40);
}

TEST(XmlUtilsText, ParseIntAndConversions)
{
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {{"12", true, 12},       {"0x10", true, 16},  {"010", true, 8},   {"  42", true, 42},
                 {"-0x10", true, -16},   {"7abc", true, 7},   {"abc", false, -1}, {"", false, -1},
                 {"4294967295", true, -1}, {"+5", true, 5}};
    for (const Case& c : cases) {
        int v = -1;
        EXPECT_EQ(XmlUtils::ParseInt(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    const std::string utf8 = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
    EXPECT_EQ(XmlUtils::Widen(utf8), u"aé日😀");
    EXPECT_EQ(XmlUtils::Narrow(XmlUtils::Widen(utf8)), utf8);
    EXPECT_EQ(XmlUtils::Widen("\xFF"), u"\uFFFD");
    EXPECT_EQ(XmlUtils::Widen("\xE6\x97"), u"\uFFFD");
}

TEST_F(XmlUtilsTest, NonAsciiPaths)
{
    const std::string path = Write("prüf-日本.xml", "<A><B>5</B></A>");
    std::string error;
    auto narrow = XmlUtils::LoadXml(path, error);
    EXPECT_NE(narrow, nullptr) << error;
    std::u16string wideError;
    auto wide = XmlUtils::LoadXml(XmlUtils::Widen(path), wideError);
    EXPECT_NE(wide, nullptr) << XmlUtils::Narrow(wideError);
}
