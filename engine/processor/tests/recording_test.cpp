// Recording the published poses and playing them back in place of the camera.
#include <cstring>
#include <fstream>

#include "engine_fixture.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

class RecordingTest : public EngineTest {
protected:
    std::filesystem::path File() const { return dir.file("vistrel.tdf"); }

    void WriteFile(const std::vector<std::uint8_t>& bytes)
    {
        std::ofstream out(File(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> Header()
    {
        const auto h = PoseFileHeader();
        return {h.begin(), h.end()};
    }
    static void Add(std::vector<std::uint8_t>& bytes, const PoseRecord& r)
    {
        const auto b = EncodePoseRecord(r);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    static PoseRecord Record(std::uint32_t tick, float yaw)
    {
        PoseRecord r;
        r.tick = tick;
        r.outputYaw = yaw;
        r.rawYaw = yaw / 2;
        r.outputX = -yaw;
        r.rawZ = 7;
        return r;
    }
    std::int64_t NowMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now()).count();
    }
};

TEST_F(RecordingTest, APlayedRecordingPublishesTheSameRecordsWithTheRecordedTiming)
{
    Pass(HeadPose{});
    ASSERT_EQ(engine->StartRecording(), 0u);
    EXPECT_TRUE(engine->IsRecording());
    std::vector<OVPosePacket> recorded;
    std::vector<CPoseAxes> raws;
    const int kFrames = 12;
    for (int i = 0; i < kFrames; ++i) {
        clock.advanceMs(33);
        Pass(HeadPose{.yaw = i * 2.0, .pitch = -i * 1.0, .x = i * 3.0});
        recorded.push_back(engine->PublishedRecord());
        raws.push_back(engine->RawAxes());
    }
    EXPECT_EQ(engine->StopRecording(), 0u);
    EXPECT_FALSE(engine->IsRecording());
    ASSERT_EQ(std::filesystem::file_size(File()), kPoseFileHeaderSize + kFrames * kPoseRecordSize);

    auto player = MakeEngine();
    player->StartPlayback();
    EXPECT_FALSE(player->IsLive());
    for (int i = 0; i < kFrames; ++i) {
        const std::int64_t before = NowMs();
        player->RunPass();
        EXPECT_EQ(NowMs() - before, i == 0 ? 0 : 33) << i;
        const OVPosePacket played = player->PublishedRecord();
        EXPECT_EQ(std::memcmp(played.value, recorded[static_cast<std::size_t>(i)].value, sizeof played.value), 0) << i;
        for (int a = 0; a < 6; ++a)
            EXPECT_EQ(player->RawAxes()[static_cast<std::size_t>(a)],
                      static_cast<double>(static_cast<float>(raws[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)])));
    }
    EXPECT_FALSE(player->IsLive());
    player->RunPass(); // the end of the file
    EXPECT_TRUE(player->IsLive());
    EXPECT_EQ(player->LastPlaybackError(), 0u);
    EXPECT_EQ(player->GetPublishCount(), static_cast<std::uint32_t>(kFrames));
}

TEST_F(RecordingTest, FilesThatPlayNothing)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t error;
    };
    std::vector<std::uint8_t> reversed = Header();
    std::swap(reversed[4], reversed[7]);
    std::swap(reversed[5], reversed[6]);
    std::vector<std::uint8_t> firstWord = Header();
    firstWord[0] = 1;
    std::vector<std::uint8_t> shortHeader = Header();
    shortHeader.resize(8);
    const Case cases[] = {
        {"header only", Header(), 0},
        {"reversed magic", reversed, kErrorInvalidData},
        {"first word not 0", firstWord, kErrorInvalidData},
        {"short header", shortHeader, kErrorInvalidData},
        {"empty", {}, kErrorInvalidData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(c.bytes);
        engine->StartPlayback();
        engine->RunPass();
        EXPECT_TRUE(engine->IsLive());
        EXPECT_EQ(engine->LastPlaybackError(), c.error);
        EXPECT_EQ(engine->GetPublishCount(), 0u);
    }
    std::filesystem::remove(File());
    engine->StartPlayback();
    engine->RunPass();
    EXPECT_TRUE(engine->IsLive());
    EXPECT_EQ(engine->LastPlaybackError(), kErrorFileNotFound);
}

TEST_F(RecordingTest, APartialLastRecordEndsPlaybackAfterTheWholeOnes)
{
    std::vector<std::uint8_t> bytes = Header();
    Add(bytes, Record(1000, 10));
    Add(bytes, Record(1033, 20));
    const auto partial = EncodePoseRecord(Record(1066, 30));
    bytes.insert(bytes.end(), partial.begin(), partial.begin() + 30);
    WriteFile(bytes);
    engine->StartPlayback();
    engine->RunPass();
    engine->RunPass();
    EXPECT_FALSE(engine->IsLive());
    EXPECT_EQ(engine->PublishedRecord().value[2], 20.0f);
    EXPECT_EQ(engine->PublishedRecord().value[3], -20.0f);
    EXPECT_EQ(engine->RawAxes()[kPoseYaw], 10.0);
    EXPECT_EQ(engine->RawAxes()[kPoseZ], 7.0);
    engine->RunPass();
    EXPECT_TRUE(engine->IsLive());
    EXPECT_EQ(engine->LastPlaybackError(), 0u);
    EXPECT_EQ(engine->GetPublishCount(), 2u);
}

TEST_F(RecordingTest, BackwardsAndLongGapsDoNotStallTheWorker)
{
    std::vector<std::uint8_t> bytes = Header();
    Add(bytes, Record(5000, 1));
    Add(bytes, Record(1000, 2));      // earlier: no wait
    Add(bytes, Record(900000, 3));    // a quarter of an hour later: waits the bound
    Add(bytes, Record(900010, 4));
    WriteFile(bytes);
    engine->StartPlayback();
    std::vector<std::int64_t> waits;
    for (int i = 0; i < 4; ++i) {
        const std::int64_t before = NowMs();
        engine->RunPass();
        waits.push_back(NowMs() - before);
    }
    EXPECT_EQ(waits, (std::vector<std::int64_t>{0, 0, CCameraDataProcessor::kMaxPlaybackDelayMs, 10}));
}

TEST_F(RecordingTest, StartingPlaybackAgainRestartsTheFileAndStopPlaybackReturnsToLive)
{
    std::vector<std::uint8_t> bytes = Header();
    for (int i = 0; i < 5; ++i)
        Add(bytes, Record(1000 + 10 * static_cast<std::uint32_t>(i), static_cast<float>(i + 1)));
    WriteFile(bytes);
    engine->StartPlayback();
    engine->RunPass();
    engine->RunPass();
    EXPECT_EQ(engine->PublishedRecord().value[2], 2.0f);
    engine->StartPlayback();
    engine->RunPass();
    EXPECT_EQ(engine->PublishedRecord().value[2], 1.0f);
    engine->StopPlayback();
    EXPECT_TRUE(engine->IsLive());
    engine->RunPass(); // a live pass: no frame, nothing published
    EXPECT_EQ(engine->GetPublishCount(), 3u);
}

TEST_F(RecordingTest, ANewRecordingReplacesTheOldFileAndAFailedStartRecordsNothing)
{
    Pass(HeadPose{});
    ASSERT_EQ(engine->StartRecording(), 0u);
    for (int i = 0; i < 5; ++i)
        Pass(HeadPose{.yaw = 1.0 * i});
    engine->StopRecording();
    ASSERT_EQ(engine->StartRecording(), 0u);
    Pass(HeadPose{.yaw = 3});
    engine->StopRecording();
    EXPECT_EQ(std::filesystem::file_size(File()), kPoseFileHeaderSize + kPoseRecordSize);

    CCameraDataProcessor::Options o;
    o.clock = &clock;
    o.frameWaitMs = 0;
    o.poseFile = dir.file("missing-folder/vistrel.tdf");
    o.registry = registry.store();
    CCameraDataProcessor lost(host, camera, o);
    EXPECT_EQ(lost.StartRecording(), 0x80070000u | kErrorFileNotFound);
    EXPECT_FALSE(lost.IsRecording());
    EXPECT_EQ(host.CountMain(WM_UPDATE_STATUS), 4);
}

} // namespace
