// The frame road allocates nothing: publishing a pose and the watchdog,
// once the link is up, make no heap allocation on the worker thread.
#include <gtest/gtest.h>

#include "testing/client_process.h"
#include "engine/VSLEnhanced.h"
#include "testing/heap_counter.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace {

TEST(PublishAllocation, PublishingAndWatchdogAllocateNothing)
{
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    auto store = registry.store();
    const std::string dir = OVCLIENT_DIR;
    ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
    ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey,
                               CVSLEnhanced::kLocationValue, std::u16string(dir.begin(), dir.end())),
              0);
    CVSLEnhanced link(store);
    link.Start();
    testing_support::ClientProcess c(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(c.ready());
    c.ask("window");
    ASSERT_EQ(c.ask("regwin"), "0");
    ASSERT_EQ(c.ask("profile 2302"), "0");
    ASSERT_EQ(c.ask("start"), "0");
    for (int i = 0; i < 10; ++i)
        link.PublishPose(1, 2, 3, 4, 5, 6); // warm up: first-use set-up may allocate

    {
        testing_support::HeapCounter heap;
        for (int i = 0; i < 200; ++i) {
            link.PublishPose(static_cast<float>(i), 2, 3, 4, 5, 6);
            link.CheckClientWindow();
        }
        EXPECT_EQ(heap.Count(), 0);
    }
    EXPECT_EQ(link.PoseRecord().frame, 210);
    link.Stop();
}

} // namespace
