// The camera soak: the main sheet runs the simulated camera as the program
// does while faults come one after the other: unplug and replug (also the
// moment a start ends), dropped replies, failed image and reply reads of
// every length from 1 to 20, bad packets, and stop and start. After each,
// tracking must resume by itself; now and then the sheet is shut down in
// the middle of a fault, and that must finish within its bound.
//
// It runs for ORVANE_SOAK_SECONDS (90 by default) and has its own label,
// "soak": ctest -L soak.
#include "../tests/sheet_fixture.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"

namespace {

using namespace std::chrono_literals;
using namespace sheet_test;
using Clock = std::chrono::steady_clock;

constexpr auto kRecoveryBound = 10s;
constexpr auto kShutdownBound = 3s;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    std::vector<double> ms;
    int failures = 0;
};

class CameraSoak : public StreamingSheetTest {
protected:
    // The packets a camera must survive: each of the encoder's faults.
    std::vector<std::vector<std::uint8_t>> BadPackets()
    {
        namespace im = simcam::imaging;
        const im::Image image = im::Render(std::vector<im::Disc>{{320.5, 240.5, 6, 255}}, 640, 480);
        std::vector<std::vector<std::uint8_t>> out;
        for (int k = 0; k < 5; ++k) {
            im::PacketParams p;
            p.revision = device->model().revision;
            p.frameId = static_cast<std::uint8_t>(200 + k);
            p.faults.badHeaderCheck = k == 0;
            p.faults.badFooterCheck = k == 1;
            p.faults.highHeaderBits = k == 2;
            p.faults.truncate = k == 3 ? 7 : 0;
            p.faults.pad = k == 4 ? 9 : 0;
            out.push_back(im::EncodePacket(image, p));
        }
        out.push_back({0x01, 0x02, 0x03});            // shorter than a header
        out.push_back({0x00, 0x00, 0x00, 0x00, 0xFF}); // a header and one stray byte
        return out;
    }

    void Replug(bool rightAfterStart)
    {
        hub.unplugGeneric(devicePath);
        Eventually([&] { return !sheet->CameraThread().DevicePresent(); });
        hub.replugGeneric(devicePath);
        if (rightAfterStart) {
            Eventually([&] { return sheet->CameraThread().CameraStarted(); });
            hub.unplugGeneric(devicePath);
            Eventually([&] { return !sheet->CameraThread().DevicePresent(); });
            hub.replugGeneric(devicePath);
        }
    }

    // Injects fault `kind` (its `n`-th use); returns its name.
    std::string Inject(int kind, int n)
    {
        const int length = n % 20 + 1;
        switch (kind) {
        case 0:
            Replug(false);
            return "unplug";
        case 1:
            Replug(true);
            return "unplug after a start";
        case 2:
            // Replies lost while the camera thread reads the status: one loss
            // is resent, two end in the watchdog's kill.
            device->dropReplies(n % 3 + 1);
            sheet->CameraThread().RequestRead(CCameraThread::kReadStatus);
            sheet->CameraThread().Wake();
            return "dropped replies";
        case 3:
            // Replies lost while the camera starts: the start may fail and is tried again.
            device->dropReplies(n % 3 + 1);
            sheet->CameraThread().Suspend();
            sheet->CameraThread().Resume();
            return "dropped replies at a start";
        case 4:
            device->failReads(length, simcam::Path::Image);
            return "failed image reads";
        case 5:
            device->failReads(length, simcam::Path::Reply);
            return "failed reply reads";
        case 6:
            for (const auto& packet : BadPackets())
                device->pushImagePacket(packet);
            return "bad packets";
        default:
            sheet->CameraThread().Suspend();
            sheet->CameraThread().Resume();
            return "stop and start";
        }
    }
};

TEST_F(CameraSoak, TrackingResumesAfterEveryFaultAndEveryShutdownEndsInTime)
{
    const char* env = std::getenv("ORVANE_SOAK_SECONDS");
    const auto budget = std::chrono::seconds(env != nullptr ? std::max(1, std::atoi(env)) : 90);
    constexpr int kKinds = 8;
    std::map<std::string, Figures> recovery;
    Figures shutdowns;
    const auto end = Clock::now() + budget;
    int round = 0;
    for (; Clock::now() < end; ++round) {
        const int kind = round % kKinds;
        const std::string name = Inject(kind, round / kKinds);
        if (round % 11 == 10) {
            // Shut down in the middle of the fault, then start afresh.
            const auto begin = Clock::now();
            sheet->OnDestroy();
            sheet.reset();
            const auto took = Clock::now() - begin;
            shutdowns.ms.push_back(Ms(took));
            if (took > kShutdownBound) {
                ++shutdowns.failures;
                ADD_FAILURE() << "shutdown during \"" << name << "\" took " << Ms(took) << " ms";
            }
            device->dropReplies(0);
            Restart();
            continue;
        }
        const auto begin = Clock::now();
        Figures& f = recovery[name];
        if (Tracking(std::chrono::duration_cast<std::chrono::milliseconds>(kRecoveryBound))) {
            f.ms.push_back(Ms(Clock::now() - begin));
        } else {
            ++f.failures;
            ADD_FAILURE() << "round " << round << ": tracking did not resume after \"" << name << "\" (camera thread: "
                          << (sheet->CameraThread().DevicePresent() ? "present" : "absent") << ", "
                          << (sheet->CameraThread().CameraStarted() ? "started" : "not started")
                          << (sheet->CameraThread().Configuring() ? ", configuring" : "") << "; device "
                          << (sheet->CameraSystem().IsUsbDeviceOpen() ? "open" : "closed") << ")";
            // Bring it back for the next round: a notice, as a replug would give.
            sheet->OnDeviceChange();
            Tracking();
        }
    }

    // The figures for the record.
    auto line = [](const std::string& what, Figures& f) {
        std::sort(f.ms.begin(), f.ms.end());
        const double median = f.ms.empty() ? 0.0 : f.ms[f.ms.size() / 2];
        const double max = f.ms.empty() ? 0.0 : f.ms.back();
        std::printf("  %-28s %4zu ok, %d failed; median %7.1f ms, max %7.1f ms\n", what.c_str(), f.ms.size(),
                    f.failures, median, max);
    };
    std::printf("camera soak: %d rounds in %lld s\n", round, static_cast<long long>(budget.count()));
    int failures = shutdowns.failures;
    for (auto& [what, f] : recovery) {
        line(what, f);
        failures += f.failures;
    }
    line("shutdown during a fault", shutdowns);
    EXPECT_EQ(failures, 0);
    EXPECT_GT(round, kKinds) << "every kind of fault came at least once";
}

} // namespace
