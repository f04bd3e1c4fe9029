#include <gtest/gtest.h>

#include "mouse/settings.h"
#include "testing/temp_registry.h"


using platform::registry::Root;
using vslmouse::MouseSettings;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    testing_support::TempRegistry registry;
    platform::registry::Store& store = *registry.store();

    void set(const char* name, std::uint32_t v)
    {
        ASSERT_EQ(store.createKey(Root::CurrentUser, vslmouse::kSettingsKey), 0);
        ASSERT_EQ(store.setDword(Root::CurrentUser, vslmouse::kSettingsKey, name, v), 0);
    }
    std::optional<std::uint32_t> get(const char* name)
    {
        std::uint32_t v = 0;
        if (store.queryDword(Root::CurrentUser, vslmouse::kSettingsKey, name, v) != 0)
            return std::nullopt;
        return v;
    }
};

TEST_F(SettingsTest, DefaultsWithoutTheKey)
{
    const MouseSettings s = vslmouse::LoadSettings(store);
    EXPECT_EQ(s, MouseSettings{});
    EXPECT_EQ(s.xAxis, 0);
    EXPECT_EQ(s.yAxis, 1);
    EXPECT_FALSE(s.autoPanning);
    EXPECT_EQ(s.autoPanningThreshold, 50);
    EXPECT_EQ(s.mouseOverrideDelay, 0);
    EXPECT_EQ(s.scaling, 5);
    EXPECT_FALSE(s.alwaysSend);
}

TEST_F(SettingsTest, StoredValuesAndTheirMending)
{
    struct Case {
        const char* name;
        std::uint32_t stored;
        int MouseSettings::*field;
        int expected;
    };
    const Case cases[] = {
        {"XAxis", 5, &MouseSettings::xAxis, 5},
        {"XAxis", 6, &MouseSettings::xAxis, 0},
        {"XAxis", 0xFFFFFFFF, &MouseSettings::xAxis, 0},
        {"YAxis", 2, &MouseSettings::yAxis, 2},
        {"YAxis", 9, &MouseSettings::yAxis, 1},
        {"AutoPanningThreshold", 70, &MouseSettings::autoPanningThreshold, 70},
        {"AutoPanningThreshold", 2, &MouseSettings::autoPanningThreshold, 5},
        {"AutoPanningThreshold", 400, &MouseSettings::autoPanningThreshold, 95},
        {"MouseOverrideDelay", 3, &MouseSettings::mouseOverrideDelay, 3},
        {"MouseOverrideDelay", 11, &MouseSettings::mouseOverrideDelay, 10},
        {"MouseOverrideDelay", 0xFFFFFFFF, &MouseSettings::mouseOverrideDelay, 0},
        {"Scaling", 1, &MouseSettings::scaling, 1},
        {"Scaling", 12, &MouseSettings::scaling, 12},
        {"Scaling", 0, &MouseSettings::scaling, 5},
        {"Scaling", 0xFFFFFFFB, &MouseSettings::scaling, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored));
        set(c.name, c.stored);
        EXPECT_EQ(vslmouse::LoadSettings(store).*c.field, c.expected);
        ASSERT_EQ(store.deleteValue(Root::CurrentUser, vslmouse::kSettingsKey, c.name), 0);
    }
    set("AutoPanning", 7);
    EXPECT_TRUE(vslmouse::LoadSettings(store).autoPanning);
    set("MovementType", 47219386);
    EXPECT_TRUE(vslmouse::LoadSettings(store).alwaysSend);
    set("MovementType", 1);
    EXPECT_FALSE(vslmouse::LoadSettings(store).alwaysSend);
}

TEST_F(SettingsTest, SaveWritesTheDialogsValuesOnly)
{
    MouseSettings s;
    s.xAxis = 4;
    s.yAxis = 5;
    s.autoPanning = true;
    s.autoPanningThreshold = 80;
    s.mouseOverrideDelay = 7;
    s.scaling = 9;
    s.alwaysSend = true;
    ASSERT_EQ(vslmouse::SaveSettings(store, s), 0);
    EXPECT_EQ(get("XAxis"), 4u);
    EXPECT_EQ(get("YAxis"), 5u);
    EXPECT_EQ(get("AutoPanning"), 1u);
    EXPECT_EQ(get("AutoPanningThreshold"), 80u);
    EXPECT_EQ(get("MouseOverrideDelay"), 7u);
    EXPECT_EQ(get("Scaling"), std::nullopt);
    EXPECT_EQ(get("MovementType"), std::nullopt);
    // The key is found whatever its spelling.
    std::uint32_t v = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "SOFTWARE\\ORVANE\\vistrel mouse emulation\\config", "xaxis", v), 0);
    EXPECT_EQ(v, 4u);
    MouseSettings back = vslmouse::LoadSettings(store);
    EXPECT_EQ(back.autoPanningThreshold, 80);
    EXPECT_EQ(back.scaling, 5);
}

} // namespace
