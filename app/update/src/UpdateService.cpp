#include "app/UpdateService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>
#include <system_error>

#include "app/UpdatePackage.h"
#include "camera/xml_utils.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/linked_folder.h"
#include "platform/modules.h"
#include "platform/program_folders.h"
#include "profiles/CryptFile.h"
#include "profiles/GameList.h"

namespace {

using Orvane::XmlUtils;

// The text of the first element of that name, false when there is none
// (or it has no text).
bool firstText(const xercesc::DOMElement* root, std::string_view name, std::string& out)
{
    const xercesc::DOMNodeList* list = XmlUtils::GetElementsByTagName(root, name);
    if (list == nullptr || list->getLength() == 0)
        return false;
    const xercesc::DOMNode* child = list->item(0)->getFirstChild();
    if (child == nullptr || child->getNodeValue() == nullptr)
        return false;
    out = XmlUtils::Narrow(reinterpret_cast<const char16_t*>(child->getNodeValue()));
    return true;
}

void firstInt(const xercesc::DOMElement* root, std::string_view name, std::int32_t& out)
{
    std::string text;
    int value = 0;
    if (firstText(root, name, text) && XmlUtils::ParseInt(text, value))
        out = value;
}

template <typename Fill>
int parseReply(std::span<const std::uint8_t> data, Fill fill)
{
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    // A zero ends the document, as it does in the zero-filled read buffer.
    const auto parser = XmlUtils::LoadXmlFromMemory(text.substr(0, text.find('\0')), error);
    if (!parser || parser->getDocument() == nullptr || parser->getDocument()->getDocumentElement() == nullptr)
        return kErrorBadReply;
    fill(parser->getDocument()->getDocumentElement());
    return kUpdateOk;
}

int fileError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return 3; // path not found
    case EACCES:
    case EPERM:
    case EROFS:
        return 5; // access denied
    case ENOSPC:
    case EDQUOT:
        return 112; // disk full
    default:
        return 29; // write fault
    }
}

// Installs a set of files whole or not at all (see platform/linked_folder.h):
// written into a new folder beside the link, switched in by one rename.
// Unless the sets before are kept for this run (a loaded library uses its
// folder), they go with what killed installs left.
int installSet(const std::filesystem::path& link, std::span<const platform::files::FolderFile> files,
               bool keepPrevious)
{
    if (!keepPrevious)
        platform::files::RemoveLinkedFolderLeftovers(link);
    const int error = platform::files::InstallLinkedFolder(link, files, !keepPrevious);
    return error == 0 ? kUpdateOk : fileError(error);
}

// ".VSLViews.so.XXXXXX": the temporaries earlier versions of the program
// wrote view-library updates through, in the working folder.
bool isOldViewTemporary(std::string_view name)
{
    for (const char* file : {"VSLViews.so", "VSLViewsi.so"}) {
        const std::string prefix = "." + std::string(file) + ".";
        if (name.starts_with(prefix) && platform::files::IsUniqueSuffix(name.substr(prefix.size())))
            return true;
    }
    return false;
}

// The last record of that type, empty when none.
const CPackageRecord* lastOf(const std::vector<CPackageRecord>& records, std::uint32_t type)
{
    const CPackageRecord* found = nullptr;
    for (const auto& record : records)
        if (record.type == type)
            found = &record;
    return found;
}

bool validAddress(std::string_view address)
{
    return std::none_of(address.begin(), address.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; });
}

std::string replacePercentS(std::string_view format, std::string_view text)
{
    std::string out(format);
    if (const auto at = out.find("%s"); at != std::string::npos)
        out.replace(at, 2, text);
    return out;
}

} // namespace

int ParseUpdateReply(std::span<const std::uint8_t> data, CUpdateReply& reply)
{
    return parseReply(data, [&](const xercesc::DOMElement* root) {
        firstText(root, "FileID", reply.FileID);
        firstText(root, "DownloadURL", reply.DownloadURL);
        firstText(root, "MinimumSoftwareVersion", reply.MinimumSoftwareVersion);
        firstInt(root, "FileVersion", reply.FileVersion);
        firstInt(root, "Status", reply.Status);
    });
}

int ParseNewsReply(std::span<const std::uint8_t> data, CNewsReply& reply)
{
    return parseReply(data, [&](const xercesc::DOMElement* root) {
        firstInt(root, "URLVersion", reply.URLVersion);
        firstText(root, "ReplyURL", reply.ReplyURL);
    });
}

int CompareVersions(std::string_view a, std::string_view b)
{
    auto next = [](std::string_view& text) -> unsigned long long {
        const auto dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
        unsigned long long value = 0;
        std::from_chars(part.data(), part.data() + part.size(), value);
        return value;
    };
    while (!a.empty() || !b.empty()) {
        const auto x = next(a);
        const auto y = next(b);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

std::string OperatingSystemText(const COsVersion& v)
{
    std::string text = "unknown";
    if (v.major == 3)
        text = "NT3";
    else if (v.major == 4)
        text = v.minor == 0 && v.nt ? "NT4" : "9x";
    else if (v.major == 5 && v.minor == 0)
        text = "2000";
    else if (v.major == 5 && v.minor == 1)
        text = "XP";
    else if (v.major == 5 && v.minor == 2)
        text = "S2003";
    else if (v.major == 6 && v.minor == 0)
        text = v.workstation ? "Vista" : "S2008";
    return text + (v.emulated ? "_64" : "_32");
}

std::string CurrentOperatingSystemText()
{
    COsVersion version;
    version.emulated = sizeof(void*) == 8;
    return OperatingSystemText(version);
}

std::string UpdateErrorText(int code)
{
    switch (code) {
    case kErrorBadFormat:
        return "The data is invalid.";
    case kErrorBadReply:
        return "The specified server cannot perform the requested operation.";
    case kErrorBadSignature:
        return "The update is not signed with the catalogue key or its signature is invalid; it was not installed.";
    case kErrorNotNewer:
        return "The update is not newer than what is installed; it was not installed.";
    case 3:
        return "The system cannot find the path specified.";
    case 5:
        return "Access is denied.";
    case 29:
        return "The system cannot write to the specified device.";
    case 112:
        return "There is not enough space on the disk.";
    default:
        return platform::http::errorText(static_cast<std::uint32_t>(code));
    }
}

std::string SoftwareUpdatePageUrl(std::string_view serviceUrl)
{
    char path[96];
    std::snprintf(path, sizeof path, "/update/index.html?user_version=%d.%d.%03d&user_product=Vistrel",
                  kSoftwareVersionMajor, kSoftwareVersionMinor, kSoftwareVersionBuild);
    return std::string(serviceUrl) + path;
}

CUpdateService::CUpdateService(platform::http::Client& client, Config config)
    : client_(client), config_(std::move(config))
{
    while (!config_.serviceUrl.empty() && config_.serviceUrl.back() == '/')
        config_.serviceUrl.pop_back();
}

platform::http::Options CUpdateService::options(unsigned totalMs) const
{
    platform::http::Options o;
    o.userAgent = std::string(kUpdateUserAgent);
    o.userName = std::string(kUpdateUserName);
    o.connectTimeoutMs = config_.connectTimeoutMs;
    o.totalTimeoutMs = totalMs;
    return o;
}

int CUpdateService::get(const std::string& url, unsigned totalMs, std::string& body) const
{
    body.clear();
    platform::http::Response response = client_.get(url, options(totalMs));
    if (response.error != platform::http::kOk)
        return static_cast<int>(response.error);
    if (response.status != 200)
        return kErrorBadReply; // an error page is not a reply
    body = std::move(response.body);
    return kUpdateOk;
}

int CUpdateService::QueryUpdates(std::string_view fileId, std::int32_t fileVersion, std::string_view category,
                                 CUpdateReply& reply) const
{
    std::string path = "/update/files/queryinfo.cgi?camera_serial=" +
                       std::to_string(static_cast<std::int32_t>(config_.cameraSerial)) +
                       "&software_version=" + std::string(kSoftwareVersionText) +
                       "&software_type=Vistrel&file_version=" + std::to_string(fileVersion) +
                       "&file_id=" + std::string(fileId);
    path += category.empty() ? std::string("&category=0") : "&category=" + std::string(category);
    std::string body;
    if (const int rc = get(config_.serviceUrl + path, config_.totalTimeoutMs, body); rc != kUpdateOk)
        return rc;
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    if (ParseUpdateReply(bytes, reply) != kUpdateOk)
        return kErrorBadReply;
    return reply.Status != 1 ? kErrorBadReply : kUpdateOk;
}

int CUpdateService::DownloadFile(std::string_view address, std::vector<std::uint8_t>& buffer) const
{
    buffer.clear();
    // The host lies between "//" and the next "/", the path is the rest.
    if (address.substr(0, 7) != "http://" || !validAddress(address))
        return static_cast<int>(platform::http::kErrorInvalidUrl);
    const std::string_view rest = address.substr(7);
    const auto slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    if (host.empty())
        return static_cast<int>(platform::http::kErrorInvalidUrl);
    const std::string path = slash == std::string_view::npos ? std::string("/") : std::string(rest.substr(slash));
    std::string body;
    if (const int rc = get("http://" + std::string(host) + path, config_.downloadTimeoutMs, body); rc != kUpdateOk)
        return rc;
    buffer.assign(body.begin(), body.end());
    return kUpdateOk;
}

int CUpdateService::QueryGameListUpdate(std::int32_t catalogueVersion, CUpdateReply& reply) const
{
    return QueryUpdates(kGameListFileId, catalogueVersion, {}, reply);
}

int CUpdateService::UpdateViewLibrary(bool& updated, CViewLibraryHost& views) const
{
    updated = false;
    const std::uint32_t version = views.GetViewsVersion();
    CUpdateReply reply;
    if (const int rc = QueryUpdates(kViewLibraryFileId, static_cast<std::int32_t>(version), {}, reply);
        rc != kUpdateOk)
        return rc;
    if (version >= static_cast<std::uint32_t>(reply.FileVersion))
        return kUpdateOk;
    std::vector<std::uint8_t> package;
    if (const int rc = DownloadFile(reply.DownloadURL, package); rc != kUpdateOk)
        return rc;
    if (const int rc = StoreViewLibrary(package, version); rc != kUpdateOk)
        return rc; // the library in place stays loaded
    views.SetViewsEnabled(true);
    updated = true;
    return kUpdateOk;
}

std::span<const std::uint8_t> CUpdateService::catalogueKey() const
{
    return config_.catalogueKey.empty() ? BuiltInCatalogueKey() : std::span(config_.catalogueKey);
}

int CUpdateService::StoreGameList(std::span<const std::uint8_t> data) const
{
    std::vector<CPackageRecord> records;
    if (const int rc = ParsePackage(data, records); rc != kUpdateOk)
        return rc;
    const CPackageRecord* list = lastOf(records, kRecordGameList);
    const CPackageRecord* signature = lastOf(records, kRecordGameListSignature);
    const CPackageRecord* packageSignature = lastOf(records, kRecordGameListPackageSignature);
    if (list == nullptr || signature == nullptr)
        return kErrorBadFormat;
    // The package signature makes it a catalogue of the version it names;
    // the data must then load as the loader will load it at every start
    // (its own signature and cipher), and be that very version.
    const auto version = packageSignature != nullptr ? VerifyPackageFile(CPackageKind::GameList, list->data,
                                                                         packageSignature->data, catalogueKey())
                                                     : std::nullopt;
    if (!version)
        return kErrorBadSignature;
    CGameList incoming;
    if (const int rc = incoming.LoadBytes(list->data, signature->data, catalogueKey()); rc != 0)
        return rc == CCryptFile::kBadSignature ? kErrorBadSignature : kErrorBadFormat;
    if (incoming.GetSize() == 0 || static_cast<std::uint32_t>(incoming.Version) != *version)
        return kErrorBadFormat;
    // Against the catalogue the program loads at its next start: the update
    // installed before, else the one it came with.
    CGameList installed;
    installed.Load(CCatalogueFolders{config_.folder, config_.shippedCatalogueFolder.empty()
                                                         ? config_.folder
                                                         : config_.shippedCatalogueFolder},
                   catalogueKey());
    if (static_cast<std::int64_t>(*version) <= static_cast<std::int64_t>(installed.Version))
        return kErrorNotNewer;
    const platform::files::FolderFile pair[] = {{kCatalogueDataFile, list->data},
                                                {kCatalogueSignatureFile, signature->data}};
    return installSet(config_.folder / kCatalogueUpdateFolder, pair, false);
}

int CUpdateService::StoreViewLibrary(std::span<const std::uint8_t> data, std::uint32_t installedVersion) const
{
    std::vector<CPackageRecord> records;
    if (const int rc = ParsePackage(data, records); rc != kUpdateOk)
        return rc;
    std::optional<std::uint32_t> packageVersion;
    const struct {
        std::uint32_t type, signatureType;
        CPackageKind kind;
        const char* name;
    } kinds[] = {{kRecordViews, kRecordViewsSignature, CPackageKind::ViewLibrary, kViewsFile},
                 {kRecordViewsInGame, kRecordViewsInGameSignature, CPackageKind::ViewLibraryInGame, kViewsInGameFile}};
    for (const auto& kind : kinds) {
        const CPackageRecord* file = lastOf(records, kind.type);
        if (file == nullptr)
            continue;
        const CPackageRecord* signature = lastOf(records, kind.signatureType);
        const auto version =
            signature != nullptr ? VerifyPackageFile(kind.kind, file->data, signature->data, catalogueKey()) : std::nullopt;
        if (!version)
            return kErrorBadSignature;
        if (packageVersion && *packageVersion != *version)
            return kErrorBadFormat; // the two files of one package are of one version
        packageVersion = version;
    }
    if (!packageVersion)
        return kErrorBadFormat;
    if (*packageVersion <= installedVersion)
        return kErrorNotNewer;
    // The pair goes into one folder, under the names the module loader
    // loads ("VSLViews.dll" is VSLViews.so); a file the package lacks is
    // the one the program uses now, so the folder always holds a pair.
    std::vector<std::vector<std::uint8_t>> carried;
    carried.reserve(std::size(kinds));
    std::vector<platform::files::FolderFile> files;
    for (const auto& kind : kinds) {
        std::string name = kind.name;
        name.replace(name.size() - 4, 4, ".so"); // "X.dll" is X.so
        if (const CPackageRecord* file = lastOf(records, kind.type)) {
            files.push_back({name, file->data});
            continue;
        }
        std::vector<std::uint8_t> bytes;
        const std::filesystem::path current = ViewLibraryFile(config_.folder, kind.name);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(current, ec))
            continue;
        // The library in use, read whole: no bound beyond the file's own size.
        std::string why;
        if (!platform::files::ReadFileLimited(current, std::numeric_limits<std::size_t>::max() - 1, bytes, why))
            return fileError(errno);
        carried.push_back(std::move(bytes));
        files.push_back({name, carried.back()});
    }
    // The folders of this run stay until the next start: the running
    // library finds its in-game module in its own.
    return installSet(config_.folder / kViewLibraryUpdateFolder, files, true);
}

void CUpdateService::DeleteTempFiles() const
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(config_.folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        if (name.size() >= 7 && name.rfind("vmi", 0) == 0 && name.ends_with(".tmp") && it->is_regular_file(ec)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

std::size_t CUpdateService::RemoveUpdateLeftovers() const
{
    std::size_t removed = platform::files::RemoveLinkedFolderLeftovers(config_.folder / kCatalogueUpdateFolder) +
                          platform::files::RemoveLinkedFolderLeftovers(config_.folder / kViewLibraryUpdateFolder);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(config_.folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (!isOldViewTemporary(it->path().filename().string()) || ::lstat(it->path().c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

std::filesystem::path ViewLibraryFile(const std::filesystem::path& workFolder, std::string_view name)
{
    const std::filesystem::path given = platform::suitePath(name);
    if (given.has_parent_path())
        return given; // a path of its own: only that file
    if (const auto update = platform::files::LinkedFolder(workFolder / kViewLibraryUpdateFolder)) {
        const std::filesystem::path file = platform::resolveModulePath((*update / given).string());
        std::error_code ec;
        if (std::filesystem::is_regular_file(file, ec))
            return file;
    }
    return platform::findModule(name);
}

int CUpdateService::CheckSoftwareUpdatePage() const
{
    std::string body;
    return get(SoftwareUpdatePageUrl(config_.serviceUrl), config_.totalTimeoutMs, body);
}

int CUpdateService::QueryNews(CNewsReply& reply) const
{
    const std::string path = "/update/news/query_url.cgi?camera_serial=" +
                             std::to_string(static_cast<std::int32_t>(config_.cameraSerial)) +
                             "&software_version=" + std::string(kSoftwareVersionText) +
                             "&software_type=Vistrel&category=0&camera_count=1&operating_system=" +
                             CurrentOperatingSystemText();
    std::string body;
    if (const int rc = get(config_.serviceUrl + path, config_.totalTimeoutMs, body); rc != kUpdateOk)
        return rc;
    // The news answer is read into 4096 bytes with a terminating zero.
    if (body.size() > 4095)
        body.resize(4095);
    CNewsReply parsed;
    if (ParseNewsReply(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), parsed) !=
        kUpdateOk)
        return kErrorBadReply;
    reply = std::move(parsed);
    return kUpdateOk;
}

CUpdateOutcome CUpdateService::CheckGameUpdates(std::int32_t catalogueVersion, CViewLibraryHost& views) const
{
    CUpdateOutcome outcome;
    auto fail = [&](int code) {
        outcome.error = code;
        outcome.messageId = kMsgUpdateError;
        outcome.text = replacePercentS(
            "An error occurred while contacting the update server.  The error was:\n\n%s", UpdateErrorText(code));
        return outcome;
    };
    CUpdateReply reply;
    if (const int rc = QueryGameListUpdate(catalogueVersion, reply); rc != kUpdateOk)
        return fail(rc);
    if (CompareVersions(kSoftwareVersionText, reply.MinimumSoftwareVersion) < 0) {
        outcome.messageId = kMsgNeedsNewSoftware;
        outcome.text = "The new games list requires the latest version of Vistrel software.  Download and install "
                       "the latest release of Vistrel.";
        return outcome;
    }
    if (reply.FileVersion > catalogueVersion) {
        std::vector<std::uint8_t> package;
        int rc = DownloadFile(reply.DownloadURL, package);
        if (rc == kUpdateOk)
            rc = StoreGameList(package);
        if (rc != kUpdateOk)
            return fail(rc);
        outcome.gamesUpdated = true;
    }
    bool viewsUpdated = false;
    if (const int rc = UpdateViewLibrary(viewsUpdated, views); rc != kUpdateOk)
        return fail(rc);
    outcome.viewsUpdated = viewsUpdated;
    if (outcome.gamesUpdated || outcome.viewsUpdated) {
        outcome.messageId = kMsgUpdated;
        outcome.text = "Your game support has been updated.  Restart Vistrel to activate the changes.";
    } else {
        outcome.messageId = kMsgUpToDate;
        outcome.text = "Your game list is up to date.";
    }
    return outcome;
}
