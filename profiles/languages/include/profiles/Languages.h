#pragma once
// The interface languages the user can choose: the built-in English, and
// every language module of the "Language" folder of the working folder (the
// program folder) that loads and names its language. The chosen entry's
// module is stored in the LanguageDll setting and loaded at the next start.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profiles/LanguageModule.h"

// The folder of the language modules, relative to the working folder.
inline constexpr std::string_view kLanguageFolder = "Language";
// The built-in English entry: its module is the program's own file name,
// which names no file in the language folder, so the built-in texts stay.
inline constexpr std::u16string_view kBuiltInLanguageName = u"English";
inline constexpr std::u16string_view kBuiltInLanguageModule = u"vistrel.exe";

class CLanguageInfo {
public:
    CLanguageInfo() = default;
    CLanguageInfo(std::u16string name, std::u16string module) : Name(std::move(name)), Module(std::move(module)) {}

    std::u16string Name;   // the language's own name
    std::u16string Module; // the module's file name, without folder

    friend bool operator==(const CLanguageInfo&, const CLanguageInfo&) = default;
};

class CLanguageList {
public:
    // Empties the list, makes the folder, puts the built-in English first and
    // then, in file-name order, every "*.so" of the folder that loads and has
    // a non-empty text 40001, under that text. Modules that do not load or
    // have no name are left out (reported through the debug output).
    void Build();

    int GetSize() const { return static_cast<int>(entries_.size()); }
    const CLanguageInfo& operator[](int index) const { return entries_[static_cast<std::size_t>(index)]; }
    const CLanguageInfo* GetAt(int index) const
    {
        return index >= 0 && index < GetSize() ? &entries_[static_cast<std::size_t>(index)] : nullptr;
    }
    // Index of the entry whose module is `module`, -1 when none.
    int FindModule(std::u16string_view module) const;

private:
    std::vector<CLanguageInfo> entries_;
};
