#include "engine/pose_file.h"

#include "platform/file_replace.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void PutU32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

std::uint32_t GetU32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, int& error)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// Reads up to `size` bytes; the count read, or -1 with errno.
ssize_t ReadUpTo(int fd, std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    return ssize_t(done);
}

std::filesystem::path KeepRecording(const std::filesystem::path& temporary, const std::filesystem::path& target)
{
    // "<stem>-recording-<n><extension>" beside the target, the first n not
    // taken (a hard link never replaces a file); the temporary name when no
    // such name can be made.
    const std::filesystem::path folder = target.parent_path();
    const std::string stem = target.stem().string(), extension = target.extension().string();
    for (int n = 1; n <= 1000; ++n) {
        const std::filesystem::path kept = folder / (stem + "-recording-" + std::to_string(n) + extension);
        if (::link(temporary.c_str(), kept.c_str()) == 0) {
            ::unlink(temporary.c_str());
            return kept;
        }
        if (errno != EEXIST) break;
    }
    return temporary;
}

} // namespace

PoseRecord MakePoseRecord(std::uint32_t tick, std::span<const double, 6> o, std::span<const double, 6> r)
{
    PoseRecord p;
    p.tick = tick;
    p.outputYaw = float(o[3]);
    p.rawYaw = float(r[3]);
    p.outputPitch = float(o[4]);
    p.rawPitch = float(r[4]);
    p.outputRoll = float(o[5]);
    p.rawRoll = float(r[5]);
    p.outputX = float(o[0]);
    p.rawX = float(r[0]);
    p.outputY = float(o[1]);
    p.rawY = float(r[1]);
    p.outputZ = float(o[2]);
    p.rawZ = float(r[2]);
    return p;
}

std::array<std::uint8_t, kPoseRecordSize> EncodePoseRecord(const PoseRecord& r)
{
    std::array<std::uint8_t, kPoseRecordSize> b{};
    PutU32(b.data(), r.tick);
    const float values[12] = {r.outputYaw, r.rawYaw, r.outputPitch, r.rawPitch, r.outputRoll, r.rawRoll,
                              r.outputX,   r.rawX,   r.outputY,     r.rawY,     r.outputZ,    r.rawZ};
    for (int i = 0; i < 12; ++i) PutU32(b.data() + 4 + 4 * i, std::bit_cast<std::uint32_t>(values[i]));
    return b;
}

PoseRecord DecodePoseRecord(std::span<const std::uint8_t, kPoseRecordSize> b)
{
    auto f = [&](int i) { return std::bit_cast<float>(GetU32(b.data() + 4 + 4 * i)); };
    PoseRecord r;
    r.tick = GetU32(b.data());
    r.outputYaw = f(0);
    r.rawYaw = f(1);
    r.outputPitch = f(2);
    r.rawPitch = f(3);
    r.outputRoll = f(4);
    r.rawRoll = f(5);
    r.outputX = f(6);
    r.rawX = f(7);
    r.outputY = f(8);
    r.rawY = f(9);
    r.outputZ = f(10);
    r.rawZ = f(11);
    return r;
}

std::array<std::uint8_t, kPoseFileHeaderSize> PoseFileHeader()
{
    std::array<std::uint8_t, kPoseFileHeaderSize> h{};
    PutU32(h.data() + 4, kPoseFileMagic);
    return h;
}

std::uint32_t Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    default: return kErrorWriteFault;
    }
}

std::uint32_t HResultFromWin32(std::uint32_t error)
{
    return std::int32_t(error) <= 0 ? error : (0x80070000u | (error & 0xFFFFu));
}

std::uint32_t PlaybackDelay(std::uint32_t previousTick, std::uint32_t tick, std::uint32_t limit)
{
    if (std::int32_t(tick - previousTick) < 0) return 0;
    const std::uint32_t d = tick - previousTick;
    return d < limit ? d : limit;
}

CPoseFileWriter::CPoseFileWriter(FileSync sync) : sync_(sync != nullptr ? sync : ::fsync) {}

CPoseFileWriter::~CPoseFileWriter()
{
    Finish();
}

std::uint32_t CPoseFileWriter::Create(const std::filesystem::path& target)
{
    Finish();
    target_ = target;
    // A name of its own: a second writer of the same target never shares it.
    std::string name = target.string() + ".XXXXXX.part";
    fd_ = ::mkostemps(name.data(), 5, O_CLOEXEC);
    if (fd_ < 0) return Win32ErrorFromErrno(errno);
    temporary_ = name;
    const auto header = PoseFileHeader();
    int error = 0;
    if (!WriteAll(fd_, header.data(), header.size(), error)) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temporary_.c_str());
        return Win32ErrorFromErrno(error);
    }
    return 0;
}

bool CPoseFileWriter::Append(const PoseRecord& record)
{
    if (fd_ < 0) return false;
    const auto bytes = EncodePoseRecord(record);
    int error = 0;
    return WriteAll(fd_, bytes.data(), bytes.size(), error);
}

std::uint32_t CPoseFileWriter::Finish()
{
    if (fd_ < 0) return 0;
    keptAs_.clear();
    std::uint32_t result = 0;
    if (sync_(fd_) != 0) result = Win32ErrorFromErrno(errno);
    if (::close(fd_) != 0 && result == 0) result = Win32ErrorFromErrno(errno);
    fd_ = -1;
    if (result == 0 && ::rename(temporary_.c_str(), target_.c_str()) != 0) result = Win32ErrorFromErrno(errno);
    if (result != 0) keptAs_ = KeepRecording(temporary_, target_);
    return result;
}

bool CPoseFileWriter::IsTemporaryName(std::string_view name, std::string_view targetName)
{
    // "<target name>.XXXXXX.part", six letters or digits (mkostemps).
    constexpr std::string_view suffix = ".part";
    constexpr std::size_t unique = 6;
    if (name.size() != targetName.size() + 1 + unique + suffix.size() || !name.starts_with(targetName) ||
        !name.ends_with(suffix) || name[targetName.size()] != '.')
        return false;
    return platform::files::IsUniqueSuffix(name.substr(targetName.size() + 1, unique));
}

std::vector<std::filesystem::path> CPoseFileWriter::RecoverLeftovers(const std::filesystem::path& target)
{
    std::vector<std::filesystem::path> kept;
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string targetName = target.filename().string();
    std::vector<std::filesystem::path> leftovers;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (IsTemporaryName(it->path().filename().string(), targetName)) leftovers.push_back(it->path());
    for (const auto& file : leftovers) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        // Only this user's own files are looked at.
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        std::array<std::uint8_t, kPoseFileHeaderSize> h{};
        const ssize_t n = ReadUpTo(fd, h.data(), h.size());
        const bool header = n == ssize_t(h.size()) && GetU32(h.data()) == 0 && GetU32(h.data() + 4) == kPoseFileMagic;
        const auto records = st.st_size > off_t(kPoseFileHeaderSize)
                                 ? (std::uint64_t(st.st_size) - kPoseFileHeaderSize) / kPoseRecordSize
                                 : 0;
        if (!header || records == 0) {
            // Cut before its first pose (or not a pose file at all): nothing
            // of the user's is in it.
            ::close(fd);
            ::unlink(file.c_str());
            continue;
        }
        // Whole records only, on disk before the file gets its name.
        const bool whole = ::ftruncate(fd, off_t(kPoseFileHeaderSize + records * kPoseRecordSize)) == 0 &&
                           ::fsync(fd) == 0;
        ::close(fd);
        if (!whole) continue;
        if (st.st_nlink > 1) {
            // An earlier start kept it already and was cut short before it
            // removed the temporary name.
            ::unlink(file.c_str());
            continue;
        }
        const std::filesystem::path name = KeepRecording(file, target);
        if (name != file) kept.push_back(name);
    }
    return kept;
}

CPoseFileReader::~CPoseFileReader()
{
    Close();
}

std::uint32_t CPoseFileReader::Open(const std::filesystem::path& file)
{
    Close();
    skipped_ = 0;
    fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return Win32ErrorFromErrno(errno);
    std::array<std::uint8_t, kPoseFileHeaderSize> h{};
    const ssize_t n = ReadUpTo(fd_, h.data(), h.size());
    std::uint32_t result = 0;
    if (n < 0)
        result = errno == EISDIR ? kErrorAccessDenied : kErrorReadFault;
    else if (std::size_t(n) < h.size() || GetU32(h.data()) != 0 || GetU32(h.data() + 4) != kPoseFileMagic)
        result = kErrorInvalidData;
    if (result != 0) Close();
    return result;
}

CPoseFileReader::Read CPoseFileReader::Next(PoseRecord& record, std::uint32_t& error)
{
    error = 0;
    if (fd_ < 0) {
        error = kErrorReadFault;
        return Read::Error;
    }
    for (;;) {
        std::array<std::uint8_t, kPoseRecordSize> b{};
        const ssize_t n = ReadUpTo(fd_, b.data(), b.size());
        if (n < 0) {
            error = kErrorReadFault;
            return Read::Error;
        }
        if (std::size_t(n) < b.size()) return Read::End;
        record = DecodePoseRecord(b);
        // A record holding a NaN or an infinity is damaged: handed to a game
        // it would throw the view anywhere. It is skipped, the next one played.
        if (IsPlayable(record)) return Read::Record;
        ++skipped_;
    }
}

bool IsPlayable(const PoseRecord& r)
{
    for (float v : {r.outputYaw, r.rawYaw, r.outputPitch, r.rawPitch, r.outputRoll, r.rawRoll, r.outputX, r.rawX,
                    r.outputY, r.rawY, r.outputZ, r.rawZ})
        if (!std::isfinite(v)) return false;
    return true;
}

void CPoseFileReader::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
