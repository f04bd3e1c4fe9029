#include "windows/curve_wnd.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

namespace {
const QColor kBackground(12, 9, 86);
const QColor kGrid(9, 8, 124);
const QColor kCurve(102, 164, 245);

CurveKey ToCurveKey(int key)
{
    switch (key) {
    case Qt::Key_Left: return CurveKey::Left;
    case Qt::Key_Right: return CurveKey::Right;
    case Qt::Key_Up: return CurveKey::Up;
    case Qt::Key_Down: return CurveKey::Down;
    default: return CurveKey::Other;
    }
}
} // namespace

CCurveWnd::CCurveWnd(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent); // the background is painted with the picture
}

void CCurveWnd::Create(const QRect& rect, int id, bool makeCurve)
{
    id_ = id;
    setGeometry(rect);
    if (makeCurve) InitCurve();
    show();
}

void CCurveWnd::InitCurve()
{
    auto curve = std::make_unique<CCurveObject>();
    curve->Init(u"", 1, 1, width() - 1, height() - 1);
    SetCurve(std::move(curve), true);
}

void CCurveWnd::SetCurve(std::unique_ptr<CCurveObject> curve, bool redraw)
{
    state_.SetCurve(std::move(curve));
    if (redraw) update();
}

void CCurveWnd::SelectKnot(int i)
{
    state_.SelectKnot(i);
    update();
}

bool CCurveWnd::HandleKey(int qtKey)
{
    const bool handled = state_.OnKeyDown(ToCurveKey(qtKey), hasFocus());
    update();
    return handled;
}

QImage CCurveWnd::Render() const
{
    const int w = std::max(width(), 1);
    const int h = std::max(height(), 1);
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 0, w, h, kBackground);

    QPen grid(kGrid, 0);
    grid.setDashPattern({1.0, 1.0});
    grid.setCosmetic(true);
    p.setPen(grid);
    for (int k = 1; k <= 9; ++k) {
        p.drawLine(k * w / 10, 0, k * w / 10, h - 1);
        p.drawLine(0, k * h / 10, w - 1, k * h / 10);
    }

    const CCurveObject* curve = state_.Curve();
    if (curve != nullptr && curve->Count() > 0) {
        p.setPen(QPen(kCurve, 0));
        const auto& knots = curve->Knots();
        QPolygon line;
        for (int x = knots.front().x; x <= knots.back().x; ++x) line << QPoint(x, curve->Evaluate(x));
        if (line.size() > 1) p.drawPolyline(line);
        for (const auto& k : knots) {
            p.setBrush(k.unselected != 0 ? QBrush(kCurve) : QBrush(Qt::black));
            p.drawEllipse(QPoint(k.x, k.y), kCurveKnotRadius, kCurveKnotRadius);
        }
    }
    return image;
}

void CCurveWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, Render());
}

void CCurveWnd::UpdateCursor(CurveCursor c)
{
    switch (c) {
    case CurveCursor::OverCurve: setCursor(Qt::CrossCursor); break;
    case CurveCursor::OverKnot: setCursor(Qt::OpenHandCursor); break;
    case CurveCursor::Dragging: setCursor(Qt::ClosedHandCursor); break;
    case CurveCursor::Default: unsetCursor(); break;
    }
}

void CCurveWnd::NotifyParent(int knot)
{
    if (QWidget* parent = parentWidget()) QCoreApplication::postEvent(parent, new CCurveKnotMovedEvent(knot));
}

void CCurveWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (state_.Dragging()) return;
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    state_.OnSetCursor(pos.x(), pos.y()); // the desktop hit-tests before every press
    if (state_.OnLButtonDown()) UpdateCursor(CurveCursor::Dragging);
    update();
}

void CCurveWnd::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    // Qt keeps the implicit grab while the left button is down; without it
    // the capture is gone.
    const bool captureLost = state_.Dragging() && !(event->buttons() & Qt::LeftButton);
    if (const auto knot = state_.OnMouseMove(pos.x(), pos.y(), captureLost)) NotifyParent(*knot);
    UpdateCursor(state_.OnSetCursor(pos.x(), pos.y()));
    update();
}

void CCurveWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        state_.OnLButtonUp();
        const QPoint pos = event->position().toPoint();
        UpdateCursor(state_.OnSetCursor(pos.x(), pos.y()));
    } else {
        QWidget::mouseReleaseEvent(event);
    }
}

void CCurveWnd::keyPressEvent(QKeyEvent* event)
{
    if (!HandleKey(event->key())) QWidget::keyPressEvent(event);
}
