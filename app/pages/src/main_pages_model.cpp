#include "app/main_pages_model.h"

#include <array>
#include <charconv>
#include <memory>

#include "profiles/GameList.h"
#include "profiles/ProfileList.h"

std::u16string DoubleAmpersands(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out.push_back(c);
        if (c == u'&')
            out.push_back(u'&');
    }
    return out;
}

namespace {

std::u16string ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::u16string number(std::int32_t n)
{
    std::array<char, 16> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), n);
    (void)ec;
    return ascii(std::string_view(buf.data(), static_cast<std::size_t>(end - buf.data())));
}

} // namespace

std::u16string DeviceFamilyName(const DeviceDescription& device)
{
    switch (device.modelType) {
    case 0: return u"Vistrel";
    case 1: return u"Vistrel Pro";
    case 2: return u"Vistrel Lite";
    default: return u"Vistrel camera";
    }
}

std::u16string DeviceModelName(const DeviceDescription& device)
{
    // The first model type tells its two boards apart by hardware revision.
    if (device.modelType == 0)
        return u"Model " + number(device.modelVersion) + (device.hardwareRevision > 0 ? u"B" : u"A");
    return u"Model " + number(device.modelVersion);
}

std::u16string DeviceInfoText(const DeviceDescription& device)
{
    if (!device.present)
        return std::u16string(kNoDeviceText);
    std::u16string serial = device.serial > 1 ? u" : " + number(device.serial) : std::u16string();
    return DeviceFamilyName(device) + u" " + DeviceModelName(device) + u" " + serial;
}

namespace {
constexpr std::array<TitleFilterEntry, 7> kFilters{{
    {u"All titles", kFilterAll},
    {u"Flight", 1},
    {u"Racing", 2},
    {u"Space", 3},
    {u"First person", 4},
    {u"Other", 0},
    {u"Favorites", kFilterFavorites},
}};
} // namespace

std::span<const TitleFilterEntry> TitleFilterEntries() { return kFilters; }

int TitleFilterIndex(std::int32_t filter)
{
    for (std::size_t i = 0; i < kFilters.size(); ++i)
        if (kFilters[i].data == filter)
            return static_cast<int>(i);
    return 0;
}

bool IsTitleShown(std::int32_t filter, std::int32_t recordId, std::int32_t category, bool favourite)
{
    if (recordId == -1)
        return false;
    if (filter == kFilterAll)
        return true;
    if (filter == kFilterFavorites)
        return favourite;
    return filter == category;
}

std::vector<ProfileRow> BuildProfileRows(const CProfileList& list)
{
    std::vector<ProfileRow> rows;
    rows.reserve(static_cast<std::size_t>(list.GetCount()));
    for (int i = 0; i < list.GetCount(); ++i) {
        CProfile* p = list.GetAt(i);
        ProfileRow row{p, DoubleAmpersands(p->Name), DoubleAmpersands(p->Notes), p->Override != 0};
        // Only the first default profile heads the list; any others keep their place.
        if (p == list.FindDefault())
            rows.insert(rows.begin(), std::move(row));
        else
            rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::u16string> BuildProfileNames(const CProfileList& list)
{
    std::vector<std::u16string> names;
    for (int i = 0; i < list.GetCount(); ++i)
        names.push_back(list.GetAt(i)->Name);
    return names;
}

ProfileButtons ButtonsForSelection(const CProfile* selected)
{
    if (!selected)
        return {};
    return {true, true, selected->IsDefault() == 0};
}

ExclusiveChange SetExclusive(CProfileList& list, CProfile& profile, bool checked)
{
    ExclusiveChange change;
    auto save = [&](CProfile* p) {
        change.saved.push_back(p);
        if (p->Save() != 0)
            ++change.saveFailures;
    };
    if (!checked) {
        profile.Override = 0;
        change.restartGame = true;
        change.exclusiveMode = false;
        save(&profile);
        return change;
    }
    for (int i = 0; i < list.GetCount(); ++i) {
        CProfile* p = list.GetAt(i);
        if (p != &profile && p->Override != 0) {
            p->Override = 0;
            save(p);
            change.unchecked.push_back(p);
        }
    }
    profile.Override = 1;
    change.activate = &profile;
    change.exclusiveMode = true;
    save(&profile);
    return change;
}

CProfile* CopyProfile(CProfileList& list, const CProfile& source)
{
    auto copy = std::make_unique<CProfile>(source);
    copy->Override = 0;
    copy->GameIds.clear();
    copy->Name = u"Copy of " + source.Name;
    copy->Path.clear();
    CProfile* raw = copy.get();
    if (list.AddProfile(copy) != 0)
        return nullptr;
    return raw;
}

DeleteOutcome DeleteProfile(CProfileList& list, const CProfile* current, CProfile* profile)
{
    if (profile && profile == current)
        return DeleteOutcome::IsCurrent;
    if (!profile || list.IndexOf(profile) < 0)
        return DeleteOutcome::Failed;
    return list.DeleteProfileFile(profile) == 1 ? DeleteOutcome::Deleted : DeleteOutcome::Failed;
}

std::vector<TitleRow> BuildTitleRows(const CGameList& catalogue, const CProfileList& list, std::int32_t filter,
                                     const std::function<bool(std::int32_t profileId)>& isFavourite)
{
    std::vector<TitleRow> rows;
    for (int i = 0; i < catalogue.GetSize(); ++i) {
        const CGameInfo& g = catalogue[i];
        const bool favourite = filter == kFilterFavorites && isFavourite && isFavourite(g.ProfileId);
        if (!IsTitleShown(filter, g.Id, g.Category, favourite))
            continue;
        rows.push_back({i, DoubleAmpersands(g.Name), list.IndexOf(list.FindForGame(g.ProfileId))});
    }
    return rows;
}

bool AssignTitleProfile(CProfileList& list, const CGameInfo& record, int profileIndex)
{
    CProfile* chosen = list.GetAt(profileIndex);
    if (!chosen)
        return false;
    CProfile* previous = list.FindForGame(record.ProfileId);
    list.Map().SetGameProfile(record.ProfileId, chosen->Path);
    if (previous && previous != chosen)
        previous->Save();
    chosen->Save();
    return true;
}

NewsNavigation NewsTarget(std::u16string_view replyUrl)
{
    if (replyUrl.empty())
        return {std::u16string(kDefaultNewsAddress), false};
    return {std::u16string(replyUrl), true};
}
