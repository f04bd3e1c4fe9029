#pragma once
// All profiles of the "Profiles" folder of the working folder (the program
// folder), in one ordered list that owns them. Default profiles (game id -1)
// stand at the head. Paths of profiles are relative to the working folder in
// the suite's own form, "Profiles\<name>.xml".
//
// No operation here loses a user's profile file: files are written whole and
// renamed into place (CProfile::Save), a file that fails to load is reported
// and left where it is, a new file name never lands on an existing file, and
// a rename writes the new file before the old one goes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/Profile.h"
#include "profiles/ProfileMap.h"

class CGameList;

// The default profile's name and notes (texts 5004 and 5005).
inline constexpr unsigned kDefaultProfileNameId = 5004;
inline constexpr unsigned kDefaultProfileNotesId = 5005;
inline constexpr std::u16string_view kDefaultProfileName = u"Default Profile";
inline constexpr std::u16string_view kDefaultProfileNotes = u"This profile is loaded when there is no active game.";

// A text of the interface language by its string id; empty where the
// language has none (the built-in English text then stands).
using TextLookup = std::function<std::u16string(unsigned id)>;
// The language's text of `id`, else `builtIn`.
std::u16string LanguageText(const TextLookup& texts, unsigned id, std::u16string_view builtIn);
// The folder of the profile files, relative to the working folder.
inline constexpr std::u16string_view kProfilesFolder = u"Profiles";

class CProfileList {
public:
    explicit CProfileList(std::shared_ptr<platform::registry::Store> store = platform::registry::defaultStore());
    CProfileList(const CProfileList&) = delete;
    CProfileList& operator=(const CProfileList&) = delete;

    // Seeds the profile map from the catalogue, makes the folder and loads
    // every "*.xml" in it (in name order): default profiles go to the head,
    // the others to the tail. A file that fails to load is reported through
    // the debug output (an unreadable one also to the user, see
    // SetUserMessages) and skipped; it stays untouched. Returns 0.
    int LoadAll(const CGameList& catalogue);
    // Where messages for the user go (a message box in the program).
    void SetUserMessages(std::function<void(std::u16string_view)> tell) { tell_ = std::move(tell); }
    // The interface language's texts (the default profile's name and notes,
    // the message for an unreadable file); none: the built-in English.
    void SetTexts(TextLookup texts) { texts_ = std::move(texts); }

    // A new default profile ("Default Profile", roll disabled, game id -1)
    // under a file name of its own, saved and put at the head. It stays in
    // the list also when it could not be saved (reported).
    CProfile* CreateDefaultProfile();
    // The default profile's contents, without a file name, named in the
    // language of `texts` when given.
    static std::unique_ptr<CProfile> MakeDefaultProfile(const TextLookup& texts = {});

    // The first default profile from the head; null when none.
    CProfile* FindDefault() const;
    // The first profile from the head with Override set; null when none.
    CProfile* FindExclusive() const;
    // The profile the map names for the program profile id when its file
    // exists and that profile is loaded (paths compared exactly), else the
    // default profile; null only when there is neither.
    CProfile* FindForGame(std::int32_t programProfileId) const;

    // The current profile at start: the exclusive one, else the default one,
    // else a new default profile.
    CProfile* SelectStartProfile();
    // The profile to make current when a client registers the catalogue id
    // `gameId`; null means the current profile stays (it overrides game
    // selection, the game is not in the catalogue, or nothing is mapped).
    CProfile* SelectProfileForGame(const CProfile* current, const CGameList& catalogue, std::int32_t gameId) const;

    // "Profiles\<name>.xml" with each of \ / : * ? " < > | and blank in the
    // name replaced by '_'. With `unique` and that file existing,
    // "Profiles\<name><nnn>.xml" for the first nnn from 000 to 998 with no
    // file; when all exist, the last one tried.
    static std::u16string MakeFileName(std::u16string_view name, bool unique);

    // Gives the profile a file name of its own, saves it and appends it.
    // 0: the list owns it (`profile` is then empty). 2: it could not be
    // saved and stays with the caller; nothing on disk changed.
    int AddProfile(std::unique_ptr<CProfile>& profile);

    // Renames a profile of the list: the new file is written first, then the
    // map entries follow it and the old file is removed. 0 on success; 2 when
    // the new file could not be written, in which case the profile keeps its
    // name and path and the old file and map entries stay as they were.
    int RenameProfile(CProfile& profile, std::u16string_view newName);

    // Deletes the profile's file. 1: deleted, and the profile is unlinked and
    // destroyed. 0: the file could not be deleted and nothing changed.
    int DeleteProfileFile(CProfile* profile);

    void AddHead(std::unique_ptr<CProfile> profile);
    void AddTail(std::unique_ptr<CProfile> profile);

    int GetCount() const { return static_cast<int>(profiles_.size()); }
    bool IsEmpty() const { return profiles_.empty(); }
    // The profile at an index from the head; null outside the list.
    CProfile* GetAt(int index) const;
    // Index of the profile in the list, -1 when it is not in it.
    int IndexOf(const CProfile* profile) const;

    const ProfileMap& Map() const { return map_; }

private:
    std::vector<std::unique_ptr<CProfile>> profiles_;
    ProfileMap map_;
    std::function<void(std::u16string_view)> tell_;
    TextLookup texts_;
};
