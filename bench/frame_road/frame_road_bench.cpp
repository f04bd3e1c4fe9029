// The whole frame road as the program runs it, in one process: a packet
// made ready on the simulated camera's image pipe (generic driver, camera
// number 1024) goes through the pipe reader, the packet processor thread and
// the engine's worker into the client library's shared section, where a
// client reads it. Frames come at the camera's pace (100 a second), so every
// thread on the road sleeps between frames as it does in use.
//
// Reported per frame: the latency from "packet ready" to "pose readable by a
// client" (p50, p99), the part of it until the packet is in the camera
// library (the simulated device and its driver thread), and the CPU time and
// wake-ups of the program's own threads (all but the benchmark's reading
// thread and the simulated camera's), from /proc/self/task/*/schedstat and
// status. Each figure is printed beside the same road with the threads
// handing over as before (ORVANE_FRAME_CPU=free), as a ratio old / new.
// Where real-time scheduling is permitted the simulated camera runs above
// the road and the reader just above ordinary threads, so that the machine's
// other load neither delays the packet nor its being seen. Two profiles: as
// shipped (smoothing on) and without smoothing (the road and the rest of
// the engine alone).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <unistd.h>

#include "../../engine/processor/tests/engine_fixture.h"
#include "../common/threads.h"
#include "camera/camera_manager.h"
#include "camera/camera_system_facade.h"
#include "camera/device_camera.h"
#include "client/ovclient.h"
#include "engine/CameraDataProcessor.h"
#include "platform/messages.h"
#include "platform/modules.h"
#include "simcam/hub.h"
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"
#include "simcam/scene/scene.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace {

using namespace std::chrono_literals;

constexpr int kRevision = 8;
constexpr int kLocation = 1;
constexpr auto kFramePeriod = 10ms;

// The main sheet's part: the profile as shipped, smoothing on or off.
void SetProfile(engine_test::FakeHost& host, bool smoothing)
{
    CProfile p;
    for (auto& a : p.Axes) {
        a.Enabled = 1;
        a.SetCurveType(kCurveSmooth);
    }
    p.MotionType = 1;
    p.SixDofSmoothing = smoothing ? 1 : 0;
    p.TrueView = smoothing ? 1 : 0;
    CopyEngineProfile(p, host.profile);
}

// Every thread of this process but `skip`.
std::map<int, bench::ThreadUse> ThreadsNow(int skip)
{
    auto all = bench::ThreadsOf();
    all.erase(skip);
    return all;
}

// Moves the calling thread off the processors the tracking engine's thread
// is kept on, when it is kept to fewer than all.
void KeepOffTheRoad(int self)
{
    cpu_set_t all, road;
    if (::sched_getaffinity(0, sizeof all, &all) != 0)
        return;
    for (const auto& [tid, use] : ThreadsNow(self)) {
        if (use.name != "tracking engine" || ::sched_getaffinity(tid, sizeof road, &road) != 0)
            continue;
        if (CPU_EQUAL(&road, &all))
            return;
        cpu_set_t rest;
        CPU_XOR(&rest, &all, &road);
        CPU_AND(&rest, &rest, &all);
        if (CPU_COUNT(&rest) > 0)
            ::sched_setaffinity(0, sizeof rest, &rest);
        return;
    }
}

// Where real-time scheduling is permitted, the simulated camera's threads run
// at a priority above the road's, as a device's interrupt and its driver do,
// and the reading thread at the lowest real-time one: the machine's other
// load then delays neither the packet's arrival nor the moment it is seen,
// and what is measured is the program's road. Returns whether it applied.
bool RaiseDeviceAndReader(int self)
{
    sched_param device{};
    device.sched_priority = 30;
    sched_param reader{};
    reader.sched_priority = 1;
    if (::sched_setscheduler(self, SCHED_FIFO, &reader) != 0)
        return false;
    for (const auto& [tid, use] : ThreadsNow(self))
        if (use.name.starts_with("simcam"))
            ::sched_setscheduler(tid, SCHED_FIFO, &device);
    return true;
}

// The program side: camera, camera system, engine, client library.
class Road {
public:
    explicit Road(bool smoothing)
    {
        SetProfile(host_, smoothing);
        auto store = registry_.store();
        const std::string folder = OVCLIENT_DIR;
        store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey);
        store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey,
                         CVSLEnhanced::kLocationValue, std::u16string(folder.begin(), folder.end()) + u"\\");
        simcam::Model m;
        m.revision = kRevision;
        m.fpga = simcam::FpgaStart::NoUpload;
        path_ = hub_.addGeneric(m);
        device_ = hub_.generic(path_);
        Orvane::CameraManager::SetDefaultBackend(&hub_);
        Orvane::CameraSystemFacade::Options options;
        options.stopPauseMs = 0;
        system_ = std::make_unique<Orvane::CameraSystemFacade>(
            1024, Orvane::MakeDeviceCameraFactory(hub_, 1024, Orvane::CameraTiming{}, dir_.path()), options);
        system_->ProbeForDevices();
        CCameraDataProcessor::Options o;
        o.poseFile = dir_.file("vistrel.tdf");
        o.registry = store;
        engine_ = std::make_unique<CCameraDataProcessor>(host_, *system_, o);
        engine_->ApplyModel(CHeadsetModel::ForLocation(kLocation));
    }
    ~Road()
    {
        if (engine_)
            engine_->Stop();
        engine_.reset();
        system_.reset();
        Orvane::CameraManager::DestroyInstance();
        Orvane::CameraManager::SetDefaultBackend(nullptr);
    }

    bool Start()
    {
        if (!system_->Start(true, true))
            return false;
        engine_->SetupCamera();
        return engine_->Start() == 0;
    }

    simcam::Device& device() { return *device_; }
    bool HeldFrame(Orvane::Frame& out) { return engine_->CopyHeldFrame(out); }

private:
    testing_support::TempSession session_;
    testing_support::TempRegistry registry_;
    testing_support::TempDir dir_{"frame-road"};
    engine_test::FakeHost host_;
    simcam::Hub hub_;
    std::string path_;
    std::shared_ptr<simcam::Device> device_;
    std::unique_ptr<Orvane::CameraSystemFacade> system_;
    std::unique_ptr<CCameraDataProcessor> engine_;
};

// A game: registered, transmission on, reading the record.
class Game {
public:
    Game()
    {
        lib_ = platform::Module::load(OVCLIENT_LIBRARY);
        if (!lib_)
            return;
        getData_ = lib_->function<OV_GetData_t>("OV_GetData");
        auto registerWindow = lib_->function<OV_RegisterWindowHandle_t>("OV_RegisterWindowHandle");
        auto registerId = lib_->function<OV_Command16_t>("OV_RegisterProgramProfileID");
        auto start = lib_->function<OV_Command0_t>("OV_StartDataTransmission");
        unregister_ = lib_->function<OV_Command0_t>("OV_UnregisterWindowHandle");
        window_ = platform::createWindow({"FrameRoadGame", "game", true},
                                         [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                                             return platform::LRESULT{0};
                                         });
        ready_ = getData_ && registerWindow && registerId && start && window_ != 0 &&
                 registerWindow(static_cast<OVWindow>(window_)) == 0 && registerId(2302) == 0 && start() == 0;
    }
    ~Game()
    {
        if (ready_ && unregister_)
            unregister_();
        if (window_ != 0)
            platform::destroyWindow(window_);
    }
    bool ready() const { return ready_; }
    std::uint16_t Frame()
    {
        OVPosePacket p{};
        getData_(&p);
        return p.frame;
    }

private:
    std::optional<platform::Module> lib_;
    OV_GetData_t getData_ = nullptr;
    OV_Command0_t unregister_ = nullptr;
    platform::HWND window_ = 0;
    bool ready_ = false;
};

// Packets of the scripted head movement, encoded up front.
std::vector<simcam::imaging::Bytes> MakePackets(int count)
{
    simcam::scene::SceneProjector scene(kRevision, kLocation, 0);
    simcam::scene::Trajectory trajectory(0.4);
    std::vector<simcam::imaging::Bytes> out;
    for (int i = 0; i < count; ++i) {
        simcam::scene::Projection p;
        scene.Project(trajectory.At(i * 0.01), p);
        std::vector<simcam::imaging::Disc> discs;
        for (const auto& px : p.pixels)
            discs.push_back({px.x, px.y, 6.0, 255});
        simcam::imaging::PacketParams params;
        params.revision = kRevision;
        params.frameId = static_cast<std::uint8_t>(i);
        out.push_back(simcam::imaging::EncodePacket(simcam::imaging::Render(discs, 640, 480), params));
    }
    return out;
}

double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(static_cast<double>(v.size()) * q))];
}

// Hand-over between the road's threads: as before this change (each thread
// woken wherever the kernel puts it) or kept on the road's processor.
enum class Handover { Free, Follow };

struct Figures {
    double p50 = 0, p99 = 0, toLibraryP50 = 0, cpu = 0, wakeups = 0, driverCpu = 0;
    int lost = 0;
    bool oneProcessor = false;  // the packet processor and the engine kept to one processor
};

// Whether the packet processor's and the engine's threads are each kept to
// the same single processor.
bool RoadOnOneProcessor(int self)
{
    std::vector<cpu_set_t> sets;
    for (const auto& [tid, use] : ThreadsNow(self)) {
        if (use.name != "packet processo" && use.name != "tracking engine")
            continue;
        cpu_set_t set;
        if (::sched_getaffinity(tid, sizeof set, &set) != 0 || CPU_COUNT(&set) != 1)
            return false;
        sets.push_back(set);
    }
    return sets.size() == 2 && CPU_EQUAL(&sets[0], &sets[1]);
}

Figures RunRoad(Handover handover, bool smoothing, int frames)
{
    // Read when the road's threads first follow one another, so per road.
    if (handover == Handover::Free)
        ::setenv("ORVANE_FRAME_CPU", "free", 1);
    else
        ::unsetenv("ORVANE_FRAME_CPU");
    Figures out;
    Road road(smoothing);
    if (!road.Start()) {
        std::fprintf(stderr, "frame road: the camera system or the engine did not start\n");
        out.lost = -1;
        return out;
    }
    Game game;  // once the command window is there
    if (!game.ready()) {
        std::fprintf(stderr, "frame road: the client could not register\n");
        out.lost = -1;
        return out;
    }
    const auto packets = MakePackets(200);
    const int self = static_cast<int>(::gettid());
    cpu_set_t mask;
    ::sched_getaffinity(0, sizeof mask, &mask);
    std::size_t next = 0;
    std::vector<double> us, toLibrary;
    std::chrono::steady_clock::time_point sent{};
    // The latency of one frame; -1 when its pose did not come.
    auto send = [&](std::chrono::steady_clock::duration limit) {
        // Where the previous frame reached the camera library: its time stamp.
        Orvane::Frame held;
        if (sent.time_since_epoch().count() != 0 && road.HeldFrame(held))
            toLibrary.push_back((held.time - static_cast<double>(sent.time_since_epoch().count())) / 1000.0);
        const std::uint16_t before = game.Frame();
        const auto t0 = std::chrono::steady_clock::now();
        sent = t0;
        road.device().pushImagePacket(packets[next]);
        next = (next + 1) % packets.size();
        // Read as a game that polls all the time would, the moment the
        // record changes being when it became readable. Between reads the
        // mutex is left alone for a moment, so that the reader does not stand
        // in the publisher's way.
        while (game.Frame() == before) {
            const auto now = std::chrono::steady_clock::now();
            if (now - t0 > limit)
                return -1.0;
            while (std::chrono::steady_clock::now() - now < 2us) {
            }
        }
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    };
    for (int i = 0; i < 100; ++i) {  // tracking settles, the filters start
        send(200ms);
        std::this_thread::sleep_for(kFramePeriod);
    }
    toLibrary.clear();
    // A game's thread runs beside the road, not on the processor the road
    // keeps to (it would be preempted there and see the pose late).
    KeepOffTheRoad(self);
    const bool raised = RaiseDeviceAndReader(self);
    const auto before = ThreadsNow(self);
    auto tick = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        tick += kFramePeriod;
        const double t = send(kFramePeriod * 20);
        if (t < 0)
            ++out.lost;
        else
            us.push_back(t);
        std::this_thread::sleep_until(tick);
    }
    const auto after = ThreadsNow(self);
    out.oneProcessor = RoadOnOneProcessor(self);
    ::sched_setaffinity(0, sizeof mask, &mask);
    if (raised) {
        sched_param normal{};
        ::sched_setscheduler(self, SCHED_OTHER, &normal);
    }
    for (const auto& [tid, use] : after) {
        auto b = before.find(tid);
        const double cpu = static_cast<double>(use.cpuNs - (b != before.end() ? b->second.cpuNs : 0));
        const double sw = static_cast<double>(use.switches - (b != before.end() ? b->second.switches : 0));
        // The simulated camera's own threads stand for the device and its driver.
        if (use.name.starts_with("simcam")) {
            out.driverCpu += cpu;
            continue;
        }
        out.cpu += cpu;
        out.wakeups += sw;
    }
    out.p50 = Percentile(us, 0.5);
    out.p99 = Percentile(us, 0.99);
    out.toLibraryP50 = Percentile(toLibrary, 0.5);
    out.cpu /= 1000.0 * frames;
    out.driverCpu /= 1000.0 * frames;
    out.wakeups /= frames;
    return out;
}

void Report(benchmark::State& state, const Figures& f, const char* prefix)
{
    const std::string p = prefix;
    state.counters[p + "p50_us"] = f.p50;
    state.counters[p + "p99_us"] = f.p99;
    state.counters[p + "cpu_us"] = f.cpu;
    state.counters[p + "wakeups"] = f.wakeups;
}

// One run of the road as it was (threads free) and one as it is now, in the
// same process one after the other; the ratios are old / new.
void FrameRoad(benchmark::State& state, bool smoothing)
{
    constexpr int kFrames = 1000;
    Figures today, now;
    for (auto _ : state) {
        today = RunRoad(Handover::Free, smoothing, kFrames);
        now = RunRoad(Handover::Follow, smoothing, kFrames);
    }
    ::unsetenv("ORVANE_FRAME_CPU");
    if (today.lost < 0 || now.lost < 0) {
        state.SkipWithError("the road did not start (camera, engine or client)");
        return;
    }
    Report(state, now, "");
    Report(state, today, "before_");
    state.counters["p50_ratio"] = now.p50 > 0 ? today.p50 / now.p50 : 0;
    state.counters["p99_ratio"] = now.p99 > 0 ? today.p99 / now.p99 : 0;
    state.counters["cpu_ratio"] = now.cpu > 0 ? today.cpu / now.cpu : 0;
    state.counters["to_library_p50_us"] = now.toLibraryP50;
    state.counters["driver_cpu_us"] = now.driverCpu;
    state.counters["lost"] = today.lost + now.lost;
    state.counters["road_on_one_processor"] = now.oneProcessor ? 1 : 0;
}

// The profile as shipped: smoothing and the filters on.
void BM_FrameRoadSmoothed(benchmark::State& state) { FrameRoad(state, true); }
// Without smoothing: the road's hand-overs and the rest of the engine alone.
void BM_FrameRoadPlain(benchmark::State& state) { FrameRoad(state, false); }

} // namespace

BENCHMARK(BM_FrameRoadSmoothed)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_FrameRoadPlain)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
