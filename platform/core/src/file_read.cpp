#include "platform/file_read.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

bool ReadFileLimited(const std::filesystem::path& file, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                     std::string& error)
{
    bytes.clear();
    // Non-blocking, so that a FIFO in the file's place never waits for a
    // writer; it is refused below like any file that is not regular.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    const auto fail = [&](std::string why) {
        ::close(fd);
        bytes.clear();
        error = std::move(why);
        return false;
    };
    // The size is taken from the file that was opened, so what is measured
    // is what is read.
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail("cannot read " + file.string() + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("cannot read " + file.string() + ": not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return fail(file.string() + " is too large: " + std::to_string(st.st_size) + " bytes, at most " +
                    std::to_string(maxBytes) + " expected");
    // One byte more than the size says, to see a file that grew meanwhile.
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot read " + file.string() + ": " + std::strerror(errno));
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done > maxBytes)
        return fail(file.string() + " is too large: it grew past " + std::to_string(maxBytes) + " bytes");
    ::close(fd);
    bytes.resize(done);
    return true;
}

} // namespace platform::files
