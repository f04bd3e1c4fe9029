#pragma once
// The curve window: paints the grid, the curve and its knots, and lets the
// user select knots and drag them up and down. A drag step that moves a
// knot posts WM_CURVE_KNOT_MOVED to the parent.
#include <memory>

#include <QEvent>
#include <QImage>
#include <QWidget>

#include "windows/curve_wnd_state.h"

// The posted knot-moved message; wParam is the knot index.
class CCurveKnotMovedEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_CURVE_KNOT_MOVED);
    explicit CCurveKnotMovedEvent(int knot) : QEvent(kType), wParam(knot) {}
    const int wParam;
    const int lParam = 0;
};

class CCurveWnd : public QWidget {
    Q_OBJECT
public:
    explicit CCurveWnd(QWidget* parent = nullptr);

    // Places the window at rect in its parent; with makeCurve it builds its own
    // curve over its client rectangle shrunk by one pixel.
    void Create(const QRect& rect, int id, bool makeCurve);
    int Id() const { return id_; }
    void InitCurve();
    void SetCurve(std::unique_ptr<CCurveObject> curve, bool redraw);
    CCurveObject* Curve() { return state_.Curve(); }
    CCurveWndState& State() { return state_; }

    void SelectKnot(int i);
    int GetSelected() const { return state_.GetSelected(); }
    // Hands a key to the window's own handling; true when it took it.
    bool HandleKey(int qtKey);

    // The picture painted into the window.
    QImage Render() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateCursor(CurveCursor c);
    void NotifyParent(int knot);

    CCurveWndState state_;
    int id_ = 0;
};
