#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/smoothing_filter.h"
#include "reference_kalman.h"
#include "simcam/scene/scene.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CSmoothingFilterBank Bank(unsigned kind, float amount, float a = 3.0f, float b = 0.5f)
{
    CSmoothingFilterBank bank(kind);
    bank.SetParameters(amount, a, b);
    return bank;
}

} // namespace

TEST(IncompleteBeta, MatchesReferenceValuesAndEdges)
{
    // Reference values by numerical integration.
    EXPECT_NEAR(IncompleteBeta(3.0f, 0.5f, 0.1f), 3.2497e-4, 2e-8);
    EXPECT_NEAR(IncompleteBeta(3.0f, 0.5f, 0.5f), 0.049825, 5e-6);
    EXPECT_NEAR(IncompleteBeta(3.0f, 0.5f, 0.9f), 0.44542, 5e-5);
    EXPECT_NEAR(IncompleteBeta(2.0f, 2.0f, 0.5f), 0.5, 1e-6);
    EXPECT_EQ(IncompleteBeta(3.0f, 0.5f, 0.0f), 0.0f);
    EXPECT_NEAR(IncompleteBeta(3.0f, 0.5f, 1.0f), 1.0f, 1e-6);
    EXPECT_EQ(IncompleteBeta(3.0f, 0.5f, -0.1f), 0.0f);
    EXPECT_EQ(IncompleteBeta(3.0f, 0.5f, 1.5f), 0.0f);
    EXPECT_EQ(IncompleteBeta(3.0f, 0.5f, float(kNaN)), 0.0f);
}

TEST(RelativeChange, IsDefinedForEveryAmount)
{
    EXPECT_DOUBLE_EQ(RelativeChange(1.0, 4.0), 0.25);
    EXPECT_DOUBLE_EQ(RelativeChange(9.0, 4.0), 1.0);
    EXPECT_DOUBLE_EQ(RelativeChange(0.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(RelativeChange(1.0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(RelativeChange(1.0, -3.0), 1.0);
    EXPECT_DOUBLE_EQ(RelativeChange(1.0, kNaN), 1.0);
    EXPECT_DOUBLE_EQ(RelativeChange(kNaN, 1.0), 0.0);
}

TEST(SmoothingFilterBank, KindsAndNames)
{
    CSmoothingFilterBank bank(CSmoothingFilterBank::kKalman);
    const char16_t* names[] = {u"Default", u"Default", u"Old", u"BZ", u"None", u"Running Average", u"Kalman"};
    for (unsigned k = 0; k < CSmoothingFilterBank::kKindCount; ++k) EXPECT_EQ(bank.FilterOfKind(k).Name(), names[k]);
    EXPECT_EQ(bank.FilterOfKind(0).shape, 2.0);
    EXPECT_EQ(bank.FilterOfKind(0).amount, 1.0);
    EXPECT_EQ(bank.FilterOfKind(0).a, 2.0f);
    EXPECT_EQ(bank.FilterOfKind(0).b, 0.5f);
    // SetParameters reaches only the selected kind.
    bank.SetParameters(4.5f, 3.0f, 0.25f);
    EXPECT_EQ(bank.FilterOfKind(6).amount, 4.5);
    EXPECT_EQ(bank.FilterOfKind(6).b, 0.25f);
    EXPECT_EQ(bank.FilterOfKind(1).amount, 1.0);
}

TEST(BetaFilter, StepResponses)
{
    const float amount = 1638.3f;
    // A step at least as large as the amount passes in one frame.
    auto big = Bank(CSmoothingFilterBank::kDefaultBeta, amount);
    big.Reset(0.0, 0.0);
    big.Filter(2000.0, 0.0);
    EXPECT_NEAR(big.OutputX(), 2000.0, 1e-6);

    // A tenth of the amount moves I_0.1(3, 0.5) of the way; that weight
    // (3.2e-4) is below the floor of 0.001, so the floor is what moves it.
    auto small = Bank(CSmoothingFilterBank::kDefaultBeta, amount);
    small.Reset(0.0, 0.0);
    const double step = double(amount) / 10.0;
    small.Filter(step, 0.0);
    EXPECT_NEAR(small.OutputX(), step * 0.001, step * 1e-9);
    // Half the amount: I_0.5(3, 0.5) of the way.
    auto half = Bank(CSmoothingFilterBank::kDefaultBeta, amount);
    half.Reset(0.0, 0.0);
    half.Filter(double(amount) / 2.0, 0.0);
    EXPECT_NEAR(half.OutputX(), double(amount) / 2.0 * IncompleteBeta(3.0f, 0.5f, 0.5f), 1e-6);

    // Reset then the same input: unchanged.
    auto same = Bank(CSmoothingFilterBank::kDefaultBeta, amount);
    same.Reset(123.0, 0.0);
    same.Filter(123.0, 0.0);
    EXPECT_DOUBLE_EQ(same.OutputX(), 123.0);

    // Converges on a held step, slowly at first, then faster as... never past it.
    auto held = Bank(CSmoothingFilterBank::kDefaultBeta, 10.0f);
    held.Reset(0.0, 0.0);
    double previous = 0.0;
    for (int i = 0; i < 2000; ++i) {
        held.Filter(5.0, 0.0);
        ASSERT_GE(held.OutputX(), previous);
        ASSERT_LE(held.OutputX(), 5.0);
        previous = held.OutputX();
    }
    EXPECT_NEAR(held.OutputX(), 5.0, 0.5);
}

TEST(KalmanFilter, StepResponses)
{
    const float amount = 4.5f; // default yaw amount, degrees
    // Reset then the same input: unchanged (single precision).
    auto k = Bank(CSmoothingFilterBank::kKalman, amount);
    k.Reset(12.5, -3.25);
    for (int i = 0; i < 10; ++i) k.Filter(12.5, -3.25);
    EXPECT_NEAR(k.OutputX(), 12.5, 1e-5);
    EXPECT_NEAR(k.OutputY(), -3.25, 1e-5);

    // Settled filters (their error covariance has shrunk at rest).
    auto settled = [amount] {
        auto bank = Bank(CSmoothingFilterBank::kKalman, amount);
        bank.Reset(0.0, 0.0);
        for (int i = 0; i < 2000; ++i) bank.Filter(0.0, 0.0);
        return bank;
    };
    // A large step is followed within a few frames; the noise raised by the
    // step only takes effect at the next prediction.
    auto big = settled();
    big.Filter(20.0, 0.0);
    EXPECT_LT(big.OutputX(), 0.1);
    const double first = big.OutputX();
    for (int i = 0; i < 30; ++i) big.Filter(20.0, 0.0);
    EXPECT_GT(big.OutputX(), first);
    EXPECT_NEAR(big.OutputX(), 20.0, 0.5);

    // A small step is followed much more slowly than a large one.
    auto small = settled();
    for (int i = 0; i < 31; ++i) small.Filter(0.45, 0.0);
    EXPECT_LT(small.OutputX() / 0.45, 0.5);
    EXPECT_GT(small.OutputX(), 0.0);

    // Beyond single precision: the filter starts over instead of carrying inf.
    auto huge = settled();
    huge.Filter(1e300, 0.0);
    EXPECT_TRUE(std::isfinite(huge.OutputX()));
    for (int i = 0; i < 50; ++i) huge.Filter(3.0, 0.0);
    EXPECT_NEAR(huge.OutputX(), 3.0, 0.1);
}

TEST(SmoothingFilterBank, BadInputNeverComesOut)
{
    for (unsigned kind = 0; kind < CSmoothingFilterBank::kKindCount; ++kind) {
        SCOPED_TRACE(kind);
        for (float amount : {0.0f, -1.0f, float(kNaN), 4.5f}) {
            SCOPED_TRACE(amount);
            CSmoothingFilterBank bank = Bank(kind, amount);
            bank.Reset(1.0, 2.0);
            // Still input with a zero amount (0 / 0), then bad samples.
            for (double x : {1.0, 1.0, kNaN, kInf, -kInf, 1.0, 3.0, kNaN, 3.0, 3.0}) {
                bank.Filter(x, kind == 4 ? x : 2.0);
                ASSERT_TRUE(std::isfinite(bank.OutputX()));
                ASSERT_TRUE(std::isfinite(bank.OutputY()));
            }
            // Later good samples still move the output: nothing was poisoned.
            for (int i = 0; i < 200; ++i) bank.Filter(50.0, 2.0);
            EXPECT_TRUE(std::isfinite(bank.OutputX()));
            EXPECT_NEAR(bank.OutputX(), 50.0, 1.0);
            bank.Reset(kNaN, 0.0);
            EXPECT_TRUE(std::isfinite(bank.OutputX()));
        }
    }
}

TEST(SmoothingFilterBank, BadShapeParametersStillFollow)
{
    for (unsigned kind : {unsigned(CSmoothingFilterBank::kKalman), unsigned(CSmoothingFilterBank::kDefaultBeta)}) {
        CSmoothingFilterBank bank = Bank(kind, 4.5f, 0.0f, -1.0f);
        bank.Reset(0.0, 0.0);
        for (int i = 0; i < 50; ++i) bank.Filter(10.0, 0.0);
        EXPECT_TRUE(std::isfinite(bank.OutputX()));
        EXPECT_GT(bank.OutputX(), 0.0);
    }
}

TEST(OtherKinds, StepResponses)
{
    // "None" passes through.
    auto none = Bank(CSmoothingFilterBank::kNone, 5.0f);
    none.Filter(7.0, 8.0);
    EXPECT_EQ(none.OutputX(), 7.0);
    EXPECT_EQ(none.OutputY(), 8.0);

    // Running average of round(amount) samples reaches the step after that many.
    auto avg = Bank(CSmoothingFilterBank::kRunningAverage, 4.0f);
    avg.Reset(0.0, 0.0);
    avg.Filter(8.0, 0.0);
    EXPECT_DOUBLE_EQ(avg.OutputX(), 4.0); // (0 + 8) / 2
    avg.Filter(8.0, 0.0);
    avg.Filter(8.0, 0.0);
    EXPECT_DOUBLE_EQ(avg.OutputX(), 6.0); // (0 + 8 + 8 + 8) / 4
    avg.Filter(8.0, 0.0);
    EXPECT_DOUBLE_EQ(avg.OutputX(), 8.0);

    // Exponential: 1 / (1 + amount) of the way per frame.
    auto old = Bank(CSmoothingFilterBank::kOld, 3.0f);
    old.Reset(0.0, 0.0);
    old.Filter(8.0, 0.0);
    EXPECT_DOUBLE_EQ(old.OutputX(), 2.0);

    // Power-law adaptive kind: a full-amount step passes, a half step moves a quarter.
    auto def = Bank(CSmoothingFilterBank::kDefault, 4.0f);
    def.Reset(0.0, 0.0);
    def.Filter(2.0, 0.0);
    EXPECT_DOUBLE_EQ(def.OutputX(), 0.5);
    def.Filter(10.0, 0.0);
    EXPECT_DOUBLE_EQ(def.OutputX(), 10.0);

    // Level and trend: a ramp is followed with no lasting lag.
    auto bz = Bank(CSmoothingFilterBank::kBZ, 1.0f);
    bz.Reset(0.0, 0.0);
    for (int i = 1; i <= 100; ++i) bz.Filter(double(i), 0.0);
    EXPECT_NEAR(bz.OutputX(), 100.0, 0.5);
}

namespace {

// Differences of a float computation that rounds differently: a few units in
// the last place (single precision) of the signal's size. (The output is a
// weighted mean of past inputs, so its rounding is that of the inputs, however
// small the output itself is.)
::testing::AssertionResult WithinFloatRounding(double got, double want, double signal)
{
    const double scale = std::max({std::fabs(got), std::fabs(want), signal, 1e-3});
    const double ulp = std::nextafter(float(scale), INFINITY) - float(scale);
    if (std::fabs(got - want) <= 4.0 * ulp) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got << " vs " << want << " (" << std::fabs(got - want) / ulp << " ulp)";
}

struct Channel {
    const char* name;
    float amount, a, b;
};

} // namespace

// The fixed-size filter runs the same steps as OpenCV's general Kalman filter:
// over the scripted minute of head movement (with sensor-like noise, a
// re-centre half way and sample errors) every output agrees within float
// rounding, for the axis banks and for the point banks (both outputs used).
TEST(KalmanFilter, AgreesWithOpenCvKalmanFilterOverATrajectory)
{
    const Channel channels[] = {
        {"yaw", 4.5f, 3.0f, 0.5f},  {"pitch", 4.5f, 3.0f, 0.5f}, {"roll", 4.5f, 3.0f, 0.5f},
        {"x", 20.0f, 3.0f, 0.5f},   {"y", 15.0f, 3.0f, 0.5f},    {"z", 30.0f, 3.0f, 0.5f},
        {"point", 0.8f, 2.0f, 2.0f}, {"one-point", 1638.3f, 3.0f, 0.5f},
    };
    const simcam::scene::Trajectory trajectory;
    constexpr double kFps = 120.0;
    const int frames = int(simcam::scene::Trajectory::kDuration * kFps);
    for (std::size_t c = 0; c < std::size(channels); ++c) {
        const Channel& ch = channels[c];
        SCOPED_TRACE(ch.name);
        CSmoothingFilterBank bank = Bank(CSmoothingFilterBank::kKalman, ch.amount, ch.a, ch.b);
        ReferenceKalmanBank reference;
        reference.SetParameters(ch.amount, ch.a, ch.b);
        std::mt19937_64 random(17 + c);
        std::normal_distribution<double> jitter(0.0, 0.05 * ch.amount);
        int compared = 0;
        double signal = 0.0; // largest input so far
        for (int f = 0; f < frames; ++f) {
            const simcam::scene::HeadPose p = trajectory.At(f / kFps);
            const double axes[6] = {p.yaw, p.pitch, p.roll, p.x, p.y, p.z};
            double x = axes[c % 6] + jitter(random);
            double y = c == 6 ? axes[(c + 1) % 6] + jitter(random) : 0.0;
            if (c == 7) x *= 300.0; // one-point units
            if (f == 0 || f == frames / 2) {
                bank.Reset(x, y);
                reference.Reset(x, y);
            }
            signal = std::max({signal, std::fabs(x), std::fabs(y)});
            if (f % 997 == 500) x = std::numeric_limits<double>::quiet_NaN(); // a lost sample
            if (f == frames / 3) x = 1e300;                                      // beyond single precision
            bank.Filter(x, y);
            reference.Filter(x, y);
            ASSERT_TRUE(WithinFloatRounding(bank.OutputX(), reference.OutputX(), signal)) << "frame " << f;
            ASSERT_TRUE(WithinFloatRounding(bank.OutputY(), reference.OutputY(), signal)) << "frame " << f;
            ++compared;
        }
        EXPECT_EQ(compared, frames);
    }
}
