#include "camera/debug.h"
#include "camera/exceptions.h"

#include "platform/debug.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace Orvane;

template <class E>
class ExceptionTest : public ::testing::Test {};

using ExceptionTypes = ::testing::Types<OVRuntimeException, OVDoubleBufferException, UsbWriteException,
                                        UsbDeviceInitException, NoCameraDataException>;
TYPED_TEST_SUITE(ExceptionTest, ExceptionTypes);

TYPED_TEST(ExceptionTest, TextCodeCopyAndCatchAsBase)
{
    try {
        throw TypeParam(std::string("went wrong"));
    } catch (const OVRuntimeException& e) {
        EXPECT_STREQ(e.what(), "went wrong");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
    try {
        throw TypeParam(997);
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "");
        EXPECT_EQ(dynamic_cast<const OVRuntimeException&>(e).ErrorCode(), 997);
    }
    const TypeParam original(42);
    const TypeParam copy(original);
    EXPECT_EQ(copy.ErrorCode(), 42);
    TypeParam assigned(std::string("other"));
    assigned = copy;
    EXPECT_EQ(assigned.ErrorCode(), 42);
    EXPECT_STREQ(assigned.what(), "");
}

TEST(DebugOutput, ReportDebugFormatsAndCutsLongText)
{
    platform::debug::Capture capture;
    cDebug::ReportDebug(cDebug::PacketProcessor, "Received %d bytes via USB (expected %d)", 12, 16);
    cDebug::ReportDebug(cDebug::General, "Received %d bytes via USB (expected %d)", 12, 16);
    const std::string longText(2000, 'x');
    cDebug::ReportDebug(cDebug::General, "%s", longText.c_str());
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Received 12 bytes via USB (expected 16)");
    EXPECT_EQ(lines[1], lines[0]) << "the system argument does not change the output";
    EXPECT_EQ(lines[2], std::string(cDebug::BufferSize - 1, 'x'));
}

TEST(DebugOutput, FailureWritesAndThrowsOwnedText)
{
    platform::debug::Capture capture;
    EXPECT_NO_THROW(cDebug::Failure(false, "nothing %d", 1));
    EXPECT_TRUE(capture.lines().empty());
    try {
        cDebug::Failure(true, "bad value %d", 7);
        FAIL() << "Failure(true, ...) must throw";
    } catch (const OVRuntimeException& e) {
        EXPECT_STREQ(e.what(), "bad value 7");
    }
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "Failure: bad value 7");
}

TEST(DebugOutput, TextQueueIsOldestFirstAndBounded)
{
    cDebug::ClearTTY();
    EXPECT_FALSE(cDebug::IsTTYAvailable());
    EXPECT_FALSE(cDebug::FetchTTY().has_value());
    cDebug::PostTTY("first");
    cDebug::PostTTY("second");
    EXPECT_TRUE(cDebug::IsTTYAvailable());
    EXPECT_EQ(cDebug::FetchTTY(), "first");
    EXPECT_EQ(cDebug::FetchTTY(), "second");
    EXPECT_FALSE(cDebug::IsTTYAvailable());

    // Beyond the capacity the oldest go.
    for (std::size_t i = 0; i < cDebug::TTYCapacity + 3; ++i)
        cDebug::PostTTY(std::to_string(i));
    EXPECT_EQ(cDebug::FetchTTY(), "3");
    std::size_t left = 0;
    while (cDebug::FetchTTY())
        ++left;
    EXPECT_EQ(left, cDebug::TTYCapacity - 1);
}

TEST(DebugOutput, TextQueueLosesNothingBetweenThreads)
{
    cDebug::ClearTTY();
    std::atomic<bool> posting{true};
    std::size_t fetched = 0;
    std::thread reader([&] {
        while (posting.load() || cDebug::IsTTYAvailable())
            if (cDebug::FetchTTY())
                ++fetched;
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                cDebug::PostTTY(std::to_string(t * 100 + i));
        });
    for (auto& p : posters)
        p.join();
    posting = false;
    reader.join();
    EXPECT_EQ(fetched, 200u);
}
