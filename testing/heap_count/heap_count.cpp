#include "testing/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced operators below pair malloc with free; GCC would otherwise
// warn where it inlines them into new/delete pairs.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<std::uint64_t> gAllocations{0};

void Counted()
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (testing_support::t_countingAllocations)
        ++testing_support::t_allocations;
}

} // namespace

std::uint64_t testing_support::AllocationCount()
{
    return gAllocations.load(std::memory_order_relaxed);
}

void* operator new(std::size_t size)
{
    Counted();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    Counted();
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
