#include "mouse/settings.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace vslmouse {
namespace {

using platform::registry::Root;

std::optional<std::int32_t> readInt(platform::registry::Store& store, const char* name)
{
    std::uint32_t v = 0;
    if (store.queryDword(Root::CurrentUser, kSettingsKey, name, v) != platform::registry::kSuccess)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace

MouseSettings LoadSettings(platform::registry::Store& store)
{
    MouseSettings s;
    auto axis = [](std::optional<std::int32_t> v, int fallback) {
        return v && *v >= 0 && *v < kAxisCount ? static_cast<int>(*v) : fallback;
    };
    s.xAxis = axis(readInt(store, "XAxis"), s.xAxis);
    s.yAxis = axis(readInt(store, "YAxis"), s.yAxis);
    if (auto v = readInt(store, "AutoPanning"))
        s.autoPanning = *v != 0;
    if (auto v = readInt(store, "AutoPanningThreshold"))
        s.autoPanningThreshold = std::clamp<std::int32_t>(*v, kThresholdMin, kThresholdMax);
    if (auto v = readInt(store, "MouseOverrideDelay"))
        s.mouseOverrideDelay = std::clamp<std::int32_t>(*v, kDelayMin, kDelayMax);
    if (auto v = readInt(store, "Scaling"); v && *v >= 1)
        s.scaling = *v;
    if (auto v = readInt(store, "MovementType"))
        s.alwaysSend = static_cast<std::uint32_t>(*v) == kAlwaysSendCode;
    return s;
}

platform::registry::Status SaveSettings(platform::registry::Store& store, const MouseSettings& s)
{
    // One save is one transaction: a reader, or a save killed midway, never
    // leaves some values new and others old.
    platform::registry::Batch batch;
    batch.createKey(Root::CurrentUser, kSettingsKey);
    const std::pair<const char*, int> values[] = {
        {"XAxis", s.xAxis},
        {"YAxis", s.yAxis},
        {"AutoPanning", s.autoPanning ? 1 : 0},
        {"AutoPanningThreshold", s.autoPanningThreshold},
        {"MouseOverrideDelay", s.mouseOverrideDelay},
    };
    for (const auto& [name, value] : values)
        batch.setDword(Root::CurrentUser, kSettingsKey, name, static_cast<std::uint32_t>(value));
    return store.apply(batch);
}

} // namespace vslmouse
