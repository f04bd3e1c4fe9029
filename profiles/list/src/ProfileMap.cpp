#include "profiles/ProfileMap.h"

#include <set>
#include <string>
#include <vector>

#include "profiles/GameList.h"

namespace reg = platform::registry;

namespace {

constexpr reg::Root kRoot = reg::Root::CurrentUser;

// The text of a string value up to its first null (a stored terminator is
// not required); false for values that are not text.
bool stringOf(const reg::Value& v, std::u16string& out)
{
    if (v.type != reg::kTypeString && v.type != reg::kTypeExpandString)
        return false;
    out.clear();
    for (std::size_t i = 0; i + 1 < v.data.size(); i += 2) {
        const auto c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
        if (c == 0)
            break;
        out.push_back(c);
    }
    return true;
}

} // namespace

ProfileMap::ProfileMap(std::shared_ptr<reg::Store> store) : store_(std::move(store)) {}

std::u16string ProfileMap::FileNameOf(std::u16string_view path)
{
    const auto slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::string ProfileMap::ValueName(std::int32_t programProfileId)
{
    return std::to_string(programProfileId);
}

reg::Status ProfileMap::Seed(const CGameList& catalogue) const
{
    if (const reg::Status s = store_->openKey(kRoot, ""); s != reg::kSuccess)
        return s;
    if (const reg::Status s = store_->createKey(kRoot, kKey); s != reg::kSuccess)
        return s;
    // Every missing value in one transaction, not one per game; the first
    // game of an id wins, as when each was written on its own.
    reg::Batch batch;
    std::set<std::string> batched;
    for (int i = 0; i < catalogue.GetSize(); ++i) {
        const CGameInfo& game = catalogue[i];
        if (game.DefaultProfile.empty())
            continue;
        const std::string name = ValueName(game.ProfileId);
        reg::Value existing;
        // Only a value that is certainly absent is written: a read that fails
        // for another reason must not replace what the user chose.
        if (!batched.contains(name) && store_->queryValue(kRoot, kKey, name, existing) == reg::kNotFound) {
            batch.setString(kRoot, kKey, name, game.DefaultProfile);
            batched.insert(name);
        }
    }
    store_->apply(batch);
    return reg::kSuccess;
}

void ProfileMap::SetGameProfile(std::int32_t programProfileId, std::u16string_view profilePath) const
{
    if (store_->openKey(kRoot, kKey) != reg::kSuccess)
        return;
    store_->setString(kRoot, kKey, ValueName(programProfileId), FileNameOf(profilePath));
}

void ProfileMap::RenameProfile(std::u16string_view oldPath, std::u16string_view newPath) const
{
    const std::u16string oldName = FileNameOf(oldPath);
    const std::u16string newName = FileNameOf(newPath);
    if (oldName.empty())
        return; // names no file: an empty value is no mapping of it
    std::vector<reg::NamedValue> values;
    if (store_->values(kRoot, kKey, values) != reg::kSuccess)
        return;
    // Every value is looked at, however long its data; all matches change
    // together.
    reg::Batch batch;
    for (const reg::NamedValue& v : values) {
        std::u16string text;
        if (stringOf(v.value, text) && text == oldName)
            batch.setString(kRoot, kKey, v.name, newName, false);
    }
    store_->apply(batch);
}

std::u16string ProfileMap::GetGameProfile(std::int32_t programProfileId) const
{
    std::u16string name;
    if (store_->queryString(kRoot, kKey, ValueName(programProfileId), name) != reg::kSuccess)
        name.clear();
    return name;
}
