// The frame road allocates nothing: once the banks are built, filtering and
// resetting every kind make no heap allocation.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/smoothing_filter.h"
#include "testing/heap_counter.h"

TEST(SmoothingAllocation, FilteringAllocatesNothing)
{
    for (unsigned kind = 0; kind < CSmoothingFilterBank::kKindCount; ++kind) {
        SCOPED_TRACE(kind);
        CSmoothingFilterBank bank(kind);
        bank.SetParameters(4.5f, 3.0f, 0.5f);
        testing_support::HeapCounter heap;
        bank.Reset(1.0, 2.0);
        for (int i = 0; i < 500; ++i)
            bank.Filter(10.0 * std::sin(i * 0.05), i % 50 == 0 ? 1e300 : 2.0);
        bank.Reset(3.0, 4.0);
        EXPECT_EQ(heap.Count(), 0);
    }
}
