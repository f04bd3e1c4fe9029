#include "engine/three_point_pose.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/debug.h"

namespace {

constexpr double kDegrees = 57.29577951308232;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPositionLimit = 10000.0;
constexpr int kSteps = 10;

double Clamp1(double v)
{
    return v > 1.0 ? 1.0 : (v < -1.0 ? -1.0 : v);
}

bool Finite(const CSmallMatrix& m)
{
    for (int i = 0; i < m.Count(); ++i)
        if (!std::isfinite(m[i])) return false;
    return m.Count() > 0;
}

PoseSolution NotANumber()
{
    PoseSolution s;
    s.yaw = s.pitch = s.roll = s.x = s.y = s.z = kNaN;
    for (auto& m : s.markers) m = {kNaN, kNaN, kNaN};
    return s;
}

} // namespace

CSmallMatrix TriadOf(const CSmallMatrix& o, const CSmallMatrix& a, const CSmallMatrix& b)
{
    const CSmallMatrix oa = a - o;
    const CSmallMatrix ob = b - o;
    CSmallMatrix e0 = oa;
    e0.Normalise();
    CSmallMatrix e2 = oa.Cross(ob);
    e2.Normalise();
    CSmallMatrix e1 = e2.Cross(oa);
    e1.Normalise();
    CSmallMatrix t(3, 3);
    t.SetColumn(0, e0);
    t.SetColumn(1, e1);
    t.SetColumn(2, e2);
    return t;
}

CThreePointPose::CThreePointPose()
{
    SetCameraIntrinsics(CameraModelForRevision(0));
    SetModel(CHeadsetModel::ForLocation(0));
    for (auto& r : rays_) r = CSmallMatrix(3, 1);
}

void CThreePointPose::SetCameraIntrinsics(const CameraModel& model)
{
    camera_ = model;
    halfWidth_ = double(model.imageWidth) * 0.5;
    halfHeight_ = double(model.imageHeight) * 0.5;
    tracker_.Forget(); // tracks seen through another lens
}

bool CThreePointPose::SetModel(const CHeadsetModel& model)
{
    if (haveModel_ && model == model_) return false;
    model_ = model;
    const double d01 = model.Dist01, d02 = model.Dist02, d12 = model.Dist12;
    const double p = (d01 * d01 - d02 * d02 + d12 * d12) / (2.0 * d12);
    const double q = (d12 * d12 - d01 * d01 + d02 * d02) / (2.0 * d12);
    const double h = std::sqrt(d01 * d01 - p * p);
    const double s1 = model.Del0 <= model.Del1 ? -1.0 : 1.0;
    const double s2 = model.Del2 < model.Del0 ? 1.0 : -1.0;
    modelTriad_ = TriadOf(CSmallMatrix::Vector3(0, 0, 0), CSmallMatrix::Vector3(s1 * h, p, 0),
                          CSmallMatrix::Vector3(s2 * h, -q, 0));
    // The reference starts as the model's own, once; after that only a
    // capture replaces it. A reference measured with another clip is no zero
    // for this one: the next solved frame captures.
    if (!haveModel_) referenceTriad_ = modelTriad_;
    haveModel_ = true;
    capture_ = true;
    reinitialise_ = true;
    havePrevious_ = false;
    tracker_.Forget();
    captured_ = false;
    haveChosenStart_ = false;
    return true;
}

CHeadsetModel CThreePointPose::ApplyModel(const CHeadsetModel& in)
{
    CHeadsetModel m = model_;
    m.TX = in.TX;
    m.TY = in.TY;
    m.TZ = in.TZ;
    m.Dist01 = in.Dist01;
    m.Dist02 = in.Dist02;
    m.Dist12 = in.Dist12;
    m.Distol = in.Distol;
    m.Del0 = in.Del0;
    m.Del1 = in.Del1;
    m.Del2 = in.Del2;
    m.Location = in.Location;
    m.Sorting = in.Sorting;
    m.Finish();
    SetModel(m);
    return m;
}

void CThreePointPose::Undistort(std::span<ImagePoint, 3> points) const
{
    if (!camera_.distortion) return;
    const double fx = camera_.fx, fy = camera_.fy, k1 = camera_.k1, k2 = camera_.k2;
    for (ImagePoint& pt : points) {
        const double u = pt.x / fx;
        const double v = pt.y / fy;
        const double r2 = u * u + v * v;
        const double s = 1.0 / (((0.0 * r2 + k2) * r2 + k1) * r2 + 1.0);
        pt.x = s * u * fx;
        pt.y = s * v * fy;
    }
}

void CThreePointPose::OrderMarkers(std::array<int, 3>& indices, std::span<const ImagePoint, 3> pts,
                                   double halfHeight) const
{
    auto bubble = [&](auto key) {
        std::array<int, 3> i = {0, 1, 2};
        for (int pass = 0; pass < 2; ++pass)
            for (int k = 0; k < 2 - pass; ++k)
                if (key(pts[i[k]]) > key(pts[i[k + 1]])) std::swap(i[k], i[k + 1]);
        return i;
    };
    switch (model_.Sorting) {
    case 2: {
        const auto s = bubble([](const ImagePoint& p) { return p.y; });
        indices = {s[1], s[0], s[2]};
        return;
    }
    case 3: {
        const auto s = bubble([](const ImagePoint& p) { return p.x; });
        indices = {s[1], s[0], s[2]};
        return;
    }
    default: {
        int top = 0;
        double best = halfHeight;
        for (int i = 0; i < 3; ++i)
            if (pts[i].y < best) {
                best = pts[i].y;
                top = i;
            }
        const int a = (top + 1) % 3;
        const int b = (top + 2) % 3;
        int first;
        if (model_.Sorting == 1)
            first = pts[a].y <= pts[b].y ? a : b;
        else
            first = pts[a].x < pts[b].x ? a : b;
        indices = {top, first, first == a ? b : a};
        return;
    }
    }
}

std::array<double, 3> CThreePointPose::RayOf(const ImagePoint& pt) const
{
    const double sx = double(camera_.sensorWidth) / double(camera_.imageWidth);
    const double sy = double(camera_.sensorHeight) / double(camera_.imageHeight);
    const double r[3] = {pt.x * sx, -double(camera_.focalLength), pt.y * sy};
    const double n = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    return {r[0] / n, r[1] / n, r[2] / n};
}

clip_labelling::SortingVerdict CThreePointPose::SortingOf(std::span<const ImagePoint, 3> pts,
                                                          double halfHeight) const
{
    clip_labelling::SortingVerdict v;
    OrderMarkers(v.order, pts, halfHeight);
    const ImagePoint& p0 = pts[v.order[0]];
    const ImagePoint& p1 = pts[v.order[1]];
    const ImagePoint& p2 = pts[v.order[2]];
    double margin = 0.0;
    switch (model_.Sorting) {
    case 2: margin = std::fmin(p0.y - p1.y, p2.y - p0.y); break;
    case 3: margin = std::fmin(p0.x - p1.x, p2.x - p0.x); break;
    default: {
        // P0 is the topmost point below the half height; no such point is no verdict.
        if (!(p0.y < halfHeight)) break;
        const double top = std::fmin(p1.y, p2.y) - p0.y;
        const double pair = model_.Sorting == 1 ? std::fabs(p1.y - p2.y) : std::fabs(p1.x - p2.x);
        margin = std::fmin(top, pair);
        break;
    }
    }
    v.sureness = std::clamp(margin / kSortingMargin, 0.0, 1.0);
    return v;
}

void CThreePointPose::LabelMarkers(std::array<int, 3>& indices, std::span<const ImagePoint, 3> pts,
                                   double halfHeight)
{
    haveChosenStart_ = false;
    refused_ = false;
    const clip_labelling::SortingVerdict sorting = SortingOf(pts, halfHeight);
    indices = sorting.order;
    if (labelling_ != Labelling::Tracked) return;

    std::array<ImagePoint, 3> undistorted{pts[0], pts[1], pts[2]};
    Undistort(undistorted);
    std::array<clip_labelling::Vec3, 3> rays;
    for (int i = 0; i < 3; ++i) rays[i] = RayOf(undistorted[i]);
    clip_labelling::ClipFrame clip;
    clip.pivot = {model_.TX, model_.TY, model_.TZ};
    clip_labelling::Reference reference;
    for (int k = 0; k < 3; ++k) {
        clip.modelTriad[k] = {modelTriad_(0, k), modelTriad_(1, k), modelTriad_(2, k)};
        reference.triad[k] = {referenceTriad_(0, k), referenceTriad_(1, k), referenceTriad_(2, k)};
    }
    reference.head = referenceHead_;
    const clip_labelling::Reference* captured = captured_ ? &reference : nullptr;
    const clip_labelling::ClipDistances distances{model_.Dist01, model_.Dist02, model_.Dist12};
    const auto take = [&](const clip_labelling::Candidate& c) {
        indices = c.order;
        for (int k = 0; k < 3; ++k) chosenStart_.l[k] = c.depths[k];
        haveChosenStart_ = true;
    };

    // A settled track: solve only where it goes on.
    if (tracker_.Settled(frameTime_)) {
        clip_labelling::Candidate next;
        if (clip_labelling::NearestCandidate(rays, distances, tracker_.Expected(frameTime_), next)) {
            clip_labelling::Assess(std::span<clip_labelling::Candidate>(&next, 1), clip, captured, reach_);
            if (tracker_.FollowSettled(next, frameTime_)) {
                take(next);
                return;
            }
        }
    }

    std::array<clip_labelling::Candidate, clip_labelling::kMaxCandidates> candidates;
    const int n = clip_labelling::EnumerateCandidates(rays, distances, candidates);
    const std::span<clip_labelling::Candidate> found(candidates.data(), std::size_t(n));
    clip_labelling::Assess(found, clip, captured, reach_);
    const int chosen =
        tracker_.Choose(found, sorting, captured_, {model_.Del0, model_.Del1, model_.Del2}, frameTime_);
    refused_ = tracker_.Refused();
    if (chosen >= 0) take(candidates[std::size_t(chosen)]);
}

bool CThreePointPose::SolveDepths(Depths& d, int maxSteps, int& steps) const
{
    double& l0 = d.l[0];
    double& l1 = d.l[1];
    double& l2 = d.l[2];
    const double tolerance = 1e-15 * std::sqrt(d01_ * d01_ + d02_ * d02_ + d12_ * d12_);
    steps = 0;
    double f01 = 0, f02 = 0, f12 = 0;
    for (int step = 0; step < maxSteps; ++step) {
        f01 = l0 * l0 - 2.0 * l0 * l1 * c01_ + l1 * l1 - d01_;
        f02 = l0 * l0 - 2.0 * l0 * l2 * c02_ + l2 * l2 - d02_;
        f12 = l1 * l1 - 2.0 * l1 * l2 * c12_ + l2 * l2 - d12_;
        // Jacobian rows (f01, f02, f12) by columns (l0, l1, l2).
        const double a00 = 2.0 * l0 - 2.0 * l1 * c01_, a01 = 2.0 * l1 - 2.0 * l0 * c01_, a02 = 0.0;
        const double a10 = 2.0 * l0 - 2.0 * l2 * c02_, a11 = 0.0, a12 = 2.0 * l2 - 2.0 * l0 * c02_;
        const double a20 = 0.0, a21 = 2.0 * l1 - 2.0 * l2 * c12_, a22 = 2.0 * l2 - 2.0 * l1 * c12_;
        const double det = a00 * (a11 * a22 - a12 * a21) - a01 * (a10 * a22 - a12 * a20) +
                           a02 * (a10 * a21 - a11 * a20);
        if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return false;
        // Adjugate times the residual, over the determinant.
        const double i00 = a11 * a22 - a12 * a21, i01 = a02 * a21 - a01 * a22, i02 = a01 * a12 - a02 * a11;
        const double i10 = a12 * a20 - a10 * a22, i11 = a00 * a22 - a02 * a20, i12 = a02 * a10 - a00 * a12;
        const double i20 = a10 * a21 - a11 * a20, i21 = a01 * a20 - a00 * a21, i22 = a00 * a11 - a01 * a10;
        l0 -= (i00 * f01 + i01 * f02 + i02 * f12) / det;
        l1 -= (i10 * f01 + i11 * f02 + i12 * f12) / det;
        l2 -= (i20 * f01 + i21 * f02 + i22 * f12) / det;
        ++steps;
        f01 = l0 * l0 - 2.0 * l0 * l1 * c01_ + l1 * l1 - d01_;
        f02 = l0 * l0 - 2.0 * l0 * l2 * c02_ + l2 * l2 - d02_;
        f12 = l1 * l1 - 2.0 * l1 * l2 * c12_ + l2 * l2 - d12_;
        if (std::fabs(f01) <= tolerance && std::fabs(f02) <= tolerance && std::fabs(f12) <= tolerance) break;
    }
    // The exact tolerance above is rarely met in double precision; a solution
    // counts as found when the distances match to a part in a billion and
    // every marker lies in front of the camera.
    const bool fits = std::fabs(f01) <= 1e-9 * d01_ && std::fabs(f02) <= 1e-9 * d02_ &&
                      std::fabs(f12) <= 1e-9 * d12_;
    return fits && l0 < 0.0 && l1 < 0.0 && l2 < 0.0;
}

bool CThreePointPose::Compose(const Depths& d, PoseSolution& out, CSmallMatrix& measured,
                              CSmallMatrix (&clip)[3]) const
{
    for (int i = 0; i < 3; ++i) {
        const CSmallMatrix p = d.l[i] * rays_[i];
        out.markers[i] = {p[0], p[1], p[2]};
        clip[i] = CSmallMatrix::Vector3(p[1], p[0], p[2]); // (depth, across, vertical)
    }
    measured = TriadOf(clip[0], clip[1], clip[2]);
    if (!Finite(measured)) return false;
    const CSmallMatrix toMeasured = measured * modelTriad_.Transposed();
    const CSmallMatrix head = clip[0] + toMeasured * CSmallMatrix::Vector3(model_.TX, model_.TY, model_.TZ);
    out.x = head[1];
    out.y = head[2];
    out.z = head[0];
    return std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(out.z) &&
           std::fabs(out.x) <= kPositionLimit && std::fabs(out.y) <= kPositionLimit &&
           std::fabs(out.z) <= kPositionLimit;
}

bool CThreePointPose::SolveFrame(std::span<const ImagePoint, 3> points)
{
    if (capture_) reinitialise_ = true;
    if (refused_) {
        // No solution of these points is a pose the head could have got to.
        refused_ = false;
        haveChosenStart_ = false;
        solution_ = NotANumber();
        return false;
    }

    const double sx = double(camera_.sensorWidth) / double(camera_.imageWidth);
    const double sy = double(camera_.sensorHeight) / double(camera_.imageHeight);
    for (int i = 0; i < 3; ++i) {
        rays_[i] = CSmallMatrix::Vector3(points[i].x * sx, -double(camera_.focalLength), points[i].y * sy);
        rays_[i].Normalise();
    }
    c01_ = rays_[0].Dot(rays_[1]);
    c02_ = rays_[0].Dot(rays_[2]);
    c12_ = rays_[1].Dot(rays_[2]);
    d01_ = model_.Dist01 * model_.Dist01;
    d02_ = model_.Dist02 * model_.Dist02;
    d12_ = model_.Dist12 * model_.Dist12;

    const Depths fromModel{{model_.Del0, model_.Del1, model_.Del2}};
    // A solution chosen while labelling this frame's points is where the
    // solve starts; else the previous frame's depths or the model's.
    const bool chosen = haveChosenStart_;
    haveChosenStart_ = false;
    const Depths start = chosen ? chosenStart_ : (reinitialise_ ? fromModel : depths_);

    // Starts in order; the first that gives a fitting solution stands. After a
    // re-acquire the head is usually still near where it was last seen: when
    // the model's start depths find no solution there, the last good depths
    // are tried as well.
    std::array<Depths, 3> starts{};
    int startCount = 0;
    starts[startCount++] = start;
    if (chosen || !reinitialise_) starts[startCount++] = fromModel;
    if (rootChoice_ == RootChoice::RestartFromPrevious && havePrevious_ && !capture_)
        starts[startCount++] = goodDepths_;

    bool found = false;
    Depths best{};
    PoseSolution bestSolution;
    CSmallMatrix bestTriad;
    CSmallMatrix clip[3];
    int bestSteps = 0;
    Depths lastTried = start;
    int lastSteps = 0;
    for (int s = 0; s < startCount && !found; ++s) {
        Depths d = starts[s];
        int steps = 0;
        const bool ok = SolveDepths(d, kSteps, steps);
        lastTried = d;
        lastSteps = steps;
        if (!ok || !Compose(d, bestSolution, bestTriad, clip)) continue;
        found = true;
        best = d;
        bestSteps = steps;
    }

    if (!found) {
        // The depths of the last attempt carry over as they are; the next frame
        // starts from the model. A pending capture stays pending.
        depths_ = lastTried;
        lastIterations_ = lastSteps;
        solution_ = NotANumber();
        reinitialise_ = true;
        return false;
    }

    if (capture_) {
        referenceTriad_ = bestTriad;
        referenceHead_ = {bestSolution.x, bestSolution.z, bestSolution.y};
        captured_ = true;
    }
    const CSmallMatrix r = bestTriad * referenceTriad_.Transposed();
    const double c = std::sqrt(1.0 - Clamp1(r(0, 2)) * Clamp1(r(0, 2)));
    bestSolution.yaw = std::asin(Clamp1(-r(0, 1) / c)) * kDegrees;
    bestSolution.pitch = std::asin(Clamp1(r(0, 2))) * kDegrees;
    bestSolution.roll = -std::asin(Clamp1(-r(1, 2) / c)) * kDegrees;

    depths_ = best;
    goodDepths_ = best;
    lastIterations_ = bestSteps;
    solution_ = bestSolution;
    havePrevious_ = true;
    capture_ = false;
    reinitialise_ = false;

    if (model_.Location == 3) {
        const double d0 = solution_.markers[0][1], d1 = solution_.markers[1][1], d2 = solution_.markers[2][1];
        if (model_.P0OnTop == 0 && d0 > d1 && d0 > d2) {
            platform::debug::output("P0 on bottom: invert condition detected!\n");
            reinitialise_ = true;
        } else if (model_.P0OnTop == 1 && d1 > d0 && d2 > d0) {
            platform::debug::output("P0 on top: invert condition detected!\n");
            reinitialise_ = true;
        }
    }
    return true;
}

bool CThreePointPose::ResultAcceptable(const PoseSolution& s)
{
    // Angles come from arcsines (within 90 degrees either way): only the
    // upper bound and numbers that are none can fail. A head point more than
    // 10 m off either way is as far from a head in front of the camera as
    // one 10 m off the other way, and is refused alike.
    const auto badAngle = [](double a) { return !std::isfinite(a) || a > 360.0; };
    const auto badPosition = [](double v) { return !std::isfinite(v) || std::fabs(v) > kPositionLimit; };
    return !(badAngle(s.yaw) || badAngle(s.pitch) || badAngle(s.roll) || badPosition(s.x) || badPosition(s.y) ||
             badPosition(s.z));
}

bool CThreePointPose::SolveChecked(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out)
{
    SolveFrame(points);
    out = solution_;
    out.roll *= rollSign;
    return ResultAcceptable(out);
}

bool CThreePointPose::SolvePose(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out)
{
    if (!SolveChecked(points, rollSign, out)) {
        reinitialise_ = true;
        tracker_.Miss();
        return false;
    }
    tracker_.Commit();
    return true;
}
