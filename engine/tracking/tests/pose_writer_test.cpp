// The recording writer: each writer its own temporary file, and a recording
// that cannot be saved under the target's name is kept under another.
#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <fstream>
#include <vector>

#include <unistd.h>

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

void WriteBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// What killed recordings left, met at the next start: each temporary file
// of the pose file is the user's recording when it holds a pose, and goes
// when it holds none; nothing else in the folder is touched.
TEST(PoseWriter, LeftoversOfKilledRecordingsAreKeptForTheUserOrRemoved)
{
    testing_support::TempDir dir;
    const auto target = dir.path() / "vistrel.tdf";
    const auto header = PoseFileHeader();
    const std::vector<std::uint8_t> onlyHeader(header.begin(), header.end());
    auto cut = Expected(10, 3);
    cut.insert(cut.end(), 30, 0x55); // a record begun
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool stays;
    } files[] = {
        {"vistrel.tdf", Expected(1, 2), true},
        {"vistrel.tdf.Ab12Cd.part", cut, false},               // three records and a cut one: kept
        {"vistrel.tdf.Zz99Yy.part", Expected(40, 1), false},   // whole: kept
        {"vistrel.tdf.Qq11Qq.part", onlyHeader, false},        // no pose: removed
        {"vistrel.tdf.Rr22Rr.part", {0, 0, 0}, false},         // cut in its header: removed
        {"vistrel.tdf.Ss33Ss.part", {}, false},                // just made: removed
        {"vistrel.tdf.Tt44Tt.part", std::vector<std::uint8_t>(64, 7), false}, // not a pose file: removed
        {"vistrel.tdf.abc.part", Expected(1, 1), true},        // not a name of ours
        {"other.tdf.Ab12Cd.part", Expected(1, 1), true},
        {"vistrel.tdf.Ab12Cd.part.old", Expected(1, 1), true},
        {"vistrel-recording-1.tdf", Expected(90, 1), true},    // an earlier one's: never replaced
    };
    for (const auto& f : files)
        WriteBytes(dir.path() / f.name, f.bytes);

    const auto kept = CPoseFileWriter::RecoverLeftovers(target);
    ASSERT_EQ(kept.size(), 2u);
    std::vector<std::vector<std::uint8_t>> keptBytes;
    for (const auto& k : kept) {
        EXPECT_EQ(k.parent_path(), dir.path());
        keptBytes.push_back(ReadFile(k));
    }
    std::sort(keptBytes.begin(), keptBytes.end());
    std::vector<std::vector<std::uint8_t>> expected = {Expected(10, 3), Expected(40, 1)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keptBytes, expected) << "whole records only";
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "vistrel-recording-2.tdf"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "vistrel-recording-3.tdf"));
    for (const auto& f : files) {
        EXPECT_EQ(std::filesystem::exists(dir.path() / f.name), f.stays) << f.name;
        if (f.stays) {
            EXPECT_EQ(ReadFile(dir.path() / f.name), f.bytes) << f.name;
        }
    }
    EXPECT_EQ(FilesIn(dir.path()), 7);
    EXPECT_TRUE(CPoseFileWriter::RecoverLeftovers(target).empty()) << "once";
}

// A start killed while it kept a recording (the new name made, the
// temporary one not yet gone) is not kept twice by the next one.
TEST(PoseWriter, ARecordingKeptOnceIsNotKeptAgain)
{
    testing_support::TempDir dir;
    const auto target = dir.path() / "vistrel.tdf";
    WriteBytes(dir.path() / "vistrel.tdf.Ab12Cd.part", Expected(5, 4));
    ASSERT_EQ(::link((dir.path() / "vistrel.tdf.Ab12Cd.part").c_str(),
                     (dir.path() / "vistrel-recording-1.tdf").c_str()),
              0);
    EXPECT_TRUE(CPoseFileWriter::RecoverLeftovers(target).empty());
    EXPECT_EQ(FilesIn(dir.path()), 1);
    EXPECT_EQ(ReadFile(dir.path() / "vistrel-recording-1.tdf"), Expected(5, 4));
}

} // namespace
