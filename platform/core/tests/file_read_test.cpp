// Outside files read whole only up to a bound.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>

#include "platform/file_read.h"
#include "testing/temp_dir.h"

namespace {

TEST(FileRead, ReadsUpToTheBoundAndRefusesTheRestUnread)
{
    testing_support::TempDir dir;
    std::ofstream(dir.file("ten"), std::ios::binary) << "0123456789";
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    const struct {
        const char* name;
        std::size_t max;
        bool read;
        const char* error;
    } cases[] = {
        {"ten", 10, true, ""},
        {"ten", 100, true, ""},
        {"ten", 9, false, "is too large: 10 bytes, at most 9 expected"},
        {"missing", 100, false, "cannot read "},
        // Neither waits for a writer nor reads a folder.
        {"fifo", 100, false, "not a regular file"},
        {"folder", 100, false, "not a regular file"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes{1, 2, 3};
        std::string error;
        EXPECT_EQ(platform::files::ReadFileLimited(dir.file(c.name), c.max, bytes, error), c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
        } else {
            EXPECT_TRUE(bytes.empty()) << c.name;
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_NE(error.find(dir.file(c.name).string()), std::string::npos) << error;
        }
    }
}

} // namespace
