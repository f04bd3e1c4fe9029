#pragma once
// Pumps the GUI thread's message queue (platform/messages.h) from Qt's event
// loop, so that messages posted or sent to windows of the GUI thread are
// dispatched there, between Qt's own events.
//
// The loop sleeps until there is something to do: the queue's wake
// descriptor (readable when a message is posted or sent to the thread, or its
// timers change) is watched by a socket notifier, and a single-shot timer is
// set for the queue's next timer. The queue is also looked at each time the
// loop is about to block, for messages the GUI thread posted itself. WM_QUIT
// ends the Qt loop with its exit code.
#include <chrono>
#include <memory>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace platform::gui {

class MessagePump : public QObject {
    Q_OBJECT
public:
    // How often the queue is looked at when its timers run on a test clock,
    // which may move while the loop sleeps.
    static constexpr std::chrono::milliseconds kTestClockSlice{10};

    // Must be made on the GUI thread, after the QCoreApplication.
    explicit MessagePump(QObject* parent = nullptr);
    ~MessagePump() override;

    // Dispatches the messages that are waiting, at most `limit` of them so
    // that Qt's events keep flowing; returns how many were taken.
    int pumpNow(int limit = 256);

    // Whether WM_QUIT was taken (and the Qt loop told to exit).
    bool quitSeen() const { return quitSeen_; }
    int exitCode() const { return exitCode_; }

private:
    // Sets the single-shot timer for the queue's next timer (or stops it).
    void scheduleTimer();

    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
    std::chrono::steady_clock::time_point timerAt_{};
    bool timerSet_ = false;
    QMetaObject::Connection blockHook_;
    bool quitSeen_ = false;
    int exitCode_ = 0;
    bool more_ = false;  // the last pump stopped at its limit
};

} // namespace platform::gui
