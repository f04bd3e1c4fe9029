#include "app/snap_widget.h"

#include <QEvent>

CSnapWidget::CSnapWidget(QWidget* widget, app::CSnapper& snapper)
    : QObject(widget), widget_(widget), snapper_(snapper)
{
    if (widget != nullptr) {
        last_ = actualRect();
        widget->installEventFilter(this);
    }
    snapper_.AddWindow(this);
}

CSnapWidget::~CSnapWidget()
{
    snapper_.RemoveWindow(this);
    if (QWidget* w = widget_.data())
        w->removeEventFilter(this);
}

app::Rect CSnapWidget::actualRect() const
{
    const QWidget* w = widget_.data();
    if (w == nullptr)
        return {};
    const QRect r = w->frameGeometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

app::Rect CSnapWidget::SnapRect() const { return last_; }

bool CSnapWidget::SnapVisible() const
{
    const QWidget* w = widget_.data();
    return w != nullptr && w->isVisible() && !w->isMinimized();
}

bool CSnapWidget::eventFilter(QObject* watched, QEvent* event)
{
    QWidget* w = widget_.data();
    if (watched != w || w == nullptr || correcting_)
        return false;
    if (event->type() == QEvent::Show) {
        last_ = actualRect();
    } else if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && w->isVisible()) {
        const app::Rect now = actualRect();
        app::Rect proposed = now;
        snapper_.Sizing(this, proposed);
        if (proposed != now) {
            correcting_ = true;
            const QRect frame = w->frameGeometry();
            const QRect inner = w->geometry();
            const int extraW = frame.width() - inner.width();
            const int extraH = frame.height() - inner.height();
            w->move(proposed.left, proposed.top);
            if (proposed.width() != now.width() || proposed.height() != now.height())
                w->resize(proposed.width() - extraW, proposed.height() - extraH);
            correcting_ = false;
        }
        last_ = actualRect();
    }
    return false;
}
