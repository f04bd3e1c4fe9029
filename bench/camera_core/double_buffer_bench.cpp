// Take-and-give-back through the double buffer: nanoseconds per item, and
// the number of heap allocations made after the buffer was built (must be 0).
#include "testing/heap_counter.h"
#include "camera/double_buffer.h"
#include "camera/frame.h"
#include "camera/tracked_coordinate.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

using namespace Orvane;

void Report(benchmark::State& state, std::uint64_t allocations)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_after_construction"] = static_cast<double>(allocations);
    if (allocations != 0)
        state.SkipWithError("the double buffer allocated after construction");
}

// Producer and consumer calls on one thread: TakeFree, Append, Wait,
// TakeFilled, GiveBack.
template <class T, class Make>
void TakeAndGiveBack(benchmark::State& state, int items, Make make)
{
    DoubleBuffer<T> buffer(0);
    for (int i = 0; i < items; ++i)
        make(buffer);
    const std::uint64_t before = testing_support::AllocationCount();
    for (auto _ : state) {
        T* item = buffer.TakeFree();
        buffer.Append(item);
        buffer.Wait(0);
        T* taken = buffer.TakeFilled();
        benchmark::DoNotOptimize(taken);
        buffer.GiveBack(taken);
    }
    Report(state, testing_support::AllocationCount() - before);
}

void BM_FrameTakeAndGiveBack(benchmark::State& state)
{
    TakeAndGiveBack<Frame>(state, 5, [](DoubleBuffer<Frame>& b) { b.Emplace(400, 400); });
}

void BM_CoordinateTakeAndGiveBack(benchmark::State& state)
{
    TakeAndGiveBack<TrackedCoordinate>(state, 5, [](DoubleBuffer<TrackedCoordinate>& b) { b.Emplace(); });
}

// A producer thread keeps the filled list topped up; the benchmark thread
// consumes as the tracking engine does (wait, take, give back).
void BM_FrameHandOffAcrossThreads(benchmark::State& state)
{
    DoubleBuffer<Frame> buffer(0);
    for (int i = 0; i < 5; ++i)
        buffer.Emplace(400, 400);
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            if (Frame* f = buffer.TakeFree())
                buffer.Append(f);
            else
                std::this_thread::yield();
        }
    });
    const std::uint64_t before = testing_support::AllocationCount();
    for (auto _ : state) {
        Frame* f = nullptr;
        while (f == nullptr) {
            buffer.Wait(1000);
            f = buffer.TakeFilled();
        }
        benchmark::DoNotOptimize(f);
        buffer.GiveBack(f);
    }
    const std::uint64_t allocations = testing_support::AllocationCount() - before;
    stop = true;
    producer.join();
    Report(state, allocations);
}

// Building a frame buffer: shows the counter at work (construction does
// allocate: five frames, their object arrays and the node index).
void BM_FrameBufferConstruction(benchmark::State& state)
{
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t before = testing_support::AllocationCount();
        DoubleBuffer<Frame> buffer(0);
        for (int i = 0; i < 5; ++i)
            buffer.Emplace(400, 400);
        allocations = testing_support::AllocationCount() - before;
        benchmark::DoNotOptimize(&buffer);
    }
    state.counters["allocs_per_construction"] = static_cast<double>(allocations);
}

} // namespace

BENCHMARK(BM_FrameBufferConstruction);
BENCHMARK(BM_FrameTakeAndGiveBack)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_CoordinateTakeAndGiveBack)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FrameHandOffAcrossThreads)->Repetitions(9)->ReportAggregatesOnly(true)->UseRealTime();
