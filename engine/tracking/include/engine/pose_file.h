#pragma once
// The pose file "vistrel.tdf": a 12-byte header (0, magic 0x0BADC0DE, 0) and
// 52-byte records, little-endian, no padding.
#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

inline constexpr std::uint32_t kPoseFileMagic = 0x0BADC0DEu;
inline constexpr std::size_t kPoseFileHeaderSize = 12;
inline constexpr std::size_t kPoseRecordSize = 52;
inline constexpr char kPoseFileName[] = "vistrel.tdf";

// Win32 error numbers the pose file reports.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorReadFault = 30;
inline constexpr std::uint32_t kErrorDiskFull = 112;

struct PoseRecord {
    std::uint32_t tick = 0; // ms
    float outputYaw = 0, rawYaw = 0, outputPitch = 0, rawPitch = 0, outputRoll = 0, rawRoll = 0;
    float outputX = 0, rawX = 0, outputY = 0, rawY = 0, outputZ = 0, rawZ = 0;

    bool operator==(const PoseRecord&) const = default;
};

// The record of the engine's arrays, each in the order x, y, z, yaw, pitch, roll.
PoseRecord MakePoseRecord(std::uint32_t tick, std::span<const double, 6> output, std::span<const double, 6> raw);

std::array<std::uint8_t, kPoseRecordSize> EncodePoseRecord(const PoseRecord& record);
PoseRecord DecodePoseRecord(std::span<const std::uint8_t, kPoseRecordSize> bytes);
std::array<std::uint8_t, kPoseFileHeaderSize> PoseFileHeader();

// A Win32 error number for an errno value.
std::uint32_t Win32ErrorFromErrno(int error);
// A Win32 error as an HRESULT: positive codes become 0x80070000 | (code & 0xFFFF).
std::uint32_t HResultFromWin32(std::uint32_t error);

// How long playback waits before a record: the difference of the ticks, 0 when
// the record is older than the previous one (a wrapped or edited file), and
// never more than `limit` ms.
std::uint32_t PlaybackDelay(std::uint32_t previousTick, std::uint32_t tick, std::uint32_t limit = 1000);

// Writes a recording to a temporary file of its own beside the target;
// Finish (or the destructor) flushes it and renames it over the target. When
// that fails the recording is not lost: it is kept beside the target under a
// name of its own (KeptAs), "vistrel-recording-1.tdf" for "vistrel.tdf", or
// as the temporary file when even that cannot be done.
class CPoseFileWriter {
public:
    // Flushes a file to disk as fsync does: 0, or -1 with errno set.
    using FileSync = int (*)(int fd);

    // `sync` flushes the finished file (null: fsync).
    explicit CPoseFileWriter(FileSync sync = nullptr);
    ~CPoseFileWriter();
    CPoseFileWriter(const CPoseFileWriter&) = delete;
    CPoseFileWriter& operator=(const CPoseFileWriter&) = delete;

    // 0, or the Win32 error of creating the file or writing its header
    // (nothing is open afterwards).
    std::uint32_t Create(const std::filesystem::path& target);
    // A failed write is reported but changes nothing else.
    bool Append(const PoseRecord& record);
    // 0, or the Win32 error of flushing or renaming; the data then lies in KeptAs().
    std::uint32_t Finish();
    bool IsOpen() const { return fd_ >= 0; }
    // Where the last Finish that failed left the recording (empty after one that did not).
    const std::filesystem::path& KeptAs() const { return keptAs_; }

    // What recordings cut short (a kill, a crash, a power cut) left beside
    // `target`: their temporary files "<target name>.XXXXXX.part" of this
    // user. One that holds recorded poses is the user's recording: it is
    // kept as a failed Finish keeps it ("<stem>-recording-N<extension>"),
    // without the partial record a cut may leave at its end. One that holds
    // no pose is removed. Nothing else is touched. Only while no recording
    // of `target` runs (at start). Returns the names the recordings got.
    static std::vector<std::filesystem::path> RecoverLeftovers(const std::filesystem::path& target);
    // Whether `name` is a temporary name that Create makes for `targetName`.
    static bool IsTemporaryName(std::string_view name, std::string_view targetName);

private:
    FileSync sync_;
    int fd_ = -1;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::filesystem::path keptAs_;
};

// False when any value of the record is a NaN or an infinity.
bool IsPlayable(const PoseRecord& record);

class CPoseFileReader {
public:
    enum class Read { Record, End, Error };

    CPoseFileReader() = default;
    ~CPoseFileReader();
    CPoseFileReader(const CPoseFileReader&) = delete;
    CPoseFileReader& operator=(const CPoseFileReader&) = delete;

    // 0; the Win32 error of opening or reading; 13 for a wrong header.
    // Nothing is open after a failure.
    std::uint32_t Open(const std::filesystem::path& file);
    // The next playable record (IsPlayable); End at the end of the file (a
    // trailing partial record counts as the end); Error with `error` set
    // when the read fails. Records that are not playable are passed over.
    Read Next(PoseRecord& record, std::uint32_t& error);
    // Records passed over since Open.
    std::uint32_t Skipped() const { return skipped_; }
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::uint32_t skipped_ = 0;
};
