#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "fsmodule/view.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

using namespace fsmodule;
using Event = std::pair<std::uint32_t, std::int32_t>;

namespace {

std::vector<Event> gEvents;
void Record(std::uint32_t id, std::uint32_t value) { gEvents.emplace_back(id, static_cast<std::int32_t>(value)); }

class ViewSlotsTest : public ::testing::Test {
protected:
    std::int32_t words[kSlotCount] = {};
    ViewSlots slots{words};

    void SetUp() override
    {
        gEvents.clear();
        ViewSlots::Initialise(words);
        slots.Set(kInitialised, 1);
    }
    std::vector<Event> Period()
    {
        gEvents.clear();
        slots.SendChanges(&Record);
        return gEvents;
    }
};

TEST_F(ViewSlotsTest, InitialValuesAndBeforeInit)
{
    ViewSlots::Initialise(words);
    for (Slot s : {kLastA, kLastB, kLastC, kLastD, kLastE, kLastF, kLastCustom})
        EXPECT_EQ(words[s], kUnsent);
    EXPECT_EQ(words[kInitialised], 0);
    EXPECT_EQ(slots.SetView(1, 2), kViewNotInitialised);
    EXPECT_EQ(slots.SetViewEx(1, 2, 3, 4, 5, 6), kViewNotInitialised);
    EXPECT_EQ(slots.SetCustomView(7, 1), kViewNotInitialised);
    EXPECT_EQ(words[kA], 0);
    EXPECT_EQ(words[kChanged], 0);
    // A reset is taken even before init.
    EXPECT_EQ(slots.ResetView(), kViewOk);
    EXPECT_EQ(words[kReset], 1);
    EXPECT_EQ(words[kChanged], 1);
}

TEST_F(ViewSlotsTest, RangeChecksStoreNothingOnRefusal)
{
    struct Case {
        std::int32_t a, b;
        std::int32_t result;
    };
    for (const Case& c : {Case{16384, 0, kViewOutOfRange}, Case{0, -16384, kViewOutOfRange},
                          Case{70000, 0, kViewOutOfRange}, Case{-16383, 16383, kViewOk}}) {
        SetUp();
        EXPECT_EQ(slots.SetView(c.a, c.b), c.result) << c.a << "," << c.b;
        EXPECT_EQ(words[kA], c.result == kViewOk ? c.a : 0);
        EXPECT_EQ(words[kB], c.result == kViewOk ? c.b : 0);
        EXPECT_EQ(words[kChanged], c.result == kViewOk ? 1 : 0);
    }
    EXPECT_EQ(slots.SetViewEx(1, 2, 3, 4, 5, 16384), kViewOutOfRange);
    EXPECT_EQ(words[kA], -16383);
    EXPECT_EQ(slots.SetCustomView(5, -16384), kViewOutOfRange);
    EXPECT_EQ(words[kCustomId], 0);
}

TEST_F(ViewSlotsTest, FirstPeriodSendsEverythingThatDiffersFromUnsent)
{
    ASSERT_EQ(slots.SetViewEx(1200, -300, 0, 0, 0, 0), kViewOk);
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventA, 1200}, {kEventB, -300}, {kEventC, 0}}));
    // d, e and f differed too: counted, but their step counters stay at 0.
    EXPECT_EQ(words[kEventCount], 6);
    EXPECT_EQ(words[kChanged], 0);
    // Nothing changed: nothing sent.
    EXPECT_TRUE(Period().empty());
    // The same values again: changed, but nothing differs.
    ASSERT_EQ(slots.SetViewEx(1200, -300, 0, 0, 0, 0), kViewOk);
    EXPECT_TRUE(Period().empty());
    EXPECT_EQ(words[kEventCount], 6);
}

TEST_F(ViewSlotsTest, YawOfExactlyUnsentIsNotSent)
{
    ASSERT_EQ(slots.SetView(16383, 5), kViewOk);
    // c is 0 against the initial 16383, so it goes out as well.
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventB, 5}, {kEventC, 0}}));
}

TEST_F(ViewSlotsTest, SteppedValuesMoveOneStepPerChange)
{
    ASSERT_EQ(slots.SetViewEx(16383, 16383, 16383, 0, 0, 0), kViewOk);
    Period();
    // 0 -> 3270 is ten steps away, but one change moves the counter once.
    ASSERT_EQ(slots.SetViewEx(16383, 16383, 16383, 3270, 0, 0), kViewOk);
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventDUp, 0}}));
    EXPECT_EQ(words[kStepD], 1);
    ASSERT_EQ(slots.SetViewEx(16383, 16383, 16383, 3271, -700, 700), kViewOk);
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventDUp, 0}, {kEventEDown, 0}, {kEventFUp, 0}}));
    EXPECT_EQ(words[kStepD], 2);
    EXPECT_EQ(words[kStepE], -1);
    EXPECT_EQ(words[kStepF], 1);
    // Counter already at the target (e: -700/327 = -2 after two changes).
    ASSERT_EQ(slots.SetViewEx(16383, 16383, 16383, 3271, -701, 326), kViewOk);
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventEDown, 0}, {kEventFDown, 0}}));
    ASSERT_EQ(slots.SetViewEx(16383, 16383, 16383, 3271, -702, 326), kViewOk);
    EXPECT_TRUE(Period().empty()); // e changed, counter at -2 already
    EXPECT_EQ(words[kLastE], -702);
    // A reset clears the counters.
    slots.ResetView();
    EXPECT_EQ(Period(), (std::vector<Event>{{kEventReset, 0}}));
    EXPECT_EQ(words[kStepD], 0);
    EXPECT_EQ(words[kStepE], 0);
    EXPECT_EQ(words[kReset], 0);
}

TEST_F(ViewSlotsTest, CustomViewSendsFromTheSecondValueOfAnId)
{
    // First the six values as sent, so that only the custom view is left.
    ASSERT_EQ(slots.SetViewEx(0, 0, 0, 0, 0, 0), kViewOk);
    Period();
    words[kEventCount] = 0;
    ASSERT_EQ(slots.SetCustomView(7, 100), kViewOk);
    EXPECT_TRUE(Period().empty());
    ASSERT_EQ(slots.SetCustomView(7, 120), kViewOk);
    EXPECT_EQ(Period(), (std::vector<Event>{{7, 120}}));
    EXPECT_EQ(words[kEventCount], 1);
    ASSERT_EQ(slots.SetCustomView(9, -40), kViewOk);
    EXPECT_TRUE(Period().empty());
    // Id 0 is "no custom view": nothing is sent for it.
    ASSERT_EQ(slots.SetCustomView(0, 5), kViewOk);
    ASSERT_EQ(slots.SetCustomView(0, 6), kViewOk);
    EXPECT_TRUE(Period().empty());
}

TEST_F(ViewSlotsTest, NoSimulatorFunctionStillUpdatesState)
{
    ASSERT_EQ(slots.SetView(10, 20), kViewOk);
    slots.SendChanges(nullptr);
    EXPECT_EQ(words[kLastA], 10);
    EXPECT_EQ(words[kEventCount], 6);
}

TEST(ViewValueTest, TruncatesAndSkipsWhatCannotConvert)
{
    EXPECT_EQ(ViewValue(12.9f), 12);
    EXPECT_EQ(ViewValue(-12.9f), -12);
    EXPECT_EQ(ViewValue(16383.0f), 16383);
    EXPECT_EQ(ViewValue(std::numeric_limits<float>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(ViewValue(std::numeric_limits<float>::infinity()), std::nullopt);
    EXPECT_EQ(ViewValue(1e20f), std::nullopt);
}

TEST(PeriodTest, ClampedFromTheRegistry)
{
    testing_support::TempRegistry registry;
    auto store = registry.store();
    EXPECT_EQ(ReadPeriod(*store, 20), 20u);
    EXPECT_EQ(ReadPeriod(*store, 77), 77u); // missing: keeps the value
    ASSERT_EQ(store->createKey(platform::registry::Root::LocalMachine, "SOFTWARE\\Orvane\\Vistrel"), 0);
    EXPECT_EQ(ReadPeriod(*store, 77), 77u);
    for (auto [stored, period] : {std::pair{5u, 20u}, {1000u, 500u}, {100u, 100u}, {20u, 20u}, {500u, 500u}}) {
        ASSERT_EQ(store->setDword(platform::registry::Root::LocalMachine, "software\\orvane\\vistrel", "MSFSSleepTime",
                                  stored),
                  0);
        EXPECT_EQ(ReadPeriod(*store, 20), period) << stored;
    }
}

void ExpectAllNotBound(const ClientLink& link)
{
    OVPosePacket pose{};
    std::uint16_t version = 1;
    EXPECT_EQ(link.RegisterWindowHandle(1), OV_NOT_BOUND);
    EXPECT_EQ(link.UnregisterWindowHandle(), OV_NOT_BOUND);
    EXPECT_EQ(link.RegisterProgramProfileID(2302), OV_NOT_BOUND);
    EXPECT_EQ(link.QueryVersion(&version), OV_NOT_BOUND);
    EXPECT_EQ(link.RequestData(OV_AXIS_ALL), OV_NOT_BOUND);
    EXPECT_EQ(link.GetData(&pose), OV_NOT_BOUND);
    EXPECT_EQ(link.StartCursor(), OV_NOT_BOUND);
    EXPECT_EQ(link.StopCursor(), OV_NOT_BOUND);
    EXPECT_EQ(link.ReCenter(), OV_NOT_BOUND);
    EXPECT_EQ(link.StartDataTransmission(), OV_NOT_BOUND);
    EXPECT_EQ(link.StopDataTransmission(), OV_NOT_BOUND);
}

TEST(ClientLinkTest, WrappersAnswerFourWithoutTheLibrary)
{
    testing_support::TempRegistry registry;
    auto store = registry.store();
    ClientLink link;
    std::string folder;
    EXPECT_EQ(ClientLink::ReadClientLocation(*store, folder), platform::registry::kNotFound);
    EXPECT_FALSE(link.Bind(*store));
    ExpectAllNotBound(link);

    // A folder without the library.
    testing_support::TempDir empty;
    ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, ClientLink::kLocationKey), 0);
    const std::string path = empty.path().string();
    ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, ClientLink::kLocationKey, "Path",
                               std::u16string(path.begin(), path.end())),
              0);
    EXPECT_FALSE(link.Bind(*store));
    ExpectAllNotBound(link);
}

TEST(ClientLinkTest, BindsFromTheFolderTheMainProgramWrote)
{
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    auto store = registry.store();
    const std::string folder = std::string(OVCLIENT_DIR) + "\\"; // written with a trailing separator
    // The main program's spelling of the key.
    ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, "SOFTWARE\\Orvane\\Orvane\\OVClient Location"), 0);
    ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, "SOFTWARE\\Orvane\\Orvane\\OVClient Location",
                               "Path", std::u16string(folder.begin(), folder.end())),
              0);
    ClientLink link;
    ASSERT_TRUE(link.Bind(*store));
    EXPECT_TRUE(link.IsBound());
    OVPosePacket pose{};
    // Bound, but no main program runs in this session.
    EXPECT_EQ(link.GetData(&pose), OV_NO_SERVER);
    EXPECT_EQ(link.StartDataTransmission(), OV_NO_SERVER);
    link.Unbind();
    ExpectAllNotBound(link);
}

} // namespace
