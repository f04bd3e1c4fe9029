#pragma once
// The catalogue of supported games: "sgl.dat" (enciphered XML) with its
// detached signature "sgl.sig" in the program folder, loaded only when the
// signature verifies under the built-in key.
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The maker's page listing every supported game.
inline constexpr std::u16string_view kSupportedGamesUrl = u"http://www.orvane.example/supported-games";
// The pass phrase the catalogue is enciphered with.
inline constexpr const char* kCataloguePassPhrase = "DozovarEzuvo";
inline constexpr const char* kCatalogueDataFile = "sgl.dat";
inline constexpr const char* kCatalogueSignatureFile = "sgl.sig";

// The public half of the catalogue signing key (a PUBLICKEYBLOB).
std::span<const std::uint8_t> BuiltInCatalogueKey();

struct CGameAxisLimit {
    float Min = 0.0f;
    float Max = 0.0f;
    std::int32_t Supported = 0;
    friend bool operator==(const CGameAxisLimit&, const CGameAxisLimit&) = default;
};

class CGameInfo {
public:
    enum Axis : int { Yaw = 0, Pitch, Roll, X, Y, Z };

    std::u16string Name;
    std::u16string Exe;
    std::u16string Version; // the game version required
    std::u16string Url{kSupportedGamesUrl};
    std::u16string DefaultProfile; // a profile file name
    std::int32_t Category = 0;
    std::int32_t Id = 0;        // what a client registers with
    std::int32_t ProfileId = 0; // the key of the profile map
    std::int32_t DevType = 0;
    std::array<std::uint32_t, 2> ApplicationID{};
    std::array<CGameAxisLimit, 6> Limits{}; // yaw, pitch, roll, x, y, z

    friend bool operator==(const CGameInfo&, const CGameInfo&) = default;
};

class CGameList {
public:
    CGameList() = default;
    CGameList(const CGameList&) = delete;
    CGameList& operator=(const CGameList&) = delete;

    // Loads "sgl.dat"/"sgl.sig" with the built-in key, from the folder where
    // the program's files resolve "sgl.dat" (the working folder by default).
    int Load();
    // Loads from folder with the given key blob and pass phrase. 0, or the
    // cipher object's code of the first failing step (2 on an exception);
    // the list is empty unless the signature verified and deciphering worked.
    int Load(const std::filesystem::path& folder, std::span<const std::uint8_t> publicKeyBlob,
             const char* passPhrase = kCataloguePassPhrase);
    // Parses a deciphered document (a malformed one leaves the list empty).
    void Parse(std::span<const std::uint8_t> document);

    // Index of the first game with this Id, -1 when none.
    int FindById(std::int32_t id) const;

    // Entries by index; the records stay put until the next load.
    int GetSize() const { return static_cast<int>(games_.size()); }
    const CGameInfo& operator[](int index) const { return *games_[static_cast<std::size_t>(index)]; }
    const CGameInfo* GetAt(int index) const
    {
        return index >= 0 && index < GetSize() ? games_[static_cast<std::size_t>(index)].get() : nullptr;
    }

    std::int32_t Version = 0;
    std::int32_t Developer = 0;

private:
    void parseLocked(std::span<const std::uint8_t> document);

    std::vector<std::unique_ptr<CGameInfo>> games_;
    mutable std::recursive_mutex lock_;
};
