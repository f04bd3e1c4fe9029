// Number formatting, means, the probe and the port routines' refusals.
#include "mathlib/numbra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

TEST(NumbraFormat, GroupsThousands)
{
    struct Case { double value; const char* text; };
    const Case cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {-1000, "-1,000"}, {1234567, "1,234,567"},
        {-123456, "-123,456"}, {123456, "123,456"}, {100, "100"}, {-12, "-12"},
        {0.5, "0"}, {1.5, "2"}, {2.5, "2"}, {-0.4, "-0"}, {999999.5, "1,000,000"},
        // 23 digits: the longest plain text, grouped to 30 characters.
        {9.99e22, "99,899,999,999,999,992,659,968"},
        {-9.99e21, "-9,990,000,000,000,000,524,288"},
        // Beyond the formatter's range: a short form, ungrouped.
        {-1e23, "-1e+23"}, {1e300, "1e+300"}, {-1.7976931348623157e308, "-1.79769e+308"},
        {std::numeric_limits<double>::infinity(), "inf"}, {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const Case& c : cases) {
        // A canary beyond the 32 bytes the formatter may use.
        char buffer[64];
        std::memset(buffer, 0x5A, sizeof buffer);
        EXPECT_EQ(nbr_NumberToString(c.value, buffer), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value;
        EXPECT_LE(std::strlen(buffer), 31u);
        for (size_t k = 32; k < sizeof buffer; ++k) ASSERT_EQ(buffer[k], 0x5A) << c.value;
    }
    EXPECT_EQ(nbr_NumberToString(1, nullptr), nullptr);
}

TEST(NumbraFormat, BoundedBuffer)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(nbr_NumberToStringN(1000, buffer, 5), 36);  // "1,000" needs 6 bytes
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(buffer[1], 'x');
    EXPECT_EQ(nbr_NumberToStringN(1000, buffer, 6), 0);
    EXPECT_STREQ(buffer, "1,000");
    EXPECT_EQ(nbr_NumberToStringN(1000, buffer, 0), 36);
    EXPECT_EQ(nbr_NumberToStringN(1000, nullptr, 8), 36);
}

TEST(NumbraAverages, MeansAndProbe)
{
    const double a[] = {1, 2, 3, 4};
    EXPECT_EQ(nbr_AverageD(a, 0), 0);
    EXPECT_EQ(nbr_AverageLD(a, 0), 0);
    EXPECT_EQ(nbr_AverageD(nullptr, 3), 0);
    EXPECT_DOUBLE_EQ(nbr_AverageD(a, 4), 2.5);
    // 1e16 + 1 is lost in double but kept in extended precision: the mean is 0.5.
    const double cancel[] = {1e16, 1, -1e16, 1};
    EXPECT_DOUBLE_EQ(nbr_AverageD(cancel, 4), 0.25);
    EXPECT_EQ(nbr_AverageLD(cancel, 4), 0.5L);

    double v = 1;
    EXPECT_EQ(nbr_Add42(&v), 43);
    EXPECT_EQ(v, 43);
    EXPECT_TRUE(std::isnan(nbr_Add42(nullptr)));
}

TEST(NumbraPorts, RefusedWithoutTouchingAPort)
{
    // Ports outside the 16-bit range are refused before any access.
    for (int port : {-1, 0x10000, 0x7FFFFFFF, -0x7FFFFFFF}) {
        EXPECT_EQ(nbr_lInputByte(port), NBR_PORT_UNAVAILABLE) << port;
        for (int mode : {0, 1, 2, 4}) EXPECT_EQ(nbr_lOutputByte(port, 1, mode), NBR_PORT_UNAVAILABLE) << mode;
    }
    // Mode 3 writes nothing, on any port.
    EXPECT_EQ(nbr_lOutputByte(0x10000, 1, 3), 0);
    EXPECT_EQ(nbr_lOutputByte(0x10000, 1, 7), 0);
}

} // namespace
