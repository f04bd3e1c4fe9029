#pragma once
// Heap allocations, for tests and benchmarks of "allocates nothing". The
// object library orvane_heap_count (testing/heap_count/) replaces the global
// operator new and delete of the program that links it, plain, array and
// nothrow: every allocation of the process is counted, and, while a
// HeapCounter lives, those of its thread.
#include <cstdint>

namespace testing_support {

// The allocations the whole process has made so far.
std::uint64_t AllocationCount();

inline thread_local bool t_countingAllocations = false;
inline thread_local long t_allocations = 0;

// Counts this thread's allocations from construction to Count().
class HeapCounter {
public:
    HeapCounter()
    {
        t_allocations = 0;
        t_countingAllocations = true;
    }
    ~HeapCounter() { t_countingAllocations = false; }
    HeapCounter(const HeapCounter&) = delete;
    HeapCounter& operator=(const HeapCounter&) = delete;
    long Count() const { return t_allocations; }
};

} // namespace testing_support
