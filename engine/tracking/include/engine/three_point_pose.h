#pragma once
// Three-point pose solver: from the three labelled image points of the clip
// to the head's rotation (yaw, pitch, roll in degrees, relative to the
// captured pose) and position (x across, y vertical, z depth, mm).
// Perspective-three-point by Newton iteration on the law of cosines, a
// rotation between orthonormal triads and an Euler decomposition.
#include <array>
#include <span>

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

    // How three image points become P0, P1, P2.
    enum class Labelling {
        // The clip model's sorting mode alone, every frame.
        Specified,
        // The sorting mode when there is no recent labelling to follow; while
        // the clip is tracked (and its labelling was confirmed by a frame where
        // the sorting was sure), the assignment nearest where the markers of
        // the last solved frames should be now, the sorting winning ties; and
        // a solve whose pose jumps away from the last one also tries the other
        // labellings and keeps the pose nearest the last. The sorting modes
        // mislabel the clip for many poses users make (a level clip pitched,
        // an arrow clip yawed past about 50 degrees).
        NearestPrevious,
    };

    CThreePointPose();

    void SetCameraIntrinsics(const CameraModel& model);
    CameraModel GetCameraIntrinsics() const { return camera_; }
    void SetModel(const CHeadsetModel& model);
    // Takes the clip geometry, start depths, location and sorting of `model`
    // (TX..TZ, Dist01/02/12, Distol, Del0-2, Location, Sorting), recomputes the
    // derived fields, and returns the model now in use.
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
    // OrderMarkers, then, with NearestPrevious and a labelling kept from the
    // frames before, the assignment nearest where the markers should be now.
    void LabelMarkers(std::array<int, 3>& indices, std::span<const ImagePoint, 3> points,
                      double halfHeight) const;
    // The labelled points (as oriented, before undistortion) of a frame whose
    // solve was accepted: the next frame's labelling follows them.
    void KeepLabels(std::span<const ImagePoint, 3> labelled);
    // A three-point frame that did not reach the solve (blobs merged or
    // missing): the kept labelling ages by one frame.
    void MissedFrame() { ++labelAge_; }
    // No labelling to follow: the next frame is labelled by the sorting mode.
    // Called by a rejected solve and by a new clip model.
    void ForgetLabels() { labelsKept_ = 0; }
    // A kept labelling older than this many frames is not followed.
    static constexpr int kLabelMaxAge = 5;
    // Pixels by which the values the sorting compares must differ for the
    // sorting to be sure of its labelling.
    static constexpr double kSortingMargin = 8.0;

    // Next frame takes the captured pose as the zero of the angles (re-centre).
    void SetCapture() { capture_ = true; reinitialise_ = true; }
    // Next frame starts the depths from the model (re-acquire).
    void SetReinitialise() { reinitialise_ = true; }
    bool CaptureFlag() const { return capture_; }
    bool ReinitialiseFlag() const { return reinitialise_; }

    // One solve of the labelled points P0, P1, P2. Returns false when the
    // depth solve failed; the solution is then not a number.
    bool SolveFrame(std::span<const ImagePoint, 3> points);

    // SolveFrame, the roll sign applied, and the result check: false when an
    // angle or a coordinate is not a finite number or a coordinate is beyond
    // 10000 mm. A rejected frame re-initialises the depths of the next one.
    bool SolvePose(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out);

    // Which input point each of P0, P1, P2 was taken from in the last
    // accepted SolvePose: the identity unless the labelling was mended there.
    const std::array<int, 3>& LastOrder() const { return lastOrder_; }

    const PoseSolution& Solution() const { return solution_; }
    // Newton steps of the last depth solve that was kept.
    int LastIterations() const { return lastIterations_; }

private:
    struct Depths {
        double l[3];
    };
    // What a solve changes, so that other labellings can be tried from the
    // same start.
    struct SolveState {
        bool capture, reinitialise, havePrevious;
        Depths depths, goodDepths;
        CSmallMatrix referenceTriad;
        PoseSolution solution;
        int iterations;
    };
    SolveState SaveState() const;
    void RestoreState(const SolveState& s);
    bool SolveChecked(std::span<const ImagePoint, 3> points, double rollSign, PoseSolution& out);
    bool SortingConfirms(std::span<const ImagePoint, 3> labelled) const;
    bool SolveDepths(Depths& d, int maxSteps, int& steps) const;
    bool Compose(const Depths& d, PoseSolution& out, CSmallMatrix& measuredTriad,
                 CSmallMatrix (&clip)[3]) const;

    CameraModel camera_;
    double halfWidth_ = 177.5;
    double halfHeight_ = 145.0;
    CHeadsetModel model_;
    CSmallMatrix modelTriad_;
    CSmallMatrix referenceTriad_;
    RootChoice rootChoice_ = RootChoice::RestartFromPrevious;
    Labelling labelling_ = Labelling::NearestPrevious;
    // The last two kept labellings (newest first) and how many are valid.
    std::array<std::array<ImagePoint, 3>, 2> keptLabels_{};
    int labelsKept_ = 0;
    int labelAge_ = 0;  // frames since keptLabels_[0]
    int labelGap_ = 1;  // frames from keptLabels_[1] to keptLabels_[0]
    bool labelsConfirmed_ = false;
    std::array<int, 3> lastOrder_{0, 1, 2};
    PoseSolution lastAccepted_; // roll sign applied
    bool haveAccepted_ = false;

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
