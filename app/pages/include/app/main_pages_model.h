#pragma once
// The logic of the main sheet's pages (Main, Profiles, News), kept apart from
// the widgets so it can be tested without a display.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CProfile;
class CProfileList;
class CGameList;
class CGameInfo;

// Text with every "&" doubled, so list cells show the ampersand rather than
// a mnemonic.
std::u16string DoubleAmpersands(std::u16string_view text);

// ---- Main page ----

// What the camera reports about itself.
struct DeviceDescription {
    bool present = false;
    std::int32_t modelType = 0;
    std::int32_t modelVersion = 0;
    std::int32_t hardwareRevision = 0;
    std::int32_t serial = 0;
};

inline constexpr unsigned kNoDeviceTextId = 5111;
inline constexpr std::u16string_view kNoDeviceText = u"No device detected.";

// Family and model names for a camera (our own table; unknown models get a
// generic name rather than nothing).
std::u16string DeviceFamilyName(const DeviceDescription& device);
std::u16string DeviceModelName(const DeviceDescription& device);
// "family model serial" with the serial as " : n" when above 1; the
// no-device text when the camera is absent.
std::u16string DeviceInfoText(const DeviceDescription& device);

// ---- Profiles page ----

struct TitleFilterEntry {
    std::u16string_view text;
    std::int32_t data;
};
inline constexpr std::int32_t kFilterAll = -1;
inline constexpr std::int32_t kFilterFavorites = -2;
// The filter combo's entries in their order.
std::span<const TitleFilterEntry> TitleFilterEntries();
// Index of the entry whose data equals `filter`; 0 when none does.
int TitleFilterIndex(std::int32_t filter);
// Whether a catalogue record shows under the filter. Records with Id -1
// never show.
bool IsTitleShown(std::int32_t filter, std::int32_t recordId, std::int32_t category, bool favourite);

// The Profiles page's texts: string id and built-in English.
struct PageText {
    unsigned id;
    std::u16string_view english;
};
inline constexpr PageText kExclusiveOnCaption{2019, u"Auto profiles disabled - uncheck exclusive loading to enable"};
inline constexpr PageText kExclusiveOffCaption{2020, u"Assign profiles to titles"};
inline constexpr PageText kCannotDeleteCurrent{
    5107, u"The currently active profile cannot be deleted.  Quit the game before removing the profile."};
inline constexpr PageText kTitleToolTip{5108, u"Double click for more information, right click for options."};
inline constexpr PageText kTitleProfileToolTip{5109, u"Select a profile to automatically load when this title starts."};
inline constexpr PageText kExclusiveToolTip{5110, u"Click to always use this profile."};
inline constexpr PageText kRemoveFromFavorites{2022, u"&Remove From Favorites"};
inline constexpr PageText kAddToFavorites{2023, u"&Add To Favorites"};
inline constexpr PageText kTitleDetails{2024, u"&Details..."};
inline constexpr PageText kNameColumn{2011, u"Name"};
inline constexpr PageText kCommentsColumn{2016, u"Comments"};
inline constexpr PageText kExclusiveColumn{2018, u"Exclusive-load"};
inline constexpr PageText kTitleColumn{2017, u"Title"};
inline constexpr PageText kAutoLoadColumn{2012, u"Auto-load Profile"};

struct ProfileRow {
    CProfile* profile = nullptr;
    std::u16string name;  // ampersands doubled
    std::u16string notes; // ampersands doubled
    bool exclusive = false;
};
// The profile list's rows: the default profile first, the others in list
// order.
std::vector<ProfileRow> BuildProfileRows(const CProfileList& list);
// The names offered in the title list's combo cells, in list order.
std::vector<std::u16string> BuildProfileNames(const CProfileList& list);

struct ProfileButtons {
    bool edit = false;
    bool copy = false;
    bool remove = false;
};
// Edit and Copy need a selected profile; Delete also needs it not to be the
// default profile.
ProfileButtons ButtonsForSelection(const CProfile* selected);

// The outcome of the "Exclusive-load" check box.
struct ExclusiveChange {
    std::vector<CProfile*> saved;     // profiles whose Override changed, in save order
    std::vector<CProfile*> unchecked; // rows to show unchecked
    CProfile* activate = nullptr;     // profile to make current (checked)
    bool restartGame = false;         // re-select the running game's profile (unchecked)
    bool exclusiveMode = false;
    int saveFailures = 0;
};
// Checked: any other profile with Override loses it; this one gets it and is
// activated. Unchecked: this one loses it and the game's own profile is
// chosen again. Every changed profile is saved.
ExclusiveChange SetExclusive(CProfileList& list, CProfile& profile, bool checked);

// Copy: a new profile from `source` named "Copy of <name>", Override 0 and
// no game associations, under a unique path, saved and added. Returns the
// new profile, or null when it could not be saved (nothing on disk changed,
// the source untouched).
CProfile* CopyProfile(CProfileList& list, const CProfile& source);

enum class DeleteOutcome { IsCurrent, Deleted, Failed };
// The current profile is never deleted; otherwise the file goes and the
// profile leaves the list. A file that cannot be removed keeps the profile.
DeleteOutcome DeleteProfile(CProfileList& list, const CProfile* current, CProfile* profile);

// A row of the title list.
struct TitleRow {
    int record = -1;       // index in the catalogue
    std::u16string name;   // ampersands doubled
    int profileIndex = -1; // position in the names array of the profile the record loads
};
// The title list's rows: every catalogue record shown under the filter, its
// combo cell at the profile the profile list finds for its ProfileId.
std::vector<TitleRow> BuildTitleRows(const CGameList& catalogue, const CProfileList& list, std::int32_t filter,
                                     const std::function<bool(std::int32_t profileId)>& isFavourite);
// A title's combo cell changed: the profile at `profileIndex` (list order)
// becomes the one the record's ProfileId loads; the previous and the chosen
// profile are saved. False when the index names no profile.
bool AssignTitleProfile(CProfileList& list, const CGameInfo& record, int profileIndex);

// ---- News page ----

inline constexpr std::u16string_view kDefaultNewsAddress = u"https://www.orvane.com/vistrel";

struct NewsNavigation {
    std::u16string address;
    bool saveVersion = false; // "LastNewsVersion" := the news version
};
// Where the news page goes after the news query: the reply address when one
// came back, else the product site's page.
NewsNavigation NewsTarget(std::u16string_view replyUrl);
