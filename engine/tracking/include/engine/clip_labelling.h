#pragma once
// Which image point is which marker of the clip, and which solution of the
// three-point problem is the head.
//
// Three unlabelled points allow up to six labellings, and each labelling up
// to four poses that project exactly onto them. One frame alone often cannot
// tell them apart (a clip fits its mirror image about as well); a head
// moving through successive frames mostly can:
// - a head turns and moves only so fast. A candidate continues a track only
//   when a head could get there from the track's last frame in the time
//   between the frames' time stamps (its rotation and its head point, with
//   room for the scatter of a solve);
// - a settled track goes on at the reachable candidate nearest where its
//   speed carries it. When no candidate is reachable, the frame gives no
//   pose rather than a jump; after a short while the track is given up;
// - when there is nothing to follow (the first frame, the clip back in
//   view, a track given up), every candidate a head could have reached from
//   where it was last seen starts a hypothesis, priced by what speaks
//   against it: another labelling than the sorting's, a large rotation from
//   the captured pose, the share of a head's reach used since it was last
//   seen. The hypotheses are followed side by side for a few frames, each
//   paying too for how far it turns and moves (a mirror image swings
//   faster than the head whose image it mirrors); the cheapest is shown, and
//   after a few frames it settles and the others are dropped.
#include <array>
#include <limits>
#include <span>

#include "engine/p3p.h"

namespace clip_labelling {

using Vec3 = std::array<double, 3>;
using Markers = std::array<Vec3, 3>; // P0, P1, P2 in camera space (across, depth, vertical), mm
using Triad = std::array<Vec3, 3>;   // orthonormal columns, clip order (depth, across, vertical)

inline constexpr int kMaxCandidates = 6 * kMaxP3PRoots;

struct Candidate {
    std::array<int, 3> order{};     // which image point is P0, P1, P2
    std::array<double, 3> depths{}; // along the tracker's rays: negative in front of the lens
    Markers markers{};
    // Filled by Assess: degrees of rotation from the captured pose, and how
    // far out the pose lies in a head's reach (1 at its edge); the markers'
    // triad and the head point.
    double angle = 0.0;
    double reach = 0.0;
    Triad triad{};
    Vec3 head{};
    // Filled by Assess: how unlikely the pose is for a user, the squares of
    // its yaw, pitch, roll and head point offsets from the captured pose in
    // units of the range users move in, summed (0 with no capture yet).
    double spread = 0.0;
};

// The distances between the clip's markers P0-P1, P0-P2, P1-P2 (mm).
struct ClipDistances {
    double d01, d02, d12;
};

// Every labelling and solution of three unit rays (the tracker's rays:
// across, -focal, vertical, normalised); returns how many.
int EnumerateCandidates(std::span<const Vec3, 3> rays, const ClipDistances& clip,
                        std::span<Candidate, kMaxCandidates> out);

// The candidate nearest expected markers, found without enumerating them
// all: each ray taken as the marker whose direction it fits, and of that
// labelling's solutions the nearest. False when the fit is not clear (rays
// nearly as close to another marker's direction) or there is no solution.
bool NearestCandidate(std::span<const Vec3, 3> rays, const ClipDistances& clip, const Markers& expected,
                      Candidate& out);

// The clip's own triad and its head point (the pivot, from P0, clip frame).
struct ClipFrame {
    Triad modelTriad{};
    Vec3 pivot{};
};
// The captured pose: the markers' triad and the head point (camera space).
struct Reference {
    Triad triad{};
    Vec3 head{};
};
// How far a head reaches from the captured pose: a little beyond the range
// users turn and move in (yaw 60, pitch 40, roll 30 degrees; 100 mm across
// and up, 150 mm towards and away from the camera).
struct Reach {
    double angle = 90.0; // degrees of rotation
    double across = 110.0; // mm
    double vertical = 110.0;
    double depth = 165.0;
    // The same per turn (degrees), for how unlikely a pose is.
    double yaw = 66.0;
    double pitch = 44.0;
    double roll = 33.0;
};
// Fills each candidate's triad and head point, and its angle and reach
// against the captured pose; with no capture yet, those two are 0.
void Assess(std::span<Candidate> candidates, const ClipFrame& clip, const Reference* reference, const Reach& reach);

// The head point of a candidate (camera space).
Vec3 HeadPoint(const Markers& markers, const ClipFrame& clip);

// The triad of three markers in clip order; not a number when degenerate.
Triad TriadOfMarkers(const Markers& m);

// Angle (degrees) of the rotation between two triads.
double RotationAngle(const Triad& from, const Triad& to);

// What the sorting mode says of a frame: its labelling, and how sure it is
// (0 when the values it compared nearly tie, 1 when they lie well apart).
struct SortingVerdict {
    std::array<int, 3> order{0, 1, 2};
    double sureness = 0.0;
};

class CLabelTracker {
public:
    // No time stamp: the tracker assumes Weights::frameTime between frames.
    static constexpr double kNoTime = std::numeric_limits<double>::quiet_NaN();

    // The weights below were fitted on the simulated camera's scenes (the
    // scripted head, heads moving between random poses as fast as a head
    // turns and faster, 0.2 px of noise) and checked on others.
    struct Weights {
        // Starting a hypothesis: cost of a labelling other than the
        // sorting's (times its sureness); per 10 degrees of rotation from the
        // captured pose; per unit of Candidate::spread; for the share of a
        // head's reach (below) used since the head was last seen.
        double sorting = 2.0;
        double rotation = 0.06;
        double spread = 0.56;
        double lastSeen = 3.6;
        // Starting after a gap: for how far a candidate lies from where the
        // head was heading (the turn and move of the last frames before the
        // gap, carried on through it for at most headingTime), in degrees and
        // in millimetres of the head point, each over what that guess may be
        // off after a gap of dt seconds: scatter + growth dt + spread dt^2.
        // A head may have begun another move in the gap, so no more than
        // headingCap times that counts.
        double offTurn = 6.0;
        double offTurnScatter = 1.1;
        double offTurnGrowth = 0.0;
        double offTurnSpread = 200.0;
        double offMove = 5.0;
        double offMoveScatter = 17.0;
        double offMoveGrowth = 344.0;
        double offMoveSpread = 0.0;
        double headingTime = 0.5;
        double headingCap = 1.5;
        // While the hypotheses of a start are compared, each pays for how
        // fast it has turned and moved on average since it started, as
        // unlikely as a head moving so fast (mostly slow, now and then fast):
        // log(1 + angle^2 / (turnNoise^2 + (turnTypical t)^2)) times `turned`,
        // the same for the head point's move with `moved` (t the seconds
        // since; the noise terms are the scatter of a solve, which dominates
        // the first frames); and for the sorting's say along it (+ sureness
        // where it agrees, - where it does not). A hypothesis settles when it
        // has been followed for `settleFrames` frames, or when it is the only
        // one.
        double turned = 2.1;
        double turnNoise = 1.24;
        double turnTypical = 63.0;
        double moved = 1.84;
        double moveNoise = 5.65;
        double moveTypical = 259.0;
        double evidence = 0.05;
        int settleFrames = 8;
        // A head's reach: how fast it turns (degrees a second) and its head
        // point moves (mm a second), with room for the scatter of one solve
        // (degrees, mm). Nothing faster is a continuation of a track.
        double turnSpeed = 720.0;
        double moveSpeed = 2000.0;
        double turnScatter = 8.0;
        double moveScatter = 35.0;
        // How long a track waits for a candidate it can reach (s); how far
        // beyond the reach of the captured pose a followed track may go (a
        // solve at the edge of the range scatters past it) before it is given
        // up; the time assumed between frames without time stamps.
        double followTime = 0.02;
        double followedReach = 1.5;
        double frameTime = 1.0 / 60.0;
    };
    CLabelTracker() = default;
    explicit CLabelTracker(const Weights& w) : w_(w) {}
    void SetWeights(const Weights& w) { w_ = w; }
    const Weights& GetWeights() const { return w_; }

    // Chooses among the frame's assessed candidates (time stamp `time`, in
    // seconds); returns the index chosen, or -1 when there are none, or none
    // a head could reach (Refused). A candidate beyond the captured pose's
    // reach starts a track only when every one is. `captured` tells whether
    // the angles mean anything; before the first capture, of the sorting's
    // solutions the one nearest `start` (the model's start depths) is
    // preferred, as the depth solve from them would find.
    int Choose(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
               const std::array<double, 3>& start, double time = kNoTime);
    // A settled track is followed while a head could reach its continuation;
    // then no other candidate matters, and the caller may solve that one
    // alone (near Expected) and hand it to FollowSettled instead of
    // enumerating every candidate for Choose.
    bool Settled(double time = kNoTime) const;
    Markers Expected(double time = kNoTime) const;
    // Takes `c` as the settled track's continuation when a head could reach
    // it; false leaves the choice to Choose.
    bool FollowSettled(const Candidate& c, double time = kNoTime);
    // Whether the last choice does not continue the track followed before
    // (a new track, or another hypothesis): smoothing of the labelled points
    // must start over.
    bool Switched() const { return switched_; }
    // The last Choose found candidates, but none that the head followed (or
    // last seen) could have reached: the frame gives no pose.
    bool Refused() const { return refused_; }
    // The frame chosen for was solved: its candidates become the tracks.
    void Commit();
    // The frame was not solved (blobs missing or merged, solve rejected,
    // refused, tracking paused): the tracks age by a frame.
    void Miss()
    {
        ++age_;
        pendingCount_ = 0;
        pendingChosen_ = -1;
    }
    void Forget()
    {
        count_ = pendingCount_ = age_ = seenCount_ = 0;
        chosen_ = pendingChosen_ = -1;
        settled_ = false;
    }

private:
    struct Track {
        Markers now{};
        Markers before{};
        double time = 0.0;       // of `now`
        double beforeTime = 0.0; // of `before`
        bool hasBefore = false;
        Triad triad{}; // of `now`
        Vec3 head{};
        Triad firstTriad{}; // where it started
        Vec3 firstHead{};
        double firstTime = 0.0;
        double prior = 0.0;    // what spoke against it when it started
        double evidence = 0.0; // the sorting's say along it
        int length = 0;        // frames it was seen in
        int from = -1;         // the committed track it continues; -1 when it starts here
        int candidate = -1;    // pending: the frame's candidate it goes on at, -1 when not seen
    };
    double FrameTime(double time) const;
    Markers Predicted(const Track& t, double now) const;
    bool Reachable(const Track& t, const Candidate& c, double now) const;
    int Nearest(const Track& t, std::span<const Candidate> candidates, double now) const;
    Track Continued(int from, std::span<const Candidate> candidates, int j, double now,
                    const SortingVerdict* sorting) const;
    double Cost(const Track& t) const;
    int GoOn(std::span<const Candidate> candidates, const SortingVerdict& sorting, double now);
    int Start(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
              const std::array<double, 3>& start, double now);

    // Where the followed track was in its last frames, newest last.
    struct Seen {
        double time = 0.0;
        Triad triad{};
        Vec3 head{};
    };
    static constexpr int kSeen = 8;
    // Where the head was heading at `now`, carried on from its last frames.
    bool Heading(double now, Triad& triad, Vec3& head) const;

    Weights w_;
    std::array<Seen, kSeen> seen_{}; // a ring: the oldest at seenNext_ once full
    int seenNext_ = 0;
    int seenCount_ = 0;
    std::array<Track, kMaxCandidates> tracks_{};
    int count_ = 0;
    int chosen_ = -1;
    bool settled_ = false;
    int age_ = 0;                                              // frames since the tracks were committed
    double lastTime_ = std::numeric_limits<double>::quiet_NaN(); // of the committed frame
    double offset_ = 0.0; // from time stamps to the tracker's time
    std::array<Track, kMaxCandidates> pending_{};
    int pendingCount_ = 0;
    int pendingChosen_ = -1;
    bool pendingSettled_ = false;
    double pendingTime_ = 0.0;
    double pendingOffset_ = 0.0;
    bool switched_ = false;
    bool refused_ = false;
};

} // namespace clip_labelling
