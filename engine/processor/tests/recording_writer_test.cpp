// Recording on the engine: one writer at a time, and a stop that cannot save
// the recording says so and keeps the data.
#include <cerrno>
#include <fstream>
#include <thread>

#include "engine_fixture.h"
#include "platform/debug.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

class RecordingWriterTest : public EngineTest {
protected:
    std::filesystem::path File() const { return dir.file("vistrel.tdf"); }
    static std::size_t Records(const std::filesystem::path& p)
    {
        return (std::filesystem::file_size(p) - kPoseFileHeaderSize) / kPoseRecordSize;
    }
};

TEST_F(RecordingWriterTest, StartingAgainWhileRecordingFinishesTheFirstRecordingWhole)
{
    Pass(HeadPose{});
    ASSERT_EQ(engine->StartRecording(), 0u);
    for (int i = 0; i < 3; ++i)
        Pass(HeadPose{.yaw = 1.0 * i});
    ASSERT_EQ(engine->StartRecording(), 0u);
    EXPECT_EQ(Records(File()), 3u) << "the first recording, saved";
    for (int i = 0; i < 2; ++i)
        Pass(HeadPose{.yaw = 1.0 * i});
    EXPECT_EQ(engine->StopRecording(), 0u);
    EXPECT_EQ(std::filesystem::file_size(File()), kPoseFileHeaderSize + 2 * kPoseRecordSize);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1) << "no temporary file is left";
}

TEST_F(RecordingWriterTest, AStopThatCannotSaveReturnsTheErrorAndKeepsTheRecording)
{
    Pass(HeadPose{});
    std::filesystem::create_directories(File() / "in-the-way");
    ASSERT_EQ(engine->StartRecording(), 0u);
    for (int i = 0; i < 4; ++i)
        Pass(HeadPose{.yaw = 2.0 * i});
    const std::uint32_t error = engine->StopRecording();
    EXPECT_EQ(error & 0xFFFF0000u, 0x80070000u);
    EXPECT_FALSE(engine->IsRecording());
    const std::filesystem::path kept = engine->RecordingKeptAs();
    EXPECT_EQ(kept, dir.file("vistrel-recording-1.tdf"));
    ASSERT_TRUE(std::filesystem::exists(kept));
    EXPECT_EQ(Records(kept), 4u);
}

int FailingSync(int)
{
    errno = EIO;
    return -1;
}

TEST_F(RecordingWriterTest, AStopWhoseFlushFailsReturnsTheErrorAndKeepsTheRecording)
{
    poseFileSync = FailingSync;
    engine = MakeEngine();
    Pass(HeadPose{});
    ASSERT_EQ(engine->StartRecording(), 0u);
    for (int i = 0; i < 3; ++i)
        Pass(HeadPose{.yaw = 2.0 * i});
    EXPECT_EQ(engine->StopRecording(), HResultFromWin32(kErrorWriteFault));
    EXPECT_FALSE(engine->IsRecording());
    EXPECT_FALSE(std::filesystem::exists(File()));
    const std::filesystem::path kept = engine->RecordingKeptAs();
    EXPECT_EQ(kept, dir.file("vistrel-recording-1.tdf"));
    ASSERT_TRUE(std::filesystem::exists(kept));
    EXPECT_EQ(Records(kept), 3u);
}

// The engine stopped while it records (the program ends): the recording is
// finished as Stop Recording finishes it, saved, or kept beside the pose
// file and told in the debug output when its flush or rename fails.
TEST_F(RecordingWriterTest, StoppingTheEngineFinishesARecordingStillRunning)
{
    const struct {
        const char* what;
        CPoseFileWriter::FileSync sync;
        bool nameTaken;
    } cases[] = {{"saved", nullptr, false}, {"flush fails", FailingSync, false}, {"name taken", nullptr, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(File());
        std::filesystem::remove_all(dir.file("vistrel-recording-1.tdf"));
        if (c.nameTaken)
            std::filesystem::create_directories(File() / "in-the-way");
        poseFileSync = c.sync;
        engine = MakeEngine();
        platform::debug::Capture debug;
        Pass(HeadPose{});
        ASSERT_EQ(engine->StartRecording(), 0u);
        for (int i = 0; i < 4; ++i)
            Pass(HeadPose{.yaw = 1.0 * i});
        engine->Stop();
        EXPECT_FALSE(engine->IsRecording());
        const bool failed = c.sync != nullptr || c.nameTaken;
        const std::filesystem::path saved = failed ? dir.file("vistrel-recording-1.tdf") : File();
        ASSERT_TRUE(std::filesystem::is_regular_file(saved));
        EXPECT_EQ(Records(saved), 4u);
        EXPECT_EQ(engine->RecordingKeptAs(), failed ? saved : std::filesystem::path());
        EXPECT_EQ(debug.contains("The recording could not be saved as " + File().string() + "; it was kept as " +
                                 saved.string()),
                  failed);
        int files = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
            ++files;
        EXPECT_EQ(files, c.nameTaken ? 2 : 1) << "no temporary file is left";
        engine.reset();
    }
}

TEST_F(RecordingWriterTest, StartsAndStopsFromAnotherThreadWhileTheWorkerRecordsLeaveWholeFiles)
{
    clock.advanceMs(1000); // every record's time is above 0
    engine = MakeEngine(5);
    ASSERT_EQ(engine->Start(), 0u);
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int i = 0; feeding.load(); ++i) {
            Queue(ClipBlobs(HeadPose{.yaw = (i % 20) * 1.0}));
            clock.advanceMs(10);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int round = 0; round < 30; ++round) {
        EXPECT_EQ(engine->StartRecording(), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(engine->StopRecording(), 0u);
    feeding = false;
    feeder.join();
    engine->Stop();
    // Whatever landed in the file is whole: no record of zeros, no hole.
    std::ifstream in(File(), std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GE(bytes.size(), kPoseFileHeaderSize);
    EXPECT_EQ((bytes.size() - kPoseFileHeaderSize) % kPoseRecordSize, 0u);
    const std::array<std::uint8_t, kPoseRecordSize> zeros{};
    for (std::size_t at = kPoseFileHeaderSize; at + kPoseRecordSize <= bytes.size(); at += kPoseRecordSize)
        EXPECT_NE(std::memcmp(bytes.data() + at, zeros.data(), kPoseRecordSize), 0) << "record at " << at;
}

} // namespace
