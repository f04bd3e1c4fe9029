// The frame road allocates nothing: publishing a pose and the watchdog,
// once the link is up, make no heap allocation on the worker thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "testing/client_process.h"
#include "engine/VSLEnhanced.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
} // namespace

void* operator new(std::size_t n)
{
    if (t_counting)
        ++t_allocations;
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}
// The replacement new above takes its memory from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

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

    t_allocations = 0;
    t_counting = true;
    for (int i = 0; i < 200; ++i) {
        link.PublishPose(static_cast<float>(i), 2, 3, 4, 5, 6);
        link.CheckClientWindow();
    }
    t_counting = false;
    EXPECT_EQ(t_allocations, 0);
    EXPECT_EQ(link.PoseRecord().frame, 210);
    link.Stop();
}

} // namespace
