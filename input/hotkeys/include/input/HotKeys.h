#pragma once
// The three hot keys of a profile (0 Center, 1 Pause, 2 Precision), the
// display names of keys and the <HotKeys> element of the profile file.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <xercesc/dom/DOMElement.hpp>

// A device instance id in the 16-byte layout the profile files store.
struct Guid {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::array<std::uint8_t, 8> Data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
};

inline constexpr Guid GUID_NULL{};
// The system mouse and keyboard; their values are stored in profile files.
inline constexpr Guid GUID_SysMouse{0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr Guid GUID_SysKeyboard{0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

inline constexpr std::int32_t kHotKeyFail = static_cast<std::int32_t>(0x80004005u); // E_FAIL

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal. The text
// always fits in 260 characters; returns 0.
std::int32_t GuidToText(const Guid& guid, std::u16string& text);
// Parses the form above; fewer than eleven fields give GUID_NULL and E_FAIL.
std::int32_t GuidFromText(std::u16string_view text, Guid& guid);

// Modifier bits in the high 16 bits of a packed hot key.
inline constexpr std::uint32_t kModAlt = 1;
inline constexpr std::uint32_t kModCtrl = 2;
inline constexpr std::uint32_t kModShift = 4;

// Packs a virtual key and modifier bits (low 16 bits key, high 16 modifiers).
constexpr std::uint32_t HotKeyAndModifiers(std::uint32_t vk, std::uint32_t modifiers)
{
    return (vk & 0xFFFFu) | (modifiers << 16);
}

// One hot key: a keyboard key with modifiers, or a button of a mouse or
// game controller (Device not GUID_NULL, code the 0-based button number).
class CKeyInfo {
public:
    std::uint32_t Code = 0;  // packed key and modifiers, or the button number
    std::uint32_t Code2 = 0; // second code; always 0 here and never stored
    std::u16string Name;     // display text, rebuilt whenever the code is set
    std::int32_t Toggle = 0; // 1: toggles on each press; 0: while held
    std::int32_t Trap = 0;   // 1: the press does not reach the foreground program
    std::int32_t Enable = 0; // 1: active
    Guid Device{};           // GUID_NULL: the keyboard

    void Set(std::uint32_t code, std::uint32_t second);
    void SetKey(std::uint32_t code);

    // Display text of a packed key: "Ctrl+Shift+F12", "Alt+Pad 5", "F9".
    std::u16string GetKeyText(std::uint32_t packed) const;
    // Name of one key or button, using this record's Device.
    std::u16string GetKeyName(std::uint32_t key) const;

    friend bool operator==(const CKeyInfo&, const CKeyInfo&) = default;
};

// The hot-key set of a profile, indexed by action.
class CHotKeys {
public:
    enum Action : int { Center = 0, Pause = 1, Precision = 2 };

    CHotKeys();
    CHotKeys(const CHotKeys&) = default;
    CHotKeys(CHotKeys&&) noexcept = default;
    CHotKeys& operator=(const CHotKeys&) = default;
    CHotKeys& operator=(CHotKeys&&) noexcept = default;
    virtual ~CHotKeys() = default;

    // F12 Center, F9 Pause, F7 Precision; toggling, trapped and enabled.
    void SetDefaults();

    int GetSize() const { return static_cast<int>(keys_.size()); }
    // A copy of the key; an index the set does not hold reads as a disabled
    // keyboard key with code 0 that FindKey never reports.
    CKeyInfo GetAt(int index) const;
    // Stores a copy, growing the set with disabled keys as needed.
    void SetAtGrow(int index, const CKeyInfo& key);
    void RemoveAll() { keys_.clear(); }

    // Index 0, 1 or 2 of the first key whose code equals code (all 32 bits), else -1.
    int FindKey(std::uint32_t code) const;

    // Appends the <HotKeys> element, every line ended by a newline.
    void WriteXml(std::u16string& out, std::u16string_view indent) const;
    // Empties the set, then reads every "Key" element below element in
    // document order; null reads nothing.
    void ReadXml(const xercesc::DOMElement* element);

    friend bool operator==(const CHotKeys& a, const CHotKeys& b) { return a.keys_ == b.keys_; }

private:
    std::vector<CKeyInfo> keys_;
};
