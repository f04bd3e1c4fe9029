#include "input/HotKeys.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace {

std::string utf8(const std::u16string& s)
{
    return std::string(s.begin(), s.end()); // test texts are ASCII
}

CKeyInfo keyboardKey()
{
    return CKeyInfo{};
}

TEST(KeyNames, Table)
{
    const struct {
        std::uint32_t packed;
        const char* text;
    } cases[] = {
        {HotKeyAndModifiers(0x7B, 2), "Ctrl+F12"},
        {HotKeyAndModifiers(0x4C, 5), "Alt+Shift+L"},
        {HotKeyAndModifiers(0x30, 6), "Ctrl+Shift+0"},
        {HotKeyAndModifiers(0x7B, 7), "Alt+Ctrl+Shift+F12"},
        {HotKeyAndModifiers(0x65, 1), "Alt+Pad 5"},
        {0xBA, ";"},
        {0x6C, "Pad 0"},
        {0x60, "Pad 0"},
        {0x3A, ":"},
        {0x2A, "Print"},
        {0x2F, "Help"},
        {0x30, "0"},
        {0x41, "A"},
        {0x5A, "Z"},
        {0x5B, "LWin"},
        {0x07, "7"},
        {0xFF, "255"},
        {0xDC, "\\"},
        {0xDE, "'"},
        {0x87, "F24"},
        {0x88, "136"},
        {0xB7, "Launch App2"},
        {0x08, "Backspace"},
        {0x14, "Caps Lock"},
        {0x91, "Scroll Lock"},
        {0xC0, "~"},
    };
    const CKeyInfo k = keyboardKey();
    for (const auto& c : cases)
        EXPECT_EQ(utf8(k.GetKeyText(c.packed)), c.text) << std::hex << c.packed;
}

TEST(KeyNames, DeviceButtons)
{
    CKeyInfo mouse;
    mouse.Device = GUID_SysMouse;
    mouse.SetKey(0);
    EXPECT_EQ(utf8(mouse.Name), "Mouse1");
    CKeyInfo joystick;
    joystick.Device = Guid{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    joystick.SetKey(0);
    EXPECT_EQ(utf8(joystick.Name), "Joystick1");
    joystick.SetKey(65);
    EXPECT_EQ(utf8(joystick.Name), "Joystick66");
}

TEST(HotKeys, DefaultsAndFind)
{
    CHotKeys keys;
    ASSERT_EQ(keys.GetSize(), 3);
    const char* names[] = {"F12", "F9", "F7"};
    const std::uint32_t codes[] = {0x7B, 0x78, 0x76};
    for (int i = 0; i < 3; ++i) {
        const CKeyInfo k = keys.GetAt(i);
        EXPECT_EQ(k.Code, codes[i]);
        EXPECT_EQ(utf8(k.Name), names[i]);
        EXPECT_EQ(k.Toggle, 1);
        EXPECT_EQ(k.Trap, 1);
        EXPECT_EQ(k.Enable, 1);
        EXPECT_EQ(k.Device, GUID_NULL);
        EXPECT_EQ(keys.FindKey(codes[i]), i);
    }
    // A code two keys share gives the lower index; one held only at 3 is not found.
    CKeyInfo k;
    k.SetKey(0x78);
    keys.SetAtGrow(2, k);
    EXPECT_EQ(keys.FindKey(0x78), 1);
    k.SetKey(0x41);
    keys.SetAtGrow(3, k);
    EXPECT_EQ(keys.FindKey(0x41), -1);
    // Modifier bits count.
    EXPECT_EQ(keys.FindKey(HotKeyAndModifiers(0x7B, 2)), -1);
}

TEST(HotKeys, ShortSetReadsMissingKeysAsDisabled)
{
    CHotKeys keys;
    keys.RemoveAll();
    EXPECT_EQ(keys.FindKey(0), -1);
    const CKeyInfo k = keys.GetAt(2);
    EXPECT_EQ(k.Enable, 0);
    EXPECT_EQ(keys.GetAt(-1).Enable, 0);
}

TEST(Guid, TextRoundTripAndRejects)
{
    std::u16string text;
    EXPECT_EQ(GuidToText(GUID_SysMouse, text), 0);
    EXPECT_EQ(utf8(text), "{6F1D2B60-D5A0-11CF-BFC7-444553540000}");
    Guid g;
    EXPECT_EQ(GuidFromText(text, g), 0);
    EXPECT_EQ(g, GUID_SysMouse);
    EXPECT_EQ(GuidFromText(u"{6f1d2b61-d5a0-11cf-bfc7-444553540000}", g), 0);
    EXPECT_EQ(g, GUID_SysKeyboard);
    for (const char16_t* bad : {u"", u"{6F1D2B60-D5A0-11CF-BFC7-4445535400}", u"nonsense", u"{6F1D2B60-D5A0}"}) {
        g = GUID_SysMouse;
        EXPECT_EQ(GuidFromText(bad, g), kHotKeyFail);
        EXPECT_EQ(g, GUID_NULL);
    }
}

TEST(HotKeys, WriteXmlExactLines)
{
    CHotKeys keys;
    CKeyInfo k;
    k.Device = GUID_SysMouse;
    k.SetKey(3);
    k.Enable = 1;
    keys.SetAtGrow(1, k);
    std::u16string out;
    keys.WriteXml(out, u"  ");
    EXPECT_EQ(utf8(out),
              "  <HotKeys>\n"
              "    <Key Type=\"0\" virtualKeyCode=\"123\" Enable=\"1\" Toggle=\"1\" Trap=\"1\" "
              "Device=\"{00000000-0000-0000-0000-000000000000}\"></Key>\n"
              "    <Key Type=\"1\" virtualKeyCode=\"3\" Enable=\"1\" Toggle=\"0\" Trap=\"0\" "
              "Device=\"{6F1D2B60-D5A0-11CF-BFC7-444553540000}\"></Key>\n"
              "    <Key Type=\"2\" virtualKeyCode=\"118\" Enable=\"1\" Toggle=\"1\" Trap=\"1\" "
              "Device=\"{00000000-0000-0000-0000-000000000000}\"></Key>\n"
              "  </HotKeys>\n");
}

class HotKeysXml : public ::testing::Test {
protected:
    static void SetUpTestSuite() { xercesc::XMLPlatformUtils::Initialize(); }
    static void TearDownTestSuite() { xercesc::XMLPlatformUtils::Terminate(); }

    CHotKeys read(const std::string& xml)
    {
        xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "test");
        parser_ = std::make_unique<xercesc::XercesDOMParser>();
        parser_->setLoadExternalDTD(false);
        parser_->parse(source);
        CHotKeys keys;
        keys.ReadXml(parser_->getDocument()->getDocumentElement());
        return keys;
    }

    std::unique_ptr<xercesc::XercesDOMParser> parser_;
};

TEST_F(HotKeysXml, RoundTrip)
{
    CHotKeys keys;
    CKeyInfo k;
    k.Device = Guid{0xDEADBEEF, 0xABCD, 0x1234, {1, 2, 3, 4, 5, 6, 7, 0xFF}};
    k.SetKey(4);
    k.Toggle = 0;
    k.Trap = 1;
    k.Enable = 0;
    keys.SetAtGrow(0, k);
    k = CKeyInfo{};
    k.SetKey(HotKeyAndModifiers(0x7B, 7));
    k.Enable = 1;
    keys.SetAtGrow(2, k);
    std::u16string out;
    keys.WriteXml(out, u"  ");
    const CHotKeys back = read(utf8(out));
    EXPECT_EQ(back, keys);
    EXPECT_EQ(utf8(back.GetAt(2).Name), "Alt+Ctrl+Shift+F12");
}

TEST_F(HotKeysXml, ReaderRules)
{
    const CHotKeys keys = read(
        "<HotKeys>"
        "<Key Type=\"9\" virtualKeyCode=\"65\" Enable=\"yes\" Toggle=\"0\" Trap=\"\" Device=\"{bad}\"></Key>"
        "<Other><Key virtualKeyCode=\"-1\" Device=\"{6F1D2B60-D5A0-11CF-BFC7-444553540000}\"></Key></Other>"
        "</HotKeys>");
    ASSERT_EQ(keys.GetSize(), 2);
    const CKeyInfo a = keys.GetAt(0);
    EXPECT_EQ(a.Code, 65u);
    EXPECT_EQ(utf8(a.Name), "A");
    EXPECT_EQ(a.Enable, 1);
    EXPECT_EQ(a.Toggle, 0);
    EXPECT_EQ(a.Trap, 0); // empty: left at 0
    EXPECT_EQ(a.Device, GUID_NULL);
    const CKeyInfo b = keys.GetAt(1);
    EXPECT_EQ(b.Code, 0xFFFFFFFFu); // decimal wraps modulo 2^32
    EXPECT_EQ(b.Device, GUID_SysMouse);
    EXPECT_EQ(b.Enable, 0);
    EXPECT_EQ(keys.FindKey(0), -1);
    EXPECT_EQ(keys.GetAt(2).Enable, 0);
}

} // namespace
