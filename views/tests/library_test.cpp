#include "testing/temp_registry.h"
#include "testing/temp_session.h"

#include <chrono>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

using Export = int (*)();

TEST(Library, ExportsStartStopAndVersion)
{
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    void* handle = ::dlopen(VSLVIEWS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto start = reinterpret_cast<Export>(::dlsym(handle, "VSLViewsStart"));
    auto stop = reinterpret_cast<Export>(::dlsym(handle, "VSLViewsStop"));
    auto version = reinterpret_cast<Export>(::dlsym(handle, "VSLViewsVersion"));
    ASSERT_TRUE(start && stop && version);
    EXPECT_EQ(version(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(start(), 0);
        EXPECT_EQ(start(), 0); // a second start keeps the one worker
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(stop(), 0);
        // The worker's pauses end with the stop.
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
    }
    EXPECT_EQ(stop(), 0); // stopping a stopped library is harmless
    ::dlclose(handle);
}

} // namespace
