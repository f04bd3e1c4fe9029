// The hyperlink, the status bar, the client view and snapping on screen.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include "app/child_view.h"
#include "app/hyperlink.h"
#include "app/reports.h"
#include "app/snap_widget.h"
#include "app/status_bar.h"
#include "testing/qt_app.h"

namespace {

using namespace app;

class RecordingLauncher : public UrlLauncher {
public:
    int result = kLaunchSucceeded;
    std::vector<std::string> opened;
    int Open(std::string_view url, int showCommand) override
    {
        opened.emplace_back(url);
        EXPECT_EQ(showCommand, 5);
        return result;
    }
};

class WidgetsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing_support::qtApp(); }
};

TEST_F(WidgetsTest, HyperlinkOpensItsAddressAndTurnsVisited)
{
    CHyperLink link;
    link.setText("Title");
    auto launcher = std::make_shared<RecordingLauncher>();
    link.SetLauncher(launcher);
    link.SetURL("http://example.org/game page");
    EXPECT_EQ(link.toolTip(), "http://example.org/game page");
    EXPECT_EQ(link.size(), link.sizeHint()); // fitted to its text
    EXPECT_EQ(link.CurrentColour(), QColor(0, 0, 238));
    EXPECT_TRUE(link.font().underline());
    link.show();

    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(launcher->opened, (std::vector<std::string>{"http://example.org/game page"}));
    EXPECT_TRUE(link.GetVisited());
    EXPECT_EQ(link.CurrentColour(), QColor(85, 26, 139));
}

TEST_F(WidgetsTest, HyperlinkFailureShowsTheErrorTextForTheCode)
{
    CHyperLink link;
    link.setText("Title");
    auto launcher = std::make_shared<RecordingLauncher>();
    launcher->result = 31;
    link.SetLauncher(launcher);
    int code = -1;
    QString text;
    link.SetErrorReporter([&](int c, const QString& t) {
        code = c;
        text = t;
    });
    link.SetURL("http://example.org");
    link.show();
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(code, 31);
    EXPECT_EQ(text.toStdU16String(), HyperlinkErrorText(31));
    EXPECT_FALSE(link.GetVisited());
}

TEST_F(WidgetsTest, HyperlinkHoversUntilTheCursorLeaves)
{
    QWidget parent;
    parent.resize(300, 200);
    auto* link = new CHyperLink(&parent);
    link->setText("Title");
    link->move(10, 10);
    parent.show();
    QTest::mouseMove(link, QPoint(2, 2));
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(link, &move);
    EXPECT_TRUE(link->IsOver());
    EXPECT_EQ(link->CurrentColour(), QColor(255, 0, 0));
    link->CheckHover(); // still over it
    EXPECT_TRUE(link->IsOver());
    QCursor::setPos(parent.mapToGlobal(QPoint(250, 150)));
    link->CheckHover();
    EXPECT_FALSE(link->IsOver());
    EXPECT_EQ(link->CurrentColour(), QColor(0, 0, 238));
}

TEST_F(WidgetsTest, StatusBarDrawsPaneZeroInItsColour)
{
    CColoredStatusBar bar;
    EXPECT_EQ(bar.Text(), "sss");
    EXPECT_EQ(bar.TextColour(), QColor(18, 0, 0));
    bar.SetPanes({125, 125, 100, 100});
    EXPECT_EQ(bar.PaneCount(), 4);
    bar.SetOwnerDrawn(true);
    bar.SetPaneText(0, "Status: Tracking");
    bar.SetPaneText(1, "Center: F12");
    bar.SetPaneText(9, "ignored");
    EXPECT_EQ(bar.Text(), "Status: Tracking");
    EXPECT_EQ(bar.PaneText(0), "Status: Tracking");
    EXPECT_EQ(bar.PaneText(1), "Center: F12");
    EXPECT_EQ(bar.PaneText(9), "");
}

TEST_F(WidgetsTest, ChildViewSizesTheFrameOnceToTheSheet)
{
    QWidget frame;
    auto* view = new CChildView(&frame);
    int sized = 0;
    QRect seen;
    view->SetFrameSizer([&](const QRect& r) {
        ++sized;
        seen = r;
    });
    auto sheet = std::make_unique<CPropertySheetBase>();
    sheet->resize(400, 300);
    ASSERT_TRUE(view->Create(std::move(sheet)));
    view->resize(0, 0);
    frame.show();
    EXPECT_EQ(sized, 0); // an empty size does not count
    ASSERT_NE(view->Sheet(), nullptr);
    EXPECT_EQ(view->Sheet()->parentWidget(), view);
    EXPECT_FALSE(view->Sheet()->isWindow());
    EXPECT_EQ(view->Sheet()->pos(), QPoint(0, 0));
    view->resize(500, 400);
    view->resize(600, 400);
    EXPECT_EQ(sized, 1);
    EXPECT_EQ(seen.topLeft(), QPoint(0, 0));
    EXPECT_TRUE(view->FrameSized());
}

TEST_F(WidgetsTest, DirectXErrorText)
{
    EXPECT_EQ(DirectXErrorText(u"out of memory", u"scene", u"Render"),
              u"Description: out of memory \nModule: scene \nRoutine: Render");
    EXPECT_EQ(kDirectXErrorCaption, u"DirectX Error");
}

TEST_F(WidgetsTest, AWindowMovedNearAnotherIsPutFlush)
{
    CSnapper snapper(kFrameSnapDistance, [] { return Rect{0, 0, 1280, 984}; }, [] { return Point{}; });
    QWidget a;
    QWidget b;
    a.setGeometry(100, 500, 200, 150);
    b.setGeometry(500, 100, 300, 300);
    a.show();
    b.show();
    CSnapWidget snapA(&a, snapper);
    CSnapWidget snapB(&b, snapper);
    const int frameLeftOfB = b.frameGeometry().right() + 1;
    a.move(frameLeftOfB + 6, 150); // 6 px right of b, overlapping it vertically
    QCoreApplication::processEvents();
    EXPECT_EQ(a.frameGeometry().left(), frameLeftOfB);
    a.move(frameLeftOfB + 40, 150);
    QCoreApplication::processEvents();
    EXPECT_EQ(a.frameGeometry().left(), frameLeftOfB + 40);

    // A deleted window leaves the snapper with its adapter.
    auto* c = new QWidget;
    new CSnapWidget(c, snapper);
    EXPECT_EQ(snapper.Windows().size(), 3u);
    delete c;
    EXPECT_EQ(snapper.Windows().size(), 2u);
}

} // namespace
