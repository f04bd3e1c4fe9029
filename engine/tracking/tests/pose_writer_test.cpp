// The recording writer: each writer its own temporary file, and a recording
// that cannot be saved under the target's name is kept under another.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "engine/pose_file.h"
#include "testing/temp_dir.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The header and the records with ticks `first`, `first` + 1, ...
std::vector<std::uint8_t> Expected(std::uint32_t first, int count)
{
    const auto h = PoseFileHeader();
    std::vector<std::uint8_t> bytes(h.begin(), h.end());
    for (int i = 0; i < count; ++i) {
        PoseRecord r;
        r.tick = first + std::uint32_t(i);
        r.outputYaw = float(r.tick % 1000) * 0.5f;
        const auto b = EncodePoseRecord(r);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
}

void Write(CPoseFileWriter& w, std::uint32_t first, int count)
{
    for (int i = 0; i < count; ++i) {
        PoseRecord r;
        r.tick = first + std::uint32_t(i);
        r.outputYaw = float(r.tick % 1000) * 0.5f;
        ASSERT_TRUE(w.Append(r));
    }
}

int FilesIn(const std::filesystem::path& folder)
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

TEST(PoseWriter, TwoWritersOfOneTargetNeverShareAFile)
{
    testing_support::TempDir dir;
    const auto target = dir.path() / "vistrel.tdf";
    CPoseFileWriter first, second;
    ASSERT_EQ(first.Create(target), 0u);
    Write(first, 100, 3);
    ASSERT_EQ(second.Create(target), 0u);
    Write(first, 103, 2); // the first goes on writing while the second starts
    Write(second, 500, 4);
    EXPECT_EQ(first.Finish(), 0u);
    EXPECT_EQ(ReadFile(target), Expected(100, 5));
    EXPECT_EQ(second.Finish(), 0u);
    EXPECT_EQ(ReadFile(target), Expected(500, 4));
    EXPECT_TRUE(second.KeptAs().empty());
    EXPECT_EQ(FilesIn(dir.path()), 1) << "no temporary file is left";
}

TEST(PoseWriter, ARecordingThatCannotTakeTheTargetsNameIsKeptBesideIt)
{
    testing_support::TempDir dir;
    const auto target = dir.path() / "vistrel.tdf";
    std::filesystem::create_directories(target / "in-the-way");
    // A kept recording of an earlier session is not replaced.
    { std::ofstream(dir.path() / "vistrel-recording-1.tdf") << "older"; }
    CPoseFileWriter w;
    ASSERT_EQ(w.Create(target), 0u);
    Write(w, 7, 3);
    EXPECT_NE(w.Finish(), 0u);
    EXPECT_EQ(w.KeptAs(), dir.path() / "vistrel-recording-2.tdf");
    EXPECT_EQ(ReadFile(w.KeptAs()), Expected(7, 3));
    EXPECT_EQ(ReadFile(dir.path() / "vistrel-recording-1.tdf"), (std::vector<std::uint8_t>{'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(FilesIn(dir.path()), 3) << "the folder in the way and the two kept recordings";
    EXPECT_EQ(w.Finish(), 0u) << "finished once";
}


// A finish whose flush to disk fails saves nothing over the target: the
// pose file there stays as it was, and the recording is kept beside it.
TEST(PoseWriter, ARecordingThatCannotBeFlushedIsKeptBesideTheTarget)
{
    testing_support::TempDir dir;
    const auto target = dir.path() / "vistrel.tdf";
    CPoseFileWriter earlier;
    ASSERT_EQ(earlier.Create(target), 0u);
    Write(earlier, 1, 2);
    ASSERT_EQ(earlier.Finish(), 0u);

    CPoseFileWriter w([](int) {
        errno = EIO;
        return -1;
    });
    ASSERT_EQ(w.Create(target), 0u);
    Write(w, 40, 5);
    EXPECT_EQ(w.Finish(), kErrorWriteFault);
    EXPECT_EQ(w.KeptAs(), dir.path() / "vistrel-recording-1.tdf");
    EXPECT_EQ(ReadFile(w.KeptAs()), Expected(40, 5));
    EXPECT_EQ(ReadFile(target), Expected(1, 2)) << "the earlier recording is not replaced";
    EXPECT_EQ(FilesIn(dir.path()), 2) << "no temporary file is left";
}

} // namespace
