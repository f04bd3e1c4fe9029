#include "profiles/ProfileList.h"

#include "platform/file_replace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "camera/xml_utils.h"
#include "platform/debug.h"
#include "profiles/GameList.h"

namespace fs = std::filesystem;
using Orvane::XmlUtils;

namespace {

void report(const std::string& what)
{
    platform::debug::output("profiles: " + what);
}

std::string shown(std::u16string_view path)
{
    return ProfileFileSystemPath(path);
}

// Whether anything is at the path: a file that exists but cannot be read
// still counts, so a new name never lands on it.
bool exists(std::u16string_view path)
{
    std::error_code ec;
    return fs::symlink_status(ProfileFileSystemPath(path), ec).type() != fs::file_type::not_found && !ec;
}

bool canOpenForReading(std::u16string_view path)
{
    const int fd = ::open(ProfileFileSystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool hasXmlExtension(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".xml";
}

std::u16string threeDigits(int n)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return std::u16string(buf, buf + 3);
}

} // namespace

CProfileList::CProfileList(std::shared_ptr<platform::registry::Store> store) : map_(std::move(store)) {}

int CProfileList::LoadAll(const CGameList& catalogue)
{
    if (const auto s = map_.Seed(catalogue); s != platform::registry::kSuccess)
        report("the profile map could not be seeded (registry error " + std::to_string(s) + ")");

    const std::string folder = ProfileFileSystemPath(kProfilesFolder);
    std::error_code ec;
    fs::create_directory(folder, ec);
    // A save killed midway leaves its temporary file; only such files go.
    if (const std::size_t n = platform::files::RemoveLeftoverTemporaries(
            folder, [](std::string_view target) { return hasXmlExtension(std::string(target)); }))
        report("removed " + std::to_string(n) + " temporary file(s) left by an interrupted save");

    // Name order, so that the same folder always gives the same list.
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (hasXmlExtension(name) && !it->is_directory(typeError))
            names.push_back(name);
    }
    if (ec)
        report("the folder " + folder + " could not be read: " + ec.message());
    std::sort(names.begin(), names.end());

    const std::u16string readError = LanguageText(texts_, kProfileReadErrorId, kProfileReadError);
    for (const std::string& name : names) {
        auto profile = std::make_unique<CProfile>();
        profile->Path = std::u16string(kProfilesFolder) + u"\\" + XmlUtils::Widen(name);
        if (const int r = profile->Load(tell_, readError); r != 0) {
            // The file stays as it is: the user may mend it, and no new
            // profile is ever saved over it.
            report("skipped " + shown(profile->Path) + " (load result " + std::to_string(r) + ")");
            continue;
        }
        if (profile->IsDefault())
            AddHead(std::move(profile));
        else
            AddTail(std::move(profile));
    }
    return 0;
}

std::u16string LanguageText(const TextLookup& texts, unsigned id, std::u16string_view builtIn)
{
    if (texts) {
        std::u16string text = texts(id);
        if (!text.empty())
            return text;
    }
    return std::u16string(builtIn);
}

std::unique_ptr<CProfile> CProfileList::MakeDefaultProfile(const TextLookup& texts)
{
    auto profile = std::make_unique<CProfile>();
    profile->Name = LanguageText(texts, kDefaultProfileNameId, kDefaultProfileName);
    profile->Notes = LanguageText(texts, kDefaultProfileNotesId, kDefaultProfileNotes);
    profile->SetDefaults();
    profile->GameIds.push_back(CProfile::kDefaultGameId);
    return profile;
}

CProfile* CProfileList::CreateDefaultProfile()
{
    auto profile = MakeDefaultProfile(texts_);
    profile->Path = MakeFileName(profile->Name, true);
    if (exists(profile->Path))
        report("no free file name for the default profile; it is kept in memory only");
    else if (profile->Save() != 0)
        report("the default profile could not be saved to " + shown(profile->Path));
    CProfile* p = profile.get();
    AddHead(std::move(profile));
    return p;
}

CProfile* CProfileList::FindDefault() const
{
    for (const auto& p : profiles_)
        if (p->IsDefault())
            return p.get();
    return nullptr;
}

CProfile* CProfileList::FindExclusive() const
{
    for (const auto& p : profiles_)
        if (p->Override != 0)
            return p.get();
    return nullptr;
}

CProfile* CProfileList::FindForGame(std::int32_t programProfileId) const
{
    const std::u16string name = map_.GetGameProfile(programProfileId);
    const std::u16string path = std::u16string(kProfilesFolder) + u"\\" + name;
    if (name.empty() || !canOpenForReading(path))
        return FindDefault();
    for (const auto& p : profiles_)
        if (p->Path == path)
            return p.get();
    return FindDefault();
}

CProfile* CProfileList::SelectStartProfile()
{
    if (CProfile* p = FindExclusive())
        return p;
    if (CProfile* p = FindDefault())
        return p;
    return CreateDefaultProfile();
}

CProfile* CProfileList::SelectProfileForGame(const CProfile* current, const CGameList& catalogue,
                                             std::int32_t gameId) const
{
    if (current != nullptr && current->Override != 0)
        return nullptr;
    const CGameInfo* game = catalogue.GetAt(catalogue.FindById(gameId));
    if (game == nullptr)
        return nullptr;
    return FindForGame(game->ProfileId);
}

std::u16string CProfileList::MakeFileName(std::u16string_view name, bool unique)
{
    std::u16string safe(name);
    for (char16_t& c : safe)
        if (std::u16string_view(u"\\/:*?\"<>| ").find(c) != std::u16string_view::npos)
            c = u'_';
    const std::u16string folder = std::u16string(kProfilesFolder) + u"\\";
    std::u16string path = folder + safe + u".xml";
    if (unique && exists(path)) {
        for (int n = 0; n <= 998; ++n) {
            path = folder + safe + threeDigits(n) + u".xml";
            if (!exists(path))
                break;
        }
    }
    return path;
}

int CProfileList::AddProfile(std::unique_ptr<CProfile>& profile)
{
    if (!profile)
        return 2;
    const std::u16string path = MakeFileName(profile->Name, true);
    if (exists(path)) {
        report("no free file name for profile " + XmlUtils::Narrow(profile->Name));
        return 2;
    }
    const std::u16string oldPath = std::exchange(profile->Path, path);
    if (profile->Save() != 0) {
        profile->Path = oldPath;
        return 2;
    }
    AddTail(std::move(profile));
    return 0;
}

int CProfileList::RenameProfile(CProfile& profile, std::u16string_view newName)
{
    const std::u16string oldName = profile.Name;
    const std::u16string oldPath = profile.Path;
    std::u16string path = MakeFileName(newName, false);
    if (path != oldPath && exists(path)) {
        path = MakeFileName(newName, true);
        if (exists(path)) {
            report("no free file name for profile " + XmlUtils::Narrow(newName));
            return 2;
        }
    }

    // The new file first: until it is complete the old one is the profile.
    profile.Name = newName;
    profile.Path = path;
    if (profile.Save() != 0) {
        profile.Name = oldName;
        profile.Path = oldPath;
        return 2;
    }
    if (path != oldPath && !oldPath.empty()) {
        map_.RenameProfile(oldPath, path);
        std::error_code ec;
        if (!fs::remove(ProfileFileSystemPath(oldPath), ec) && ec)
            report("the old file " + shown(oldPath) + " of a renamed profile could not be removed: " + ec.message());
    }
    return 0;
}

int CProfileList::DeleteProfileFile(CProfile* profile)
{
    const int index = IndexOf(profile);
    if (index < 0)
        return 0;
    if (::unlink(ProfileFileSystemPath(profile->Path).c_str()) != 0)
        return 0;
    profiles_.erase(profiles_.begin() + index);
    return 1;
}

void CProfileList::AddHead(std::unique_ptr<CProfile> profile)
{
    if (profile)
        profiles_.insert(profiles_.begin(), std::move(profile));
}

void CProfileList::AddTail(std::unique_ptr<CProfile> profile)
{
    if (profile)
        profiles_.push_back(std::move(profile));
}

CProfile* CProfileList::GetAt(int index) const
{
    return index >= 0 && index < GetCount() ? profiles_[static_cast<std::size_t>(index)].get() : nullptr;
}

int CProfileList::IndexOf(const CProfile* profile) const
{
    for (std::size_t i = 0; i < profiles_.size(); ++i)
        if (profiles_[i].get() == profile)
            return static_cast<int>(i);
    return -1;
}
