#include "engine/CameraDataProcessor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <system_error>

#include "camera/settings.h"
#include "engine/blob_identification.h"
#include "engine/registry_model_override.h"
#include "platform/clock.h"
#include "platform/debug.h"

namespace {

constexpr std::int32_t kClientTracking = 0;
constexpr std::int32_t kClientPaused = 1;
constexpr std::int32_t kClientRecentred = 2;

unsigned BankKind(int index)
{
    // Image points and three-point axes: Kalman; one-point axes: the beta kind.
    return index < 9 ? CSmoothingFilterBank::kKalman : CSmoothingFilterBank::kDefaultBeta;
}

template <std::size_t... I>
std::array<CSmoothingFilterBank, sizeof...(I)> MakeBanks(std::index_sequence<I...>)
{
    return {CSmoothingFilterBank(BankKind(static_cast<int>(I)))...};
}

} // namespace

CCameraDataProcessor::CCameraDataProcessor(IEngineHost& host, Orvane::CameraSystem& camera)
    : CCameraDataProcessor(host, camera, Options{})
{
}

CCameraDataProcessor::CCameraDataProcessor(IEngineHost& host, Orvane::CameraSystem& camera, Options options)
    : CVSLEnhanced(options.registry, options.threads),
      host_(host),
      camera_(camera),
      clock_(options.clock != nullptr ? options.clock : &platform::systemClock()),
      frameWaitMs_(options.frameWaitMs),
      poseFile_(std::move(options.poseFile)),
      poseFileSync_(options.poseFileSync),
      banks_(MakeBanks(std::make_index_sequence<kFilterBankCount>{}))
{
    blobs_.reserve(Orvane::Frame::DefaultObjectCapacity);
    blobTable_.reserve(Orvane::Frame::DefaultObjectCapacity);
    limits_ = FullRangeLimits();
    lastTracked_ = Now();

    CHeadsetModel model;
    if (options.modelOverride != nullptr) {
        model = LoadModelOverride(*options.modelOverride);
    } else {
        const CRegistryModelOverride source(options.registry);
        model = LoadModelOverride(source);
    }
    solver_.ApplyModel(model);
}

CCameraDataProcessor::~CCameraDataProcessor()
{
    Stop();
    // The command thread calls this object's overrides: end it first.
    CVSLEnhanced::Stop();
}

std::uint32_t CCameraDataProcessor::Start()
{
    if (worker_.joinable())
        return 0;
    SetupCamera();
    ApplyPending();
    stop_ = false;
    // The link is set up before the worker exists, so the worker only ever
    // sees the client library bound and the record reset. A thread that
    // cannot be made (the command thread or the worker) is the error Start
    // returns, and neither runs.
    try {
        CVSLEnhanced::Start();
        Threads().start(worker_, [this] { Run(); }, platform::ThreadPriority::Highest, "tracking engine");
    } catch (const std::system_error& e) {
        CVSLEnhanced::Stop();
        return static_cast<std::uint32_t>(e.code().value());
    } catch (const std::bad_alloc&) {
        CVSLEnhanced::Stop();
        return static_cast<std::uint32_t>(ENOMEM);
    }
    return 0;
}

std::uint32_t CCameraDataProcessor::Stop()
{
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
    GiveBackHeld();
    reader_.Close();
    {
        // Saved as Stop Recording saves it: a writer left to its destructor
        // would keep a failed recording without a word.
        std::lock_guard lock(recordLock_);
        FinishRecording();
    }
    return 0;
}

void CCameraDataProcessor::Run()
{
    follower_ = {};  // decided for the worker itself, whoever ran passes before
    while (!stop_.load()) {
        if (live_.load() != 0) {
            if (reader_.IsOpen())
                reader_.Close();
            ProcessFrame();
        } else {
            PlaybackRecord();
        }
    }
    workerExit_ = kWorkerExitCode;
}

void CCameraDataProcessor::RunPass()
{
    if (live_.load() != 0) {
        if (reader_.IsOpen())
            reader_.Close();
        ProcessFrame();
    } else {
        PlaybackRecord();
    }
}

void CCameraDataProcessor::SetupCamera()
{
    pendingRevision_ = camera_.GetConfigurationData().GetHardwareRevision();
    cameraPending_ = true;
}

CHeadsetModel CCameraDataProcessor::ApplyModel(const CHeadsetModel& model)
{
    CHeadsetModel finished = model;
    finished.Finish();
    std::lock_guard lock(modelLock_);
    pendingModel_ = model;
    modelPending_ = true;
    return finished;
}

void CCameraDataProcessor::ApplyPending()
{
    if (cameraPending_.exchange(false)) {
        const int revision = pendingRevision_.load();
        revision_ = revision;
        solver_.SetCameraIntrinsics(CameraModelForRevision(revision));
        imageWidth_ = Orvane::Settings::GetMaxScanLineWidth(revision);
        imageHeight_ = Orvane::Settings::GetMaxNumScanLines(revision);
        halfWidth_ = imageWidth_ / 2.0;
        halfHeight_ = imageHeight_ / 2.0;
    }
    // Never waits for the user-interface thread: a model being handed over
    // is taken on the next pass.
    std::unique_lock lock(modelLock_, std::try_to_lock);
    if (!lock.owns_lock() || !modelPending_)
        return;
    modelPending_ = false;
    const CHeadsetModel before = solver_.GetModel();
    solver_.ApplyModel(pendingModel_);
    // The same model again is no change. Another one makes the next solved
    // frame the centre, as a re-centre does: the angles and the centre then
    // come from one frame solved with it, whichever of the two came first.
    if (!(solver_.GetModel() == before)) {
        compensationReference_ = false;
        recentreRequest_ = true;
    }
}

void CCameraDataProcessor::GiveBackHeld()
{
    Orvane::Frame* frame = nullptr;
    {
        std::lock_guard lock(heldLock_);
        frame = held_;
        held_ = nullptr;
    }
    if (frame != nullptr) {
        frame->pointerTable.clear();
        camera_.GetFrameBuffer().GiveBack(frame);
    }
    if (heldCoordinate_ != nullptr) {
        camera_.GetTrackedCoordBuffer().GiveBack(heldCoordinate_);
        heldCoordinate_ = nullptr;
    }
}

void CCameraDataProcessor::HoldFrame(Orvane::Frame* frame)
{
    std::lock_guard lock(heldLock_);
    held_ = frame;
}

bool CCameraDataProcessor::CopyHeldFrame(Orvane::Frame& out) const
{
    std::lock_guard lock(heldLock_);
    if (held_ == nullptr)
        return false;
    out = *held_;
    return true;
}

bool CCameraDataProcessor::HasHeldFrame() const
{
    std::lock_guard lock(heldLock_);
    return held_ != nullptr;
}

void CCameraDataProcessor::ProcessFrame()
{
    ApplyPending();
    auto& frames = camera_.GetFrameBuffer();
    auto& coordinates = camera_.GetTrackedCoordBuffer();
    if (frames.Wait(frameWaitMs_) != platform::kWaitObject0) {
        UpdateTrackingState(false);
        return;
    }
    if (stop_.load())
        return;
    GiveBackHeld();
    Orvane::Frame* frame = frames.TakeFilled();
    if (frame == nullptr) {
        UpdateTrackingState(false);
        return;
    }
    // The next frame then wakes the worker where the packet processor runs,
    // unless frames pile up and the road needs more than one processor.
    follower_.follow(frames.ProducerProcessor(), frames.GetFilledCount() > 1);
    Orvane::TrackedCoordinate* coordinate = camera_.TakeCoordinateFor(*frame);
    if (coordinate == nullptr) {
        UpdateTrackingState(false);
        frame->pointerTable.clear();
        frames.GiveBack(frame);
        return;
    }
    (void)coordinates;
    heldCoordinate_ = coordinate;

    host_.CopyProfile(profile_);
    if (profile_.MotionType == 0)
        UpdateTrackingState(true);
    frameCount_.fetch_add(1, std::memory_order_relaxed);

    // A re-centre asked for on another thread is taken up whole between
    // frames: the solver's reference and the centre then come from one frame,
    // never from two when the request lands while a frame is being solved.
    if (recentreRequest_.exchange(false)) {
        recentre_ = 1;
        reacquire_ = 1;
        capturePending_ = true;
    }
    if (paused_.load() == 0) {
        const int n = frame->GetObjectCount();
        const auto count = static_cast<std::size_t>(std::max(n, 0));
        if (frame->pointerTable.capacity() < count)
            frame->pointerTable.reserve(count + static_cast<std::size_t>(frame->objectGrowth));
        frame->pointerTable.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            frame->pointerTable[i] = &frame->objects[i];
        if (profile_.MotionType != 0)
            ProcessThreePoint(*frame);
        else
            ProcessSinglePoint(*coordinate);
    } else if (profile_.MotionType != 0) {
        solver_.MissedFrame(); // the head moves on while paused: the labelling must not follow stale tracks
    }
    HoldFrame(frame);
}

void CCameraDataProcessor::ProcessThreePoint(Orvane::Frame& frame)
{
    const std::size_t count = frame.pointerTable.size();
    if (blobs_.capacity() < count) {
        blobs_.reserve(count);
        blobTable_.reserve(count);
    }
    blobs_.resize(count);
    blobTable_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        blobs_[i].object = frame.pointerTable[i];
        blobTable_[i] = &blobs_[i];
    }
    rotation_ = host_.CameraRotation();
    host_.CopyGameLimits(limits_);

    const std::span<CEngineBlob*> table(blobTable_.data(), count);
    // The labelling follows the head only as far as it can move between the
    // frames' time stamps (performance-counter ticks).
    solver_.SetFrameTime(frame.GetTime() / double(platform::Clock::performanceFrequency()));
    FilterObjects(table, revision_.load(), solver_.GetModel().Location);
    for (std::size_t i = 0; i < count; ++i)
        frame.pointerTable[i] = blobTable_[i]->object;
    IdentifyPoints(std::span<CEngineBlob* const>(table), rotation_, halfWidth_, halfHeight_, solver_, points_);
    if (!CheckAreas(std::span<CEngineBlob* const>(table))) {
        solver_.MissedFrame();
        reacquire_ = 1;
        UpdateTrackingState(false);
        return;
    }

    if (capturePending_.exchange(false))
        solver_.SetCapture();
    if (reacquire_.exchange(0) != 0) {
        solver_.SetReinitialise();
        ResetFilters();
    }
    solver_.Undistort(points_);
    if (solver_.LabelsSwitched())
        ResetPointFilters(); // the smoothed points belong to other markers now
    SmoothPoints(3);
    PoseSolution solution;
    if (!solver_.SolvePose(smoothed_, rollSign_.load(), solution)) {
        reacquire_ = 1;
        UpdateTrackingState(false);
        return;
    }
    solution_ = solution;
    solved_ = {solution.yaw, solution.pitch, solution.roll, solution.x, solution.y, solution.z};

    UpdateTrackingState(true);
    const bool first = recentre_.load() != 0;
    if (!ComputeThreePoint())
        return; // a pose that is not a number is never published; the previous one stays
    PublishWorkArrays(first);
}

void CCameraDataProcessor::ProcessSinglePoint(const Orvane::TrackedCoordinate& coordinate)
{
    // A centre that is not a number (an object with no area) gives no pose:
    // the frame still counts as tracked, the previous pose stays published,
    // and a pending re-centre waits for a usable point.
    if (!std::isfinite(coordinate.first) || !std::isfinite(coordinate.second))
        return;
    rotation_ = host_.CameraRotation();
    host_.CopyGameLimits(limits_);
    points_[0] = OrientPoint(coordinate.first, coordinate.second, rotation_, halfWidth_, halfHeight_, true);
    points_[1] = points_[2] = ImagePoint{};
    SmoothPoints(1);
    const bool first = recentre_.load() != 0;
    if (!ComputeOnePoint())
        return;
    PublishWorkArrays(first);
}

void CCameraDataProcessor::UpdateTrackingState(bool tracked)
{
    const int before = state_.load();
    int after = before;
    const std::uint32_t now = Now();
    if (tracked) {
        after = kTracked;
        lastTracked_ = now;
        if (before == kLostLong) {
            state_ = after;
            SetTrackingLed(true);
        }
    } else {
        CheckClientWindow();
        if (before == kTracked)
            after = kLost;
        else if (before == kLost && now - lastTracked_ > kLostLimitMs)
            after = kLostLong;
        if (after == kLostLong && before == kLost) {
            state_ = after;
            SetTrackingLed(false);
        }
    }
    state_ = after;
    if (after != before)
        Post(WM_UPDATE_STATUS);
}

void CCameraDataProcessor::SetTrackingLed(bool on)
{
    SetClientParameter(kClientTracking, on ? 1 : 0);
    if (on) {
        camera_.StatusGreenOn();
    } else {
        camera_.StatusGreenOff();
        ZeroPose();
    }
}

void CCameraDataProcessor::ZeroPose()
{
    if (paused_.load() != 0)
        return;
    raw_ = {};
    output_ = {};
    PublishWorkArrays(false);
}

void CCameraDataProcessor::SetPaused(bool paused)
{
    paused_ = paused ? 1 : 0;
    SetClientParameter(kClientPaused, paused ? 1 : 0);
}

void CCameraDataProcessor::OnRecenter()
{
    compensationReference_ = false;
    recentreRequest_ = true;
    if (paused_.load() != 0)
        PublishPose(false, rawShared_.Load(), CPoseAxes{}, worker_.isCurrent());
}

std::int32_t CCameraDataProcessor::OnProfileId(std::uint32_t id)
{
    if (id == 0 || host_.ActiveGameId() != -1)
        return 0;
    rollSign_ = (id == 3901 || id == 6201) ? -1.0 : 1.0;
    host_.PostToSheet(WM_ACTIVE_GAME, id, 0);
    host_.PostToSheet(WM_GAME_STARTED, id, 0);
    Post(WM_UPDATE_STATUS);
    if (host_.CaseStatusLightOption())
        host_.SetCaseLight(true);
    OnRecenter();
    return 1;
}

void CCameraDataProcessor::OnClientGone()
{
    const auto none = static_cast<platform::WPARAM>(-1);
    host_.PostToSheet(WM_ACTIVE_GAME, none, 0);
    host_.PostToSheet(WM_GAME_STARTED, none, 0);
    Post(WM_UPDATE_STATUS);
    host_.SetCaseLight(false);
    OnRecenter();
}

void CCameraDataProcessor::PublishWorkArrays(bool firstFrame)
{
    curveShared_.Store(curve_);
    preCompShared_.Store(preComp_);
    PublishPose(firstFrame, raw_, output_, true);
}

void CCameraDataProcessor::PublishPose(bool firstFrame, const CPoseAxes& raw, const CPoseAxes& output, bool fromWorker)
{
    // The worker never waits here: the only other publisher is a re-centre
    // while paused, whose zero pose this frame then leaves standing.
    std::unique_lock lock(publishLock_, std::defer_lock);
    if (fromWorker) {
        if (!lock.try_lock())
            return;
    } else {
        lock.lock();
    }
    if (firstFrame)
        SetClientParameter(kClientRecentred, 1);
    CVSLEnhanced::PublishPose(static_cast<float>(output[kPoseX]), static_cast<float>(output[kPoseY]),
                              static_cast<float>(output[kPoseZ]), static_cast<float>(output[kPoseRoll]),
                              static_cast<float>(output[kPosePitch]), static_cast<float>(output[kPoseYaw]));
    rawShared_.Store(raw);
    outputShared_.Store(output);
    recordShared_.Store(PoseRecord());
    publishCount_.fetch_add(1, std::memory_order_relaxed);
    if (recording_.load() != 0) {
        std::unique_lock record(recordLock_, std::try_to_lock);
        if (record.owns_lock() && writer_)
            writer_->Append(MakePoseRecord(Now(), output, raw)); // a failed write is ignored
    }
}

void CCameraDataProcessor::Post(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    host_.PostToMainWindow(message, wParam, lParam);
}

std::uint32_t CCameraDataProcessor::StartRecording()
{
    // One writer at a time: a recording still running is finished (into the
    // pose file, which the new one then replaces) before the next is made.
    std::uint32_t error = 0;
    {
        std::lock_guard lock(recordLock_);
        error = FinishRecording();
        if (error == 0) {
            auto writer = std::make_unique<CPoseFileWriter>(poseFileSync_);
            error = writer->Create(poseFile_);
            if (error == 0) {
                writer_ = std::move(writer);
                recording_ = 1;
            }
        }
    }
    if (error == 0)
        Post(WM_UPDATE_STATUS);
    return HResultFromWin32(error);
}

std::uint32_t CCameraDataProcessor::StopRecording()
{
    std::uint32_t error = 0;
    {
        std::lock_guard lock(recordLock_);
        error = FinishRecording();
    }
    Post(WM_UPDATE_STATUS);
    return HResultFromWin32(error);
}

std::uint32_t CCameraDataProcessor::FinishRecording()
{
    recording_ = 0;
    if (!writer_)
        return 0;
    const std::uint32_t error = writer_->Finish(); // flushed and renamed over the pose file
    if (error != 0) {
        platform::debug::output("The recording could not be saved as " + poseFile_.string() + "; it was kept as " +
                                writer_->KeptAs().string() + ".\n");
        std::lock_guard kept(keptLock_);
        keptAs_ = writer_->KeptAs();
    }
    writer_.reset();
    return error;
}

std::filesystem::path CCameraDataProcessor::RecordingKeptAs() const
{
    std::lock_guard kept(keptLock_);
    return keptAs_;
}

void CCameraDataProcessor::StartPlayback()
{
    playbackError_ = 0;
    playbackRequest_.fetch_add(1);
    live_ = 0;
    Post(WM_UPDATE_STATUS);
}

void CCameraDataProcessor::StopPlayback()
{
    // The reader belongs to the worker, which closes it on its next pass.
    live_ = 1;
    Post(WM_UPDATE_STATUS);
}

void CCameraDataProcessor::FailPlayback(std::uint32_t error)
{
    playbackError_ = error;
    live_ = 1;
    reader_.Close();
    Post(WM_UPDATE_STATUS);
}

void CCameraDataProcessor::Sleep(std::uint32_t ms)
{
    while (ms > 0 && !stop_.load() && live_.load() == 0) {
        const std::uint32_t slice = std::min(ms, kSleepSliceMs);
        clock_->sleepFor(std::chrono::milliseconds(slice));
        ms -= slice;
    }
}

std::uint32_t CCameraDataProcessor::PlaybackRecord()
{
    const std::uint64_t request = playbackRequest_.load();
    if (request != playbackSeen_) {
        // A new start of playback reads the file from its beginning.
        reader_.Close();
        playbackSeen_ = request;
    }
    if (!reader_.IsOpen()) {
        const std::uint32_t error = reader_.Open(poseFile_);
        if (error != 0) {
            FailPlayback(error);
            return error;
        }
        firstPlayed_ = true;
    }
    ::PoseRecord record;
    std::uint32_t error = 0;
    switch (reader_.Next(record, error)) {
    case CPoseFileReader::Read::Error:
        FailPlayback(error);
        return error;
    case CPoseFileReader::Read::End:
        reader_.Close();
        StopPlayback();
        return 0;
    case CPoseFileReader::Read::Record:
        break;
    }
    if (firstPlayed_) {
        lastPlayed_ = record.tick;
        firstPlayed_ = false;
    }
    Sleep(PlaybackDelay(lastPlayed_, record.tick, kMaxPlaybackDelayMs));
    lastPlayed_ = record.tick;
    if (stop_.load() || live_.load() != 0)
        return 0;

    const CPoseAxes output{record.outputX, record.outputY, record.outputZ,
                           record.outputYaw, record.outputPitch, record.outputRoll};
    const CPoseAxes raw{record.rawX, record.rawY, record.rawZ, record.rawYaw, record.rawPitch, record.rawRoll};
    {
        // Played records are published as they were recorded, never recorded again.
        std::lock_guard lock(publishLock_);
        CVSLEnhanced::PublishPose(record.outputX, record.outputY, record.outputZ, record.outputRoll,
                                  record.outputPitch, record.outputYaw);
        rawShared_.Store(raw);
        outputShared_.Store(output);
        recordShared_.Store(PoseRecord());
        publishCount_.fetch_add(1, std::memory_order_relaxed);
    }
    raw_ = raw;
    output_ = output;
    return 0;
}
