#include "simcam/control.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simcam/hub.h"

namespace simcam {

namespace {

bool Count(std::string_view text, int& n)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size() && n >= 0;
}

void Close(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

bool ApplyControlLine(Hub& hub, const std::string& path, std::string_view line, std::string& error)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    const std::size_t space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    const auto device = hub.generic(path);
    if (!device) {
        error = "no camera at " + path;
        return false;
    }
    if (word == "unplug" && rest.empty()) {
        hub.unplugGeneric(path);
        return true;
    }
    if (word == "replug" && rest.empty()) {
        hub.replugGeneric(path);
        return true;
    }
    int n = 0;
    if (word == "drop-replies" && Count(rest, n)) {
        device->dropReplies(n);
        return true;
    }
    if (word == "fail-reads" && Count(rest, n)) {
        device->failReads(n, Path::Reply);
        return true;
    }
    if (word == "fail-image-reads" && Count(rest, n)) {
        device->failReads(n, Path::Image);
        return true;
    }
    error = "not a command: \"" + std::string(line) + "\"";
    return false;
}

ControlFifo::ControlFifo(Hub& hub, std::string path, const std::filesystem::path& fifo)
    : hub_(hub), path_(std::move(path))
{
    fd_ = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error_ = fifo.string() + ": " + std::strerror(errno);
    } else if (!S_ISFIFO(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        // Anyone else who could write to it could pull the camera out.
        error_ = fifo.string() + ": not a FIFO of this user's alone";
    } else if ((keep_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)) < 0 ||
               (stop_ = ::eventfd(0, EFD_CLOEXEC)) < 0) {
        error_ = fifo.string() + ": " + std::strerror(errno);
    }
    if (!error_.empty()) {
        Close(fd_);
        Close(keep_);
        Close(stop_);
        return;
    }
    thread_ = std::thread([this] { run(); });
}

ControlFifo::~ControlFifo()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
        thread_.join();
    }
    Close(fd_);
    Close(keep_);
    Close(stop_);
}

void ControlFifo::run()
{
    constexpr std::size_t kLongest = 256;
    std::string pending;
    bool skipping = false; // inside a line too long to be a command
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        char buffer[512];
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c != '\n') {
                if (pending.size() < kLongest)
                    pending.push_back(c);
                else
                    skipping = true;
                continue;
            }
            std::string error;
            if (skipping)
                std::fprintf(stderr, "Simulated camera: a control line longer than %zu bytes is skipped.\n", kLongest);
            else if (!pending.empty() && !ApplyControlLine(hub_, path_, pending, error))
                std::fprintf(stderr, "Simulated camera: %s.\n", error.c_str());
            pending.clear();
            skipping = false;
        }
    }
}

} // namespace simcam
