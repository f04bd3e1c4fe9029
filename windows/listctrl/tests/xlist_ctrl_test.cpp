// The list view offscreen: clicks on check boxes, combo buttons and headers,
// the drop-down's keys, disabled rows and the empty-list text.
#include "windows/XListCtrl.h"

#include "../../../testing/include/testing/qt_app.h"

#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

class XListCtrlTest : public ::testing::Test {
protected:
    XListCtrlTest()
    {
        list.resize(400, 300);
        list.SetEventDelay(0);
        list.InsertColumn(0, "Axis", CXAlign::Left, 100);
        list.InsertColumn(1, "On", CXAlign::Center, 60);
        list.InsertColumn(2, "Curve", CXAlign::Left, 150);
        for (int r = 0; r < 3; ++r) {
            list.AddRow(r, QStringLiteral("axis %1").arg(r));
            list.SetCellCheck(r, 1, 0);
            list.SetCellCombo(r, 2, true, strings, 5, 0);
        }
        list.show();
    }

    QPoint centre(int row, int column) const
    {
        return list.visualRect(list.model()->index(row, column)).center();
    }

    void press(QPoint at) { QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at); }

    CXComboStrings strings = std::make_shared<const std::vector<std::u16string>>(
        std::vector<std::u16string>{u"Linear", u"Medium", u"Strong", u"Custom"});
    CXListCtrl list;
    QSignalSpy checks{&list, &CXListCtrl::checkboxClicked};
    QSignalSpy selections{&list, &CXListCtrl::comboSelection};
};

TEST_F(XListCtrlTest, ClickTogglesCheckBoxAndTellsTheParent)
{
    list.SetColumnCheck(1, 1);
    press(centre(1, 1));
    EXPECT_EQ(list.GetCellCheck(1, 1), 1);
    ASSERT_EQ(checks.count(), 1);
    EXPECT_EQ(checks.at(0).at(0).toInt(), 1);
    EXPECT_EQ(checks.at(0).at(1).toInt(), 1);
    EXPECT_EQ(list.GetColumnCheck(1), 1);
    press(centre(0, 1));
    press(centre(2, 1));
    EXPECT_EQ(list.GetColumnCheck(1), 2);
    press(centre(2, 1));
    EXPECT_EQ(list.GetColumnCheck(1), 1);
    EXPECT_EQ(checks.count(), 4);
}

// As from a list control, Tab leaves the list for the next control and
// the chosen row stays; the arrows move between the rows.
TEST(XListCtrlKeys, TabMovesOnToTheNextControlAndArrowsBetweenRows)
{
    QWidget window;
    auto* list = new CXListCtrl(&window);
    auto* next = new QPushButton(QStringLiteral("Next"), &window);
    list->setGeometry(0, 0, 300, 200);
    next->setGeometry(0, 210, 80, 30);
    list->InsertColumn(0, "Name", CXAlign::Left, 100);
    list->InsertColumn(1, "Notes", CXAlign::Left, 100);
    for (int r = 0; r < 3; ++r)
        list->AddRow(r, QStringLiteral("row %1").arg(r));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    list->setFocus();
    list->SelectRow(0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->GetSelectedRow(), 1);
    QTest::keyClick(list, Qt::Key_Tab);
    EXPECT_TRUE(next->hasFocus());
    EXPECT_EQ(list->GetSelectedRow(), 1);
}

TEST_F(XListCtrlTest, DisabledRowSwallowsTheClick)
{
    list.SetRowEnabled(1, 0);
    press(centre(1, 1));
    EXPECT_EQ(list.GetCellCheck(1, 1), 0);
    EXPECT_EQ(checks.count(), 0);
    EXPECT_EQ(list.GetSelectedRow(), -1);
    press(centre(1, 2) + QPoint(70, 0));
    EXPECT_EQ(list.ComboList(), nullptr);
    // An enabled row's click selects it.
    press(centre(2, 0));
    EXPECT_EQ(list.GetSelectedRow(), 2);
}

TEST_F(XListCtrlTest, HeaderClickChecksOrClearsTheWholeColumn)
{
    list.SetColumnCheck(1, 1);
    list.SetCellCheck(0, 1, 1);
    QHeaderView* header = list.horizontalHeader();
    const int x = header->sectionViewportPosition(1) + header->sectionSize(1) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    EXPECT_EQ(list.GetColumnCheck(1), 2);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(list.GetCellCheck(r, 1), 1);
    EXPECT_EQ(checks.count(), 2); // rows 1 and 2 changed
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    EXPECT_EQ(list.GetColumnCheck(1), 1);
    EXPECT_EQ(list.GetCellCheck(0, 1), 0);
    EXPECT_EQ(checks.count(), 5);
    // A column without a header check box only takes the click.
    const int x0 = header->sectionViewportPosition(0) + 5;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x0, header->height() / 2));
    EXPECT_EQ(list.GetColumnCheck(0), 0);
    EXPECT_EQ(checks.count(), 5);
}

TEST_F(XListCtrlTest, OnlyTheDropButtonOpensTheDropDown)
{
    const QRect cell = list.visualRect(list.model()->index(1, 2));
    press(QPoint(cell.left() + 5, cell.center().y()));
    EXPECT_EQ(list.ComboList(), nullptr);
    press(list.ComboButtonRect(1, 2).center());
    ASSERT_NE(list.ComboList(), nullptr);
    EXPECT_EQ(list.ComboList()->count(), 4);
    EXPECT_EQ(list.ComboList()->currentRow(), 0);
    EXPECT_EQ(list.Cells().ComboRow(), 1);
}

TEST_F(XListCtrlTest, ArrowsShowAtOnceEscapeRestoresAndStaysQuiet)
{
    press(list.ComboButtonRect(0, 2).center());
    CXComboList* drop = list.ComboList();
    ASSERT_NE(drop, nullptr);
    QTest::keyClick(drop, Qt::Key_Down);
    QTest::keyClick(drop, Qt::Key_Down);
    QTRY_COMPARE(list.GetCellText(0, 2), QString("Strong"));
    EXPECT_EQ(selections.count(), 0);
    QTest::keyClick(drop, Qt::Key_Escape);
    EXPECT_EQ(list.GetCellText(0, 2), QString("Linear"));
    QTRY_VERIFY(list.ComboList() == nullptr);
    EXPECT_EQ(selections.count(), 0);
    EXPECT_EQ(list.GetComboSelection(0, 2), 0);
}

TEST_F(XListCtrlTest, ReturnCommitsTextAndSelectionWithOneNotice)
{
    press(list.ComboButtonRect(2, 2).center());
    CXComboList* drop = list.ComboList();
    ASSERT_NE(drop, nullptr);
    QTest::keyClick(drop, Qt::Key_C); // "Custom"
    QTest::keyClick(drop, Qt::Key_Return);
    QTRY_COMPARE(selections.count(), 1);
    EXPECT_EQ(selections.at(0).at(0).toInt(), 2);
    EXPECT_EQ(selections.at(0).at(1).toInt(), 2);
    EXPECT_EQ(list.GetCellText(2, 2), QString("Custom"));
    EXPECT_EQ(list.GetComboSelection(2, 2), 3);
    QTRY_VERIFY(list.ComboList() == nullptr);
    QTest::qWait(5);
    EXPECT_EQ(selections.count(), 1);

    // Reopened, the drop-down starts at the committed choice.
    press(list.ComboButtonRect(2, 2).center());
    ASSERT_NE(list.ComboList(), nullptr);
    EXPECT_EQ(list.ComboList()->currentRow(), 3);
}

TEST_F(XListCtrlTest, ClickInTheDropDownCommitsAndClickElsewhereCancels)
{
    press(list.ComboButtonRect(0, 2).center());
    CXComboList* drop = list.ComboList();
    ASSERT_NE(drop, nullptr);
    const QRect item = drop->visualItemRect(drop->item(1));
    QTest::mouseClick(drop->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_COMPARE(selections.count(), 1);
    EXPECT_EQ(list.GetCellText(0, 2), QString("Medium"));

    press(list.ComboButtonRect(0, 2).center());
    drop = list.ComboList();
    ASSERT_NE(drop, nullptr);
    QTest::keyClick(drop, Qt::Key_End);
    QTRY_COMPARE(list.GetCellText(0, 2), QString("Custom"));
    press(centre(1, 0));
    EXPECT_EQ(list.ComboList(), nullptr);
    EXPECT_EQ(list.GetCellText(0, 2), QString("Medium"));
    EXPECT_EQ(selections.count(), 1);
}

TEST_F(XListCtrlTest, ToolTipsAreCutAndEmptyListShowsItsText)
{
    list.SetCellToolTip(0, 0, QString(200, QChar('t')));
    EXPECT_EQ(list.model()->index(0, 0).data(Qt::ToolTipRole).toString().size(), 80);
    EXPECT_FALSE(list.model()->index(1, 0).data(Qt::ToolTipRole).isValid());

    const QImage full = list.viewport()->grab().toImage();
    list.DeleteAllRows();
    EXPECT_EQ(list.GetRowCount(), 0);
    const QImage empty = list.viewport()->grab().toImage();
    // The message is drawn in the top band of the empty view, centred.
    int inked = 0;
    const QColor base = list.palette().color(QPalette::Base);
    for (int y = 0; y < 40 && y < empty.height(); ++y)
        for (int x = 0; x < empty.width(); ++x)
            if (empty.pixelColor(x, y) != base)
                ++inked;
    EXPECT_GT(inked, 20);
    EXPECT_NE(full, empty);
}

TEST_F(XListCtrlTest, DeletingTheOpenRowClosesTheDropDown)
{
    press(list.ComboButtonRect(1, 2).center());
    ASSERT_NE(list.ComboList(), nullptr);
    EXPECT_EQ(list.DeleteRow(1), 1);
    QTRY_VERIFY(list.ComboList() == nullptr);
    EXPECT_EQ(list.GetRowCount(), 2);
    EXPECT_EQ(list.DeleteRow(5), 0);
}

TEST_F(XListCtrlTest, LateEscapeLeavesADropDownOpenedSinceAlone)
{
    list.SetEventDelay(20);
    press(list.ComboButtonRect(0, 2).center());
    ASSERT_NE(list.ComboList(), nullptr);
    QTest::keyClick(list.ComboList(), Qt::Key_Escape);
    press(list.ComboButtonRect(1, 2).center());
    QPointer<CXComboList> second = list.ComboList();
    ASSERT_NE(second, nullptr);
    QTest::qWait(60);
    EXPECT_EQ(list.ComboList(), second.data());
    EXPECT_TRUE(list.Cells().ComboOpen());
    EXPECT_EQ(list.Cells().ComboRow(), 1);
}

TEST_F(XListCtrlTest, CellImagesComeFromTheImageList)
{
    QPixmap red(8, 8);
    red.fill(Qt::red);
    list.SetImageList({red});
    EXPECT_EQ(list.SetCellImage(0, 0, 0), 1);
    EXPECT_EQ(list.SetCellImage(0, 5, 0), 0);
    EXPECT_TRUE(list.model()->index(0, 0).data(Qt::DecorationRole).isValid());
    list.SetCellImage(1, 0, 3); // beyond the list: none
    EXPECT_FALSE(list.model()->index(1, 0).data(Qt::DecorationRole).isValid());
}

TEST_F(XListCtrlTest, PressedButtonIsReleasedOnceTheMouseLeavesIt)
{
    QPoint cursor = list.viewport()->mapToGlobal(list.ComboButtonRect(1, 2).center());
    list.SetCursorSource([&] { return cursor; });
    press(list.ComboButtonRect(1, 2).center());
    ASSERT_EQ(list.Cells().Cell(1, 2)->ComboPressed, 1);
    QTest::qWait(CXListCtrl::kHotTimerMs + 30);
    EXPECT_EQ(list.Cells().Cell(1, 2)->ComboPressed, 1);
    cursor += QPoint(-100, 0);
    QTRY_COMPARE(list.Cells().Cell(1, 2)->ComboPressed, 0);
    // The drop-down itself stays open.
    EXPECT_NE(list.ComboList(), nullptr);
    EXPECT_TRUE(list.Cells().ComboOpen());
}

TEST_F(XListCtrlTest, RendersEveryKindOfCell)
{
    list.SetCellCheck(0, 1, 1);
    list.SetCellProgress(1, 0, true, 60);
    list.SetCellBold(2, 0, 1);
    list.SetColumnCheck(1, 2);
    list.SetCellText(2, 1, "with text");
    list.SelectRow(0);
    EXPECT_EQ(list.GetSelectedRow(), 0);
    const QImage image = list.grab().toImage();
    EXPECT_FALSE(image.isNull());
    EXPECT_TRUE(list.model()->index(2, 0).data(Qt::FontRole).value<QFont>().bold());
}

} // namespace
