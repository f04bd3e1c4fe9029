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

namespace {

using Rotation = std::array<std::array<double, 3>, 3>;

// R = T_to T_from^T, the rotation that takes `from` to `to`.
Rotation RotationBetween(const Triad& from, const Triad& to)
{
    Rotation r{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            r[i][j] = to[0][i] * from[0][j] + to[1][i] * from[1][j] + to[2][i] * from[2][j];
    return r;
}

// `to` turned on by k times the rotation from `from` to it.
Triad Extrapolated(const Triad& from, const Triad& to, double k)
{
    // The rotation from `from` to `to`: its axis and angle, scaled.
    const Rotation r = RotationBetween(from, to);
    const double angle = std::acos(std::clamp((r[0][0] + r[1][1] + r[2][2] - 1.0) * 0.5, -1.0, 1.0));
    Vec3 axis{r[2][1] - r[1][2], r[0][2] - r[2][0], r[1][0] - r[0][1]};
    const double n = std::sqrt(Dot(axis, axis));
    if (!(n > 1e-12) || !(angle > 1e-9)) return to;
    axis = {axis[0] / n, axis[1] / n, axis[2] / n};
    const double a = k * angle, c = std::cos(a), s = std::sin(a), v = 1.0 - c;
    const double x = axis[0], y = axis[1], z = axis[2];
    const double q[3][3] = {{c + x * x * v, x * y * v - z * s, x * z * v + y * s},
                            {y * x * v + z * s, c + y * y * v, y * z * v - x * s},
                            {z * x * v - y * s, z * y * v + x * s, c + z * z * v}};
    Triad out{};
    for (int col = 0; col < 3; ++col)
        for (int i = 0; i < 3; ++i)
            out[std::size_t(col)][std::size_t(i)] =
                q[i][0] * to[std::size_t(col)][0] + q[i][1] * to[std::size_t(col)][1] + q[i][2] * to[std::size_t(col)][2];
    return out;
}

Vec3 HeadPointOf(const Markers& m, const Triad& t, const ClipFrame& clip)
{
    // The rotation from the clip's own triad to the measured one, R = T M^T,
    // applied to the pivot in clip order, then back to camera order.
    Vec3 turned{0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double rij = 0.0;
            for (int k = 0; k < 3; ++k) rij += t[k][i] * clip.modelTriad[k][j];
            turned[i] += rij * clip.pivot[j];
        }
    return {m[0][0] + turned[1], m[0][1] + turned[0], m[0][2] + turned[2]};
}

double Distance(const Vec3& a, const Vec3& b)
{
    const Vec3 d = Sub(a, b);
    return std::sqrt(Dot(d, d));
}

} // namespace

Vec3 HeadPoint(const Markers& m, const ClipFrame& clip)
{
    return HeadPointOf(m, TriadOfMarkers(m), clip);
}

void Assess(std::span<Candidate> candidates, const ClipFrame& clip, const Reference* reference, const Reach& reach)
{
    for (Candidate& c : candidates) {
        c.triad = TriadOfMarkers(c.markers);
        c.head = HeadPointOf(c.markers, c.triad, clip);
        if (reference == nullptr) {
            c.angle = c.reach = c.spread = 0.0;
            if (!std::isfinite(c.head[0] + c.head[1] + c.head[2])) c.reach = c.angle = INFINITY;
            continue;
        }
        c.angle = RotationAngle(reference->triad, c.triad);
        // The turn from the captured pose, R = T Tref^T, as yaw, pitch, roll.
        const Rotation r = RotationBetween(reference->triad, c.triad);
        const double s02 = std::clamp(r[0][2], -1.0, 1.0);
        const double cp = std::sqrt(1.0 - s02 * s02);
        const double yaw = std::asin(std::clamp(-r[0][1] / cp, -1.0, 1.0)) * kDegrees;
        const double pitch = std::asin(s02) * kDegrees;
        const double roll = std::asin(std::clamp(-r[1][2] / cp, -1.0, 1.0)) * kDegrees;
        const auto sq = [](double v) { return v * v; };
        c.spread = sq(yaw / reach.yaw) + sq(pitch / reach.pitch) + sq(roll / reach.roll) +
                   sq((c.head[0] - reference->head[0]) / reach.across) +
                   sq((c.head[1] - reference->head[1]) / reach.depth) +
                   sq((c.head[2] - reference->head[2]) / reach.vertical);
        c.reach = std::max({c.angle / reach.angle, std::fabs(c.head[0] - reference->head[0]) / reach.across,
                            std::fabs(c.head[1] - reference->head[1]) / reach.depth,
                            std::fabs(c.head[2] - reference->head[2]) / reach.vertical});
        if (!std::isfinite(c.reach + c.spread)) c.reach = c.angle = c.spread = INFINITY;
    }
}

double CLabelTracker::FrameTime(double time) const
{
    // Time stamps count from where they stood at the last commit; where
    // they do not move on (none given, a clock that stands or starts over),
    // a frame time a frame is counted instead, and later stamps count on
    // from there.
    const double last = std::isfinite(lastTime_) ? lastTime_ : 0.0;
    const double stamped = time + offset_;
    if (std::isfinite(stamped) && (!std::isfinite(lastTime_) || stamped > lastTime_)) return stamped;
    return last + w_.frameTime * double(age_ + 1);
}

Markers CLabelTracker::Predicted(const Track& t, double now) const
{
    // Moved on at the speed between its last two frames, for at most a few
    // frames: a longer guess is no better than where it was.
    const double span = t.time - t.beforeTime;
    if (!t.hasBefore || !(span > 0.0)) return t.now;
    const double k = std::min(now - t.time, 3.0 * span) / span;
    Markers m = t.now;
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) m[i][c] += k * (t.now[i][c] - t.before[i][c]);
    return m;
}

bool CLabelTracker::Reachable(const Track& t, const Candidate& c, double now) const
{
    const double dt = std::max(0.0, now - t.time);
    return RotationAngle(t.triad, c.triad) <= w_.turnSpeed * dt + w_.turnScatter &&
           Distance(t.head, c.head) <= w_.moveSpeed * dt + w_.moveScatter;
}

int CLabelTracker::Nearest(const Track& t, std::span<const Candidate> candidates, double now) const
{
    const Markers expected = Predicted(t, now);
    int next = -1;
    double least = INFINITY;
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        const Candidate& c = candidates[j];
        if (!(c.reach <= w_.followedReach) || !Reachable(t, c, now)) continue;
        const double d = MeanSquare(c.markers, expected);
        if (d < least) {
            least = d;
            next = int(j);
        }
    }
    return next;
}

CLabelTracker::Track CLabelTracker::Continued(int from, std::span<const Candidate> candidates, int j, double now,
                                              const SortingVerdict* sorting) const
{
    const Candidate& c = candidates[std::size_t(j)];
    Track t = tracks_[std::size_t(from)];
    t.before = t.now;
    t.beforeTime = t.time;
    t.hasBefore = true;
    t.now = c.markers;
    t.time = now;
    t.triad = c.triad;
    t.head = c.head;
    ++t.length;
    t.from = from;
    t.candidate = j;
    if (sorting != nullptr) t.evidence += c.order == sorting->order ? sorting->sureness : -sorting->sureness;
    return t;
}

double CLabelTracker::Cost(const Track& t) const
{
    const double since = t.time - t.firstTime;
    const double turned = RotationAngle(t.firstTriad, t.triad);
    const double moved = Distance(t.firstHead, t.head);
    const double turnSpread = w_.turnNoise * w_.turnNoise + (w_.turnTypical * since) * (w_.turnTypical * since);
    const double moveSpread = w_.moveNoise * w_.moveNoise + (w_.moveTypical * since) * (w_.moveTypical * since);
    return t.prior + w_.turned * std::log1p(turned * turned / turnSpread) +
           w_.moved * std::log1p(moved * moved / moveSpread) - w_.evidence * t.evidence;
}

int CLabelTracker::GoOn(std::span<const Candidate> candidates, const SortingVerdict& sorting, double now)
{
    std::array<int, kMaxCandidates> taken; // pending track by candidate
    taken.fill(-1);
    // Each hypothesis goes on at the reachable candidate nearest where it
    // should be; two that meet go on as the cheaper. One not seen waits.
    for (int i = 0; i < count_; ++i) {
        const Track& h = tracks_[std::size_t(i)];
        if (now - h.time > w_.followTime) continue;
        const int j = Nearest(h, candidates, now);
        if (j < 0) {
            Track& kept = pending_[std::size_t(pendingCount_++)];
            kept = h;
            kept.from = i;
            kept.candidate = -1;
            continue;
        }
        const Track t = Continued(i, candidates, j, now, &sorting);
        const int other = taken[std::size_t(j)];
        if (other >= 0) {
            if (Cost(t) < Cost(pending_[std::size_t(other)])) pending_[std::size_t(other)] = t;
            continue;
        }
        taken[std::size_t(j)] = pendingCount_;
        pending_[std::size_t(pendingCount_++)] = t;
    }
    int best = -1;
    double lowest = INFINITY;
    for (int k = 0; k < pendingCount_; ++k) {
        const Track& t = pending_[std::size_t(k)];
        if (t.candidate < 0) continue;
        const double cost = Cost(t);
        if (cost < lowest) {
            lowest = cost;
            best = k;
        }
    }
    return best;
}

int CLabelTracker::Start(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
                         const std::array<double, 3>& start, double now)
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
    // Where the head was last seen, and how far it can have got since.
    const Track* last = count_ > 0 && chosen_ >= 0 ? &tracks_[std::size_t(chosen_)] : nullptr;
    const double dt = last != nullptr ? std::max(0.0, now - last->time) : 0.0;
    const double turnReach = w_.turnSpeed * dt + w_.turnScatter;
    const double moveReach = w_.moveSpeed * dt + w_.moveScatter;
    Triad headingTriad{};
    Vec3 headingHead{};
    const bool heading = last != nullptr && Heading(now, headingTriad, headingHead);
    const double offTurn = w_.offTurnScatter + (w_.offTurnGrowth + w_.offTurnSpread * dt) * dt;
    const double offMove = w_.offMoveScatter + (w_.offMoveGrowth + w_.offMoveSpread * dt) * dt;
    pendingCount_ = 0;
    int chosen = -1;
    double lowest = INFINITY;
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        const Candidate& c = candidates[j];
        if (!Eligible(candidates, j)) continue;
        double cost = c.order == sorting.order ? 0.0 : kNotSortedCost + w_.sorting * sorting.sureness;
        if (captured)
            cost += w_.rotation * c.angle / 10.0 + w_.spread * c.spread;
        else if (int(j) != nearestStart)
            cost += 1.0;
        if (last != nullptr) {
            const double used = std::max(RotationAngle(last->triad, c.triad) / turnReach,
                                         Distance(last->head, c.head) / moveReach);
            if (!(used <= 1.0)) continue;
            cost += w_.lastSeen * used;
        }
        // A head may have begun another move in the gap: far off the
        // heading is no more against a candidate than a little beyond it.
        if (heading)
            cost += w_.offTurn * std::min(RotationAngle(headingTriad, c.triad) / offTurn, w_.headingCap) +
                    w_.offMove * std::min(Distance(headingHead, c.head) / offMove, w_.headingCap);
        Track& t = pending_[std::size_t(pendingCount_)];
        t = Track{};
        t.now = c.markers;
        t.time = t.firstTime = now;
        t.triad = t.firstTriad = c.triad;
        t.head = t.firstHead = c.head;
        t.prior = cost;
        t.evidence = c.order == sorting.order ? sorting.sureness : -sorting.sureness;
        t.length = 1;
        t.candidate = int(j);
        const double total = Cost(t);
        if (total < lowest) {
            lowest = total;
            chosen = pendingCount_;
        }
        ++pendingCount_;
    }
    return chosen;
}

bool CLabelTracker::Heading(double now, Triad& triad, Vec3& head) const
{
    // Too few frames give a speed that is mostly scatter.
    if (seenCount_ < kSeen) return false;
    const Seen& first = seen_[std::size_t(seenNext_)];
    const Seen& last = seen_[std::size_t((seenNext_ + kSeen - 1) % kSeen)];
    const double span = last.time - first.time;
    if (!(span > 0.0)) return false;
    // Carried on for at most headingTime: a head does not keep turning the
    // same way for long. The rotation is carried on as a rotation (single
    // markers scatter in depth far more than the clip turns).
    const double k = std::min(now - last.time, w_.headingTime) / span;
    triad = Extrapolated(first.triad, last.triad, k);
    for (std::size_t i = 0; i < 3; ++i) head[i] = last.head[i] + k * (last.head[i] - first.head[i]);
    return std::isfinite(triad[0][0] + triad[1][1] + triad[2][2] + head[0] + head[1] + head[2]);
}

bool CLabelTracker::Settled(double time) const
{
    return settled_ && count_ > 0 && chosen_ >= 0 &&
           FrameTime(time) - tracks_[std::size_t(chosen_)].time <= w_.followTime;
}

Markers CLabelTracker::Expected(double time) const
{
    return chosen_ >= 0 ? Predicted(tracks_[std::size_t(chosen_)], FrameTime(time)) : Markers{};
}

bool CLabelTracker::FollowSettled(const Candidate& c, double time)
{
    pendingCount_ = 0;
    pendingChosen_ = -1;
    switched_ = refused_ = false;
    const double now = FrameTime(time);
    if (!Settled(time) || !(c.reach <= w_.followedReach) || !Reachable(tracks_[std::size_t(chosen_)], c, now))
        return false;
    // The other tracks matter no more: only the followed one is kept.
    pending_[0] = Continued(chosen_, std::span<const Candidate>(&c, 1), 0, now, nullptr);
    pendingCount_ = 1;
    pendingChosen_ = 0;
    pendingSettled_ = true;
    pendingTime_ = now;
    pendingOffset_ = std::isfinite(time) ? now - time : offset_;
    return true;
}

int CLabelTracker::Choose(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
                          const std::array<double, 3>& start, double time)
{
    pendingCount_ = 0;
    pendingChosen_ = -1;
    switched_ = refused_ = false;
    const double now = FrameTime(time);
    pendingTime_ = now;
    pendingOffset_ = std::isfinite(time) ? now - time : offset_;
    const bool recent = count_ > 0 && chosen_ >= 0 && now - tracks_[std::size_t(chosen_)].time <= w_.followTime;
    if (candidates.empty()) {
        // No fit at all (a view too near degenerate for the solve): with a
        // head being followed, no guess is better than one that may jump.
        refused_ = recent;
        return -1;
    }

    if (recent && settled_) {
        // A settled track goes on where a head can get to, or the frame
        // gives no pose.
        const int j = Nearest(tracks_[std::size_t(chosen_)], candidates, now);
        if (j < 0) {
            refused_ = true;
            return -1;
        }
        pending_[0] = Continued(chosen_, candidates, j, now, nullptr);
        pendingCount_ = 1;
        pendingChosen_ = 0;
        pendingSettled_ = true;
        return j;
    }
    int best = count_ > 0 && !settled_ ? GoOn(candidates, sorting, now) : -1;
    if (best < 0) {
        best = Start(candidates, sorting, captured, start, now);
        if (best < 0) {
            // Candidates, but none the head last seen could have got to.
            refused_ = count_ > 0 && chosen_ >= 0;
            pendingCount_ = 0;
            return -1;
        }
    }
    const Track& chosen = pending_[std::size_t(best)];
    switched_ = chosen.from < 0 || chosen.from != chosen_;
    // Settled after a few frames, or when there is nothing to compare.
    pendingSettled_ = chosen.length >= w_.settleFrames || pendingCount_ == 1;
    if (pendingSettled_) {
        if (best != 0) pending_[0] = chosen;
        best = 0;
        pendingCount_ = 1;
    }
    pendingChosen_ = best;
    return pending_[std::size_t(best)].candidate;
}

void CLabelTracker::Commit()
{
    if (pendingCount_ == 0 || pendingChosen_ < 0) {
        Miss();
        return;
    }
    // The followed track's last frames; another track starts them afresh.
    const Track& chosen = pending_[std::size_t(pendingChosen_)];
    if (switched_ || chosen.from < 0) seenCount_ = 0;
    seen_[std::size_t(seenNext_)] = {pendingTime_, chosen.triad, chosen.head};
    seenNext_ = (seenNext_ + 1) % kSeen;
    seenCount_ = std::min(seenCount_ + 1, kSeen);
    std::copy_n(pending_.begin(), pendingCount_, tracks_.begin());
    count_ = pendingCount_;
    chosen_ = pendingChosen_;
    settled_ = pendingSettled_;
    lastTime_ = pendingTime_;
    offset_ = pendingOffset_;
    pendingCount_ = 0;
    pendingChosen_ = -1;
    age_ = 0;
}

} // namespace clip_labelling
