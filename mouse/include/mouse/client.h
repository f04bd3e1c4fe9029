#pragma once
// The emulator's hold on the client library: found through the folder the
// main program publishes in the registry, bound function by function. Every
// call goes through a wrapper that answers 4 when its function is not bound.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/binder.h"
#include "client/ovclient.h"
#include "platform/registry.h"

namespace vslmouse {

using ovclient::kClientLibrary;
using ovclient::kLocationKey;
using ovclient::kLocationValue;
inline constexpr std::int32_t kNotBound = OV_NOT_BOUND;

// The library's functions the emulator uses; null where not bound.
using ClientFunctions = ovclient::ClientFunctions;

// Shows a message box to the user.
using MessageSink = std::function<void(std::u16string_view)>;

// The client folder; on failure the user is told why (through `message`)
// and the folder is "Error".
std::string GetClientFolder(platform::registry::Store& store, const MessageSink& message);
using ovclient::ClientLibraryPath;

class ClientBinding : public ovclient::ClientBinder {
public:
    ClientBinding() = default;
    // Binds the functions given in place of a library (tests).
    explicit ClientBinding(const ClientFunctions& fixed) : fixed_(fixed) {}

    // Loads the library from the registry's folder and binds its functions.
    // 0 when loaded, 4 when the folder or library is missing.
    std::int32_t BindClient(platform::registry::Store& store, const MessageSink& message);

private:
    std::optional<ClientFunctions> fixed_;
};

} // namespace vslmouse
