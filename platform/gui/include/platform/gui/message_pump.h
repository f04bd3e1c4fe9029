#pragma once
// Pumps the GUI thread's message queue (platform/messages.h) from Qt's event
// loop, so that messages posted or sent to windows of the GUI thread are
// dispatched there, between Qt's own events.
//
// The queue offers no descriptor to wait on, so the pump looks at it each
// time the loop is about to block and on a short timer (the timer bounds the
// latency of a post from another thread). WM_QUIT ends the Qt loop with its
// exit code.
#include <chrono>

#include <QObject>
#include <QTimer>

namespace platform::gui {

class MessagePump : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultInterval{5};

    // Must be made on the GUI thread, after the QCoreApplication.
    explicit MessagePump(std::chrono::milliseconds interval = kDefaultInterval,
                         QObject* parent = nullptr);
    ~MessagePump() override;

    // Dispatches the messages that are waiting, at most `limit` of them so
    // that Qt's events keep flowing; returns how many were taken.
    int pumpNow(int limit = 256);

    // Whether WM_QUIT was taken (and the Qt loop told to exit).
    bool quitSeen() const { return quitSeen_; }
    int exitCode() const { return exitCode_; }

private:
    QTimer timer_;
    QMetaObject::Connection blockHook_;
    bool quitSeen_ = false;
    int exitCode_ = 0;
};

} // namespace platform::gui
