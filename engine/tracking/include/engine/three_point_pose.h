#pragma once
// Three-point pose solver: from the three labelled image points of the clip
// to the head's rotation (yaw, pitch, roll in degrees, relative to the
// captured pose) and position (x across, y vertical, z depth, mm).
// Perspective-three-point by Newton iteration on the law of cosines, a
// rotation between orthonormal triads and an Euler decomposition.
#include <array>
#include <span>

#include "engine/clip_labelling.h"
#include "engine/pose_models.h"
#include "engine/small_matrix.h"

struct ImagePoint {
    double x = 0.0; // pixels from the image centre, oriented
    double y = 0.0;
};

struct PoseSolution {
    double yaw = 0.0, pitch = 0.0, roll = 0.0; // degrees
    double x = 0.0, y = 0.0, z = 0.0;          // head point, mm
    // Marker positions in camera space (across, depth, vertical), mm.
    std::array<std::array<double, 3>, 3> markers{};
};

class CThreePointPose {
public:
    // Where the depth solve starts.
    enum class RootChoice {
        // Newton from the previous frame's depths (or the model's start
        // depths after a re-initialise), once more from the start depths
        // when that does not converge.
        Continue,
        // As Continue; when that finds no solution (after a re-acquire at a
        // pose far from the model's start), also starts from the last good
        // frame's depths.
        RestartFromPrevious,
    };

    // How three image points become P0, P1, P2, and where the depth solve
    // starts.
    enum class Labelling {
        // The clip model's sorting mode alone, every frame; Newton from the
        // previous frame's depths or the model's start depths.
        Specified,
        // Every labelling of the three points and every solution under it
        // are candidates; the label tracker (clip_labelling.h) follows the
        // head from frame to frame among them, never further than a head
        // turns and moves between the frames' time stamps, and starts afresh
        // from the sorting, the captured pose and where the head was last
        // seen and heading, comparing the fits side by side for the first
        // frames; the depth solve starts from its choice. The sorting modes mislabel the
        // clip for many poses users make (a level clip pitched, an arrow
        // clip yawed past about 50 degrees), and Newton from the last frame
        // can settle on the mirror solution of a clip seen nearly edge on.
        Tracked,
    };

    CThreePointPose();

    void SetCameraIntrinsics(const CameraModel& model);
    CameraModel GetCameraIntrinsics() const { return camera_; }
    // Takes `model` as the clip. The angles stay relative to the captured
    // pose: the reference changes only on a capture. The same model again
    // changes nothing; another model makes the next solved frame capture,
    // since the old reference was measured with the old clip. Returns
    // whether the model changed.
    bool SetModel(const CHeadsetModel& model);
    // Takes the clip geometry, start depths, location and sorting of `model`
    // (TX..TZ, Dist01/02/12, Distol, Del0-2, Location, Sorting), recomputes the
    // derived fields, and returns the model now in use (see SetModel).
    CHeadsetModel ApplyModel(const CHeadsetModel& model);
    const CHeadsetModel& GetModel() const { return model_; }
    void SetRootChoice(RootChoice choice) { rootChoice_ = choice; }
    RootChoice GetRootChoice() const { return rootChoice_; }

    // Corrects points (relative to the image centre) for radial lens
    // distortion when the camera model asks for it.
    void Undistort(std::span<ImagePoint, 3> points) const;

    // Labels three oriented points by the clip model's sorting mode:
    // indices[0..2] are the points taken as P0, P1, P2.
    void OrderMarkers(std::array<int, 3>& indices, std::span<const ImagePoint, 3> points,
                      double halfHeight) const;

    void SetLabelling(Labelling labelling) { labelling_ = labelling; }
    Labelling GetLabelling() const { return labelling_; }
    // The time stamp (seconds, any epoch) of the frame labelled next: the
    // label tracker follows the head only as far as a head can turn and move
    // since the frames before. Without one, it assumes the frame time of its
    // weights between frames.
    void SetFrameTime(double seconds) { frameTime_ = seconds; }
    // Labels three oriented points (before undistortion) as P0, P1, P2: by
    // OrderMarkers, or, with Tracked, by the candidate the label
    // tracker chooses, which the next SolveFrame starts from. When the
    // tracker finds no candidate the head could have reached, the next
    // SolveFrame gives no pose.
    void LabelMarkers(std::array<int, 3>& indices, std::span<const ImagePoint, 3> points, double halfHeight);
    // The sorting mode's labelling and how sure it is: sure when the values
    // it compares lie kSortingMargin pixels apart or more.
    clip_labelling::SortingVerdict SortingOf(std::span<const ImagePoint, 3> points, double halfHeight) const;
    static constexpr double kSortingMargin = 8.0;
    // A three-point frame that did not reach the solve (blobs merged or
    // missing, tracking paused): the tracks age by one frame.
    void MissedFrame() { tracker_.Miss(); }
    // Nothing to follow: the next frame starts the tracks afresh.
    void ForgetLabels() { tracker_.Forget(); }
    void SetLabelWeights(const clip_labelling::CLabelTracker::Weights& w) { tracker_.SetWeights(w); }
    void SetReach(const clip_labelling::Reach& r) { reach_ = r; }
    // The last LabelMarkers chose a labelling that does not continue the one
    // followed before: smoothing of the labelled points must start over.
    bool LabelsSwitched() const { return labelling_ == Labelling::Tracked && tracker_.Switched(); }

    // Next frame takes the captured pose as the zero of the angles (re-centre).
    void SetCapture() { capture_ = true; reinitialise_ = true; }
    // Next frame starts the depths from the model (re-acquire).
    void SetReinitialise() { reinitialise_ = true; }
    bool CaptureFlag() const { return capture_; }
    bool ReinitialiseFlag() const { return reinitialise_; }

    // One solve of the labelled points P0, P1, P2. Returns false when the
    // depth solve failed or the labelling was refused; the solution is then
    // not a number.
    bool SolveFrame(std::span<const ImagePoint, 3> points);

    // SolveFrame, the roll sign applied, and the result check
    // (ResultAcceptable). A rejected frame re-initialises the depths of the
    // next one.
    bool SolvePose(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out);
    // The result check: an angle above 360 degrees or not a number, or a
    // coordinate more than 10000 mm from the camera's axes either way or not
    // a number, is refused.
    static bool ResultAcceptable(const PoseSolution& s);

    const PoseSolution& Solution() const { return solution_; }
    // Newton steps of the last depth solve that was kept.
    int LastIterations() const { return lastIterations_; }

private:
    struct Depths {
        double l[3];
    };
    bool SolveChecked(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out);
    bool SolveDepths(Depths& d, int maxSteps, int& steps) const;
    bool Compose(const Depths& d, PoseSolution& out, CSmallMatrix& measuredTriad,
                 CSmallMatrix (&clip)[3]) const;
    // The unit ray of a point (relative to the image centre, undistorted).
    std::array<double, 3> RayOf(const ImagePoint& point) const;

    CameraModel camera_;
    double halfWidth_ = 177.5;
    double halfHeight_ = 145.0;
    CHeadsetModel model_;
    bool haveModel_ = false;
    CSmallMatrix modelTriad_;
    CSmallMatrix referenceTriad_;
    RootChoice rootChoice_ = RootChoice::RestartFromPrevious;
    Labelling labelling_ = Labelling::Tracked;

    clip_labelling::CLabelTracker tracker_;
    bool captured_ = false; // a capture has set the reference since the model was set
    clip_labelling::Vec3 referenceHead_{}; // head point at the capture (across, depth, vertical)
    clip_labelling::Reach reach_;
    // The depths of the solution LabelMarkers chose; the next SolveFrame
    // starts from them.
    Depths chosenStart_{};
    bool haveChosenStart_ = false;
    bool refused_ = false;
    double frameTime_ = clip_labelling::CLabelTracker::kNoTime;

    bool capture_ = true; // the first solve captures
    bool reinitialise_ = true;
    bool havePrevious_ = false;
    Depths depths_{};
    Depths goodDepths_{};

    // Per frame, no allocation.
    std::array<CSmallMatrix, 3> rays_;
    double c01_ = 0, c02_ = 0, c12_ = 0;
    double d01_ = 0, d02_ = 0, d12_ = 0;
    PoseSolution solution_;
    int lastIterations_ = 0;
};

// The orthonormal triad of three points (o, a, b): e0 along a - o, e2 normal
// to the plane, e1 = e2 x e0; the columns of the result. Not a number when
// the points are degenerate.
CSmallMatrix TriadOf(const CSmallMatrix& o, const CSmallMatrix& a, const CSmallMatrix& b);
