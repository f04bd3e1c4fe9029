#include "platform/life_watch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace platform::life {

namespace {

// A connection of its own to the display, on which the window's
// destruction arrives as an event; a thread waits for it (or for the
// connection to break) and clears the flag that alive() reads.
class X11WindowWatch final : public Watch {
public:
    // `stop` is an eventfd, written to end the thread.
    X11WindowWatch(xcb_connection_t* connection, std::uint32_t window, int stop)
        : connection_(connection), window_(window), stop_(stop)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~X11WindowWatch() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
        thread_.join();
        ::close(stop_);
        xcb_disconnect(connection_);
    }
    X11WindowWatch(const X11WindowWatch&) = delete;
    X11WindowWatch& operator=(const X11WindowWatch&) = delete;

    bool alive() const override { return alive_.load(std::memory_order_relaxed); }

private:
    void run()
    {
        pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {stop_, POLLIN, 0}};
        while (alive_.load(std::memory_order_relaxed)) {
            // Events that arrived with the set-up's replies are queued already.
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY &&
                    reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window_)
                    alive_.store(false, std::memory_order_relaxed);
                std::free(event);
            }
            if (xcb_connection_has_error(connection_) != 0)
                alive_.store(false, std::memory_order_relaxed); // the display went away, and the window with it
            if (!alive_.load(std::memory_order_relaxed))
                break;
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                break;
            if (fds[1].revents != 0)
                break;
        }
    }

    xcb_connection_t* connection_;
    std::uint32_t window_;
    int stop_;
    std::atomic<bool> alive_{true};
    std::thread thread_;
};

class ProcessWatch final : public Watch {
public:
    ProcessWatch(int pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    ~ProcessWatch() override
    {
        if (pidfd_ >= 0)
            ::close(pidfd_);
    }
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    bool alive() const override
    {
        if (!alive_.load(std::memory_order_relaxed))
            return false;
        bool running;
        if (pidfd_ >= 0) {
            // Readable once the process has ended (reaped or not).
            pollfd p{pidfd_, POLLIN, 0};
            running = ::poll(&p, 1, 0) == 0;
        } else {
            running = ::kill(pid_, 0) == 0 || errno == EPERM;
        }
        if (!running)
            alive_.store(false, std::memory_order_relaxed);
        return running;
    }

private:
    int pid_;
    int pidfd_; // -1 where the kernel has no pidfd
    mutable std::atomic<bool> alive_{true};
};

bool isRootWindow(xcb_connection_t* c, std::uint32_t id)
{
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it))
        if (it.data->root == id)
            return true;
    return false;
}

} // namespace

std::unique_ptr<Watch> watchX11Window(std::uint32_t id)
{
    if (id == 0)
        return nullptr;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return nullptr;
    xcb_connection_t* c = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    if (isRootWindow(c, id)) {
        xcb_disconnect(c);
        return nullptr;
    }
    // Ask for its destruction first, then whether it exists: a window that
    // exists after the request cannot go without the event.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_change_window_attributes_checked(c, id, XCB_CW_EVENT_MASK, &mask));
    if (error != nullptr) {
        std::free(error);
        xcb_disconnect(c);
        return nullptr;
    }
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), &error);
    std::free(error);
    if (reply == nullptr) {
        xcb_disconnect(c);
        return nullptr;
    }
    std::free(reply);
    // Without the eventfd the watch's thread could never be told to end.
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop < 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    return std::make_unique<X11WindowWatch>(c, id, stop);
}

std::unique_ptr<Watch> watchProcess(int pid)
{
    if (pid <= 0)
        return nullptr;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        if (errno != ENOSYS)
            return nullptr; // no such process
        if (::kill(pid, 0) != 0 && errno != EPERM)
            return nullptr;
    }
    return std::make_unique<ProcessWatch>(pid, fd);
}

} // namespace platform::life
