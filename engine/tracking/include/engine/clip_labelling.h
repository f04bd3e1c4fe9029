#pragma once
// Which image point is which marker of the clip, and which solution of the
// three-point problem is the head.
//
// Three unlabelled points allow up to six labellings, and each labelling up
// to four poses that project exactly onto them. One frame alone often cannot
// tell them apart; a head moving through successive frames mostly can:
// - every labelling and solution of a frame is a candidate, and each
//   candidate continues the candidate of the frame before whose markers lie
//   nearest where it is now (a head moves a few millimetres between frames,
//   the other candidates lie tens of millimetres away): candidates form
//   tracks;
// - the followed track goes on while it continues and stays within a head's
//   reach of the captured pose (rotation and head point);
// - a track that has just started gives way, within its first frames, to a
//   track the sorting mode speaks for more;
// - when there is nothing to follow (the first frame, the clip out of sight
//   for a while, the followed track gone or beyond reach) a track starts at
//   the candidate with the least against it: another labelling than the
//   sorting's, a large rotation from the captured pose, a distance from
//   where the head was last seen.
#include <array>
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
    // far out the pose lies in a head's reach (1 at its edge).
    double angle = 0.0;
    double reach = 0.0;
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
};
// Fills each candidate's angle and reach against the captured pose; with no
// capture yet, both are 0.
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
    struct Weights {
        // Starting a track: cost of a labelling other than the sorting's
        // (times its sureness); per 10 degrees of rotation from the captured
        // pose; per millimetre (rms over the markers) from where the head was
        // last seen, divided by the frames since.
        double sorting = 2.0;
        double rotation = 1.0;
        double lastSeen = 0.2;
        // Following: millimetres (rms over the markers) a track may move from
        // where it should be, per frame of age, at unit cost; a move costing
        // more than `jump` is no continuation; tracks not seen for more than
        // `followFrames` frames are not followed.
        double step = 8.0;
        double jump = 40.0;
        int followFrames = 5;
        // A track followed for fewer than `settleFrames` frames gives way to
        // one for which the sorting has spoken more, by more than
        // `evidenceMargin` (the sorting's say is summed along each track:
        // + sureness where it agrees, - where it does not).
        int settleFrames = 5;
        double evidenceMargin = 4.0;
    };
    CLabelTracker() = default;
    explicit CLabelTracker(const Weights& w) : w_(w) {}
    void SetWeights(const Weights& w) { w_ = w; }

    // Chooses among the frame's assessed candidates; returns the index
    // chosen, or -1 when there are none. A candidate beyond reach is taken
    // only when every one is. `captured` tells whether the angles mean
    // anything; before the first capture, of the sorting's solutions the one
    // nearest `start` (the model's start depths) is taken, as the depth solve
    // from them would.
    int Choose(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
               const std::array<double, 3>& start);
    // A settled track is followed while its continuation is found near where
    // it should be and within reach; then no other candidate matters, and
    // the caller may solve that one alone (from Expected) and hand it to
    // FollowSettled instead of enumerating every candidate for Choose.
    bool Settled() const;
    Markers Expected() const;
    // Takes `c` as the settled track's continuation when it is one (no jump,
    // within reach); false leaves the choice to Choose.
    bool FollowSettled(const Candidate& c);
    // Whether the last choice does not continue the track followed before
    // (a new track, or another labelling under the same blobs): smoothing
    // of the labelled points must start over.
    bool Switched() const { return switched_; }
    // The frame chosen for was solved: its candidates become the tracks.
    void Commit();
    // The frame was not solved (blobs missing or merged, solve rejected,
    // tracking paused): the tracks age by a frame.
    void Miss()
    {
        ++age_;
        pendingCount_ = 0;
    }
    void Forget()
    {
        count_ = pendingCount_ = age_ = 0;
        chosen_ = -1;
    }

private:
    struct Track {
        Markers now{};
        Markers before{};
        bool hasBefore = false;
        double move = 0.0;     // from the track it continues, in steps squared
        double evidence = 0.0; // the sorting's say along the track
        int from = -1;         // index of the track it continues, -1 when it starts here
        int length = 0;        // frames followed
    };
    Markers Predicted(const Track& t) const;
    void Continue(std::span<const Candidate> candidates, const SortingVerdict& sorting);
    int Follow(std::span<const Candidate> candidates);
    int Start(std::span<const Candidate> candidates, const SortingVerdict& sorting, bool captured,
              const std::array<double, 3>& start) const;

    Weights w_;
    std::array<Track, kMaxCandidates> tracks_{};
    int count_ = 0;
    int age_ = 0; // frames since the tracks were committed
    int chosen_ = -1;
    std::array<Track, kMaxCandidates> pending_{};
    int pendingCount_ = 0;
    int pendingChosen_ = -1;
    bool switched_ = false;
};

} // namespace clip_labelling
