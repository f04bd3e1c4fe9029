#pragma once
// The application profile: per-user values in sections under the current
// user's key Software\Orvane\<application>, kept in the registry.
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace app {

class CAppProfile {
public:
    static constexpr std::string_view kCompanyKey = "Software\\Orvane";
    static constexpr std::string_view kApplicationName = "Vistrel";

    // A profile on `store` (the process's default store when null).
    explicit CAppProfile(std::shared_ptr<platform::registry::Store> store = nullptr,
                         std::string_view application = kApplicationName);

    // Integers are REG_DWORD values; anything else (or nothing) gives `def`.
    int GetProfileInt(std::string_view section, std::string_view entry, int def) const;
    bool WriteProfileInt(std::string_view section, std::string_view entry, int value);
    // Several integers written together: all of them or, on failure, none.
    struct IntEntry {
        std::string_view section;
        std::string_view entry;
        int value;
    };
    bool WriteProfileInts(std::span<const IntEntry> entries);
    std::u16string GetProfileString(std::string_view section, std::string_view entry,
                                    std::u16string_view def) const;
    bool WriteProfileString(std::string_view section, std::string_view entry, std::u16string_view value);

    const std::string& key() const { return key_; }

private:
    std::string sectionKey(std::string_view section) const;
    std::shared_ptr<platform::registry::Store> store() const;

    std::shared_ptr<platform::registry::Store> store_;
    std::string key_;
};

} // namespace app
