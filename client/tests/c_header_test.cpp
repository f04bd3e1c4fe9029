// The games' C header: compiled by the C compiler (c_header_layout.c), it
// describes the same record and constants as the library's own view.
#include <gtest/gtest.h>

#include <cstddef>

#include "client/ovclient.h"

extern "C" {
std::size_t ov_c_record_size(void);
std::size_t ov_c_frame_offset(void);
std::size_t ov_c_values_offset(void);
std::size_t ov_c_window_size(void);
int ov_c_constant(int which);
int ov_c_signatures(void);
}

namespace {

TEST(CHeader, TheCCompilerSeesTheLibrarysRecordAndConstants)
{
    EXPECT_EQ(ov_c_record_size(), sizeof(OVPosePacket));
    EXPECT_EQ(ov_c_record_size(), 68u);
    EXPECT_EQ(ov_c_frame_offset(), offsetof(OVPosePacket, frame));
    EXPECT_EQ(ov_c_values_offset(), offsetof(OVPosePacket, value));
    EXPECT_EQ(ov_c_window_size(), 4u);
    EXPECT_EQ(offsetof(OVSharedSection, pose), 424u);
    const int expected[] = {1, 2, 4, 16, 32, 64, 119, 0, 1, 3, 4, 6, 7, 8, 9, 0, 1, 2};
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i)
        EXPECT_EQ(ov_c_constant(i), expected[i]) << i;
    EXPECT_EQ(ov_c_constant(static_cast<int>(std::size(expected))), -1);
    EXPECT_GT(ov_c_signatures(), 0);
}

} // namespace
