#pragma once
// For fuzz targets whose parser reads a file by name: the input is written
// to a file that lives in memory only, reachable by a path.
#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace testing_support {

class FuzzFile {
public:
    FuzzFile() : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
    ~FuzzFile() { ::close(fd_); }
    FuzzFile(const FuzzFile&) = delete;
    FuzzFile& operator=(const FuzzFile&) = delete;

    // Replaces the file's contents; its path stays the same.
    void Write(const std::uint8_t* data, std::size_t size)
    {
        if (::ftruncate(fd_, 0) != 0)
            return;
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

} // namespace testing_support
