#include "platform/gui/message_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include "platform/messages.h"

namespace platform::gui {

MessagePump::MessagePump(std::chrono::milliseconds interval, QObject* parent) : QObject(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(static_cast<int>(interval.count()));
    connect(&timer_, &QTimer::timeout, this, [this] { pumpNow(); });
    timer_.start();
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        blockHook_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                             [this] { pumpNow(); });
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
    return taken;
}

} // namespace platform::gui
