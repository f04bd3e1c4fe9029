// Sleep notices read from a bus of the test's own, where the test plays
// logind.
#include <gtest/gtest.h>

#include <dbus/dbus.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/power_notices.h"
#include "testing/end_child.h"
#include "testing/temp_dir.h"

using platform::power::Notice;

namespace {

// A private message bus daemon for the test's lifetime.
class TestBus {
public:
    explicit TestBus(const std::filesystem::path& dir)
    {
        const auto config = dir / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                 "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:dir="
                              << dir.string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/><allow user=\"*\"/>"
                                 "</policy></busconfig>\n";
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            // The daemon's complaints (it cannot raise its file limit here) are not the test's.
            if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) ::dup2(null, 2);
            const std::string configArg = "--config-file=" + config.string();
            const std::string printArg = "--print-address=" + std::to_string(fds[1]);
            ::execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), printArg.c_str(), "--nofork", "--nopidfile",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char buffer[512];
        std::string line;
        ssize_t n = 0;
        while (line.find('\n') == std::string::npos && (n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            line.append(buffer, std::size_t(n));
        ::close(fds[0]);
        if (auto end = line.find('\n'); end != std::string::npos) address_ = line.substr(0, end);
    }
    ~TestBus()
    {
        testing_support::EndChild(pid_);
    }
    const std::string& Address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

// A connection to the test bus that can pose as logind and send its signal.
class Sender {
public:
    Sender(const std::string& address, const char* name)
    {
        connection_ = dbus_connection_open_private(address.c_str(), nullptr);
        if (connection_ == nullptr || !dbus_bus_register(connection_, nullptr)) return;
        if (name != nullptr)
            dbus_bus_request_name(connection_, name, DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr);
    }
    ~Sender()
    {
        if (connection_ != nullptr) {
            dbus_connection_close(connection_);
            dbus_connection_unref(connection_);
        }
    }
    bool PrepareForSleep(bool sleeping)
    {
        DBusMessage* m = dbus_message_new_signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                 "PrepareForSleep");
        dbus_bool_t value = sleeping ? TRUE : FALSE;
        dbus_message_append_args(m, DBUS_TYPE_BOOLEAN, &value, DBUS_TYPE_INVALID);
        const bool sent = dbus_connection_send(connection_, m, nullptr);
        dbus_connection_flush(connection_);
        dbus_message_unref(m);
        return sent;
    }
    bool Ok() const { return connection_ != nullptr; }

private:
    DBusConnection* connection_ = nullptr;
};

class Notices {
public:
    void Add(Notice n)
    {
        std::lock_guard lock(mutex_);
        seen_.push_back(n);
        changed_.notify_all();
    }
    // Waits (bounded) until `count` notices came, or one after them is the
    // `last` one.
    std::vector<Notice> WaitFor(std::size_t count, std::optional<Notice> last = std::nullopt)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            return seen_.size() >= count && (!last || seen_.back() == *last);
        });
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> seen_;
};

class PowerNoticesTest : public ::testing::Test {
protected:
    testing_support::TempDir dir{"power"};
    TestBus bus{dir.path()};
    Notices notices;

    std::unique_ptr<platform::power::PowerWatch> Watch()
    {
        platform::power::WatchOptions o;
        o.busAddress = bus.Address();
        o.pollMs = 20;
        return platform::power::WatchSleep([this](Notice n) { notices.Add(n); }, o);
    }
};

} // namespace

TEST_F(PowerNoticesTest, SleepAndWakeFromLogindAreTold)
{
    ASSERT_FALSE(bus.Address().empty());
    auto watch = Watch();
    ASSERT_NE(watch, nullptr);
    Sender logind(bus.Address(), "org.freedesktop.login1");
    ASSERT_TRUE(logind.Ok());
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    EXPECT_EQ(notices.WaitFor(2), (std::vector<Notice>{Notice::Suspend, Notice::Resume}));
}

TEST_F(PowerNoticesTest, OthersPosingAsLogindAreNotHeard)
{
    ASSERT_FALSE(bus.Address().empty());
    auto watch = Watch();
    ASSERT_NE(watch, nullptr);
    Sender stranger(bus.Address(), nullptr);
    Sender logind(bus.Address(), "org.freedesktop.login1");
    ASSERT_TRUE(stranger.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    ASSERT_TRUE(stranger.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(true));
    // Only logind's two arrive, in their order.
    EXPECT_EQ(notices.WaitFor(2, Notice::Suspend), (std::vector<Notice>{Notice::Resume, Notice::Suspend}));
}

TEST(PowerNotices, NoBusNoWatch)
{
    platform::power::WatchOptions o;
    o.busAddress = "unix:path=/nonexistent/bus";
    EXPECT_EQ(platform::power::WatchSleep([](Notice) {}, o), nullptr);
}
