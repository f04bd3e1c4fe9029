#include "input/HotKeys.h"

#include <cstdio>
#include <string>

#include <xercesc/dom/DOMNodeList.hpp>

#include "platform/utf.h"

namespace {

std::u16string ascii(std::string_view s)
{
    return std::u16string(s.begin(), s.end());
}

// Fixed display names of virtual keys 8..222; null where a key has none.
const char* fixedKeyName(std::uint32_t vk)
{
    static const std::array<const char*, 256> names = [] {
        std::array<const char*, 256> n{};
        n[8] = "Backspace"; n[9] = "Tab"; n[12] = "Clear"; n[13] = "Enter";
        n[16] = "Shift"; n[17] = "Ctrl"; n[18] = "Alt"; n[19] = "Pause"; n[20] = "Caps Lock";
        n[27] = "Esc"; n[32] = "Space"; n[33] = "PgUp"; n[34] = "PgDn";
        n[35] = "End"; n[36] = "Home"; n[37] = "Left"; n[38] = "Up"; n[39] = "Right"; n[40] = "Down";
        n[41] = "Select"; n[42] = "Print"; n[43] = "Execute"; n[44] = "PrintScrn";
        n[45] = "Insert"; n[46] = "Delete"; n[47] = "Help";
        n[91] = "LWin"; n[92] = "RWin"; n[93] = "Apps";
        static const char* const pad[] = {"Pad 0", "Pad 1", "Pad 2", "Pad 3", "Pad 4",
                                          "Pad 5", "Pad 6", "Pad 7", "Pad 8", "Pad 9"};
        for (int i = 0; i < 10; ++i)
            n[96 + i] = pad[i];
        // 108 (the separator key) carries the same name as 96.
        n[106] = "Pad *"; n[107] = "Pad +"; n[108] = "Pad 0"; n[109] = "Pad -"; n[110] = "Pad ."; n[111] = "Pad /";
        static const char* const fn[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8",
                                         "F9", "F10", "F11", "F12", "F13", "F14", "F15", "F16",
                                         "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
        for (int i = 0; i < 24; ++i)
            n[112 + i] = fn[i];
        n[144] = "Num Lock"; n[145] = "Scroll Lock";
        n[160] = "LShift"; n[161] = "RShift"; n[162] = "LCtrl"; n[163] = "RCtrl"; n[164] = "LAlt"; n[165] = "RAlt";
        n[166] = "Back"; n[167] = "Forward"; n[168] = "Refresh"; n[169] = "Stop";
        n[170] = "Search"; n[171] = "Favorites"; n[172] = "Browser Home";
        n[173] = "Mute"; n[174] = "Vol Down"; n[175] = "Vol Up"; n[176] = "Next Track";
        n[177] = "Prev Track"; n[178] = "Media Stop"; n[179] = "Media Play";
        n[180] = "Launch Mail"; n[181] = "Launch Media"; n[182] = "Launch App1"; n[183] = "Launch App2";
        n[186] = ";"; n[187] = "="; n[188] = ","; n[189] = "-"; n[190] = "."; n[191] = "/"; n[192] = "~";
        n[219] = "["; n[220] = "\\"; n[221] = "]"; n[222] = "'";
        return n;
    }();
    return (vk >= 8 && vk <= 222) ? names[vk] : nullptr;
}

std::u16string decimal(std::uint64_t v)
{
    return ascii(std::to_string(v));
}

std::u16string decimal(std::int32_t v)
{
    return ascii(std::to_string(v));
}

std::u16string attribute(const xercesc::DOMElement* e, const char16_t* name)
{
    const XMLCh* v = e->getAttribute(name);
    return v ? std::u16string(v) : std::u16string();
}

// Exactly "0" reads as 0, any other text as 1.
std::int32_t flag(std::u16string_view s)
{
    return s == u"0" ? 0 : 1;
}

} // namespace

std::int32_t GuidToText(const Guid& g, std::u16string& text)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2), static_cast<unsigned>(g.Data3),
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    text = ascii(buf);
    return 0;
}

std::int32_t GuidFromText(std::u16string_view text, Guid& guid)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    // Fields go into unsigned temporaries first: a byte field is narrowed
    // only after the whole text has been read.
    unsigned f[11] = {};
    const int n = std::sscanf(narrow.c_str(), "{%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X}",
                              &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10]);
    if (n < 11) {
        guid = GUID_NULL;
        return kHotKeyFail;
    }
    guid.Data1 = f[0];
    guid.Data2 = static_cast<std::uint16_t>(f[1]);
    guid.Data3 = static_cast<std::uint16_t>(f[2]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(f[3 + i]);
    return 0;
}

void CKeyInfo::Set(std::uint32_t code, std::uint32_t second)
{
    Code = code;
    Code2 = second;
    Name = GetKeyText(code);
}

void CKeyInfo::SetKey(std::uint32_t code)
{
    Set(code, 0);
}

std::u16string CKeyInfo::GetKeyName(std::uint32_t key) const
{
    std::u16string text;
    if ((key >= 65 && key <= 90) || (key >= 42 && key <= 63))
        text.assign(1, static_cast<char16_t>(key));
    else
        text = decimal(static_cast<std::int32_t>(key));

    if (Device != GUID_NULL)
        return ascii(Device == GUID_SysMouse ? "Mouse" : "Joystick") + decimal(static_cast<std::int32_t>(key + 1));

    if (const char* fixed = fixedKeyName(key))
        return ascii(fixed);
    return text;
}

std::u16string CKeyInfo::GetKeyText(std::uint32_t packed) const
{
    const std::uint32_t key = packed & 0xFFFFu;
    const std::uint32_t modifiers = packed >> 16;
    std::u16string mods;
    const auto add = [&](std::uint32_t bit, std::uint32_t vk) {
        if (modifiers & bit) {
            if (!mods.empty())
                mods += u'+';
            mods += GetKeyName(vk);
        }
    };
    add(kModAlt, 18);
    add(kModCtrl, 17);
    add(kModShift, 16);
    const std::u16string name = GetKeyName(key);
    return mods.empty() ? name : mods + u'+' + name;
}

CHotKeys::CHotKeys()
{
    SetDefaults();
}

void CHotKeys::SetDefaults()
{
    keys_.clear();
    for (std::uint32_t vk : {0x7Bu, 0x78u, 0x76u}) {
        CKeyInfo k;
        k.SetKey(vk);
        k.Toggle = 1;
        k.Trap = 1;
        k.Enable = 1;
        keys_.push_back(k);
    }
}

CKeyInfo CHotKeys::GetAt(int index) const
{
    if (index < 0 || index >= GetSize())
        return CKeyInfo{};
    return keys_[static_cast<std::size_t>(index)];
}

void CHotKeys::SetAtGrow(int index, const CKeyInfo& key)
{
    if (index < 0)
        return;
    if (index >= GetSize())
        keys_.resize(static_cast<std::size_t>(index) + 1);
    keys_[static_cast<std::size_t>(index)] = key;
}

int CHotKeys::FindKey(std::uint32_t code) const
{
    for (int i = 0; i < 3 && i < GetSize(); ++i)
        if (keys_[static_cast<std::size_t>(i)].Code == code)
            return i;
    return -1;
}

void CHotKeys::WriteXml(std::u16string& out, std::u16string_view indent) const
{
    out += indent;
    out += u"<HotKeys>\n";
    for (int i = 0; i < GetSize(); ++i) {
        const CKeyInfo& k = keys_[static_cast<std::size_t>(i)];
        std::u16string device;
        GuidToText(k.Device, device);
        out += indent;
        out += indent;
        out += u"<Key Type=\"" + decimal(i) + u"\" virtualKeyCode=\"" + decimal(std::uint64_t{k.Code}) +
               u"\" Enable=\"" + decimal(k.Enable) + u"\" Toggle=\"" + decimal(k.Toggle) + u"\" Trap=\"" +
               decimal(k.Trap) + u"\" Device=\"" + device + u"\"></Key>\n";
    }
    out += indent;
    out += u"</HotKeys>\n";
}

void CHotKeys::ReadXml(const xercesc::DOMElement* element)
{
    keys_.clear();
    if (!element)
        return;
    const xercesc::DOMNodeList* list = element->getElementsByTagName(u"Key");
    if (!list)
        return;
    const XMLSize_t count = list->getLength();
    for (XMLSize_t i = 0; i < count; ++i) {
        const auto* e = dynamic_cast<const xercesc::DOMElement*>(list->item(i));
        if (!e)
            continue;
        CKeyInfo k;
        if (const auto device = attribute(e, u"Device"); !device.empty())
            GuidFromText(device, k.Device);
        if (const auto code = attribute(e, u"virtualKeyCode"); !code.empty())
            k.SetKey(platform::leadingDecimal(code));
        if (const auto v = attribute(e, u"Enable"); !v.empty())
            k.Enable = flag(v);
        if (const auto v = attribute(e, u"Toggle"); !v.empty())
            k.Toggle = flag(v);
        if (const auto v = attribute(e, u"Trap"); !v.empty())
            k.Trap = flag(v);
        keys_.push_back(std::move(k));
    }
}
