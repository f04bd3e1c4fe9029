#pragma once
// Counts the heap allocations a thread makes through operator new, for tests
// of "allocates nothing". It replaces the global operator new and delete, so
// one source file of a test program includes it, and only one.
#include <cstdlib>
#include <new>

namespace testing_support {

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

void* operator new(std::size_t n)
{
    if (testing_support::t_countingAllocations)
        ++testing_support::t_allocations;
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
