// A clip model handed to the engine while the head is tracked: the main
// sheet hands one over at every game start, profile switch and profile edit,
// and a game start also re-centres. Whatever the order, the centre must come
// from a frame solved with the model in force, and the same model again
// must change nothing.
#include <optional>
#include <thread>

#include "engine_fixture.h"

using namespace engine_test;
using namespace std::chrono_literals;
using simcam::scene::HeadPose;

namespace {

constexpr double kFullScale = 16383.0;
constexpr double kNearZero = 0.01 * kFullScale;
// Held still away from the neutral pose, as a player sits when a game starts.
constexpr HeadPose kHeld{.yaw = 20, .pitch = -10, .roll = 5, .x = 30, .y = -20, .z = 40};

// The model the sheet hands over for the clip of the fixture's location (1):
// the same clip with the pivot offset left out.
CHeadsetModel SheetModel()
{
    CHeadsetModel m = CHeadsetModel::ForLocation(1);
    m.TX = m.TY = m.TZ = 0.0;
    return m;
}

class ModelRecentreTest : public EngineTest {
protected:
    void ExpectCentred(const char* what)
    {
        const CPoseAxes out = engine->OutputAxes();
        for (std::size_t a = 0; a < out.size(); ++a)
            EXPECT_NEAR(out[a], 0.0, kNearZero) << what << ", axis " << a;
    }
    // A turn from the held pose reads as it does after a plain re-centre
    // there: the centre is the held pose.
    void ExpectTurnRelativeToHeld(const char* what)
    {
        Pass(kTurned);
        const CPoseAxes raw = engine->RawAxes();
        for (const int a : {kPoseYaw, kPosePitch, kPoseRoll})
            EXPECT_NEAR(raw[std::size_t(a)], Reference()[std::size_t(a)], 0.5) << what << ", axis " << a;
    }
    const CPoseAxes& Reference()
    {
        if (!reference_) {
            auto keep = std::move(engine);
            engine = MakeEngine();
            Pass(HeadPose{});
            engine->Recenter();
            Pass(kHeld);
            Pass(kTurned);
            reference_ = engine->RawAxes();
            engine = std::move(keep);
        }
        return *reference_;
    }

    static constexpr HeadPose kTurned{.yaw = 30, .pitch = -10, .roll = 5, .x = 30, .y = -20, .z = 40};
    std::optional<CPoseAxes> reference_;
};

TEST_F(ModelRecentreTest, ReCentreAndModelInEitherOrderCentreOnOneFrameOfTheNewModel)
{
    // Steps: R re-centre, S the same model again, C a changed model (the
    // pivot left out, or the same clip's other location), F one frame.
    struct Case {
        const char* steps;
        const char* what;
    };
    const Case cases[] = {
        {"RFSF", "the same model after a re-centre"},
        {"RFCF", "a changed model after a re-centre"},
        {"RSF", "the same model between a re-centre and its frame"},
        {"CRF", "a changed model, then a re-centre"},
        {"RCF", "a re-centre, then a changed model"},
        {"RFFSFSF", "the same model twice"},
        {"RFLF", "the clip's other location after a re-centre"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine = MakeEngine();
        Pass(HeadPose{}); // started at the neutral pose
        for (const char* s = c.steps; *s != '\0'; ++s) {
            switch (*s) {
            case 'R': engine->Recenter(); break;
            case 'S': engine->ApplyModel(CHeadsetModel::ForLocation(kLocation)); break;
            case 'C': engine->ApplyModel(SheetModel()); break;
            case 'L': engine->ApplyModel(CHeadsetModel::ForLocation(2)); break;
            case 'F': Pass(kHeld); break;
            }
        }
        Pass(kHeld);
        ExpectCentred(c.what);
        ExpectTurnRelativeToHeld(c.what);
    }
}

TEST_F(ModelRecentreTest, TheSameModelAgainChangesNothing)
{
    Pass(HeadPose{}); // the centre
    Pass(kHeld);
    const CPoseAxes before = engine->OutputAxes();
    ASSERT_GT(std::fabs(before[kPoseYaw]), 1000.0);
    engine->ApplyModel(CHeadsetModel::ForLocation(kLocation));
    Pass(kHeld);
    EXPECT_EQ(engine->OutputAxes(), before);
    EXPECT_EQ(engine->GetTrackingState(), CCameraDataProcessor::kTracked);
}

TEST_F(ModelRecentreTest, AChangedModelCentresOnTheNextSolvedFrame)
{
    Pass(HeadPose{});
    Pass(kHeld);
    engine->ApplyModel(SheetModel());
    // Frames that cannot be solved keep the capture waiting.
    ASSERT_TRUE(Queue({}));
    engine->RunPass();
    Pass(kHeld);
    ExpectCentred("after the changed model");
    ExpectTurnRelativeToHeld("after the changed model");
}

TEST_F(ModelRecentreTest, AModelArrivingWhileAReCentredFrameIsSolvedStillEndsCentred)
{
    Pass(HeadPose{});
    engine->Recenter();
    // The model lands in the middle of the frame that takes the re-centre
    // (the status post comes after the solve).
    ASSERT_TRUE(Queue({}));
    engine->RunPass(); // lost: the next good frame posts a status change
    bool handed = false;
    host.onMainPost = [&](platform::UINT) {
        if (!handed) {
            handed = true;
            engine->ApplyModel(SheetModel());
        }
    };
    Pass(kHeld);
    host.onMainPost = nullptr;
    ASSERT_TRUE(handed);
    Pass(kHeld);
    ExpectCentred("model during the re-centred frame");
    ExpectTurnRelativeToHeld("model during the re-centred frame");
}

TEST_F(ModelRecentreTest, OnTheWorkerFromAnotherThreadEveryOrderEndsCentred)
{
    // The sheet's and the profile editor's sequences, on the running worker
    // with frames arriving all the while.
    engine = MakeEngine(20);
    ASSERT_EQ(engine->Start(), 0u);
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        while (feeding.load()) {
            Queue(ClipBlobs(kHeld));
            std::this_thread::sleep_for(1ms);
        }
    });
    auto settle = [&] {
        const std::uint32_t start = engine->GetPublishCount();
        for (int i = 0; i < 2000 && engine->GetPublishCount() < start + 5; ++i)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(engine->GetPublishCount(), start + 5);
    };
    settle();
    const std::function<void()> sequences[] = {
        [&] { engine->ApplyModel(CHeadsetModel::ForLocation(kLocation)); engine->Recenter(); },
        [&] { engine->Recenter(); engine->ApplyModel(CHeadsetModel::ForLocation(kLocation)); },
        [&] { engine->ApplyModel(SheetModel()); engine->Recenter(); },
        [&] { engine->Recenter(); engine->ApplyModel(CHeadsetModel::ForLocation(kLocation)); },
        [&] { engine->Recenter(); engine->ApplyModel(SheetModel()); },
    };
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < std::size(sequences); ++i) {
            SCOPED_TRACE("sequence " + std::to_string(i));
            sequences[i]();
            settle();
            ExpectCentred("on the worker");
        }
    }
    feeding = false;
    feeder.join();
    engine->Stop();
}

} // namespace
