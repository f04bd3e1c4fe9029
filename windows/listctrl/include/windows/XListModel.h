#pragma once
// The cells of the report list: per-cell records (text, check box, combo,
// progress, colours, tool tip), header check boxes and the combo drop-down's
// state. Free of any toolkit so that its rules can be tested alone.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using COLORREF = std::uint32_t; // 0x00BBGGRR

inline constexpr COLORREF kDefaultWindowText = 0x000000;
inline constexpr COLORREF kDefaultWindow = 0xFFFFFF;
inline constexpr std::size_t kToolTipMax = 80;
inline constexpr char16_t kEmptyListText[] = u"There are no items to show in this view.";

using CXComboStrings = std::shared_ptr<const std::vector<std::u16string>>;

struct CXCellRecord {
    int Enabled = 1;          // only column 0's counts
    int Bold = 0;
    int Image = -1;
    std::u16string ToolTip;
    int Combo = 0;
    int ComboPressed = 0;
    // Shared, so that the parent may rebuild its array without leaving the cell dangling.
    CXComboStrings ComboStrings;
    int ComboHeight = 10;
    int ComboSelection = 0;
    COLORREF TextColour = kDefaultWindowText;
    COLORREF BackColour = kDefaultWindow;
    int Progress = 0;
    int ProgressValue = 0;
    std::u16string ProgressText;
    int ProgressShowText = 1;
    int CheckState = -1;      // -1 none, 0 clear, 1 checked
    std::uint32_t ItemData = 0; // only column 0's counts
};

enum class CXAlign { Left, Center, Right };

struct CXCellNotice {
    int row = -1;
    int column = -1;
    friend bool operator==(const CXCellNotice&, const CXCellNotice&) = default;
};

// Keys the drop-down understands.
enum class CXComboKey { Home, End, Up, Down, PageUp, PageDown, Letter };

class CXListModel {
public:
    // Colours that new rows' column 0 takes.
    void SetDefaultColours(COLORREF text, COLORREF back);
    COLORREF DefaultTextColour() const { return defaultText_; }
    COLORREF DefaultBackColour() const { return defaultBack_; }

    // Columns; a column may only be added while the list has no rows.
    int InsertColumn(int column, std::u16string heading, CXAlign align = CXAlign::Left);
    int GetColumnCount() const { return static_cast<int>(columns_.size()); }
    std::u16string ColumnHeading(int column) const;
    CXAlign ColumnAlign(int column) const;

    int GetRowCount() const { return static_cast<int>(rows_.size()); }

    int AddRow(int row, std::u16string text);
    int DeleteRow(int row);
    int DeleteAllRows();

    int SetCellText(int row, int column, std::u16string text);
    std::u16string GetCellText(int row, int column) const;
    int SetCellCheck(int row, int column, int state);
    int GetCellCheck(int row, int column) const;
    int SetCellCombo(int row, int column, bool enable, CXComboStrings strings, int height, int selection);
    int GetComboSelection(int row, int column) const;
    int SetCellBold(int row, int column, int bold);
    int SetCellToolTip(int row, int column, std::u16string text);
    // The tool tip as shown: cut to kToolTipMax characters.
    std::u16string GetCellToolTip(int row, int column) const;
    int SetCellColours(int row, int column, COLORREF text, COLORREF back);
    int SetCellImage(int row, int column, int image);
    int SetCellProgress(int row, int column, bool enable, int value, bool showText = true);
    // "%d%%" of the cell's value, kept in ProgressText.
    std::u16string FormatProgress(int row, int column);
    int SetRowEnabled(int row, int enabled);
    bool IsRowEnabled(int row) const;
    int SetRowValue(int row, std::uint32_t value);
    std::uint32_t GetRowValue(int row) const;
    int GetColumnCheck(int column) const;
    int SetColumnCheck(int column, int state);

    // Null when out of range.
    const CXCellRecord* Cell(int row, int column) const;

    // A click on a check-box cell of an enabled row: flips it and keeps the
    // header in step; the notice names the cell, none when nothing changed.
    std::vector<CXCellNotice> ClickCheck(int row, int column);
    // A click on a column's header: with a header check box, every check
    // box of the column follows it; one notice per changed cell.
    std::vector<CXCellNotice> ClickColumn(int column);

    // The drop-down of a combo cell. Open remembers the cell's text for Cancel.
    bool OpenCombo(int row, int column);
    bool ComboOpen() const { return comboRow_ >= 0; }
    int ComboRow() const { return comboRow_; }
    int ComboColumn() const { return comboColumn_; }
    // Navigation shows the choice in the cell at once, telling no one.
    void ComboShow(int selection);
    // Return or a click: the choice becomes the cell's text and selection.
    // The notice names the cell; none when no drop-down is open.
    std::vector<CXCellNotice> ComboCommit(int selection);
    // Escape: the text from before the drop-down opened comes back.
    void ComboCancel();
    // Clears the pressed state of the cell's button.
    void ReleaseCombo(int row, int column);

    // The selection after a key in a drop-down of `strings`, `page` rows
    // visible; clamped to the list (-1 for an empty one).
    static int NavigateCombo(CXComboKey key, char16_t letter, int selection, int page,
                             const std::vector<std::u16string>& strings);

    // Reorders the rows, each keeping its records; less(a, b) compares rows
    // by their current indexes.
    void SortRows(const std::function<bool(int, int)>& less);

private:
    struct Column {
        std::u16string heading;
        CXAlign align = CXAlign::Left;
        int check = 0; // header image index: 0 none, 1 clear, 2 checked
    };
    struct Row {
        std::vector<std::u16string> text;
        std::vector<CXCellRecord> cells;
    };

    bool valid(int row, int column) const;
    bool validRow(int row) const { return row >= 0 && row < GetRowCount(); }
    bool validColumn(int column) const { return column >= 0 && column < GetColumnCount(); }
    CXCellRecord& cell(int row, int column) { return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)]; }
    void syncHeader(int column);

    std::vector<Column> columns_;
    std::vector<Row> rows_;
    COLORREF defaultText_ = kDefaultWindowText;
    COLORREF defaultBack_ = kDefaultWindow;
    int comboRow_ = -1;
    int comboColumn_ = -1;
    std::u16string comboSavedText_;
};
