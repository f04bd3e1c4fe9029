#include "platform/gui/message_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include "platform/messages.h"

namespace platform::gui {

MessagePump::MessagePump(QObject* parent) : QObject(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        timerSet_ = false;
        pumpNow();
    });
    if (const int fd = queueWakeDescriptor(); fd >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            clearQueueWake();
            pumpNow();
        });
    } else {
        // No descriptor to sleep on: look at the queue on a short timer, so
        // that posts from other threads still arrive.
        timer_.setSingleShot(false);
        timer_.start(static_cast<int>(kTestClockSlice.count()));
    }
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        blockHook_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { pumpNow(); });
}

MessagePump::~MessagePump() { disconnect(blockHook_); }

int MessagePump::pumpNow(int limit)
{
    int taken = 0;
    Msg msg;
    // A dispatched procedure may open a modal loop that pumps in turn, as a
    // modal loop does on the desktop: each message is taken exactly once.
    while (taken < limit && peekMessage(msg, true)) {
        ++taken;
        if (msg.message == WM_QUIT) {
            quitSeen_ = true;
            exitCode_ = static_cast<int>(msg.wParam);
            QCoreApplication::exit(exitCode_);
            break;
        }
        dispatchMessage(msg);
    }
    // What is left over waits for the next turn of the loop, not for the
    // next message to arrive.
    if (taken == limit && !more_) {
        more_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                more_ = false;
                pumpNow();
            },
            Qt::QueuedConnection);
    }
    scheduleTimer();
    return taken;
}

void MessagePump::scheduleTimer()
{
    if (!notifier_)
        return;  // the fallback timer runs on its own
    const auto due = nextTimerDue();
    if (!due) {
        if (timerSet_) {
            timer_.stop();
            timerSet_ = false;
        }
        return;
    }
    // A test clock moves while the loop sleeps: look again in short slices.
    const std::chrono::milliseconds wait = messageClockIsSystem() ? *due : std::min(*due, kTestClockSlice);
    const auto at = std::chrono::steady_clock::now() + wait;
    // Restarted only when the time moved, not on every turn of the loop.
    if (timerSet_ && at >= timerAt_ - std::chrono::milliseconds(1) && at <= timerAt_ + std::chrono::milliseconds(1))
        return;
    timerAt_ = at;
    timerSet_ = true;
    timer_.start(static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait.count(), 0x7FFFFFFF)));
}

} // namespace platform::gui
