#include "engine/clip_labelling.h"

#include <algorithm>
#include <cmath>

namespace clip_labelling {
namespace {

constexpr double kDegrees = 57.29577951308232;
// Ties go to the sorting's labelling.
constexpr double kNotSortedCost = 1e-3;

constexpr std::array<std::array<int, 3>, 6> kOrders{
    {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};

double Dot(const Vec3& a, const Vec3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 Sub(const Vec3& a, const Vec3& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 Normalised(const Vec3& a)
{
    const double n = std::sqrt(Dot(a, a));
    return {a[0] / n, a[1] / n, a[2] / n};
}

// Mean squared distance between the markers of two sets.
double MeanSquare(const Markers& a, const Markers& b)
{
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) {
        const Vec3 d = Sub(a[k], b[k]);
        sum += Dot(d, d);
    }
    return sum / 3.0;
}

// A candidate beyond reach may be taken only when every one is.
bool Eligible(std::span<const Candidate> candidates, std::size_t j)
{
    if (!std::isfinite(candidates[j].reach)) return false;
    if (candidates[j].reach <= 1.0) return true;
    return std::none_of(candidates.begin(), candidates.end(), [](const Candidate& c) { return c.reach <= 1.0; });
}

// The solutions under one labelling, appended to `out` from `n`.
int AddLabelling(std::span<const Vec3, 3> rays, const ClipDistances& clip, const std::array<int, 3>& order,
                 std::span<Candidate> out, int n)
{
    const Vec3& u0 = rays[order[0]];
    const Vec3& u1 = rays[order[1]];
    const Vec3& u2 = rays[order[2]];
    const P3PProblem problem{Dot(u0, u1), Dot(u0, u2), Dot(u1, u2), clip.d01 * clip.d01, clip.d02 * clip.d02,
                             clip.d12 * clip.d12};
    std::array<P3PRoot, kMaxP3PRoots> roots;
    const int count = SolveP3P(problem, roots);
    for (int r = 0; r < count; ++r) {
        Candidate& c = out[std::size_t(n++)];
        c.order = order;
        c.angle = c.reach = 0.0;
        for (int k = 0; k < 3; ++k) {
            // The tracker's rays point away from the scene.
            c.depths[k] = -roots[r].s[k];
            const Vec3& u = rays[order[k]];
            c.markers[k] = {c.depths[k] * u[0], c.depths[k] * u[1], c.depths[k] * u[2]};
        }
    }
    return n;
}

} // namespace

int EnumerateCandidates(std::span<const Vec3, 3> rays, const ClipDistances& clip,
                        std::span<Candidate, kMaxCandidates> out)
{
    int n = 0;
    for (const auto& order : kOrders) n = AddLabelling(rays, clip, order, out, n);
    return n;
}

bool NearestCandidate(std::span<const Vec3, 3> rays, const ClipDistances& clip, const Markers& expected,
                      Candidate& out)
{
    std::array<Vec3, 3> directions;
    for (int k = 0; k < 3; ++k) directions[k] = Normalised({-expected[k][0], -expected[k][1], -expected[k][2]});
    std::array<int, 3> order{};
    double best = -INFINITY;
    for (const auto& o : kOrders) {
        const double fit = Dot(rays[o[0]], directions[0]) + Dot(rays[o[1]], directions[1]) + Dot(rays[o[2]], directions[2]);
        if (fit > best) best = fit, order = o;
    }
    // Each ray less than half as far (in angle) from its marker's direction
    // as from the others'.
    for (int k = 0; k < 3; ++k) {
        const double own = 1.0 - Dot(rays[order[k]], directions[k]);
        for (int j = 0; j < 3; ++j)
            if (j != k && !(own < 0.25 * (1.0 - Dot(rays[order[k]], directions[j])))) return false;
    }
    std::array<Candidate, kMaxP3PRoots> found;
    const int n = AddLabelling(rays, clip, order, found, 0);
    double nearest = INFINITY;
    for (int r = 0; r < n; ++r) {
        const double d = MeanSquare(found[std::size_t(r)].markers, expected);
        if (d < nearest) nearest = d, out = found[std::size_t(r)];
    }
    return n > 0;
}

Triad TriadOfMarkers(const Markers& m)
{
    // Clip order of components: (depth, across, vertical).
    const Vec3 o{m[0][1], m[0][0], m[0][2]};
    const Vec3 a{m[1][1], m[1][0], m[1][2]};
    const Vec3 b{m[2][1], m[2][0], m[2][2]};
    const Vec3 oa = Sub(a, o);
    const Vec3 e2 = Normalised(Cross(oa, Sub(b, o)));
    return {Normalised(oa), Normalised(Cross(e2, oa)), e2};
}

double RotationAngle(const Triad& from, const Triad& to)
{
    double trace = 0.0;
    for (int k = 0; k < 3; ++k) trace += Dot(from[k], to[k]);
    const double c = std::clamp((trace - 1.0) * 0.5, -1.0, 1.0);
    return std::acos(c) * kDegrees;
}

Vec3 HeadPoint(const Markers& m, const ClipFrame& clip)
{
    // The rotation from the clip's own triad to the measured one, R = T M^T,
    // applied to the pivot in clip order, then back to camera order.
    const Triad t = TriadOfMarkers(m);
    Vec3 turned{0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double rij = 0.0;
            for (int k = 0; k < 3; ++k) rij += t[k][i] * clip.modelTriad[k][j];
            turned[i] += rij * clip.pivot[j];
        }
    return {m[0][0] + turned[1], m[0][1] + turned[0], m[0][2] + turned[2]};
}

void Assess(std::span<Candidate> candidates, const ClipFrame& clip, const Reference* reference, const Reach& reach)
{
    for (Candidate& c : candidates) {
        if (reference == nullptr) {
            c.angle = c.reach = 0.0;
            continue;
        }
        c.angle = RotationAngle(reference->triad, TriadOfMarkers(c.markers));
        const Vec3 head = HeadPoint(c.markers, clip);
        c.reach = std::max({c.angle / reach.angle, std::fabs(head[0] - reference->head[0]) / reach.across,
                            std::fabs(head[1] - reference->head[1]) / reach.depth,
                            std::fabs(head[2] - reference->head[2]) / reach.vertical});
        if (!std::isfinite(c.reach)) c.reach = c.angle = INFINITY;
    }
}

Markers CLabelTracker::Predicted(const Track& t) const
{
    // Moved on at the speed between its last two frames, when those were the
    // last two frames.
    if (!t.hasBefore || age_ != 0) return t.now;
    Markers m = t.now;
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c) m[k][c] += t.now[k][c] - t.before[k][c];
    return m;
}

void CLabelTracker::Continue(std::span<const Candidate> candidates, const SortingVerdict& sorting)
{
    // Every candidate continues the track it lies nearest to, unless that
    // is a jump; the sorting's say adds up along the track.
    const bool follow = count_ > 0 && age_ <= w_.followFrames;
    const double step = w_.step * (1.0 + age_);
    pendingCount_ = 0;
    for (const Candidate& c : candidates) {
        Track& t = pending_[pendingCount_++];
        t = Track{};
        t.now = c.markers;
        t.move = INFINITY;
        if (follow) {
            int from = -1;
            for (int i = 0; i < count_; ++i) {
                const double move = MeanSquare(t.now, Predicted(tracks_[i])) / (step * step);
                if (move < t.move) {
                    t.move = move;
                    from = i;
                }
            }
            if (t.move < w_.jump) {
                t.from = from;
                t.evidence = tracks_[from].evidence;
                t.length = tracks_[from].length + 1;
                if (age_ == 0) {
                    t.before = tracks_[from].now;
                    t.hasBefore = true;
                }
            }
        }
        t.evidence += c.order == sorting.order ? sorting.sureness : -sorting.sureness;
    }
}

int CLabelTracker::Follow(std::span<const Candidate> candidates)
{
    if (count_ == 0 || chosen_ < 0 || age_ > w_.followFrames) return -1;
    const auto eligible = [&](std::size_t j) { return Eligible(candidates, j); };
    // The followed track goes on at the candidate nearest where it should
    // be (which may lie nearer another track)...
    const Track& followed = tracks_[chosen_];
    const Markers expected = Predicted(followed);
    const double step = w_.step * (1.0 + age_);
    int next = -1;
    double least = w_.jump;
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        const double move = MeanSquare(candidates[j].markers, expected) / (step * step);
        if (move < least && eligible(j)) {
            least = move;
            next = int(j);
        }
    }
    if (next < 0) return -1;
    Track& t = pending_[next];
    if (t.from != chosen_) {
        t.evidence += followed.evidence - (t.from >= 0 ? tracks_[t.from].evidence : 0.0);
        t.from = chosen_;
        t.move = least;
        t.length = followed.length + 1;
        t.hasBefore = age_ == 0;
        t.before = followed.now;
    }
    if (t.length >= w_.settleFrames) return next;
    // ...unless, just started, it meets a track the sorting speaks for more.
    int best = next;
    for (std::size_t j = 0; j < candidates.size(); ++j)
        if (pending_[j].from >= 0 && eligible(j) &&
            pending_[j].evidence > pending_[best].evidence + (best == next ? w_.evidenceMargin : 0.0))
            best = int(j);
    return best;
}

int CLabelTracker::Start(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
                         const std::array<double, 3>& start) const
{
    int nearestStart = -1;
    if (!captured) {
        double nearest = INFINITY;
        for (std::size_t j = 0; j < candidates.size(); ++j) {
            if (candidates[j].order != sorting.order) continue;
            double d = 0.0;
            for (int k = 0; k < 3; ++k) d += (candidates[j].depths[k] - start[k]) * (candidates[j].depths[k] - start[k]);
            if (d < nearest) nearest = d, nearestStart = int(j);
        }
    }
    const bool lastSeen = count_ > 0 && chosen_ >= 0;
    int chosen = -1;
    double lowest = INFINITY;
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        const Candidate& c = candidates[j];
        if (!Eligible(candidates, j)) continue;
        double cost = c.order == sorting.order ? 0.0 : kNotSortedCost + w_.sorting * sorting.sureness;
        if (captured)
            cost += w_.rotation * c.angle / 10.0;
        else if (int(j) != nearestStart)
            cost += 1.0;
        if (lastSeen) cost += w_.lastSeen * std::sqrt(MeanSquare(c.markers, tracks_[chosen_].now)) / (1.0 + age_);
        if (cost < lowest) {
            lowest = cost;
            chosen = int(j);
        }
    }
    return chosen;
}

bool CLabelTracker::Settled() const
{
    return count_ > 0 && chosen_ >= 0 && age_ <= w_.followFrames && tracks_[chosen_].length + 1 >= w_.settleFrames;
}

Markers CLabelTracker::Expected() const
{
    return chosen_ >= 0 ? Predicted(tracks_[chosen_]) : Markers{};
}

bool CLabelTracker::FollowSettled(const Candidate& c)
{
    pendingCount_ = 0;
    pendingChosen_ = -1;
    switched_ = false;
    if (!Settled() || !(c.reach <= 1.0)) return false;
    const Track& followed = tracks_[chosen_];
    const double step = w_.step * (1.0 + age_);
    const double move = MeanSquare(c.markers, Predicted(followed)) / (step * step);
    if (!(move < w_.jump)) return false;
    // The other tracks matter no more: only the followed one is kept.
    Track& t = pending_[0];
    t = Track{};
    t.now = c.markers;
    t.move = move;
    t.from = chosen_;
    t.evidence = followed.evidence;
    t.length = followed.length + 1;
    t.hasBefore = age_ == 0;
    t.before = followed.now;
    pendingCount_ = 1;
    pendingChosen_ = 0;
    return true;
}

int CLabelTracker::Choose(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
                          const std::array<double, 3>& start)
{
    pendingCount_ = 0;
    pendingChosen_ = -1;
    switched_ = false;
    if (candidates.empty()) return -1;
    Continue(candidates, sorting);
    pendingChosen_ = Follow(candidates);
    if (pendingChosen_ < 0) pendingChosen_ = Start(candidates, sorting, captured, start);
    switched_ = pendingChosen_ < 0 || pending_[pendingChosen_].from != chosen_ || chosen_ < 0;
    return pendingChosen_;
}

void CLabelTracker::Commit()
{
    if (pendingCount_ == 0 || pendingChosen_ < 0) {
        Miss();
        return;
    }
    tracks_ = pending_;
    count_ = pendingCount_;
    chosen_ = pendingChosen_;
    pendingCount_ = 0;
    age_ = 0;
}

} // namespace clip_labelling
