#pragma once
// The tracking engine. A worker thread at the highest priority takes each
// frame and its tracked coordinate from the camera system's double buffers,
// turns them into a six-axis pose (one point or the three-point clip),
// shapes it by the current profile and the active game, and publishes it to
// game clients through the link it inherits. It keeps the tracking state and
// the camera's green light, pauses, re-centres, records the published poses
// and plays a recording back in place of the camera.
//
// Threads: the worker runs the frame road; the user-interface thread calls
// Start, Stop, pause, precision, re-centre, recording and playback; the
// command window thread calls OnProfileId, OnClientGone and OnRecenter. Flags
// are atomic; the pose arrays the monitor windows read are published through
// seqlocks; the held frame is guarded by the held-frame lock. On its frame
// road the worker waits for another thread only while a monitor window copies
// the held frame or the host copies the profile out: never longer than a copy.
// The camera system must outlive the engine (Stop gives frames back to it).
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/camera_system.h"
#include "engine/EngineHost.h"
#include "engine/SeqLock.h"
#include "engine/VSLEnhanced.h"
#include "engine/pose_file.h"
#include "engine/smoothing_filter.h"
#include "engine/three_point_pose.h"
#include "platform/clock.h"
#include "platform/sync.h"

// Six axes in the order x, y, z, yaw, pitch, roll.
using CPoseAxes = std::array<double, 6>;
enum PoseAxis : int { kPoseX = 0, kPoseY, kPoseZ, kPoseYaw, kPosePitch, kPoseRoll };

// One object of a frame as blob filtering sees it.
class CEngineBlob {
public:
    Orvane::CameraObject* object = nullptr;
    float GetArea() const { return object->GetArea(); }
    void SetArea(float area) { object->area = area; }
    float GetWidth() const { return object->GetWidth(); }
    unsigned GetHeight() const { return object->GetHeight(); }
    double GetX() const { return object->GetX(); }
    double GetY() const { return object->GetY(); }
};

class CCameraDataProcessor : public CVSLEnhanced {
public:
    static constexpr std::uint32_t kDefaultFrameWaitMs = 1000;
    static constexpr std::uint32_t kLostLimitMs = 3000;
    static constexpr int kWorkerExitCode = 22;
    static constexpr int kFilterBankCount = 15;
    static constexpr float kPrecisionSmoothing = 350.0f;
    // Longest wait before one played record, and the slice a wait is cut into
    // so that Stop stays prompt.
    static constexpr std::uint32_t kMaxPlaybackDelayMs = 1000;
    static constexpr std::uint32_t kSleepSliceMs = 10;

    enum TrackingState : int { kTracked = 0, kLost = 1, kLostLong = 2 };

    struct Options {
        // Time of the state machine, playback and recording.
        platform::Clock* clock = nullptr; // null: the system clock
        // How long the worker waits for a frame before the pass counts as untracked.
        std::uint32_t frameWaitMs = kDefaultFrameWaitMs;
        // The pose file, relative to the working folder.
        std::filesystem::path poseFile = kPoseFileName;
        // Where the client library's folder and the clip override are read.
        std::shared_ptr<platform::registry::Store> registry = platform::registry::defaultStore();
        // The clip override source; null: the registry's override key.
        const IModelOverrideSource* modelOverride = nullptr;
        // Makes the worker and the command thread; null: the system's.
        platform::ThreadStarter* threads = nullptr;
        // Flushes a finished recording to disk; null: fsync.
        CPoseFileWriter::FileSync poseFileSync = nullptr;
    };

    CCameraDataProcessor(IEngineHost& host, Orvane::CameraSystem& camera);
    CCameraDataProcessor(IEngineHost& host, Orvane::CameraSystem& camera, Options options);
    ~CCameraDataProcessor() override;

    // Sets up the camera model, starts the worker and the command window.
    // 0, or the system's error number when the worker cannot be created
    // (nothing is started then).
    std::uint32_t Start();
    // Ends the worker (it wakes within the frame wait), gives back the held
    // frame and coordinate, and finishes a recording still running as
    // StopRecording does (a failure keeps the data, see RecordingKeptAs).
    // Returns 0.
    std::uint32_t Stop();
    bool IsRunning() const { return worker_.joinable(); }

    // The camera model for the camera's hardware revision; taken by the
    // worker before its next frame.
    void SetupCamera();
    // Takes a clip model (geometry, start depths, location, sorting) and
    // returns it as the solver will use it; applied before the next frame.
    // The same model again changes nothing; another one makes the next
    // solved frame the centre, as a re-centre does.
    CHeadsetModel ApplyModel(const CHeadsetModel& model);

    void Recenter() { OnRecenter(); }
    void SetPaused(bool paused);
    bool IsPaused() const { return paused_.load() != 0; }
    void SetPrecision(bool precision) { precision_.store(precision ? 1 : 0); }
    bool IsPrecision() const { return precision_.load() != 0; }

    // Recording of every published pose into the pose file, written to a
    // file of its own and renamed over the pose file when it stops. 0, or
    // the system error as an HRESULT. A recording that cannot be saved as the
    // pose file is kept beside it (RecordingKeptAs) and its error returned;
    // starting while recording first stops the running recording.
    std::uint32_t StartRecording();
    std::uint32_t StopRecording();
    // Where the last recording that could not be saved as the pose file lies.
    std::filesystem::path RecordingKeptAs() const;
    bool IsRecording() const { return recording_.load() != 0; }
    // Playback in place of the camera; ends by itself at the end of the file
    // or on the first error (LastPlaybackError).
    void StartPlayback();
    void StopPlayback();
    bool IsLive() const { return live_.load() != 0; }
    std::uint32_t LastPlaybackError() const { return playbackError_.load(); }

    // For the monitor windows, from any thread.
    CPoseAxes RawAxes() const { return rawShared_.Load(); }
    CPoseAxes OutputAxes() const { return outputShared_.Load(); }
    CPoseAxes CurveAxes() const { return curveShared_.Load(); }
    CPoseAxes PreCompensationAxes() const { return preCompShared_.Load(); }
    // The record as last published.
    OVPosePacket PublishedRecord() const { return recordShared_.Load(); }
    // Copies the held frame under the held-frame lock; false when none is held.
    bool CopyHeldFrame(Orvane::Frame& out) const;
    bool HasHeldFrame() const;

    int GetTrackingState() const { return state_.load(); }
    std::uint32_t GetFrameCount() const { return frameCount_.load(); }
    std::uint32_t GetPublishCount() const { return publishCount_.load(); }
    double GetRollSign() const { return rollSign_.load(); }
    int GetHardwareRevision() const { return revision_.load(); }
    int GetWorkerExitCode() const { return workerExit_.load(); }

    // One pass of the worker (live road or one played record), for a caller
    // that drives the engine on its own thread instead of Start.
    void RunPass();
    void ProcessFrame();
    std::uint32_t PlaybackRecord();

    // The curve of one axis (0-5: yaw, pitch, roll, x, y, z).
    static double ComputeAxis(const CEngineProfile& profile, double value, int axis);

protected:
    void OnClientGone() override;
    std::int32_t OnProfileId(std::uint32_t id) override;
    void OnRecenter() override;

private:
    void Run();
    void ApplyPending();
    void GiveBackHeld();
    void HoldFrame(Orvane::Frame* frame);
    void ProcessThreePoint(Orvane::Frame& frame);
    void ProcessSinglePoint(const Orvane::TrackedCoordinate& coordinate);
    void UpdateTrackingState(bool tracked);
    void SetTrackingLed(bool on);
    void ZeroPose();
    void ResetFilters();
    void ResetPointFilters();
    void SmoothPoints(int count);
    bool ComputeThreePoint();
    bool ComputeOnePoint();
    void CompensateTranslation(CPoseAxes& curve);
    void PublishPose(bool firstFrame, const CPoseAxes& raw, const CPoseAxes& output, bool fromWorker);
    void PublishWorkArrays(bool firstFrame);
    void Sleep(std::uint32_t ms);
    void Post(platform::UINT message, platform::WPARAM wParam = 0, platform::LPARAM lParam = 0);
    void FailPlayback(std::uint32_t error);
    std::uint32_t FinishRecording(); // under recordLock_
    std::uint32_t Now() const { return clock_->tickCount(); }

    IEngineHost& host_;
    Orvane::CameraSystem& camera_;
    platform::Clock* clock_;
    std::uint32_t frameWaitMs_;
    std::filesystem::path poseFile_;
    CPoseFileWriter::FileSync poseFileSync_;

    platform::Thread worker_;
    platform::ProcessorFollower follower_;  // used by the worker alone
    std::atomic<bool> stop_{false};
    std::atomic<int> workerExit_{0};

    // Held frame: the worker's, the monitor windows copy it.
    mutable platform::CriticalSection heldLock_;
    Orvane::Frame* held_ = nullptr;
    Orvane::TrackedCoordinate* heldCoordinate_ = nullptr; // worker only

    // Worker-only state.
    CThreePointPose solver_;
    std::array<CSmoothingFilterBank, kFilterBankCount> banks_;
    std::vector<CEngineBlob> blobs_;
    std::vector<CEngineBlob*> blobTable_;
    CEngineProfile profile_{};
    CEngineLimits limits_{};
    std::int32_t rotation_ = 0;
    double imageWidth_ = 355.0, imageHeight_ = 290.0, halfWidth_ = 177.5, halfHeight_ = 145.0;
    std::array<ImagePoint, 3> points_{};
    std::array<ImagePoint, 3> smoothed_{};
    PoseSolution solution_{};
    std::array<double, 6> solved_{};      // yaw, pitch, roll, x, y, z
    std::array<double, 6> centre_{};      // of the re-centre frame, same order
    std::array<std::array<double, 3>, 3> centreMarkers_{};
    ImagePoint onePointCentre_{};
    CPoseAxes raw_{}, curve_{}, output_{}, preComp_{};
    CPoseAxes compensated_{};
    std::array<double, 3> previousCurve_{};
    std::uint32_t lastTracked_ = 0;
    std::uint32_t lastPlayed_ = 0;
    bool firstPlayed_ = true;
    std::uint64_t playbackSeen_ = 0;
    CPoseFileReader reader_;

    // Flags shared with the other threads.
    std::atomic<int> revision_{0};
    std::atomic<int> state_{kTracked};
    std::atomic<int> reacquire_{0};
    std::atomic<int> recentre_{1};
    std::atomic<bool> capturePending_{false};
    std::atomic<bool> recentreRequest_{false}; // set by OnRecenter, taken by the worker
    std::atomic<bool> compensationReference_{false};
    std::atomic<int> paused_{0};
    std::atomic<int> precision_{0};
    std::atomic<double> rollSign_{1.0};
    std::atomic<int> live_{1};
    std::atomic<int> recording_{0};
    std::atomic<std::uint64_t> playbackRequest_{0};
    std::atomic<std::uint32_t> playbackError_{0};
    std::atomic<std::uint32_t> frameCount_{0};
    std::atomic<std::uint32_t> publishCount_{0};
    std::atomic<bool> cameraPending_{false};
    std::atomic<int> pendingRevision_{0};
    std::mutex modelLock_; // pending clip model
    bool modelPending_ = false;
    CHeadsetModel pendingModel_{};

    // Publishing: the worker and a re-centre while paused publish; the
    // worker never waits for the other side.
    platform::CriticalSection publishLock_;
    std::mutex recordLock_;
    std::unique_ptr<CPoseFileWriter> writer_;
    mutable std::mutex keptLock_;
    std::filesystem::path keptAs_;

    CSeqLock<CPoseAxes> rawShared_, outputShared_, curveShared_, preCompShared_;
    CSeqLock<OVPosePacket> recordShared_;
};
