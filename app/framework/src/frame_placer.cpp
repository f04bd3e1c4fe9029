#include "app/frame_placer.h"

#include <QEvent>
#include <QWindow>

#include "app/placement.h"

namespace app {

namespace {

// The window system settles a new window within a few moves; after that the
// placer stops, so it never fights the user's own moves.
constexpr int kMaxCorrections = 4;
constexpr int kMaxChecks = 12;

} // namespace

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
    window_->move(Wanted());
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
    if (watched == window_ && active_) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
            check();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CFramePlacer::check()
{
    if (!window_ || !window_->isVisible() || window_->isMinimized() || window_->isMaximized() ||
        window_->isFullScreen())
        return;
    ++checks_;
    const QRect frame = window_->frameGeometry();
    const QPoint margins = window_->geometry().topLeft() - frame.topLeft();
    const QPoint wanted = Wanted();
    bool done = false;
    if (frame.topLeft() == wanted) {
        // In place; once the window is on the screen there is nothing left to mend.
        done = window_->windowHandle() != nullptr && window_->windowHandle()->isExposed();
    } else if (target_ && !margins.isNull() && frame.topLeft() == *target_ + margins) {
        // The window system took the frame's corner for the client area's.
        ++corrections_;
        window_->move(wanted);
    } else {
        // Placed elsewhere by someone else: kept, but all of it on the screen.
        target_.reset();
        const QPoint onScreen = Wanted();
        if (onScreen != frame.topLeft()) {
            ++corrections_;
            window_->move(onScreen);
        } else {
            done = true;
        }
    }
    if (done || checks_ >= kMaxChecks || corrections_ >= kMaxCorrections) {
        active_ = false;
        window_->removeEventFilter(this);
    }
}

QPoint NormalFrameTopLeft(const QWidget& window)
{
    if ((window.isMinimized() || window.isMaximized()) && window.normalGeometry().isValid()) {
        // The normal geometry is the client area's; the frame adds its margins.
        const QPoint margins = window.geometry().topLeft() - window.frameGeometry().topLeft();
        return window.normalGeometry().topLeft() - margins;
    }
    return window.frameGeometry().topLeft();
}

} // namespace app
