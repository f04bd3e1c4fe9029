// The cell model alone: range checks, header check boxes, the combo's
// open/navigate/commit/cancel cycle and the drop-down's keys.
#include "windows/XListModel.h"

#include <gtest/gtest.h>

namespace {

CXListModel threeByThree()
{
    CXListModel m;
    m.SetDefaultColours(0x112233, 0x445566);
    m.InsertColumn(0, u"Axis");
    m.InsertColumn(1, u"Enabled");
    m.InsertColumn(2, u"Curve");
    for (int r = 0; r < 3; ++r)
        m.AddRow(r, u"row" + std::u16string(1, static_cast<char16_t>(u'0' + r)));
    return m;
}

TEST(XListModel, AddRowGivesColumnZeroTheControlColoursAndFreshRecords)
{
    CXListModel m = threeByThree();
    ASSERT_EQ(m.GetRowCount(), 3);
    const CXCellRecord* c0 = m.Cell(1, 0);
    ASSERT_NE(c0, nullptr);
    EXPECT_EQ(c0->TextColour, 0x112233u);
    EXPECT_EQ(c0->BackColour, 0x445566u);
    const CXCellRecord* c2 = m.Cell(1, 2);
    EXPECT_EQ(c2->TextColour, kDefaultWindowText);
    EXPECT_EQ(c2->Image, -1);
    EXPECT_EQ(c2->ComboHeight, 10);
    EXPECT_EQ(c2->CheckState, -1);
    EXPECT_EQ(c2->ProgressShowText, 1);
    EXPECT_EQ(m.GetCellText(1, 0), u"row1");
    // Inserted in the middle, rows move down with their records.
    m.SetRowValue(1, 77);
    EXPECT_EQ(m.AddRow(1, u"new"), 1);
    EXPECT_EQ(m.GetRowValue(2), 77u);
    EXPECT_EQ(m.GetCellText(1, 0), u"new");
}

TEST(XListModel, EveryOperationChecksItsRowAndColumn)
{
    CXListModel m = threeByThree();
    auto strings = std::make_shared<const std::vector<std::u16string>>(std::vector<std::u16string>{u"a"});
    struct Case {
        int row, column;
    };
    for (Case c : {Case{-1, 0}, Case{3, 0}, Case{0, -1}, Case{0, 3}}) {
        SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
        EXPECT_EQ(m.SetCellText(c.row, c.column, u"x"), 0);
        EXPECT_EQ(m.SetCellCheck(c.row, c.column, 1), 0);
        EXPECT_EQ(m.GetCellCheck(c.row, c.column), -1);
        EXPECT_EQ(m.SetCellCombo(c.row, c.column, true, strings, 5, 0), 0);
        EXPECT_EQ(m.SetCellBold(c.row, c.column, 1), 0);
        EXPECT_EQ(m.SetCellToolTip(c.row, c.column, u"t"), 0);
        EXPECT_EQ(m.Cell(c.row, c.column), nullptr);
        EXPECT_TRUE(m.ClickCheck(c.row, c.column).empty());
    }
    for (int row : {-1, 3}) {
        EXPECT_EQ(m.DeleteRow(row), 0);
        EXPECT_EQ(m.SetRowEnabled(row, 0), 0);
        EXPECT_EQ(m.SetRowValue(row, 1), 0);
        EXPECT_EQ(m.GetRowValue(row), 0u);
    }
    for (int column : {-1, 3}) {
        EXPECT_EQ(m.GetColumnCheck(column), -1);
        EXPECT_EQ(m.SetColumnCheck(column, 1), 0);
    }
    EXPECT_EQ(m.AddRow(-1, u"x"), -1);
    EXPECT_EQ(m.AddRow(4, u"x"), -1);
    CXListModel noColumns;
    EXPECT_EQ(noColumns.AddRow(0, u"x"), -1);
    // Nothing changed.
    EXPECT_EQ(m.GetRowCount(), 3);
    EXPECT_EQ(m.GetCellText(0, 0), u"row0");
    EXPECT_EQ(m.GetColumnCheck(0), 0);
}

TEST(XListModel, HeaderCheckFollowsTheColumnsCells)
{
    CXListModel m = threeByThree();
    m.SetColumnCheck(1, 1);
    m.SetCellCheck(0, 1, 1);
    m.SetCellCheck(1, 1, 1);
    m.SetCellCheck(2, 1, 0);
    EXPECT_EQ(m.GetColumnCheck(1), 1);
    // Checking the last unchecked row checks the header.
    EXPECT_EQ(m.ClickCheck(2, 1), (std::vector<CXCellNotice>{{2, 1}}));
    EXPECT_EQ(m.GetCellCheck(2, 1), 1);
    EXPECT_EQ(m.GetColumnCheck(1), 2);
    // Clearing any row clears it.
    m.ClickCheck(0, 1);
    EXPECT_EQ(m.GetColumnCheck(1), 1);
    m.SetCellCheck(0, 1, 1);
    EXPECT_EQ(m.GetColumnCheck(1), 2);
    // A column without a header check box keeps 0.
    m.SetCellCheck(0, 2, 1);
    EXPECT_EQ(m.GetColumnCheck(2), 0);
    // A cell without a check box does not toggle.
    EXPECT_TRUE(m.ClickCheck(0, 0).empty());
    EXPECT_EQ(m.GetCellCheck(0, 0), -1);
}

TEST(XListModel, ColumnClickSetsEveryCheckBoxAndReportsOnlyChanges)
{
    CXListModel m = threeByThree();
    m.SetColumnCheck(1, 1);
    m.SetCellCheck(0, 1, 1);
    m.SetCellCheck(1, 1, 0);
    // Row 2 has no check box.
    m.SetRowEnabled(1, 0);
    EXPECT_EQ(m.ClickColumn(1), (std::vector<CXCellNotice>{{1, 1}}));
    EXPECT_EQ(m.GetColumnCheck(1), 2);
    EXPECT_EQ(m.GetCellCheck(1, 1), 1);
    EXPECT_EQ(m.GetCellCheck(2, 1), -1);
    EXPECT_EQ(m.ClickColumn(1), (std::vector<CXCellNotice>{{0, 1}, {1, 1}}));
    EXPECT_EQ(m.GetColumnCheck(1), 1);
    EXPECT_EQ(m.GetCellCheck(0, 1), 0);
    // No header check box: nothing happens.
    EXPECT_TRUE(m.ClickColumn(0).empty());
    EXPECT_EQ(m.GetColumnCheck(0), 0);
}

TEST(XListModel, DisabledRowIgnoresClicks)
{
    CXListModel m = threeByThree();
    m.SetCellCheck(0, 1, 0);
    m.SetRowEnabled(0, 0);
    EXPECT_FALSE(m.IsRowEnabled(0));
    EXPECT_TRUE(m.ClickCheck(0, 1).empty());
    EXPECT_EQ(m.GetCellCheck(0, 1), 0);
}

TEST(XListModel, ComboSelectionOutsideTheStringsBecomesZero)
{
    CXListModel m = threeByThree();
    auto strings = std::make_shared<const std::vector<std::u16string>>(std::vector<std::u16string>{u"Linear", u"Smooth"});
    EXPECT_EQ(m.SetCellCombo(0, 2, true, strings, 6, 1), 1);
    EXPECT_EQ(m.GetCellText(0, 2), u"Smooth");
    EXPECT_EQ(m.GetComboSelection(0, 2), 1);
    EXPECT_EQ(m.SetCellCombo(0, 2, true, strings, 6, 7), 1);
    EXPECT_EQ(m.GetComboSelection(0, 2), 0);
    EXPECT_EQ(m.GetCellText(0, 2), u"Linear");
    EXPECT_EQ(m.SetCellCombo(0, 2, true, strings, 6, -3), 1);
    EXPECT_EQ(m.GetComboSelection(0, 2), 0);
    // The cell keeps its strings even when the caller drops its own.
    strings.reset();
    ASSERT_TRUE(m.Cell(0, 2)->ComboStrings);
    EXPECT_EQ(m.Cell(0, 2)->ComboStrings->size(), 2u);
    // Disabled: the text is left alone.
    m.SetCellText(1, 2, u"keep");
    m.SetCellCombo(1, 2, false, m.Cell(0, 2)->ComboStrings, 6, 1);
    EXPECT_EQ(m.GetCellText(1, 2), u"keep");
    EXPECT_EQ(m.Cell(1, 2)->Combo, 0);
}

TEST(XListModel, ComboNavigationShowsCancelRestoresCommitStores)
{
    CXListModel m = threeByThree();
    auto strings = std::make_shared<const std::vector<std::u16string>>(std::vector<std::u16string>{u"A", u"B", u"C"});
    m.SetCellCombo(1, 2, true, strings, 5, 0);
    EXPECT_FALSE(m.OpenCombo(1, 1)); // not a combo
    ASSERT_TRUE(m.OpenCombo(1, 2));
    EXPECT_EQ(m.Cell(1, 2)->ComboPressed, 1);
    m.ComboShow(2);
    EXPECT_EQ(m.GetCellText(1, 2), u"C");
    EXPECT_EQ(m.GetComboSelection(1, 2), 0);
    m.ComboCancel();
    EXPECT_FALSE(m.ComboOpen());
    EXPECT_EQ(m.GetCellText(1, 2), u"A");
    EXPECT_EQ(m.Cell(1, 2)->ComboPressed, 0);
    EXPECT_TRUE(m.ComboCommit(1).empty()); // nothing open

    ASSERT_TRUE(m.OpenCombo(1, 2));
    EXPECT_EQ(m.ComboCommit(1), (std::vector<CXCellNotice>{{1, 2}}));
    EXPECT_EQ(m.GetCellText(1, 2), u"B");
    EXPECT_EQ(m.GetComboSelection(1, 2), 1);
    EXPECT_FALSE(m.ComboOpen());

    // A disabled row does not open.
    m.SetRowEnabled(1, 0);
    EXPECT_FALSE(m.OpenCombo(1, 2));
    // Deleting the open row forgets the drop-down.
    m.SetRowEnabled(1, 1);
    ASSERT_TRUE(m.OpenCombo(1, 2));
    m.DeleteRow(1);
    EXPECT_FALSE(m.ComboOpen());
}

TEST(XListModel, DropDownKeys)
{
    const std::vector<std::u16string> s{u"Alpha", u"Beta", u"bravo", u"Charlie", u"Delta", u"Echo", u"Foxtrot",
                                        u"Golf", u"Hotel", u"India"};
    struct Case {
        CXComboKey key;
        char16_t letter;
        int from, page, want;
    };
    const Case cases[] = {
        {CXComboKey::Home, 0, 5, 4, 0},     {CXComboKey::End, 0, 5, 4, 9},
        {CXComboKey::Up, 0, 5, 4, 4},       {CXComboKey::Up, 0, 0, 4, 0},
        {CXComboKey::Down, 0, 5, 4, 6},     {CXComboKey::Down, 0, 9, 4, 9},
        {CXComboKey::PageUp, 0, 5, 4, 2},   {CXComboKey::PageUp, 0, 1, 4, 0},
        {CXComboKey::PageDown, 0, 5, 4, 8}, {CXComboKey::PageDown, 0, 8, 4, 9},
        {CXComboKey::Letter, u'B', 0, 4, 1}, {CXComboKey::Letter, u'B', 1, 4, 2},
        {CXComboKey::Letter, u'B', 2, 4, 1}, {CXComboKey::Letter, u'Z', 3, 4, 3},
        {CXComboKey::Letter, u'a', 5, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.key) << " from " << c.from);
        EXPECT_EQ(CXListModel::NavigateCombo(c.key, c.letter, c.from, c.page, s), c.want);
    }
    EXPECT_EQ(CXListModel::NavigateCombo(CXComboKey::Down, 0, 0, 4, {}), -1);
}

TEST(XListModel, ToolTipIsCutTo80Characters)
{
    CXListModel m = threeByThree();
    m.SetCellToolTip(0, 1, std::u16string(200, u'x'));
    EXPECT_EQ(m.GetCellToolTip(0, 1).size(), kToolTipMax);
    m.SetCellToolTip(0, 1, u"short");
    EXPECT_EQ(m.GetCellToolTip(0, 1), u"short");
}

TEST(XListModel, ProgressTextAndSortKeepsRecordsWithTheirRows)
{
    CXListModel m = threeByThree();
    m.SetCellProgress(0, 1, true, 42);
    EXPECT_EQ(m.FormatProgress(0, 1), u"42%");
    EXPECT_EQ(m.Cell(0, 1)->ProgressText, u"42%");
    m.SetCellProgress(0, 1, true, 250);
    EXPECT_EQ(m.FormatProgress(0, 1), u"100%");

    for (int r = 0; r < 3; ++r)
        m.SetRowValue(r, static_cast<std::uint32_t>(10 + r));
    m.SetCellCheck(2, 1, 1);
    m.SortRows([&](int a, int b) { return m.GetRowValue(a) > m.GetRowValue(b); });
    EXPECT_EQ(m.GetCellText(0, 0), u"row2");
    EXPECT_EQ(m.GetRowValue(0), 12u);
    EXPECT_EQ(m.GetCellCheck(0, 1), 1);
    EXPECT_EQ(m.GetCellText(2, 0), u"row0");
    EXPECT_EQ(m.DeleteAllRows(), 1);
    EXPECT_EQ(m.GetRowCount(), 0);
}

} // namespace
