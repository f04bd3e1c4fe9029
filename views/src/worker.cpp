#include "views/worker.h"

#include "platform/messages.h"

namespace views {

ViewWorker::ViewWorker(WorkerEnvironment env) : env_(env)
{
    if (!env_.windows) {
        x11Windows_ = std::make_unique<X11WindowSource>();
        processWindows_ = std::make_unique<ProcessWindowSource>(*env_.processes);
        ownWindows_ = std::make_unique<GameWindowFinder>(*x11Windows_, *processWindows_);
        env_.windows = ownWindows_.get();
    }
    if (!env_.poses) {
        ownPoses_ = std::make_unique<CVistrel>();
        env_.poses = ownPoses_.get();
    }
}

bool ViewWorker::pause(platform::Event& stop, std::uint32_t ms)
{
    return stop.wait(ms) == platform::kWaitObject0;
}

bool ViewWorker::stopped(platform::Event& stop)
{
    return stop.wait(0) == platform::kWaitObject0;
}

ViewWorker::SessionEnd ViewWorker::session(platform::Event& stop, CProcessPoker& poker,
                                           const SupportedGame& row, const GameWindow& window)
{
    const WorkerTiming& t = env_.timing;
    std::unique_ptr<CGameDetails> writer = row.factory();
    OVPosePacket record{};
    writer->OnStart();
    writer->Prepare(window.pid);
    if (writer->Update(&poker, &record) != 0) {
        writer->OnStop();
        return SessionEnd::Refused;
    }
    PoseSource& poses = *env_.poses;
    bool ended = false;
    if (row.helperDoesIt == 0) {
        platform::HWND standIn = 0;
        if (env_.standInWindow)
            standIn = platform::createWindow({"VSLViewsGame", "VSLViews game session", false},
                                             [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                                                 return platform::LRESULT{0};
                                             });
        poses.Connect(standIn != 0 ? standIn : static_cast<OVWindow>(window.id),
                      static_cast<std::uint16_t>(row.profileId));
        std::uint16_t lastFrame = 0;
        for (;;) {
            if (stopped(stop)) {
                ended = true;
                break;
            }
            if (!poses.Poll(record)) {
                if (pause(stop, t.pollPauseMs)) {
                    ended = true;
                    break;
                }
                if (!env_.windows->exists(window.id))
                    break;
                continue;
            }
            if (env_.windows->exists(window.id))
                miss_ = 0;
            else if (++miss_ > t.missLimit)
                break;
            if (record.frame == lastFrame) {
                if (pause(stop, t.pollPauseMs)) {
                    ended = true;
                    break;
                }
            } else if (writer->Update(&poker, &record) != 0 && ++miss_ > t.missLimit) {
                break;
            }
            lastFrame = record.frame;
        }
        poses.Disconnect();
        if (standIn != 0)
            platform::destroyWindow(standIn);
    } else {
        for (;;) {
            if (pause(stop, t.helperPauseMs)) {
                ended = true;
                break;
            }
            if (env_.windows->exists(window.id))
                miss_ = 0;
            else if (++miss_ > t.missLimit)
                break;
        }
    }
    // A session cut short by the stop still ends its writer in order.
    writer->OnStop();
    return ended ? SessionEnd::Stopped : SessionEnd::GameGone;
}

void ViewWorker::run(platform::Event& stop)
{
    const WorkerTiming& t = env_.timing;
    for (;;) {
        auto poker = std::make_unique<CProcessPoker>(*env_.processes);
        if (pause(stop, t.roundPauseMs))
            return;
        const SupportedGame* taken = nullptr;
        GameWindow window;
        std::size_t row = 0;
        while (!taken) {
            if (row >= env_.table.size() || !env_.table[row].displayName)
                row = 0;
            if (stopped(stop))
                return;
            const SupportedGame& game = env_.table[row];
            // The pre-check's note is not kept: nothing reads it.
            const char* note = nullptr;
            if (auto found = env_.windows->findGameWindow(game);
                found && found->pid != 0 && poker->Attach(found->pid) && game.factory &&
                (!game.preCheck || game.preCheck(poker.get(), &note))) {
                window = std::move(*found);
                taken = &game;
                break;
            }
            if (pause(stop, t.rowPauseMs))
                return;
            ++row;
        }
        const SessionEnd end = session(stop, *poker, *taken, window);
        env_.windows->forget(window.id);
        if (end == SessionEnd::Stopped)
            return;
        if (end == SessionEnd::Refused)
            continue; // the next round tries again
        if (pause(stop, t.endWaitMs))
            return;
    }
}

int ViewLibrary::start(WorkerEnvironment env)
{
    if (thread_.joinable())
        return 0;
    stop_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
    running_ = true;
    thread_.start(
        [this, env] {
            {
                ViewWorker worker(env);
                worker.run(*stop_);
            }
            running_ = false;
        },
        platform::ThreadPriority::Highest, "VSLViews");
    return 0;
}

int ViewLibrary::stop()
{
    if (stop_)
        stop_->set();
    if (thread_.joinable())
        thread_.join();
    stop_.reset();
    return 0;
}

} // namespace views

namespace {
views::ViewLibrary& library()
{
    static views::ViewLibrary instance;
    return instance;
}
} // namespace

int VSLViewsStart()
{
    return library().start();
}

int VSLViewsStop()
{
    return library().stop();
}

int VSLViewsVersion()
{
    return 2;
}
