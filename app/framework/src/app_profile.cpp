#include "app/app_profile.h"

namespace app {

namespace reg = platform::registry;

CAppProfile::CAppProfile(std::shared_ptr<reg::Store> store, std::string_view application)
    : store_(std::move(store)), key_(std::string(kCompanyKey) + "\\" + std::string(application))
{
}

std::shared_ptr<reg::Store> CAppProfile::store() const
{
    // The default store is looked up on each use, so a test's registry
    // (which replaces it) is the one written.
    return store_ ? store_ : reg::defaultStore();
}

std::string CAppProfile::sectionKey(std::string_view section) const
{
    return key_ + "\\" + std::string(section);
}

int CAppProfile::GetProfileInt(std::string_view section, std::string_view entry, int def) const
{
    auto s = store();
    reg::Value value;
    std::uint32_t number = 0;
    if (s->queryValue(reg::Root::CurrentUser, sectionKey(section), entry, value) != reg::kSuccess ||
        value.type != reg::kTypeDword ||
        s->queryDword(reg::Root::CurrentUser, sectionKey(section), entry, number) != reg::kSuccess)
        return def;
    return static_cast<int>(number);
}

bool CAppProfile::WriteProfileInt(std::string_view section, std::string_view entry, int value)
{
    auto s = store();
    const std::string key = sectionKey(section);
    return s->createKey(reg::Root::CurrentUser, key) == reg::kSuccess &&
           s->setDword(reg::Root::CurrentUser, key, entry, static_cast<std::uint32_t>(value)) == reg::kSuccess;
}

bool CAppProfile::WriteProfileInts(std::span<const IntEntry> entries)
{
    reg::Batch batch;
    for (const IntEntry& e : entries) {
        const std::string key = sectionKey(e.section);
        batch.createKey(reg::Root::CurrentUser, key)
            .setDword(reg::Root::CurrentUser, key, e.entry, static_cast<std::uint32_t>(e.value));
    }
    return store()->apply(batch) == reg::kSuccess;
}

std::u16string CAppProfile::GetProfileString(std::string_view section, std::string_view entry,
                                             std::u16string_view def) const
{
    std::u16string out;
    if (store()->queryString(reg::Root::CurrentUser, sectionKey(section), entry, out) != reg::kSuccess)
        return std::u16string(def);
    return out;
}

bool CAppProfile::WriteProfileString(std::string_view section, std::string_view entry, std::u16string_view value)
{
    auto s = store();
    const std::string key = sectionKey(section);
    return s->createKey(reg::Root::CurrentUser, key) == reg::kSuccess &&
           s->setString(reg::Root::CurrentUser, key, entry, value) == reg::kSuccess;
}

} // namespace app
