#include "platform/sync.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <cstdlib>

using platform::Event;
using platform::kWaitObject0;
using platform::kWaitTimeout;

TEST(Event, WaitResultsForSetAndUnsetEvents)
{
    Event manual(Event::Reset::Manual);
    EXPECT_EQ(manual.wait(0), kWaitTimeout);
    EXPECT_EQ(manual.wait(5), kWaitTimeout);
    manual.set();
    EXPECT_EQ(manual.wait(0), kWaitObject0);
    EXPECT_EQ(manual.wait(0), kWaitObject0) << "a manual-reset event stays set";
    manual.reset();
    EXPECT_EQ(manual.wait(0), kWaitTimeout);

    Event autoReset(Event::Reset::Auto, true);
    EXPECT_EQ(autoReset.wait(0), kWaitObject0);
    EXPECT_EQ(autoReset.wait(0), kWaitTimeout) << "an auto-reset event clears on release";
}

TEST(Event, SetFromAnotherThreadWakesWaiter)
{
    Event ev(Event::Reset::Auto);
    std::thread t([&] { ev.set(); });
    EXPECT_EQ(ev.wait(platform::kInfinite), kWaitObject0);
    t.join();
}

TEST(Event, AutoResetReleasesExactlyOneWaiterPerSet)
{
    Event ev(Event::Reset::Auto);
    std::atomic<int> released{0};
    std::array<std::thread, 4> waiters;
    for (auto& t : waiters)
        t = std::thread([&] {
            if (ev.wait(2000) == kWaitObject0)
                released.fetch_add(1);
        });
    for (int i = 0; i < 4; ++i) {
        ev.set();
        while (released.load() < i + 1)
            std::this_thread::yield();
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 4);
}

TEST(Event, WaitMultipleAnyReturnsLowestSignalledIndex)
{
    Event a, b(Event::Reset::Auto), c;
    std::array<Event*, 3> all{&a, &b, &c};
    EXPECT_EQ(Event::waitMultiple(all, false, 0), kWaitTimeout);
    c.set();
    b.set();
    EXPECT_EQ(Event::waitMultiple(all, false, 0), kWaitObject0 + 1);
    EXPECT_FALSE(b.isSet()) << "the auto-reset event that satisfied the wait is consumed";
    EXPECT_EQ(Event::waitMultiple(all, false, 0), kWaitObject0 + 2);

    Event d;
    std::array<Event*, 2> late{&a, &d};
    std::thread t([&] { d.set(); });
    EXPECT_EQ(Event::waitMultiple(late, false, 5000), kWaitObject0 + 1);
    t.join();
}

TEST(Event, WaitMultipleAllNeedsEveryEvent)
{
    Event a(Event::Reset::Auto), b(Event::Reset::Auto);
    std::array<Event*, 2> both{&a, &b};
    a.set();
    EXPECT_EQ(Event::waitMultiple(both, true, 5), kWaitTimeout);
    EXPECT_TRUE(a.isSet()) << "a wait-all that fails consumes nothing";
    b.set();
    EXPECT_EQ(Event::waitMultiple(both, true, 0), kWaitObject0);
    EXPECT_FALSE(a.isSet());
    EXPECT_FALSE(b.isSet());
}

TEST(CriticalSection, IsRecursive)
{
    platform::CriticalSection cs;
    std::lock_guard outer(cs);
    std::lock_guard inner(cs);
    SUCCEED();
}

TEST(Thread, JoinsOnDestructionAndOnMove)
{
    std::atomic<int> ran{0};
    {
        platform::Thread t([&] { ran.fetch_add(1); }, platform::ThreadPriority::Highest, "worker");
        platform::Thread other;
        other = std::move(t);
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(Event, SetRacingTheEndOfAMultiWaitIsSafe)
{
    // A waiter that returns (and drops its parking record) while another
    // thread is inside set() must not be touched afterwards.
    for (int round = 0; round < 200; ++round) {
        Event a(Event::Reset::Auto), b(Event::Reset::Auto);
        std::array<Event*, 2> both{&a, &b};
        std::thread setter([&] {
            a.set();
            b.set();
        });
        EXPECT_NE(Event::waitMultiple(both, false, 2000), kWaitTimeout);
        setter.join();
    }
}

namespace {

// The processors the calling thread may run on.
cpu_set_t Allowed()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    return set;
}

// The highest processor the calling thread may run on.
int LastAllowed()
{
    const cpu_set_t set = Allowed();
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu)
        if (CPU_ISSET(cpu, &set))
            return cpu;
    return -1;
}

} // namespace

TEST(ProcessorFollower, OrdinaryThreadsAreLeftWhereTheKernelPutsThem)
{
    std::thread([] {
        const cpu_set_t before = Allowed();
        platform::ProcessorFollower follower;
        EXPECT_FALSE(follower.follow(LastAllowed()));
        EXPECT_FALSE(follower.settle());
        EXPECT_EQ(follower.kept(), -1);
        const cpu_set_t after = Allowed();
        EXPECT_TRUE(CPU_EQUAL(&before, &after));
    }).join();
}

TEST(ProcessorFollower, RealTimeThreadsFollowTheirProducerUnlessTurnedOff)
{
    std::thread([] {
        if (!platform::Thread::setCurrentPriority(platform::ThreadPriority::Highest)) {
            GTEST_SKIP() << "no priority changes here";
        }
        int policy = 0;
        sched_param param{};
        pthread_getschedparam(pthread_self(), &policy, &param);
        if (policy != SCHED_FIFO && policy != SCHED_RR) {
            GTEST_SKIP() << "real-time scheduling is not permitted here";
        }
        const cpu_set_t all = Allowed();
        const int target = LastAllowed();
        {
            platform::ProcessorFollower follower;
            EXPECT_FALSE(follower.follow(-1)) << "no producer yet";
            ASSERT_TRUE(follower.follow(target));
            EXPECT_EQ(follower.kept(), target);
            const cpu_set_t now = Allowed();
            EXPECT_EQ(CPU_COUNT(&now), 1);
            EXPECT_TRUE(CPU_ISSET(target, &now));
            EXPECT_EQ(platform::currentProcessor(), target);
            EXPECT_TRUE(follower.follow(target));  // no move: nothing to do
            EXPECT_FALSE(follower.follow(CPU_SETSIZE)) << "no such processor";
            EXPECT_EQ(follower.kept(), target);
            // Work piling up: back to every processor, and there for a while.
            EXPECT_FALSE(follower.follow(target, true));
            EXPECT_EQ(follower.kept(), -1);
            cpu_set_t spread = Allowed();
            EXPECT_TRUE(CPU_EQUAL(&spread, &all));
            for (int i = 0; i < platform::ProcessorFollower::kSpreadHandovers; ++i)
                ASSERT_FALSE(follower.follow(target)) << i;
            spread = Allowed();
            EXPECT_TRUE(CPU_EQUAL(&spread, &all));
            EXPECT_TRUE(follower.follow(target)) << "kept up again: back on the producer's processor";
            EXPECT_EQ(follower.kept(), target);
        }
        sched_setaffinity(0, sizeof all, &all);
        {
            // The head of a chain stays where it is.
            platform::ProcessorFollower head;
            ASSERT_TRUE(head.settle());
            const int here = head.kept();
            EXPECT_EQ(platform::currentProcessor(), here);
            EXPECT_TRUE(head.settle());
            EXPECT_EQ(head.kept(), here);
        }
        sched_setaffinity(0, sizeof all, &all);
        ::setenv("ORVANE_FRAME_CPU", "free", 1);
        {
            platform::ProcessorFollower off;
            EXPECT_FALSE(platform::ProcessorFollower::enabled());
            EXPECT_FALSE(off.follow(target));
            const cpu_set_t now = Allowed();
            EXPECT_TRUE(CPU_EQUAL(&now, &all));
        }
        ::unsetenv("ORVANE_FRAME_CPU");
        EXPECT_TRUE(platform::ProcessorFollower::enabled());
    }).join();
}
