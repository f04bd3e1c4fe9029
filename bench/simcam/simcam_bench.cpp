// One frame of the simulated camera at 120 frames a second: the three
// markers of the scripted head movement drawn and encoded as revision 8
// segment packets. "old" draws the whole sensor image and scans all of it;
// "new" is the camera's path (the canvas redraws the discs' boxes, the
// encoder passes over unlit pixels a word at a time). Also the scene
// source's whole frame (projection included), as the camera asks for it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "compare.h"
#include "reference_encoder.h"
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"
#include "simcam/scene/scene.h"
#include "simcam/scene_source.h"
#include "testing/test_clock.h"

namespace {

using namespace simcam;

constexpr double kFps = 120.0;

// The discs of 10 s of the scripted movement, frame by frame.
std::vector<std::vector<imaging::Disc>> ScriptedDiscs()
{
    scene::SceneProjector projector(8, 1, 0);
    projector.SetNoise(0.2, 11);
    const scene::Trajectory trajectory;
    std::vector<std::vector<imaging::Disc>> frames;
    for (int f = 0; f < int(10 * kFps); ++f) {
        scene::Projection p;
        projector.Project(trajectory.At(f / kFps), p);
        std::vector<imaging::Disc>& discs = frames.emplace_back();
        if (p.inView)
            for (const auto& px : p.pixels)
                discs.push_back({px.x, px.y, 4.0, 255});
    }
    return frames;
}

imaging::PacketParams Params()
{
    imaging::PacketParams p;
    p.revision = 8;
    p.width = 640;
    p.height = 480;
    p.threshold = 128;
    return p;
}

void DrawAndEncode_old(benchmark::State& state)
{
    const auto frames = ScriptedDiscs();
    const imaging::PacketParams p = Params();
    std::size_t at = 0;
    for (auto _ : state) {
        imaging::Bytes packet = reference::EncodeSegments(imaging::Render(frames[at], p.width, p.height), p);
        benchmark::DoNotOptimize(packet.data());
        at = (at + 1) % frames.size();
    }
}
BENCHMARK(DrawAndEncode_old)->Name("SimulatedFrame/old")->Unit(benchmark::kMicrosecond);

void DrawAndEncode_new(benchmark::State& state)
{
    const auto frames = ScriptedDiscs();
    const imaging::PacketParams p = Params();
    imaging::Canvas canvas;
    std::size_t at = 0;
    for (auto _ : state) {
        imaging::Bytes packet = imaging::EncodePacket(canvas.Draw(frames[at], p.width, p.height), p);
        benchmark::DoNotOptimize(packet.data());
        at = (at + 1) % frames.size();
    }
}
BENCHMARK(DrawAndEncode_new)->Name("SimulatedFrame/new")->Unit(benchmark::kMicrosecond);

// The scene source's frame: pose, projection, drawing, encoding.
void SceneSourceFrame(benchmark::State& state)
{
    testing_support::TestClock clock;
    const scene::Trajectory trajectory;
    int frame = 0;
    SceneImageSource source(8, 1, [&](double) { return trajectory.At(frame / kFps); },
                            SceneImageSource::Pacing::Stepped, clock);
    source.SetNoise(0.2, 11);
    StreamState s;
    s.revision = 8;
    s.threshold = 128;
    std::vector<std::uint8_t> packet;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        source.Step();
        source.nextPacket(s, packet);
        benchmark::DoNotOptimize(packet.data());
        frame = (frame + 1) % int(scene::Trajectory::kDuration * kFps);
    }
    // The share of one core (in %) that drawing takes at 120 frames a second.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["core_pct_at_120fps"] = 100.0 * kFps * seconds / static_cast<double>(state.iterations());
}
BENCHMARK(SceneSourceFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return bench::RunComparing(argc, argv);
}
