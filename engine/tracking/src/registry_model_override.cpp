#include "engine/registry_model_override.h"

#include "platform/registry.h"

CRegistryModelOverride::CRegistryModelOverride(std::shared_ptr<platform::registry::Store> store)
    : store_(std::move(store))
{
}

std::optional<std::uint32_t> CRegistryModelOverride::ReadDword(std::string_view valueName) const
{
    if (!store_) return std::nullopt;
    std::uint32_t value = 0;
    if (store_->queryDword(platform::registry::Root::LocalMachine, kPendrixOverrideKey, valueName, value) !=
        platform::registry::kSuccess)
        return std::nullopt;
    return value;
}

CHeadsetModel LoadModelOverride(const IModelOverrideSource& source)
{
    CHeadsetModel model = CHeadsetModel::ForLocation(0);
    ApplyModelOverride(model, source);
    model.Finish();
    return model;
}
