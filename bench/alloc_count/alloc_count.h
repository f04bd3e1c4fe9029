#pragma once
// Heap allocations the program has made so far: every operator new of it,
// plain, array and nothrow, is counted (bench/alloc_count/alloc_count.cpp).
#include <cstdint>

namespace bench {

std::uint64_t AllocationCount();

} // namespace bench
