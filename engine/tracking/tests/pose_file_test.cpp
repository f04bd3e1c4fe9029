#include <gtest/gtest.h>

#include <cstring>
#include <limits>
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

void WriteFile(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

TEST(PoseRecord, LayoutAndOrder)
{
    const double output[6] = {1, 2, 3, 4, 5, 6}; // x, y, z, yaw, pitch, roll
    const double raw[6] = {-1, -2, -3, -4, -5, -6};
    const PoseRecord r = MakePoseRecord(0x01020304, output, raw);
    const auto b = EncodePoseRecord(r);
    ASSERT_EQ(b.size(), 52u);
    EXPECT_EQ(b[0], 0x04);
    EXPECT_EQ(b[3], 0x01);
    auto at = [&](int offset) {
        float f;
        std::memcpy(&f, b.data() + offset, 4);
        return f;
    };
    // yaw, raw yaw, pitch, raw pitch, roll, raw roll, x, raw x, y, raw y, z, raw z
    const float expected[12] = {4, -4, 5, -5, 6, -6, 1, -1, 2, -2, 3, -3};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(at(4 + 4 * i), expected[i]) << i;
    EXPECT_EQ(DecodePoseRecord(b), r);
    const auto h = PoseFileHeader();
    const std::uint8_t header[12] = {0, 0, 0, 0, 0xDE, 0xC0, 0xAD, 0x0B, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(h.data(), header, 12), 0);
}

TEST(PoseFile, RoundTripAndReplace)
{
    testing_support::TempDir dir;
    const auto file = dir.path() / kPoseFileName;
    WriteFile(file, {1, 2, 3}); // an old recording is replaced
    {
        CPoseFileWriter w;
        ASSERT_EQ(w.Create(file), 0u);
        PoseRecord r;
        for (std::uint32_t t : {1000u, 1033u, 1066u}) {
            r.tick = t;
            r.outputYaw = float(t) / 10;
            EXPECT_TRUE(w.Append(r));
        }
        EXPECT_EQ(ReadFile(file).size(), 3u); // not in place until finished
        EXPECT_EQ(w.Finish(), 0u);
    }
    const auto bytes = ReadFile(file);
    ASSERT_EQ(bytes.size(), 12u + 3 * 52u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "vistrel.tdf.part"));

    CPoseFileReader reader;
    ASSERT_EQ(reader.Open(file), 0u);
    PoseRecord r;
    std::uint32_t error = 0;
    std::uint32_t previous = 0;
    std::vector<std::uint32_t> delays;
    bool first = true;
    while (reader.Next(r, error) == CPoseFileReader::Read::Record) {
        if (first) previous = r.tick, first = false;
        delays.push_back(PlaybackDelay(previous, r.tick));
        previous = r.tick;
    }
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{0, 33, 33}));
    EXPECT_EQ(r.outputYaw, 106.6f);
}

TEST(PoseFile, ReaderRefusesBadFiles)
{
    testing_support::TempDir dir;
    CPoseFileReader reader;
    EXPECT_EQ(reader.Open(dir.path() / "missing.tdf"), kErrorFileNotFound);
    EXPECT_FALSE(reader.IsOpen());

    const auto reversed = dir.path() / "reversed.tdf";
    WriteFile(reversed, {0, 0, 0, 0, 0x0B, 0xAD, 0xC0, 0xDE, 0, 0, 0, 0});
    EXPECT_EQ(reader.Open(reversed), kErrorInvalidData);
    const auto nonzero = dir.path() / "nonzero.tdf";
    WriteFile(nonzero, {1, 0, 0, 0, 0xDE, 0xC0, 0xAD, 0x0B, 0, 0, 0, 0});
    EXPECT_EQ(reader.Open(nonzero), kErrorInvalidData);
    const auto shortHeader = dir.path() / "short.tdf";
    WriteFile(shortHeader, {0, 0, 0, 0, 0xDE});
    EXPECT_EQ(reader.Open(shortHeader), kErrorInvalidData);

    // Header only: plays nothing. A trailing partial record is the end.
    const auto headerOnly = dir.path() / "header.tdf";
    auto h = PoseFileHeader();
    std::vector<std::uint8_t> bytes(h.begin(), h.end());
    WriteFile(headerOnly, bytes);
    ASSERT_EQ(reader.Open(headerOnly), 0u);
    PoseRecord r;
    std::uint32_t error = 1;
    EXPECT_EQ(reader.Next(r, error), CPoseFileReader::Read::End);
    EXPECT_EQ(error, 0u);
    bytes.resize(bytes.size() + 52 + 20, 0);
    WriteFile(headerOnly, bytes);
    ASSERT_EQ(reader.Open(headerOnly), 0u);
    EXPECT_EQ(reader.Next(r, error), CPoseFileReader::Read::Record);
    EXPECT_EQ(reader.Next(r, error), CPoseFileReader::Read::End);
}

// Records with a NaN or an infinity in any of the twelve values are passed
// over on playback; the good ones around them play in order.
TEST(PoseFile, PlaybackPassesOverRecordsThatAreNotNumbers)
{
    testing_support::TempDir dir;
    const auto file = dir.path() / "damaged.tdf";
    auto h = PoseFileHeader();
    std::vector<std::uint8_t> bytes(h.begin(), h.end());
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    std::uint32_t tick = 100;
    const auto append = [&](const PoseRecord& r) {
        const auto e = EncodePoseRecord(r);
        bytes.insert(bytes.end(), e.begin(), e.end());
    };
    append(PoseRecord{.tick = tick++});
    for (int field = 0; field < 12; ++field) {
        PoseRecord r{.tick = 9999};
        auto encoded = EncodePoseRecord(r);
        const float v = bad[field % 3];
        std::memcpy(encoded.data() + 4 + 4 * field, &v, 4);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
        append(PoseRecord{.tick = tick++, .outputYaw = float(field), .rawZ = 1e30f});
    }
    WriteFile(file, bytes);

    CPoseFileReader reader;
    ASSERT_EQ(reader.Open(file), 0u);
    PoseRecord r;
    std::uint32_t error = 0;
    std::vector<std::uint32_t> ticks;
    while (reader.Next(r, error) == CPoseFileReader::Read::Record) {
        ASSERT_TRUE(IsPlayable(r));
        ticks.push_back(r.tick);
    }
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(ticks.size(), 13u);
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_EQ(ticks[i], 100 + i);
    EXPECT_EQ(reader.Skipped(), 12u);
}

TEST(PoseFile, WriterErrorsAndCodes)
{
    testing_support::TempDir dir;
    CPoseFileWriter w;
    const std::uint32_t e = w.Create(dir.path() / "no" / "such" / "vistrel.tdf");
    EXPECT_EQ(e, kErrorFileNotFound);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(w.Append(PoseRecord{}));
    EXPECT_EQ(HResultFromWin32(e), 0x80070002u);
    EXPECT_EQ(HResultFromWin32(0), 0u);
}

TEST(PlaybackDelay, BoundedAndNeverBackwards)
{
    EXPECT_EQ(PlaybackDelay(1000, 1033), 33u);
    EXPECT_EQ(PlaybackDelay(1000, 1000), 0u);
    EXPECT_EQ(PlaybackDelay(1033, 1000), 0u);           // edited file
    EXPECT_EQ(PlaybackDelay(0xFFFFFFF0u, 0x10u), 32u);   // tick wrap
    EXPECT_EQ(PlaybackDelay(0, 600000), 1000u);          // a long pause is cut short
    EXPECT_EQ(PlaybackDelay(0, 600000, 50), 50u);
}
