// Faults asked for through the control FIFO reach the camera; a FIFO that
// others could write to, or a file that is not one, is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simcam/hub.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;

template <typename F>
bool Eventually(F condition)
{
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void Send(const std::filesystem::path& fifo, const std::string& text)
{
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

TEST(SimcamControl, LinesFromTheFifoPullTheCameraOutAndPutItBack)
{
    testing_support::TempDir dir;
    const auto fifo = dir.file("control");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    simcam::Hub hub;
    const std::string path = hub.addGeneric();
    auto device = hub.generic(path);
    std::string error;
    ASSERT_TRUE(hub.listenForControl(path, fifo, error)) << error;

    // Split over writes, with a bad line and an overlong one between.
    Send(fifo, "unp");
    Send(fifo, "lug\n");
    ASSERT_TRUE(Eventually([&] { return !device->plugged(); }));
    Send(fifo, "jump 3\n" + std::string(1000, 'x') + "\nreplug\n");
    ASSERT_TRUE(Eventually([&] { return device->plugged(); }));
    // Still listening after the writers have gone.
    Send(fifo, "unplug\n");
    EXPECT_TRUE(Eventually([&] { return !device->plugged(); }));
}

TEST(SimcamControl, ALineIsACommandWithItsCountOrNothing)
{
    simcam::Hub hub;
    const std::string path = hub.addGeneric();
    const struct {
        const char* line;
        bool good;
    } cases[] = {
        {"unplug", true},           {"replug\r", true},          {"drop-replies 3", true},
        {"fail-reads 20", true},    {"fail-image-reads 5", true}, {"fail-reads", false},
        {"fail-reads -1", false},   {"fail-reads 2x", false},     {"unplug now", false},
        {"", false},                {"UNPLUG", false},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(simcam::ApplyControlLine(hub, path, c.line, error), c.good) << c.line;
        EXPECT_EQ(error.empty(), c.good) << c.line;
    }
    std::string error;
    EXPECT_FALSE(simcam::ApplyControlLine(hub, "/dev/none", "unplug", error));
}

TEST(SimcamControl, OnlyAFifoOfTheUsersAloneIsUsed)
{
    testing_support::TempDir dir;
    simcam::Hub hub;
    const std::string path = hub.addGeneric();
    std::string error;

    const auto open = dir.file("open");
    ASSERT_EQ(::mkfifo(open.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0622), 0);
    EXPECT_FALSE(hub.listenForControl(path, open, error));
    EXPECT_NE(error.find("alone"), std::string::npos) << error;

    const auto plain = dir.file("plain");
    std::ofstream(plain) << "unplug\n";
    ::chmod(plain.c_str(), 0600);
    EXPECT_FALSE(hub.listenForControl(path, plain, error));
    EXPECT_FALSE(hub.listenForControl(path, dir.file("missing"), error));
    EXPECT_TRUE(hub.generic(path)->plugged());
}

} // namespace
