#include "windows/XListModel.h"

#include <algorithm>
#include <charconv>
#include <numeric>

void CXListModel::SetDefaultColours(COLORREF text, COLORREF back)
{
    defaultText_ = text;
    defaultBack_ = back;
}

int CXListModel::InsertColumn(int column, std::u16string heading, CXAlign align)
{
    if (!rows_.empty() || column < 0 || column > GetColumnCount())
        return -1;
    columns_.insert(columns_.begin() + column, Column{std::move(heading), align, 0});
    return column;
}

std::u16string CXListModel::ColumnHeading(int column) const
{
    return validColumn(column) ? columns_[static_cast<std::size_t>(column)].heading : std::u16string{};
}

CXAlign CXListModel::ColumnAlign(int column) const
{
    return validColumn(column) ? columns_[static_cast<std::size_t>(column)].align : CXAlign::Left;
}

bool CXListModel::valid(int row, int column) const
{
    return validRow(row) && validColumn(column);
}

int CXListModel::AddRow(int row, std::u16string text)
{
    if (row < 0 || row > GetRowCount() || columns_.empty())
        return -1;
    Row r;
    r.text.resize(columns_.size());
    r.cells.resize(columns_.size());
    r.text[0] = std::move(text);
    r.cells[0].TextColour = defaultText_;
    r.cells[0].BackColour = defaultBack_;
    rows_.insert(rows_.begin() + row, std::move(r));
    if (comboRow_ >= row)
        ++comboRow_;
    for (int c = 0; c < GetColumnCount(); ++c)
        syncHeader(c);
    return row;
}

int CXListModel::DeleteRow(int row)
{
    if (!validRow(row))
        return 0;
    if (comboRow_ == row)
        comboRow_ = comboColumn_ = -1;
    else if (comboRow_ > row)
        --comboRow_;
    rows_.erase(rows_.begin() + row);
    for (int c = 0; c < GetColumnCount(); ++c)
        syncHeader(c);
    return 1;
}

int CXListModel::DeleteAllRows()
{
    rows_.clear();
    comboRow_ = comboColumn_ = -1;
    return 1;
}

int CXListModel::SetCellText(int row, int column, std::u16string text)
{
    if (!valid(row, column))
        return 0;
    rows_[static_cast<std::size_t>(row)].text[static_cast<std::size_t>(column)] = std::move(text);
    return 1;
}

std::u16string CXListModel::GetCellText(int row, int column) const
{
    return valid(row, column) ? rows_[static_cast<std::size_t>(row)].text[static_cast<std::size_t>(column)]
                              : std::u16string{};
}

void CXListModel::syncHeader(int column)
{
    Column& col = columns_[static_cast<std::size_t>(column)];
    if (col.check == 0)
        return;
    bool all = true;
    for (const Row& r : rows_)
        all = all && r.cells[static_cast<std::size_t>(column)].CheckState == 1;
    col.check = all ? 2 : 1;
}

int CXListModel::SetCellCheck(int row, int column, int state)
{
    if (!valid(row, column))
        return 0;
    cell(row, column).CheckState = state;
    syncHeader(column);
    return 1;
}

int CXListModel::GetCellCheck(int row, int column) const
{
    return valid(row, column) ? Cell(row, column)->CheckState : -1;
}

int CXListModel::SetCellCombo(int row, int column, bool enable, CXComboStrings strings, int height, int selection)
{
    if (!valid(row, column))
        return 0;
    CXCellRecord& c = cell(row, column);
    const int count = strings ? static_cast<int>(strings->size()) : 0;
    if (selection < 0 || selection >= count)
        selection = 0;
    c.Combo = enable ? 1 : 0;
    c.ComboStrings = std::move(strings);
    c.ComboHeight = height;
    c.ComboSelection = selection;
    if (enable && selection < count)
        rows_[static_cast<std::size_t>(row)].text[static_cast<std::size_t>(column)] =
            (*c.ComboStrings)[static_cast<std::size_t>(selection)];
    return 1;
}

int CXListModel::GetComboSelection(int row, int column) const
{
    return valid(row, column) ? Cell(row, column)->ComboSelection : -1;
}

int CXListModel::SetCellBold(int row, int column, int bold)
{
    if (!valid(row, column))
        return 0;
    cell(row, column).Bold = bold;
    return 1;
}

int CXListModel::SetCellToolTip(int row, int column, std::u16string text)
{
    if (!valid(row, column))
        return 0;
    cell(row, column).ToolTip = std::move(text);
    return 1;
}

std::u16string CXListModel::GetCellToolTip(int row, int column) const
{
    if (!valid(row, column))
        return {};
    return Cell(row, column)->ToolTip.substr(0, kToolTipMax);
}

int CXListModel::SetCellColours(int row, int column, COLORREF text, COLORREF back)
{
    if (!valid(row, column))
        return 0;
    cell(row, column).TextColour = text;
    cell(row, column).BackColour = back;
    return 1;
}

int CXListModel::SetCellImage(int row, int column, int image)
{
    if (!valid(row, column))
        return 0;
    cell(row, column).Image = image;
    return 1;
}

int CXListModel::SetCellProgress(int row, int column, bool enable, int value, bool showText)
{
    if (!valid(row, column))
        return 0;
    CXCellRecord& c = cell(row, column);
    c.Progress = enable ? 1 : 0;
    c.ProgressValue = std::clamp(value, 0, 100);
    c.ProgressShowText = showText ? 1 : 0;
    return 1;
}

std::u16string CXListModel::FormatProgress(int row, int column)
{
    if (!valid(row, column))
        return {};
    CXCellRecord& c = cell(row, column);
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, c.ProgressValue);
    (void)ec;
    c.ProgressText.assign(buf, end);
    c.ProgressText += u'%';
    return c.ProgressText;
}

int CXListModel::SetRowEnabled(int row, int enabled)
{
    if (!validRow(row) || columns_.empty())
        return 0;
    cell(row, 0).Enabled = enabled;
    return 1;
}

bool CXListModel::IsRowEnabled(int row) const
{
    return validRow(row) && !columns_.empty() && Cell(row, 0)->Enabled != 0;
}

int CXListModel::SetRowValue(int row, std::uint32_t value)
{
    if (!validRow(row) || columns_.empty())
        return 0;
    cell(row, 0).ItemData = value;
    return 1;
}

std::uint32_t CXListModel::GetRowValue(int row) const
{
    return validRow(row) && !columns_.empty() ? Cell(row, 0)->ItemData : 0;
}

int CXListModel::GetColumnCheck(int column) const
{
    return validColumn(column) ? columns_[static_cast<std::size_t>(column)].check : -1;
}

int CXListModel::SetColumnCheck(int column, int state)
{
    if (!validColumn(column))
        return 0;
    columns_[static_cast<std::size_t>(column)].check = state;
    return 1;
}

const CXCellRecord* CXListModel::Cell(int row, int column) const
{
    if (!valid(row, column))
        return nullptr;
    return &rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

std::vector<CXCellNotice> CXListModel::ClickCheck(int row, int column)
{
    if (!valid(row, column) || !IsRowEnabled(row))
        return {};
    CXCellRecord& c = cell(row, column);
    if (c.CheckState != 0 && c.CheckState != 1)
        return {};
    c.CheckState = c.CheckState == 0 ? 1 : 0;
    syncHeader(column);
    return {CXCellNotice{row, column}};
}

std::vector<CXCellNotice> CXListModel::ClickColumn(int column)
{
    if (!validColumn(column))
        return {};
    Column& col = columns_[static_cast<std::size_t>(column)];
    if (col.check == 0)
        return {};
    col.check = col.check == 1 ? 2 : 1;
    const int state = col.check == 2 ? 1 : 0;
    std::vector<CXCellNotice> changed;
    for (int r = 0; r < GetRowCount(); ++r) {
        CXCellRecord& c = cell(r, column);
        if ((c.CheckState == 0 || c.CheckState == 1) && c.CheckState != state) {
            c.CheckState = state;
            changed.push_back({r, column});
        }
    }
    return changed;
}

bool CXListModel::OpenCombo(int row, int column)
{
    if (!valid(row, column) || !IsRowEnabled(row) || !Cell(row, column)->Combo)
        return false;
    comboRow_ = row;
    comboColumn_ = column;
    comboSavedText_ = GetCellText(row, column);
    cell(row, column).ComboPressed = 1;
    return true;
}

void CXListModel::ComboShow(int selection)
{
    if (!ComboOpen())
        return;
    const CXCellRecord& c = cell(comboRow_, comboColumn_);
    if (c.ComboStrings && selection >= 0 && selection < static_cast<int>(c.ComboStrings->size()))
        SetCellText(comboRow_, comboColumn_, (*c.ComboStrings)[static_cast<std::size_t>(selection)]);
}

std::vector<CXCellNotice> CXListModel::ComboCommit(int selection)
{
    if (!ComboOpen())
        return {};
    const CXCellNotice notice{comboRow_, comboColumn_};
    CXCellRecord& c = cell(comboRow_, comboColumn_);
    if (c.ComboStrings && selection >= 0 && selection < static_cast<int>(c.ComboStrings->size())) {
        c.ComboSelection = selection;
        SetCellText(comboRow_, comboColumn_, (*c.ComboStrings)[static_cast<std::size_t>(selection)]);
    }
    c.ComboPressed = 0;
    comboRow_ = comboColumn_ = -1;
    return {notice};
}

void CXListModel::ComboCancel()
{
    if (!ComboOpen())
        return;
    SetCellText(comboRow_, comboColumn_, comboSavedText_);
    cell(comboRow_, comboColumn_).ComboPressed = 0;
    comboRow_ = comboColumn_ = -1;
}

void CXListModel::ReleaseCombo(int row, int column)
{
    if (valid(row, column))
        cell(row, column).ComboPressed = 0;
}

int CXListModel::NavigateCombo(CXComboKey key, char16_t letter, int selection, int page,
                               const std::vector<std::u16string>& strings)
{
    const int count = static_cast<int>(strings.size());
    if (count == 0)
        return -1;
    int next = selection;
    switch (key) {
    case CXComboKey::Home: next = 0; break;
    case CXComboKey::End: next = count - 1; break;
    case CXComboKey::Up: next = selection - 1; break;
    case CXComboKey::Down: next = selection + 1; break;
    case CXComboKey::PageUp: next = selection - page + 1; break;
    case CXComboKey::PageDown: next = selection + page - 1; break;
    case CXComboKey::Letter: {
        auto upper = [](char16_t ch) { return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 32) : ch; };
        const char16_t want = upper(letter);
        const int start = std::clamp(selection, -1, count - 1);
        for (int i = 1; i <= count; ++i) {
            const int k = (start + i) % count;
            if (!strings[static_cast<std::size_t>(k)].empty() && upper(strings[static_cast<std::size_t>(k)][0]) == want) {
                next = k;
                break;
            }
        }
        break;
    }
    }
    return std::clamp(next, 0, count - 1);
}

void CXListModel::SortRows(const std::function<bool(int, int)>& less)
{
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), less);
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    int newCombo = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == comboRow_)
            newCombo = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
    }
    rows_ = std::move(sorted);
    if (comboRow_ >= 0)
        comboRow_ = newCombo;
}
