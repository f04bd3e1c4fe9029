#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include "windows/curve_editor_dlg.h"
#include "../../../testing/include/testing/qt_app.h"

namespace {

// A parent that records the knot-moved messages it is posted.
class Recorder : public QWidget {
public:
    std::vector<int> moved;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == CCurveKnotMovedEvent::kType) {
            moved.push_back(static_cast<CCurveKnotMovedEvent*>(e)->wParam);
            return true;
        }
        return QWidget::event(e);
    }
};

void SendMouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Drag(QWidget* w, QPoint from, QPoint to)
{
    SendMouse(w, QEvent::MouseMove, from, Qt::NoButton);
    SendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, to, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(); // posted messages come before the next input
    SendMouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
    QCoreApplication::sendPostedEvents();
}

TEST(CurveWnd, PaintsBackgroundGridCurveAndKnots)
{
    Recorder parent;
    auto* wnd = new CCurveWnd(&parent);
    wnd->Create(QRect(0, 0, 200, 100), 7, true);
    ASSERT_NE(wnd->Curve(), nullptr);
    EXPECT_EQ(wnd->Curve()->Rect(), (CCurveRect{1, 1, 199, 99}));
    wnd->Curve()->AddKnot(20, 50);
    wnd->Curve()->AddKnot(100, 50);
    wnd->Curve()->AddKnot(180, 50);
    wnd->SelectKnot(1);
    const QImage img = wnd->Render();
    EXPECT_EQ(img.pixelColor(5, 5), QColor(12, 9, 86));
    // The dotted grid at x = 20 and y = 10: every other pixel.
    const bool a = img.pixelColor(40, 3) == QColor(9, 8, 124);
    const bool b = img.pixelColor(40, 4) == QColor(9, 8, 124);
    EXPECT_NE(a, b);
    EXPECT_EQ(img.pixelColor(60, 50), QColor(102, 164, 245)); // the curve
    EXPECT_EQ(img.pixelColor(20, 50), QColor(102, 164, 245)); // unselected knot, filled
    EXPECT_EQ(img.pixelColor(100, 50), QColor(Qt::black));    // selected knot
    EXPECT_EQ(img.pixelColor(5, 50), QColor(12, 9, 86));      // left of the first knot's circle
}

TEST(CurveWnd, DragPostsKnotMovedToTheParent)
{
    Recorder parent;
    auto* wnd = new CCurveWnd(&parent);
    wnd->Create(QRect(0, 0, 200, 100), 7, true);
    wnd->Curve()->AddKnot(20, 50);
    wnd->Curve()->AddKnot(100, 50);
    Drag(wnd, QPoint(101, 49), QPoint(130, 30));
    EXPECT_EQ(wnd->GetSelected(), 1);
    EXPECT_EQ(wnd->Curve()->GetKnot(1)->x, 100);
    EXPECT_EQ(wnd->Curve()->GetKnot(1)->y, 30);
    EXPECT_EQ(parent.moved, std::vector<int>{1});
    EXPECT_FALSE(wnd->State().Dragging());

    Drag(wnd, QPoint(150, 90), QPoint(150, 90)); // on nothing: the selection goes
    EXPECT_EQ(wnd->GetSelected(), -1);
    EXPECT_EQ(parent.moved.size(), 1u);
}

struct Dialog : ::testing::Test {
    void SetUp() override
    {
        dlg.SetProfile(&profile);
        dlg.SetAxis(1);
        dlg.SetChangeHandler([this] { ++changes; });
        dlg.OnInitDialog();
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
    CProfile profile;
    CCurveEditorDlg dlg;
    int changes = 0;
    const CProfileAxis& Pitch() const { return profile.Axes[1]; }
};

TEST_F(Dialog, InitialisesTheControlsAndPlacesTheCurve)
{
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Curve Editor"));
    ASSERT_EQ(dlg.AxisList()->count(), 6);
    EXPECT_EQ(dlg.AxisList()->currentText(), QStringLiteral("Pitch"));
    ASSERT_EQ(dlg.CopyList()->count(), 9);
    EXPECT_EQ(dlg.CopyList()->currentText(), QStringLiteral("All"));
    EXPECT_EQ(dlg.CopyList()->itemData(2).toInt(), kCopyAllTranslation);
    EXPECT_EQ(dlg.TypeList()->currentText(), QStringLiteral("Smooth"));
    EXPECT_TRUE(dlg.MirrorBox()->isChecked());
    auto* wnd = dlg.CurveWnd();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(wnd->Id(), CCurveEditorDlg::kCurveWndId);
    EXPECT_EQ(wnd->size(), QSize(420, 81));
    EXPECT_EQ(wnd->pos(), dlg.CurveFrame()->pos());
    EXPECT_EQ(wnd->GetSelected(), 7);
    EXPECT_EQ(dlg.PositionUpDown()->value(), 0);
    EXPECT_EQ(dlg.ValueUpDown()->value(), Pitch().CurveData[7]);
    EXPECT_EQ(dlg.ValueUpDown()->maximum(), 80);
    EXPECT_EQ(dlg.PositionUpDown()->minimum(), -50);
    EXPECT_EQ(dlg.ShiftUpDown()->maximum(), 10000);
}

TEST_F(Dialog, UpDownsEditTheLiveProfile)
{
    dlg.PositionUpDown()->stepBy(-1);
    for (int i = 0; i < 3; ++i) dlg.PositionUpDown()->stepBy(-1);
    EXPECT_EQ(dlg.CurveWnd()->GetSelected(), 3);
    EXPECT_EQ(dlg.PositionUpDown()->value(), -20);
    EXPECT_EQ(changes, 0); // selecting knots edits nothing
    const auto s3 = Pitch().CurveData[3];
    dlg.ValueUpDown()->stepBy(1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Pitch().CurveData[3], s3 + 1);
    EXPECT_EQ(Pitch().CurveData[11], s3 + 1);
    EXPECT_EQ(dlg.ValueUpDown()->value(), s3 + 1);
    EXPECT_EQ(dlg.TypeList()->currentText(), QStringLiteral("Custom"));
    EXPECT_EQ(Pitch().CurveTable.Values(), BuildCurveValues(Pitch().CurveData));

    dlg.TypeList()->setCurrentIndex(kCurveLinear);
    EXPECT_EQ(Pitch().CurveData, *CurvePreset(kCurveLinear));
    EXPECT_EQ(dlg.CurveWnd()->Curve()->GetKnot(3)->y, 80 - (*CurvePreset(kCurveLinear))[3]);

    dlg.ShiftUpDown()->stepBy(1);
    EXPECT_EQ(Pitch().CurveData[3], std::min((*CurvePreset(kCurveLinear))[3] + 1, 80));

    dlg.CopyList()->setCurrentIndex(1); // all rotation
    const auto x = profile.Axes[3];
    QTest::mouseClick(dlg.CopyButton(), Qt::LeftButton);
    EXPECT_EQ(profile.Axes[0].CurveData, Pitch().CurveData);
    EXPECT_EQ(profile.Axes[2].CurveData, Pitch().CurveData);
    EXPECT_EQ(profile.Axes[3], x);

    dlg.AxisList()->setCurrentIndex(3);
    EXPECT_EQ(dlg.Logic()->AxisIndex(), 3);
    EXPECT_EQ(dlg.TypeList()->currentText(), QStringLiteral("Smooth"));
}

TEST_F(Dialog, DraggingAKnotStoresItsValue)
{
    auto* wnd = dlg.CurveWnd();
    const CKnot k = *wnd->Curve()->GetKnot(4);
    Drag(wnd, QPoint(k.x, k.y), QPoint(k.x + 9, 20));
    EXPECT_EQ(wnd->GetSelected(), 4);
    EXPECT_EQ(Pitch().CurveData[4], 60);
    EXPECT_EQ(Pitch().CurveData[10], 60);
    EXPECT_EQ(Pitch().CurveType, kCurveCustom);
    EXPECT_EQ(dlg.PositionUpDown()->value(), -10);
    EXPECT_EQ(dlg.ValueUpDown()->value(), 60);
    EXPECT_EQ(dlg.Logic()->mouseDownInCurve, 0);
    EXPECT_EQ(changes, 1);
}

TEST_F(Dialog, ArrowKeysInTheCurveWindow)
{
    auto* wnd = dlg.CurveWnd();
    wnd->setFocus();
    if (!wnd->hasFocus()) GTEST_SKIP() << "the platform gives no keyboard focus";
    const auto s7 = Pitch().CurveData[7];
    QTest::keyClick(wnd, Qt::Key_Up);
    EXPECT_EQ(Pitch().CurveData[7], s7 + 1);
    EXPECT_EQ(dlg.ValueUpDown()->value(), s7 + 1);
    QTest::keyClick(wnd, Qt::Key_Right);
    EXPECT_EQ(wnd->GetSelected(), 8);
    EXPECT_EQ(dlg.PositionUpDown()->value(), 2);
    EXPECT_EQ(Pitch().CurveData[8], Pitch().CurveData[6]);
}

} // namespace
