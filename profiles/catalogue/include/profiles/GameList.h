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
// An installed catalogue update: a link in the working folder to the folder
// that holds the pair, switched by one rename so that the pair changes
// whole or not at all.
inline constexpr const char* kCatalogueUpdateFolder = "catalogue";
// The catalogue is a few kilobytes and its signature 256 bytes (only the
// first 1024 count); files far beyond these are refused unread.
inline constexpr std::size_t kMaxCatalogueDataBytes = 4u << 20;
inline constexpr std::size_t kMaxCatalogueSignatureBytes = 64u << 10;

// The folder the pair is read from: the update's (the link resolved) when
// one is installed in `folder`, else `folder` itself.
std::filesystem::path CurrentCatalogueFolder(const std::filesystem::path& folder);

// Where a catalogue is loaded from: the update installed in `updates` (its
// "catalogue" link) when there is one and it loads, else the pair in
// `shipped`. For a program run from a build tree both are its folder; an
// installed program's updates are in its working folder and the pair it
// ships is in <prefix>/share/orvane.
struct CCatalogueFolders {
    std::filesystem::path updates;
    std::filesystem::path shipped;
};

// This program's: its working folder, and the folder where its files
// resolve "sgl.dat".
CCatalogueFolders ProgramCatalogueFolders();

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

    // Loads the program's catalogue (ProgramCatalogueFolders) with the
    // built-in key.
    int Load();
    // Loads with the given key blob and pass phrase: the update's pair when
    // one is installed and loads, else the shipped pair. 0, or the cipher
    // object's code of the first failing step (2 on an exception); the list
    // is empty unless the signature verified and deciphering worked.
    int Load(const CCatalogueFolders& folders, std::span<const std::uint8_t> publicKeyBlob,
             const char* passPhrase = kCataloguePassPhrase);
    // The same with updates and shipped pair in one folder.
    int Load(const std::filesystem::path& folder, std::span<const std::uint8_t> publicKeyBlob,
             const char* passPhrase = kCataloguePassPhrase);
    // The same over the bytes of a data file and its signature.
    int LoadBytes(std::span<const std::uint8_t> data, std::span<const std::uint8_t> signature,
                  std::span<const std::uint8_t> publicKeyBlob, const char* passPhrase = kCataloguePassPhrase);
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
    int LoadPair(const std::filesystem::path& folder, std::span<const std::uint8_t> publicKeyBlob,
                 const char* passPhrase);
    void parseLocked(std::span<const std::uint8_t> document);

    std::vector<std::unique_ptr<CGameInfo>> games_;
    mutable std::recursive_mutex lock_;
};
