#pragma once
// Puts a top-level window's frame where it belongs once the window system
// has framed it, and keeps the whole frame on the screen.
//
// Before a window is first shown its frame is unknown, and window managers
// differ in whether a requested position means the frame's corner or the
// client area's. Placing it once and trusting the result made windows creep
// by a title bar's height on every reopening, or open with their title bar
// above the screen. The placer checks the real frame as the window system
// reports it and moves the window again until the frame's top-left corner is
// the wanted one, clamped so the whole frame lies on the work area of the
// nearest monitor.
#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "app/modeless_dialog.h"

namespace app {

class CFramePlacer : public QObject {
    Q_OBJECT
public:
    // Watches `window` (a top-level widget; the placer is its child). With a
    // target, the frame's top-left corner goes there; without one the frame
    // stays where the window system put it, brought onto the screen.
    CFramePlacer(QWidget* window, std::optional<QPoint> target, std::shared_ptr<const MonitorSource> monitors = {});

    // Places the window now (before it is shown: a first guess) and keeps
    // correcting the next few times the window system moves or frames it.
    void Place();
    // Only the corrections: for a window that the toolkit places itself
    // when it shows (a dialog centred over its parent).
    void Watch();
    // The frame's wanted top-left corner for the frame size known now.
    QPoint Wanted() const;
    // Corrections made after the window system placed the window.
    int Corrections() const { return corrections_; }
    // Still watching the window.
    bool Active() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void check();
    void stop();
    // Moves the frame's corner to `frameTopLeft`, remembering the request.
    void Ask(QPoint frameTopLeft);
    // Whether a window put `offset` away from where it was asked to go was
    // put there by a window system confusing frame and client corners.
    static bool ExplainedByFrame(QPoint offset, QPoint margins);

    QPointer<QWidget> window_;
    QPointer<QWindow> handle_;
    std::optional<QPoint> target_;
    std::optional<QPoint> asked_; // the last position asked of the window system
    std::shared_ptr<const MonitorSource> monitors_;
    QElapsedTimer shown_; // since the first look at the shown window
    int corrections_ = 0;
    int checks_ = 0;
    int retry_ = 0;
    bool recheckPending_ = false;
    bool active_ = false;
    bool checking_ = false;
};

// Brings a top-level widget's frame margins up to date with what the window
// manager told the native window (the widget learns them only when it is
// moved or resized, and a window may be framed without either).
void RefreshFrameMargins(const QWidget& window);

// The frame's top-left corner of a top-level window in its normal state
// (also while it is minimised or maximised).
QPoint NormalFrameTopLeft(const QWidget& window);

} // namespace app
