#pragma once
// The application settings and their file, "settings.xml" in the program
// folder: start and close behaviour, the windows that open with the profile
// editor, the interface language module, favourite games, the profiles
// page's title filter and, in the tracking block, the camera and tracking
// options.
//
// The object is a plain value, changed and saved on the user-interface
// thread; another thread that needs the values works on a copy.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Defaults of the clip geometry: the clip model of mounting location 0.
inline constexpr std::int32_t kDefaultPendrixLocation = 0;
inline constexpr std::int32_t kDefaultSorting = 0;
inline constexpr double kDefaultPointT[3] = {0.0, 0.0, -200.0};
inline constexpr double kDefaultDelta[3] = {-716.0, -600.0, -600.0};
inline constexpr double kDefaultDist01 = 113.0;
inline constexpr double kDefaultDist02 = 113.0;
inline constexpr double kDefaultDist12 = 68.0;
// The clip locations and marker sortings that the tracking engine knows.
inline constexpr std::int32_t kMaxPendrixLocation = 4;
inline constexpr std::int32_t kMaxSorting = 3;

// Text 5007, what the user is told when the settings file was damaged; its
// "%s" takes the name the damaged file was kept under.
inline constexpr unsigned kSettingsDamagedId = 5007;
inline constexpr std::u16string_view kSettingsDamaged =
    u"The settings file could not be read, so the default settings are used. The damaged file was kept as %s.";

class CTrackingSettings {
public:
    CTrackingSettings() { SetDefaults(); }

    int SetDefaults();
    // Type 0 and 1 set their object limits; any type is stored.
    int SetObjectType(std::int32_t type);

    bool operator==(const CTrackingSettings&) const = default;

    std::int32_t LedsOn = 1;
    std::int32_t LightFiltering = 0;
    std::int32_t HalvexorLedsOn = 0;
    std::int32_t HalvexorLightFiltering = 1;
    std::int32_t UseBlueLed = 1;
    std::int32_t ObjectType = 0;
    std::int32_t CameraRotation = 0;
    std::int32_t FilterThreshold = 130;
    std::int32_t HalvexorFilterThreshold = 230;
    float ObjectRatioMin = 0.25f;
    float ObjectRatioMax = 4.0f;
    float ObjectRatioBest = 1.0f;
    float ObjectSizeMin = 5.0f;
    float ObjectSizeMax = 500.0f;
    float ObjectSizeBest = 100.0f;
    std::int32_t PendrixLocation = kDefaultPendrixLocation;
    std::int32_t Sorting = kDefaultSorting;
    double PointT_X = kDefaultPointT[0];
    double PointT_Y = kDefaultPointT[1];
    double PointT_Z = kDefaultPointT[2];
    double Delta_0 = kDefaultDelta[0];
    double Delta_1 = kDefaultDelta[1];
    double Delta_2 = kDefaultDelta[2];
    double dist01 = kDefaultDist01;
    double dist02 = kDefaultDist02;
    double dist12 = kDefaultDist12;
};

class CAppSettings {
public:
    static constexpr std::string_view kFileName = "settings.xml";
    static constexpr const char16_t* kDefaultLanguageDll = u"vistrel.exe";

    CAppSettings() { SetDefaults(); }

    // Defaults of every field but the favourites, the tracking block's too.
    int SetDefaults();

    int IsFavorite(std::uint32_t id) const;
    void AddFavorite(std::uint32_t id);    // appends; duplicates allowed
    void RemoveFavorite(std::uint32_t id); // first occurrence only

    // Reads the file into this object: what the file lacks, or holds in a
    // form that cannot be read, keeps its value, and so does a value the
    // field cannot take (a rotation beyond three quarter turns, a clip
    // location or sorting that does not exist, a limit or distance that is
    // not a finite positive number); a threshold is held to 0..255. Each
    // such value is reported through the debug output. 0, or 2 when the file
    // cannot be read or parsed or has no Settings element (nothing changes).
    int Load(const std::filesystem::path& file = kFileName);
    // Writes the whole file through a temporary file in the same folder that
    // then replaces it, so a failed save leaves the old file as it was.
    // 0, or 2 when the file could not be written (callers may ignore it).
    int Save(const std::filesystem::path& file = kFileName) const;
    // Start-up: loads the file; when that fails, takes the defaults and
    // writes them, so a missing or broken file is replaced by a full one.
    // A file that is there but cannot be read is first kept beside it under
    // a dated name (KeepDamaged), given in `keptAs` so that the caller can
    // tell the user (the file itself when it could not be moved); `keptAs`
    // is empty otherwise. Returns Load's result.
    int LoadOrCreate(const std::filesystem::path& file = kFileName, std::filesystem::path* keptAs = nullptr);
    // Renames `file` to "<stem>-damaged-YYYY-MM-DD-HHMMSS<extension>" beside
    // it (a counter added when that exists); the new path, or empty when it
    // could not be renamed.
    static std::filesystem::path KeepDamaged(const std::filesystem::path& file, std::time_t now);
    // What the user is told once when the settings were damaged: `format`
    // (text 5007 of the interface language) with the kept file's name.
    static std::u16string DamagedMessage(const std::filesystem::path& keptAs,
                                         std::u16string_view format = kSettingsDamaged);
    // Removes the temporary files that a save of `file` killed midway left
    // beside it; nothing else. Call it only while no other instance runs.
    static std::size_t RemoveLeftovers(const std::filesystem::path& file = kFileName);

    // Real settings files are a few kilobytes; a file beyond this is
    // refused unparsed.
    static constexpr std::int64_t kMaxFileBytes = 1 << 20;

    // The file's text: ASCII, one element per line, CR LF line ends.
    std::string ToXml() const;

    bool operator==(const CAppSettings&) const = default;

    std::int32_t RunAtStartup = 0;
    std::int32_t CloseToTray = 0;
    std::int32_t RunMinimized = 0;
    std::int32_t ConfirmClose = 1;
    std::int32_t PeriodicNewsCheck = 1;
    std::int32_t ProfileLaunchHeads = 1;
    std::int32_t ProfileLaunchGlobe = 1;
    std::int32_t ProfileLaunchGauges = 1;
    std::int32_t ProfileLaunchTracking = 1;
    std::vector<std::uint32_t> Favorites;
    std::int32_t TitleFilter = -1;
    std::u16string LanguageDll = kDefaultLanguageDll;
    CTrackingSettings Tracking;
};
