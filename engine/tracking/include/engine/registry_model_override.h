#pragma once
// The clip model override read from the registry: HKEY_LOCAL_MACHINE
// "SOFTWARE\Orvane\Vistrel\Pendrix", DWORD values.
#include <memory>

#include "engine/pose_models.h"

namespace platform::registry {
class Store;
}

inline constexpr char kPendrixOverrideKey[] = "SOFTWARE\\Orvane\\Vistrel\\Pendrix";

class CRegistryModelOverride final : public IModelOverrideSource {
public:
    explicit CRegistryModelOverride(std::shared_ptr<platform::registry::Store> store);
    std::optional<std::uint32_t> ReadDword(std::string_view valueName) const override;

private:
    std::shared_ptr<platform::registry::Store> store_;
};

// The built-in clip of location 0 with the override applied when the source
// allows it, finished.
CHeadsetModel LoadModelOverride(const IModelOverrideSource& source);
