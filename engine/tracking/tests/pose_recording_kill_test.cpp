// Recordings started and stopped while the program is killed: the pose file
// is always one whole recording, and what a killed recording left is either
// kept for the user at the next start or, holding no pose, removed then.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/pose_file.h"
#include "testing/kill_loop.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Recording n holds 20 + n % 13 records, each with its index as the tick
// and n as the yaw.
int RecordsOf(int n) { return 20 + n % 13; }

void Record(const fs::path& target, int n)
{
    CPoseFileWriter w;
    if (w.Create(target) != 0) return;
    for (int i = 0; i < RecordsOf(n); ++i) {
        PoseRecord r;
        r.tick = std::uint32_t(i);
        r.outputYaw = float(n);
        w.Append(r);
    }
    w.Finish();
}

std::vector<std::uint8_t> ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The records of the file when it is a whole (`complete`) or a begun
// recording of one n: a header, then whole records 0, 1, ... of that n.
// Empty with `why` otherwise.
std::vector<PoseRecord> Recording(const fs::path& file, bool complete, std::string& why)
{
    const auto bytes = ReadFile(file);
    const auto header = PoseFileHeader();
    if (bytes.size() < header.size() || !std::equal(header.begin(), header.end(), bytes.begin()) ||
        (bytes.size() - header.size()) % kPoseRecordSize != 0) {
        why = file.filename().string() + ": not whole, " + std::to_string(bytes.size()) + " bytes";
        return {};
    }
    std::vector<PoseRecord> records;
    for (std::size_t at = header.size(); at < bytes.size(); at += kPoseRecordSize)
        records.push_back(DecodePoseRecord(std::span<const std::uint8_t, kPoseRecordSize>(bytes.data() + at, kPoseRecordSize)));
    if (records.empty()) {
        why = file.filename().string() + ": no pose";
        return {};
    }
    const int n = int(records.front().outputYaw);
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].tick != i || records[i].outputYaw != float(n)) {
            why = file.filename().string() + ": record " + std::to_string(i) + " of another recording";
            return {};
        }
    if (complete ? int(records.size()) != RecordsOf(n) : int(records.size()) > RecordsOf(n)) {
        why = file.filename().string() + ": " + std::to_string(records.size()) + " records for recording " +
              std::to_string(n);
        return {};
    }
    return records;
}

TEST(PoseRecordingKill, ThePoseFileIsWholeAndACutRecordingIsKeptOrRemoved)
{
    testing_support::TempDir dir{"pose-kill"};
    const fs::path target = dir.file(kPoseFileName);
    Record(target, 0);
    int kept = 0, removed = 0;
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { Record(target, n); },
        [&] {
            std::string why;
            ASSERT_FALSE(Recording(target, true, why).empty()) << why;
            int leftovers = 0;
            for (const auto& e : fs::directory_iterator(dir.path()))
                leftovers += CPoseFileWriter::IsTemporaryName(e.path().filename().string(), kPoseFileName);

            // The next start.
            const std::vector<fs::path> recovered = CPoseFileWriter::RecoverLeftovers(target);
            kept += int(recovered.size());
            removed += leftovers - int(recovered.size());
            for (const fs::path& file : recovered) {
                EXPECT_EQ(file.parent_path(), dir.path());
                EXPECT_EQ(file.filename().string().rfind("vistrel-recording-", 0), 0u) << file;
                ASSERT_FALSE(Recording(file, false, why).empty()) << why;
                fs::remove(file); // the user took it
            }
            for (const auto& e : fs::directory_iterator(dir.path()))
                ASSERT_EQ(e.path(), target) << "left: " << e.path().filename();
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    EXPECT_GT(kept, 0) << "no kill fell inside a recording";
    std::printf("pose recording: %d kills, %d cut recordings kept for the user, %d empty temporaries removed\n",
                result.kills, kept, removed);
}

} // namespace
