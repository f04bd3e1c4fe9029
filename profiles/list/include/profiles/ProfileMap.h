#pragma once
// The per-game profile map: one value per catalogue program profile id (the
// id in decimal) under the user's key, naming a profile file without its
// folder. The values outlive the program; the key is made by the first
// seeding.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

class CGameList;

class ProfileMap {
public:
    static constexpr std::string_view kKey = "SOFTWARE\\Orvane\\Vistrel\\ProfileMap";

    explicit ProfileMap(std::shared_ptr<platform::registry::Store> store = platform::registry::defaultStore());

    // Makes the key when needed and, for every catalogue game with a
    // DefaultProfile, writes that name where the game has no value yet;
    // existing values are never changed. 0, or the registry's error when the
    // key cannot be made (nothing is written then).
    platform::registry::Status Seed(const CGameList& catalogue) const;

    // Maps the id to the file name of `profilePath` (the part behind its last
    // separator). The key is not made here; errors are ignored.
    void SetGameProfile(std::int32_t programProfileId, std::u16string_view profilePath) const;

    // Every value naming the old file (exactly, case-sensitive) is rewritten
    // to name the new one.
    void RenameProfile(std::u16string_view oldPath, std::u16string_view newPath) const;

    // The file name mapped to the id; empty when the key or value is missing
    // or is not text.
    std::u16string GetGameProfile(std::int32_t programProfileId) const;

    // The part of a profile path behind its last '\' or '/' (all of it when
    // it has none).
    static std::u16string FileNameOf(std::u16string_view path);
    // The value name of an id: the id in decimal.
    static std::string ValueName(std::int32_t programProfileId);

    const std::shared_ptr<platform::registry::Store>& store() const { return store_; }

private:
    std::shared_ptr<platform::registry::Store> store_;
};
