#include "mouse/client.h"

#include <utility>

namespace vslmouse {

using platform::registry::Root;

std::string GetClientFolder(platform::registry::Store& store, const MessageSink& message)
{
    auto fail = [&](std::u16string_view text) {
        if (message)
            message(text);
        return std::string("Error");
    };
    if (store.openKey(Root::CurrentUser, kLocationKey) != platform::registry::kSuccess)
        return fail(u"DLL Location key not present.");
    std::string folder;
    const auto rc = store.queryStringUtf8(Root::CurrentUser, kLocationKey, kLocationValue, folder);
    if (rc == platform::registry::kNotEnoughMemory)
        return fail(u"Insufficient memory!");
    if (rc != platform::registry::kSuccess)
        return fail(u"Error reading location key!");
    return folder;
}

std::int32_t ClientBinding::BindClient(platform::registry::Store& store, const MessageSink& message)
{
    Unbind();
    if (fixed_) {
        BindFunctions(*fixed_);
        return OV_OK;
    }
    const std::string folder = GetClientFolder(store, message);
    auto module = platform::Module::load(ClientLibraryPath(folder));
    if (!module)
        return kNotBound;
    BindLibrary(std::move(*module));
    return OV_OK;
}

} // namespace vslmouse
