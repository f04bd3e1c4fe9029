#include "app/frame_placer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMoveEvent>
#include <QTimer>
#include <QWindow>

#include "app/placement.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace app {

namespace {

// The window system settles a new window within a few moves; after that the
// placer stops, so it never fights the user's own moves.
constexpr int kMaxCorrections = 6;
constexpr int kMaxChecks = 48;
// A new window may still grow (its first page built, its layout done) a
// little after it first shows: it is watched at least this long.
constexpr qint64 kWatchMs = 600;
// A window manager frames a window a little after it shows: until the frame
// is known, the placement is looked at again after these delays.
constexpr int kRecheckMs[] = {20, 50, 100, 200, 400, 800, 1600, 3200};
// How far off a window system may put a window when it takes the frame's
// corner for the client's (some shift it by their border as well).
constexpr int kSlack = 2;

} // namespace

void RefreshFrameMargins(const QWidget& window)
{
    // The widget keeps the frame margins it last saw when the window system
    // moved or resized it; the native window reads them afresh once the
    // window manager has told them. A window framed without moving (its
    // client area kept in place) would keep no margins: a move to where it
    // already is makes the widget take the native window's. The widget also
    // takes the native window's geometry then, so this waits while a move or
    // resize asked of the window system is still under way (the window
    // system's answer will bring the margins as well).
    QWindow* handle = window.windowHandle();
    if (handle == nullptr || handle->handle() == nullptr || !window.isWindow() ||
        handle->geometry() != window.geometry())
        return;
    const QMargins live = handle->frameMargins();
    const QRect frame = window.frameGeometry(), client = window.geometry();
    const QMargins seen(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                        frame.bottom() - client.bottom());
    if (live != seen) {
        QMoveEvent move(handle->position(), handle->position());
        QCoreApplication::sendEvent(handle, &move);
    }
}

CFramePlacer::CFramePlacer(QWidget* window, std::optional<QPoint> target, std::shared_ptr<const MonitorSource> monitors)
    : QObject(window), window_(window), target_(target), monitors_(std::move(monitors))
{
    if (!monitors_)
        monitors_ = std::make_shared<ScreenMonitors>();
}

QPoint CFramePlacer::Wanted() const
{
    const QRect frame = window_->frameGeometry();
    const QPoint from = target_ ? *target_ : frame.topLeft();
    const auto monitors = monitors_->Monitors();
    // The monitor nearest to the frame's centre, so that a window mostly on
    // one monitor stays there.
    const QPoint centre = from + QPoint(frame.width() / 2, frame.height() / 2);
    const auto m = NearestMonitor(monitors, Point{centre.x(), centre.y()});
    if (!m)
        return from;
    const Point p = ClampToWorkArea({from.x(), from.y()}, m->workArea, frame.width(), frame.height());
    return {p.x, p.y};
}

void CFramePlacer::Place()
{
    if (!window_)
        return;
    asked_ = Wanted();
    window_->move(*asked_);
    Watch();
}

void CFramePlacer::Watch()
{
    if (window_ && !active_) {
        active_ = true;
        window_->installEventFilter(this);
    }
}

bool CFramePlacer::eventFilter(QObject* watched, QEvent* event)
{
    if (!active_ || !window_)
        return QObject::eventFilter(watched, event);
    if (watched == window_) {
        switch (event->type()) {
        case QEvent::Show:
            // Exposure is told to the native window, not the widget.
            if (QWindow* handle = window_->windowHandle(); handle != nullptr && handle != handle_) {
                handle_ = handle;
                handle->installEventFilter(this);
            }
            check();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            check();
            break;
        default:
            break;
        }
    } else if (watched == handle_ && event->type() == QEvent::Expose) {
        // Judged once the exposure has been handled and the geometry is current.
        QTimer::singleShot(0, this, [this] { check(); });
    }
    return QObject::eventFilter(watched, event);
}

void CFramePlacer::check()
{
    // Nothing to judge before the window is on the screen: until then the
    // window system has not framed and placed it.
    if (!active_ || !window_ || !window_->isVisible() || window_->isMinimized() || window_->isMaximized() ||
        window_->isFullScreen() || window_->windowHandle() == nullptr || !window_->windowHandle()->isExposed())
        return;
    if (checking_)
        return; // the move event the refresh below sends
    checking_ = true;
    RefreshFrameMargins(*window_);
    checking_ = false;
    if (checks_++ == 0)
        shown_.start();
    const QRect frame = window_->frameGeometry();
    const QPoint at = frame.topLeft();
    const QPoint margins = window_->geometry().topLeft() - frame.topLeft();
    const QPoint wanted = Wanted();
    bool settled = false;
    if (at == wanted) {
        settled = true;
    } else if (asked_ && at == *asked_) {
        // Where it was asked to go, but its frame has grown since: again.
        Ask(wanted);
    } else if (asked_ && ExplainedByFrame(at - *asked_, margins)) {
        // The window system took the frame's corner for the client area's
        // (or the other way round): asked again, that much the other way.
        Ask(wanted - (at - *asked_));
    } else {
        // Placed elsewhere by someone else: kept, but all of it on the screen.
        target_.reset();
        const QPoint onScreen = Wanted();
        if (onScreen != at)
            Ask(onScreen);
        else
            settled = true;
    }
    const bool framed = !margins.isNull();
    if ((settled && framed && shown_.elapsed() >= kWatchMs) || checks_ >= kMaxChecks ||
        corrections_ >= kMaxCorrections) {
        stop();
        return;
    }
    if (!recheckPending_) {
        if (settled && framed) {
            // In place: looked at once more when the watch is over.
            recheckPending_ = true;
            QTimer::singleShot(std::max<qint64>(1, kWatchMs - shown_.elapsed()), this, [this] {
                recheckPending_ = false;
                check();
            });
        } else if (retry_ < static_cast<int>(std::size(kRecheckMs))) {
            recheckPending_ = true;
            QTimer::singleShot(kRecheckMs[retry_++], this, [this] {
                recheckPending_ = false;
                check();
            });
        } else if (settled) {
            stop(); // no frame after all: a window system without one
        }
    }
}

bool CFramePlacer::ExplainedByFrame(QPoint offset, QPoint margins)
{
    return !margins.isNull() && !offset.isNull() && std::abs(offset.x()) <= std::abs(margins.x()) + kSlack &&
           std::abs(offset.y()) <= std::abs(margins.y()) + kSlack;
}

void CFramePlacer::Ask(QPoint frameTopLeft)
{
    ++corrections_;
    asked_ = frameTopLeft;
    window_->move(frameTopLeft);
}

void CFramePlacer::stop()
{
    active_ = false;
    if (window_)
        window_->removeEventFilter(this);
    if (handle_)
        handle_->removeEventFilter(this);
}

QPoint NormalFrameTopLeft(const QWidget& window)
{
    RefreshFrameMargins(window);
    if ((window.isMinimized() || window.isMaximized()) && window.normalGeometry().isValid()) {
        // The normal geometry is the client area's; the frame adds its margins.
        const QPoint margins = window.geometry().topLeft() - window.frameGeometry().topLeft();
        return window.normalGeometry().topLeft() - margins;
    }
    return window.frameGeometry().topLeft();
}

} // namespace app
