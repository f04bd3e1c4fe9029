// The axis output pipeline: centring, smoothing, clamping and scaling,
// response curves, inversion, the game's limits, translation compensation
// and the enable flags. Runs on the worker thread once per computed frame.
#include <algorithm>
#include <cmath>

#include "engine/CameraDataProcessor.h"

namespace {

constexpr double kAngleClamp = 45.0;
constexpr double kPositionClamp[3] = {200.0, 150.0, 300.0};
constexpr double kAngleRaw = 4095.75;
constexpr double kPositionRaw = 4914.900195300579;
constexpr double kThreePointRange[6] = {45.0, 45.0, 45.0, 200.0, 150.0, 300.0};
constexpr double kOnePointRange[6] = {kAngleRaw, kAngleRaw, kAngleRaw, kPositionRaw, kPositionRaw, kPositionRaw};
constexpr double kThreePointFactor = static_cast<double>(0.002f);
constexpr double kOnePointFactor = static_cast<double>(0.004f);
constexpr double kFullScale = 16383.0;
constexpr double kThreePointWeight[6] = {90.0, 90.0, 90.0, 400.0, 300.0, 600.0};
constexpr double kOnePointWeight = 32766.0;
constexpr double kCompensationAngle = -0.00019175930254469834;
constexpr double kDeadZone = 4.0;

// Bank indices: 0-2 image points, 3-8 three-point axes, 9-14 one-point axes
// (yaw, pitch, roll, x, y, z).
constexpr int kPointBank = 0;
constexpr int kThreePointBank = 3;
constexpr int kOnePointBank = 9;

// Profile axis (yaw, pitch, roll, x, y, z) to pose array index (x, y, z, yaw, pitch, roll).
constexpr int kPoseIndexOfAxis[6] = {kPoseYaw, kPosePitch, kPoseRoll, kPoseX, kPoseY, kPoseZ};

double Clamp(double v, double limit)
{
    v = std::min(v, limit);
    return std::max(v, -limit);
}

double Limit(double v, const CGameAxisLimit& l)
{
    v = std::min(v, static_cast<double>(l.Max));
    return std::max(v, static_cast<double>(l.Min));
}

bool AllFinite(const CPoseAxes& a)
{
    return std::all_of(a.begin(), a.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

double CCameraDataProcessor::ComputeAxis(const CEngineProfile& profile, double value, int axis)
{
    const bool threePoint = profile.MotionType != 0;
    const double r = threePoint ? kThreePointRange[axis] : kOnePointRange[axis];
    const double factor = threePoint ? kThreePointFactor : kOnePointFactor;
    if (value >= r)
        value = r; // inputs below the range extrapolate the first segment
    const double v = value / r * 50.0;
    int i = 13;
    for (int s = 0; s < 14; ++s) {
        if (v <= kCurveKnots[static_cast<std::size_t>(s + 1)]) {
            i = s;
            break;
        }
    }
    const auto& table = profile.Axes[static_cast<std::size_t>(axis)].Table;
    const double k0 = kCurveKnots[static_cast<std::size_t>(i)];
    const double k1 = kCurveKnots[static_cast<std::size_t>(i + 1)];
    const double w = std::fabs(k1 - k0);
    const double d = std::fabs(k0 - v);
    const double t = (w - d) / w * table[static_cast<std::size_t>(i)] + (d / w) * table[static_cast<std::size_t>(i + 1)];
    return (v > 0 ? kFullScale : -kFullScale) * t * factor;
}

void CCameraDataProcessor::ResetPointFilters()
{
    for (int i = 0; i < 3; ++i) {
        CSmoothingFilterBank& b = banks_[static_cast<std::size_t>(kPointBank + i)];
        b.Reset(points_[static_cast<std::size_t>(i)].x, points_[static_cast<std::size_t>(i)].y);
        b.Selected().shape = 3.0;
    }
}

void CCameraDataProcessor::ResetFilters()
{
    ResetPointFilters();
    for (int i = 0; i < 6; ++i) {
        banks_[static_cast<std::size_t>(kThreePointBank + i)].Reset(solved_[static_cast<std::size_t>(i)], 0.0);
        banks_[static_cast<std::size_t>(kOnePointBank + i)].Reset(output_[static_cast<std::size_t>(kPoseIndexOfAxis[i])], 0.0);
    }
}

void CCameraDataProcessor::SmoothPoints(int count)
{
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<std::size_t>(i);
        if (profile_.ImagerSmoothing != 0) {
            CSmoothingFilterBank& b = banks_[static_cast<std::size_t>(kPointBank + i)];
            b.SetParameters(profile_.ImagerThreshold, profile_.ImagerParamA, profile_.ImagerParamB);
            b.Filter(points_[n].x, points_[n].y);
            smoothed_[n] = {b.OutputX(), b.OutputY()};
        } else {
            smoothed_[n] = points_[n];
        }
    }
}

bool CCameraDataProcessor::ComputeThreePoint()
{
    const CEngineProfile& p = profile_;
    const double a = static_cast<double>(precision_.load() != 0 ? kPrecisionSmoothing : p.Smoothing) * 0.002;
    std::array<double, 6> v = solved_; // yaw, pitch, roll, x, y, z

    if (recentre_.exchange(0) != 0) {
        centre_ = solved_;
        centreMarkers_ = solution_.markers;
        output_ = {};
        ResetFilters();
    }

    if (p.SixDofSmoothing != 0) {
        for (std::size_t i = 0; i < 6; ++i) {
            CSmoothingFilterBank& b = banks_[kThreePointBank + i];
            b.SetParameters(static_cast<float>(a * kThreePointWeight[i]), p.SixDofParamA, p.SixDofParamB);
            b.Filter(v[i], 0.0);
            v[i] = b.OutputX();
        }
    }

    // Centre, clamp, scale. Yaw and pitch turn the other way round.
    const double yaw = Clamp(-(v[0] - centre_[0]), kAngleClamp);
    const double pitch = Clamp(-(v[1] - centre_[1]), kAngleClamp);
    const double roll = Clamp(v[2] - centre_[2], kAngleClamp);
    const double x = Clamp(v[3] - centre_[3], kPositionClamp[0]);
    const double y = Clamp(v[4] - centre_[4], kPositionClamp[1]);
    const double z = Clamp(v[5] - centre_[5], kPositionClamp[2]);
    CPoseAxes raw{};
    raw[kPoseYaw] = yaw * (1.0 / kAngleClamp) * kAngleRaw;
    raw[kPosePitch] = pitch * (1.0 / kAngleClamp) * kAngleRaw;
    raw[kPoseRoll] = roll * (1.0 / kAngleClamp) * kAngleRaw;
    raw[kPoseX] = x * (1.0 / kPositionClamp[0]) * kPositionRaw;
    raw[kPoseY] = y * (1.0 / kPositionClamp[1]) * kPositionRaw;
    raw[kPoseZ] = z * (1.0 / kPositionClamp[2]) * kPositionRaw;

    const double clamped[6] = {yaw, pitch, roll, x, y, z};
    CPoseAxes curve{};
    for (int i = 0; i < 6; ++i) {
        const auto at = static_cast<std::size_t>(kPoseIndexOfAxis[i]);
        double c = ComputeAxis(p, clamped[i], i);
        if (p.Axes[static_cast<std::size_t>(i)].Inverted != 0)
            c = -c;
        curve[at] = Limit(c, limits_[static_cast<std::size_t>(i)]);
    }
    if (!AllFinite(raw) || !AllFinite(curve))
        return false;

    CPoseAxes pre = curve;
    if (p.TrueView != 0) {
        CompensateTranslation(curve);
        pre = preComp_;
    }
    CPoseAxes out{};
    for (int i = 0; i < 6; ++i) {
        const auto at = static_cast<std::size_t>(kPoseIndexOfAxis[i]);
        out[at] = p.Axes[static_cast<std::size_t>(i)].Enabled != 0 ? curve[at] : 0.0;
    }
    if (!AllFinite(out))
        return false;
    raw_ = raw;
    curve_ = curve;
    preComp_ = pre;
    output_ = out;
    return true;
}

bool CCameraDataProcessor::ComputeOnePoint()
{
    const CEngineProfile& p = profile_;
    const double a = static_cast<double>(precision_.load() != 0 ? kPrecisionSmoothing : p.Smoothing) * 0.002;

    if (recentre_.exchange(0) != 0) {
        onePointCentre_ = points_[0];
        output_ = {};
        ResetFilters();
    }

    CPoseAxes raw{};
    raw[kPoseYaw] = (smoothed_[0].x - onePointCentre_.x) * (1.0 / halfWidth_) * -kAngleRaw;
    raw[kPosePitch] = (smoothed_[0].y - onePointCentre_.y) * (1.0 / halfWidth_) * -kAngleRaw;
    if (!AllFinite(raw))
        return false;

    double yaw = ComputeAxis(p, raw[kPoseYaw], 0);
    double pitch = ComputeAxis(p, raw[kPosePitch], 1);
    if (p.SixDofSmoothing != 0) {
        const auto amount = static_cast<float>(a * kOnePointWeight);
        CSmoothingFilterBank& by = banks_[kOnePointBank + 0];
        by.SetParameters(amount, p.SixDofParamA, p.SixDofParamB);
        by.Filter(yaw, 0.0);
        yaw = by.OutputX();
        CSmoothingFilterBank& bp = banks_[kOnePointBank + 1];
        bp.SetParameters(amount, p.SixDofParamA, p.SixDofParamB);
        bp.Filter(pitch, 0.0);
        pitch = bp.OutputX();
    }
    yaw = Limit(yaw, limits_[0]);
    pitch = Limit(pitch, limits_[1]);
    if (p.Axes[0].Inverted != 0)
        yaw = -yaw;
    if (p.Axes[1].Inverted != 0)
        pitch = -pitch;

    CPoseAxes curve{};
    curve[kPoseYaw] = yaw;
    curve[kPosePitch] = pitch;
    if (!AllFinite(curve))
        return false;
    CPoseAxes out{};
    out[kPoseYaw] = p.Axes[0].Enabled != 0 ? yaw : 0.0;
    out[kPosePitch] = p.Axes[1].Enabled != 0 ? pitch : 0.0;
    raw_ = raw;
    curve_ = curve;
    preComp_ = curve;
    output_ = out;
    return true;
}

void CCameraDataProcessor::CompensateTranslation(CPoseAxes& curve)
{
    std::array<double, 3> d{curve[kPoseX] - previousCurve_[0], curve[kPoseY] - previousCurve_[1],
                            curve[kPoseZ] - previousCurve_[2]};
    previousCurve_ = {curve[kPoseX], curve[kPoseY], curve[kPoseZ]};
    preComp_ = curve;

    if (!compensationReference_.exchange(true)) {
        compensated_ = curve;
        return;
    }

    const CEngineProfile& p = profile_;
    const double pitch = curve[kPosePitch] * kCompensationAngle;
    const double yaw = curve[kPoseYaw] * kCompensationAngle;
    const double roll = curve[kPoseRoll] * kCompensationAngle;
    if (p.Axes[CProfileAxis::Pitch].Enabled != 0) {
        const double c = std::cos(pitch), s = std::sin(pitch);
        d = {d[0], c * d[1] - s * d[2], s * d[1] + c * d[2]};
    }
    if (p.Axes[CProfileAxis::Yaw].Enabled != 0) {
        const double c = std::cos(yaw), s = std::sin(yaw);
        d = {c * d[0] + s * d[2], d[1], -s * d[0] + c * d[2]};
    }
    if (p.Axes[CProfileAxis::Roll].Enabled != 0) {
        const double c = std::cos(roll), s = std::sin(roll);
        d = {c * d[0] - s * d[1], s * d[0] + c * d[1], d[2]};
    }
    double* P = &compensated_[kPoseX];
    for (int i = 0; i < 3; ++i)
        P[i] += d[static_cast<std::size_t>(i)];

    const double ay = std::fabs(curve[kPoseYaw]), ap = std::fabs(curve[kPosePitch]), ar = std::fabs(curve[kPoseRoll]);
    const double threshold[3] = {std::max(ay, ar), std::max(ap, ar), std::max(ay, ap)};
    for (int i = 0; i < 3; ++i) {
        const double e = curve[static_cast<std::size_t>(kPoseX + i)] - P[i];
        const double excess = std::fabs(e) - kDeadZone * threshold[i];
        const double c = excess > 0 ? std::copysign(excess, e) : 0.0;
        P[i] = std::clamp(P[i] + c, -kFullScale, kFullScale);
        curve[static_cast<std::size_t>(kPoseX + i)] = P[i];
    }
}
