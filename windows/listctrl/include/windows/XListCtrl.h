#pragma once
// The report list with in-cell editors: check boxes toggled by a click,
// combo cells whose drop-down opens from the square button at the cell's
// right end, progress bars, per-cell colours, bold and tool tips, and a
// header whose check boxes check or clear a whole column. Parents hear of
// user changes through comboSelection and checkboxClicked.
#include "windows/XListModel.h"

#include <QHeaderView>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QTableView>
#include <QTimer>

#include <vector>

class CXListItemModel;
class CXListCtrl;

// The drop-down under a combo cell: tells its list of keys and clicks.
class CXComboList : public QListWidget {
    Q_OBJECT
public:
    CXComboList(CXListCtrl& owner, int page);

    int Page() const { return page_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CXListCtrl& owner_;
    int page_;
    int focusLosses_ = 0;
};

// Header that paints its text blue and each item's image. An item's image
// index doubles as its check state (0 none, 1 clear, 2 checked): with an
// image list the item shows that image, without one a check box for 1 and 2.
class CXHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    CXHeaderCtrl(const CXListModel& model, QWidget* parent);
    void SetImageList(std::vector<QPixmap> images);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    const CXListModel& model_;
    std::vector<QPixmap> images_;
};

// The header images of the program's lists (bitmap 131): 16-pixel images,
// 0 a small marker, 1 a clear and 2 a checked box.
std::vector<QPixmap> StandardHeaderImages();

class CXListCtrl : public QTableView {
    Q_OBJECT
public:
    // Delay of the drop-down's deferred actions, so that it is never
    // destroyed inside its own handler.
    static constexpr int kDefaultEventDelayMs = 50;
    static constexpr int kHotTimerMs = 100;

    explicit CXListCtrl(QWidget* parent = nullptr);
    ~CXListCtrl() override;

    int InsertColumn(int column, const QString& heading, CXAlign align = CXAlign::Left, int width = 100);
    int AddRow(int row, const QString& text);
    int DeleteRow(int row);
    int DeleteAllRows();
    int SetCellText(int row, int column, const QString& text);
    QString GetCellText(int row, int column) const;
    int SetCellCheck(int row, int column, int state);
    int GetCellCheck(int row, int column) const;
    int SetCellCombo(int row, int column, bool enable, CXComboStrings strings, int height, int selection);
    int GetComboSelection(int row, int column) const;
    int SetCellBold(int row, int column, int bold);
    int SetCellToolTip(int row, int column, const QString& text);
    int SetCellColours(int row, int column, COLORREF text, COLORREF back);
    int SetCellProgress(int row, int column, bool enable, int value, bool showText = true);
    int SetCellImage(int row, int column, int image);
    // Images drawn before a cell's text, by the cells' Image index.
    void SetImageList(std::vector<QPixmap> images);
    // The header's images, by each item's image index (see CXHeaderCtrl).
    void SetHeaderImageList(std::vector<QPixmap> images);
    int SetRowEnabled(int row, int enabled);
    int SetRowValue(int row, std::uint32_t value);
    std::uint32_t GetRowValue(int row) const;
    int GetColumnCheck(int column) const;
    int SetColumnCheck(int column, int state);
    int GetSelectedRow() const;
    void SelectRow(int row);
    int GetColumnCount() const { return cells_.GetColumnCount(); }
    int GetRowCount() const { return cells_.GetRowCount(); }
    void RedrawCell(int row, int column);
    void SortRows(const std::function<bool(int, int)>& less);

    const CXListModel& Cells() const { return cells_; }
    // The open drop-down, null when none.
    CXComboList* ComboList() const { return combo_; }
    // The rectangle of a combo cell's drop button, in viewport coordinates.
    QRect ComboButtonRect(int row, int column) const;
    void SetEventDelay(int ms) { eventDelayMs_ = ms; }
    // Where the mouse cursor is, in global coordinates; QCursor::pos unless replaced.
    void SetCursorSource(std::function<QPoint()> source) { cursor_ = std::move(source); }

    // From the drop-down.
    void OnComboReturn();
    void OnComboEscape();
    void OnComboKeyDown();

signals:
    void comboSelection(int row, int column);
    void checkboxClicked(int row, int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void openCombo(int row, int column);
    void closeComboAsEscape();
    void destroyCombo();
    void hotTick();
    void cellChanged(int row, int column);
    void readColours();

    CXListModel cells_;
    std::vector<QPixmap> images_;
    CXListItemModel* adapter_ = nullptr;
    QPointer<CXComboList> combo_;
    QRect pressedButton_;
    int pressedRow_ = -1;
    int pressedColumn_ = -1;
    bool hot_ = false;
    bool releasing_ = false;
    QTimer hotTimer_;
    int eventDelayMs_ = kDefaultEventDelayMs;
    std::function<QPoint()> cursor_;
};
