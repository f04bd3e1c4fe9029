#pragma once
// A top-level widget as a window the snapper serves.
//
// X11 and Wayland clients get no "about to move" message while the window
// manager drags a window, so the widget is corrected after each move or
// resize instead: the change from the last known rectangle goes through the
// snapper and the widget is put where it says. On Wayland, where clients
// cannot place top-levels, that correction has no effect.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/snapper.h"

class CSnapWidget : public QObject, public app::SnapWindow {
    Q_OBJECT
public:
    // Registers itself with `snapper` (which must outlive it). A child of
    // `widget`: it leaves the snapper when the widget is deleted.
    CSnapWidget(QWidget* widget, app::CSnapper& snapper);
    ~CSnapWidget() override;

    app::Rect SnapRect() const override;
    bool SnapVisible() const override;
    QWidget* Widget() const { return widget_.data(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    app::Rect actualRect() const;

    QPointer<QWidget> widget_;
    app::CSnapper& snapper_;
    app::Rect last_;
    bool correcting_ = false;
};
