#pragma once
// The update and news service: update queries, package downloads and their
// installation, and the news query. Qt-free; the caller shows the outcome.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http.h"

inline constexpr int kSoftwareVersionMajor = 4;
inline constexpr int kSoftwareVersionMinor = 1;
inline constexpr int kSoftwareVersionBuild = 37;
inline constexpr std::string_view kSoftwareVersionText = "4.1.037";
inline constexpr std::string_view kUpdateUserAgent = "Orvane Vistrel 4.1.037";
inline constexpr std::string_view kUpdateUserName = "Vistrel4";
inline constexpr std::string_view kGameListFileId = "SGL";
inline constexpr std::string_view kViewLibraryFileId = "VIEWMOD";
// The maker's web site; ORVANE_SERVICE_URL names another server.
inline constexpr std::string_view kDefaultServiceUrl = "http://www.orvane.example";

inline constexpr const char* kViewsFile = "VSLViews.dll";
inline constexpr const char* kViewsInGameFile = "VSLViewsi.dll";
// An installed view-library update: a link in the working folder to the
// folder that holds the pair (VSLViews.so, VSLViewsi.so), switched by one
// rename so that the pair changes whole or not at all.
inline constexpr const char* kViewLibraryUpdateFolder = "views";

// The file the program loads for the view-library module `name`
// ("VSLViews.dll", "VSLViewsi.dll"): the installed update's when its folder
// holds one, else the one the module loader finds. A name with a folder
// stays that file.
std::filesystem::path ViewLibraryFile(const std::filesystem::path& workFolder, std::string_view name);

// Result codes besides the HTTP layer's and the file errors.
inline constexpr int kUpdateOk = 0;
inline constexpr int kErrorBadFormat = 13;      // the package is malformed
inline constexpr int kErrorBadReply = 58;       // server error page, unreadable reply or status other than 1
inline constexpr int kErrorBadSignature = static_cast<int>(0x80090006u); // missing or invalid signature
inline constexpr int kErrorNotNewer = 1638;     // the signed version is not above the installed one

// Message ids of the game-update check.
inline constexpr int kMsgUpdateError = 5122;
inline constexpr int kMsgUpToDate = 5123;
inline constexpr int kMsgUpdated = 5124;
inline constexpr int kMsgNeedsNewSoftware = 5127;
inline constexpr int kCmdCheckGameUpdates = 32786;

// Every field keeps its initial value when its element is missing.
struct CUpdateReply {
    std::string FileID;
    std::string DownloadURL;
    std::string MinimumSoftwareVersion;
    std::int32_t FileVersion = 0;
    std::int32_t Status = 1;
};

struct CNewsReply {
    std::int32_t URLVersion = 0;
    std::string ReplyURL;
};

// Reads the first element of each name anywhere in the document (root name
// not checked). 0, or 58 when the data is not a well-formed document.
int ParseUpdateReply(std::span<const std::uint8_t> data, CUpdateReply& reply);
int ParseNewsReply(std::span<const std::uint8_t> data, CNewsReply& reply);

// Compares dotted versions part by part as numbers (<0, 0, >0), so
// "4.1.037" is below "10.0.000"; a missing part counts as 0.
int CompareVersions(std::string_view a, std::string_view b);

struct COsVersion {
    bool nt = true;
    int major = 0;
    int minor = 0;
    bool workstation = true;
    bool emulated = false; // a 32-bit process on a 64-bit system
};
std::string OperatingSystemText(const COsVersion& version);
// This system: none of the table's systems, "_64" for a 64-bit build (the
// server learns that the machine is 64-bit, which is what the flag tells).
std::string CurrentOperatingSystemText();

// The text shown for a result code (language neutral).
std::string UpdateErrorText(int code);

// The product site's update page for this version.
std::string SoftwareUpdatePageUrl(std::string_view serviceUrl);

// The loaded game view library, as the camera thread holds it.
class CViewLibraryHost {
public:
    virtual ~CViewLibraryHost() = default;
    virtual std::uint32_t GetViewsVersion() = 0; // 0 when none is loaded
    virtual void SetViewsEnabled(bool enabled) = 0; // true reloads it
};

struct CUpdateOutcome {
    int messageId = kMsgUpToDate;
    std::string text;
    int error = kUpdateOk;
    bool gamesUpdated = false;
    bool viewsUpdated = false;
};

class CUpdateService {
public:
    struct Config {
        // "http://host[:port]": ORVANE_SERVICE_URL when set, else the maker's site.
        std::string serviceUrl = platform::http::serviceUrl(kDefaultServiceUrl);
        std::filesystem::path folder{"."};          // the working folder
        // The folder of the catalogue the program came with; empty: `folder`
        // (a program run from a build tree). See ProgramCatalogueFolders.
        std::filesystem::path shippedCatalogueFolder;
        std::uint32_t cameraSerial = 0;
        std::vector<std::uint8_t> catalogueKey;     // PUBLICKEYBLOB; empty: the built-in key
        unsigned connectTimeoutMs = 10000;
        unsigned totalTimeoutMs = 30000;
        unsigned downloadTimeoutMs = 120000;
    };

    // The client must outlive the service; it is used from the news thread too.
    CUpdateService(platform::http::Client& client, Config config);

    const Config& config() const { return config_; }

    int QueryUpdates(std::string_view fileId, std::int32_t fileVersion, std::string_view category,
                     CUpdateReply& reply) const;
    // Only "http://" addresses; 58 for a status other than 200.
    int DownloadFile(std::string_view address, std::vector<std::uint8_t>& buffer) const;
    int QueryGameListUpdate(std::int32_t catalogueVersion, CUpdateReply& reply) const;
    int UpdateViewLibrary(bool& updated, CViewLibraryHost& views) const;

    // Installs the catalogue only when the package holds the data, its
    // signature (the loader's) and its package signature; the data loads
    // under the catalogue key and is the version the package signature
    // names; and that version is above the version of the catalogue the
    // program loads (an update installed before, else the shipped one). The
    // pair is written into a new folder and switched in by one rename of the
    // "catalogue" link, so it changes whole or not at all. Nothing changes
    // on any error.
    int StoreGameList(std::span<const std::uint8_t> data) const;
    // Installs the view-library files only when each carries a valid
    // package signature of its kind, both of one version, above
    // `installedVersion`. The pair is written, under the names the module
    // loader loads (VSLViews.dll is VSLViews.so), into a new folder switched
    // in by one rename of the "views" link; a file the package lacks is
    // carried over from the pair in use. A loaded copy keeps its folder
    // until the next start. Nothing changes on a refusal.
    int StoreViewLibrary(std::span<const std::uint8_t> data, std::uint32_t installedVersion) const;
    // Deletes "VMI*.tmp" (any case) in the working folder.
    void DeleteTempFiles() const;
    // Deletes, at the start, what updates killed half-way (or replaced)
    // left in the working folder: catalogue and view-library folders that
    // their links do not name, links being made, and the view-library
    // temporaries of earlier versions (".VSLViews.so.XXXXXX"). Only the
    // user's own entries of exactly those names. Returns how many went.
    std::size_t RemoveUpdateLeftovers() const;

    // The news query; the answer is read up to 4095 bytes.
    int QueryNews(CNewsReply& reply) const;

    // The game-update check (menu command 32786) without its wait cursor.
    CUpdateOutcome CheckGameUpdates(std::int32_t catalogueVersion, CViewLibraryHost& views) const;

    // Whether the software update page of this version answers (menu
    // command 32783 opens it): 0, or the error (1222 no connection, 58 an
    // error page).
    int CheckSoftwareUpdatePage() const;

private:
    platform::http::Options options(unsigned totalMs) const;
    int get(const std::string& url, unsigned totalMs, std::string& body) const;
    std::span<const std::uint8_t> catalogueKey() const;

    platform::http::Client& client_;
    Config config_;
};
