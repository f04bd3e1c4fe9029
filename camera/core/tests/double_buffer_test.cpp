#include "camera/double_buffer.h"
#include "camera/exceptions.h"
#include "camera/frame.h"
#include "camera/tracked_coordinate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <sched.h>

using namespace Orvane;

namespace {

struct Item {
    int value = 0;
};

} // namespace

TEST(DoubleBufferTest, ListsCountsAndFilledEvent)
{
    DoubleBuffer<Item> buffer(3, 7);
    EXPECT_EQ(buffer.GetCapacity(), 3);
    EXPECT_EQ(buffer.GetArgument(), 7);
    EXPECT_EQ(buffer.GetFreeCount(), 3);
    EXPECT_FALSE(buffer.IsFilledEventSet());
    EXPECT_EQ(buffer.TakeFilled(), nullptr);
    EXPECT_FALSE(buffer.IsFilledEventSet()) << "TakeFilled on empty leaves the event reset";

    Item* a = buffer.TakeFree();
    Item* b = buffer.TakeFree();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(buffer.GetFreeCount(), 1);
    a->value = 1;
    b->value = 2;
    buffer.Append(a);
    EXPECT_TRUE(buffer.IsFilledEventSet()) << "first Append signals";
    buffer.Append(b);
    EXPECT_TRUE(buffer.IsFilledEventSet());
    EXPECT_EQ(buffer.GetFilledCount(), 2);

    Item* first = buffer.TakeFilled();
    EXPECT_EQ(first, a) << "oldest first";
    EXPECT_TRUE(buffer.IsFilledEventSet());
    Item* second = buffer.TakeFilled();
    EXPECT_EQ(second, b);
    EXPECT_FALSE(buffer.IsFilledEventSet()) << "taking the last resets";
    buffer.GiveBack(first);
    buffer.GiveBack(second);
    EXPECT_EQ(buffer.GetFreeCount(), 3);
    EXPECT_FALSE(buffer.IsFilledEventSet()) << "GiveBack never signals";

    // Free items come back in the order they were given back (tail of the list).
    EXPECT_NE(buffer.TakeFree(), a);
    EXPECT_EQ(buffer.TakeFree(), a);
    EXPECT_EQ(buffer.TakeFree(), b);
    EXPECT_EQ(buffer.TakeFree(), nullptr) << "empty free list is not an error";
}

TEST(DoubleBufferTest, AddAppendsFreeItemsAndKeepsCapacity)
{
    DoubleBuffer<Frame> frames(0);
    for (int i = 0; i < 5; ++i)
        frames.Emplace(400, 400);
    EXPECT_EQ(frames.GetCapacity(), 0);
    EXPECT_EQ(frames.GetFreeCount(), 5);
    Frame* f = frames.TakeFree();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetObjectCapacity(), 400);

    DoubleBuffer<TrackedCoordinate> coords(0);
    const TrackedCoordinate prototype{1.5, 2.5, 0};
    TrackedCoordinate* copy = coords.Add(prototype);
    EXPECT_EQ(copy->first, 1.5);
    EXPECT_EQ(coords.GetSource(copy), &prototype);
    TrackedCoordinate* plain = coords.Add();
    EXPECT_EQ(coords.GetSource(plain), nullptr);
}

TEST(DoubleBufferTest, ForeignAndRepeatedItemsAreRefused)
{
    DoubleBuffer<Item> one(2), other(2);
    Item* mine = one.TakeFree();
    Item* theirs = other.TakeFree();
    Item stack;
    EXPECT_THROW(one.GiveBack(theirs), OVDoubleBufferException);
    EXPECT_THROW(one.Append(theirs), OVDoubleBufferException);
    EXPECT_THROW(one.GiveBack(&stack), OVDoubleBufferException);
    EXPECT_THROW(one.GiveBack(nullptr), OVDoubleBufferException);
    EXPECT_FALSE(one.Owns(theirs));
    EXPECT_TRUE(one.Owns(mine));

    one.Append(mine);
    EXPECT_THROW(one.Append(mine), OVDoubleBufferException) << "already queued";
    EXPECT_THROW(one.GiveBack(mine), OVDoubleBufferException) << "queued items are not out";
    Item* taken = one.TakeFilled();
    one.GiveBack(taken);
    EXPECT_THROW(one.GiveBack(taken), OVDoubleBufferException) << "given back twice";
    EXPECT_EQ(one.GetFreeCount(), 2);
    EXPECT_EQ(one.GetFilledCount(), 0);

    Item* free1 = one.TakeFree();
    Item* free2 = one.TakeFree();
    EXPECT_NE(free1, free2);
    EXPECT_EQ(one.TakeFree(), nullptr) << "the refused calls changed no list";
    other.GiveBack(theirs);
}

TEST(DoubleBufferTest, CExportsTakeAndGiveBack)
{
    DoubleBuffer<TrackedCoordinate> coords(1);
    EXPECT_EQ(AcquireTrackedBuffer(&coords), nullptr);
    TrackedCoordinate* c = coords.TakeFree();
    coords.Append(c);
    EXPECT_EQ(AcquireTrackedBuffer(&coords), c);
    ReleaseTrackedBuffer(&coords, c);
    EXPECT_EQ(coords.GetFreeCount(), 1);
    EXPECT_THROW(ReleaseTrackedBuffer(&coords, c), OVDoubleBufferException);

    DoubleBuffer<Frame> frames(0);
    frames.Emplace(4, 4);
    Frame* f = frames.TakeFree();
    frames.Append(f);
    EXPECT_EQ(AcquireCameraBuffer(&frames), f);
    ReleaseCameraBuffer(&frames, f);
    EXPECT_EQ(frames.GetFreeCount(), 1);
}

TEST(DoubleBufferTest, WaitResults)
{
    DoubleBuffer<Item> buffer(2);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(buffer.Wait(20), platform::kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(15));
    EXPECT_EQ(buffer.Wait(0), platform::kWaitTimeout);

    buffer.Append(buffer.TakeFree());
    EXPECT_EQ(buffer.Wait(0), platform::kWaitObject0);
    EXPECT_EQ(buffer.Wait(1000), platform::kWaitObject0) << "items queued: returns at once";

    // Woken by an Append from another thread.
    buffer.GiveBack(buffer.TakeFilled());
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        buffer.Append(buffer.TakeFree());
    });
    EXPECT_EQ(buffer.Wait(5000), platform::kWaitObject0);
    producer.join();
    EXPECT_NE(buffer.TakeFilled(), nullptr);
}

TEST(DoubleBufferTest, DestroyingWakesAWaiter)
{
    auto buffer = std::make_unique<DoubleBuffer<Item>>(1);
    DoubleBuffer<Item>* shared = buffer.get();
    std::atomic<bool> entered{false};
    std::atomic<std::uint32_t> result{1234};
    std::thread waiter([shared, &entered, &result] {
        entered = true;
        result = shared->Wait(platform::kInfinite);
    });
    while (!entered)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    buffer.reset();
    waiter.join();
    EXPECT_EQ(result.load(), platform::kWaitObject0);
}

TEST(DoubleBufferTest, ProducerConsumerMovesEveryItemOnceInOrder)
{
    constexpr int kItems = 4;
    constexpr int kMessages = 20000;
    DoubleBuffer<Item> buffer(kItems);
    std::atomic<bool> done{false};
    std::atomic<int> dropped{0};

    std::thread producer([&] {
        int next = 1;
        while (next <= kMessages) {
            Item* item = buffer.TakeFree();
            if (item == nullptr) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                std::this_thread::yield();
                continue;
            }
            item->value = next++;
            buffer.Append(item);
        }
        done = true;
    });

    int expected = 1;
    std::set<Item*> held;
    Item* previous = nullptr;
    while (expected <= kMessages) {
        if (buffer.Wait(1000) != platform::kWaitObject0)
            continue;
        Item* item = buffer.TakeFilled();
        if (item == nullptr)
            continue;  // a stale peek costs one more wait
        ASSERT_EQ(item->value, expected) << "every message once, oldest first";
        ++expected;
        ASSERT_TRUE(held.insert(item).second) << "an item taken while still held";
        // Hold one item, as the engine does, and give the old one back.
        if (previous != nullptr) {
            held.erase(previous);
            buffer.GiveBack(previous);
        }
        previous = item;
    }
    producer.join();
    buffer.GiveBack(previous);
    EXPECT_TRUE(done);
    EXPECT_EQ(buffer.GetFreeCount(), kItems);
    EXPECT_EQ(buffer.GetFilledCount(), 0);
}

TEST(DoubleBufferTest, TwoTakersNeverGetTheSameItem)
{
    constexpr int kItems = 8;
    constexpr int kRounds = 20000;
    DoubleBuffer<Item> buffer(kItems);
    for (int i = 0; i < kItems; ++i) {
        Item* item = buffer.TakeFree();
        item->value = 0;
        buffer.Append(item);
    }
    // Each taker marks the item as its own while holding it; a shared item
    // would see the other's mark.
    std::atomic<int> clashes{0};
    auto taker = [&](int id) {
        for (int round = 0; round < kRounds; ++round) {
            Item* item = (round % 2 == 0) ? buffer.TakeFilled() : buffer.TakeFree();
            if (item == nullptr) {
                std::this_thread::yield();
                continue;
            }
            if (item->value != 0)
                clashes.fetch_add(1);
            item->value = id;
            std::this_thread::yield();
            if (item->value != id)
                clashes.fetch_add(1);
            item->value = 0;
            if (round % 3 == 0)
                buffer.GiveBack(item);
            else
                buffer.Append(item);
        }
    };
    std::thread a(taker, 1), b(taker, 2);
    a.join();
    b.join();
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_EQ(buffer.GetFreeCount() + buffer.GetFilledCount(), kItems);
}

TEST(DoubleBufferTest, TakeFilledIfLeavesRefusedHeadQueued)
{
    DoubleBuffer<Item> buffer(2);
    Item* a = buffer.TakeFree();
    a->value = 5;
    buffer.Append(a);
    EXPECT_EQ(buffer.TakeFilledIf([](const Item& i) { return i.value == 4; }), nullptr);
    EXPECT_TRUE(buffer.IsFilledEventSet());
    EXPECT_EQ(buffer.TakeFilledIf([](const Item& i) { return i.value == 5; }), a);
    EXPECT_FALSE(buffer.IsFilledEventSet());
}

TEST(DoubleBufferTest, RemembersTheProcessorOfTheLastAppend)
{
    DoubleBuffer<Item> buffer(2);
    EXPECT_EQ(buffer.ProducerProcessor(), -1);
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    // Two different processors where there are two, each producer kept to its own.
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            cpus.push_back(cpu);
    for (int cpu : cpus) {
        std::thread([&, cpu] {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
            Item* item = buffer.TakeFree();
            ASSERT_NE(item, nullptr);
            buffer.Append(item);
        }).join();
        EXPECT_EQ(buffer.ProducerProcessor(), cpu);
    }
}
