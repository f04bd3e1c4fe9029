#include "windows/XListCtrl.h"

#include <QAbstractTableModel>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>

#include <algorithm>

namespace {

QString toQ(const std::u16string& s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string fromQ(const QString& s)
{
    return s.toStdU16String();
}

QColor colourOf(COLORREF c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

COLORREF colourRef(const QColor& c)
{
    return static_cast<COLORREF>(c.red()) | (static_cast<COLORREF>(c.green()) << 8) |
           (static_cast<COLORREF>(c.blue()) << 16);
}

Qt::Alignment alignOf(CXAlign a)
{
    switch (a) {
    case CXAlign::Center: return Qt::AlignHCenter;
    case CXAlign::Right: return Qt::AlignRight;
    case CXAlign::Left: break;
    }
    return Qt::AlignLeft;
}

} // namespace

// Shows the cell records to the view.
class CXListItemModel : public QAbstractTableModel {
public:
    CXListItemModel(CXListModel& cells, const std::vector<QPixmap>& images, QWidget& view, QObject* parent)
        : QAbstractTableModel(parent), cells_(cells), images_(images), view_(view) {}

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : cells_.GetRowCount(); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : cells_.GetColumnCount(); }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const CXCellRecord* c = cells_.Cell(index.row(), index.column());
        if (!c)
            return {};
        const bool enabled = cells_.IsRowEnabled(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return c->Progress ? QVariant() : QVariant(toQ(cells_.GetCellText(index.row(), index.column())));
        case Qt::CheckStateRole:
            if (c->CheckState == 0 || c->CheckState == 1)
                return c->CheckState ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::ToolTipRole: {
            const std::u16string tip = cells_.GetCellToolTip(index.row(), index.column());
            return tip.empty() ? QVariant() : QVariant(toQ(tip));
        }
        case Qt::FontRole:
            if (c->Bold) {
                QFont f = view_.font();
                f.setWeight(QFont::Bold);
                return f;
            }
            return {};
        case Qt::ForegroundRole:
            return enabled ? colourOf(c->TextColour) : view_.palette().color(QPalette::Disabled, QPalette::Text);
        case Qt::BackgroundRole:
            return colourOf(c->BackColour);
        case Qt::DecorationRole:
            if (!c->Progress && c->CheckState == -1 && c->Image >= 0 && static_cast<std::size_t>(c->Image) < images_.size())
                return images_[static_cast<std::size_t>(c->Image)];
            return {};
        case Qt::TextAlignmentRole:
            return static_cast<int>(alignOf(cells_.ColumnAlign(index.column())) | Qt::AlignVCenter);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return toQ(cells_.ColumnHeading(section));
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid() || !cells_.IsRowEnabled(index.row()))
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    void reset()
    {
        beginResetModel();
        endResetModel();
    }

    void changed(int row, int column)
    {
        if (column < 0)
            emit dataChanged(index(row, 0), index(row, std::max(0, cells_.GetColumnCount() - 1)));
        else
            emit dataChanged(index(row, column), index(row, column));
    }

private:
    CXListModel& cells_;
    const std::vector<QPixmap>& images_;
    QWidget& view_;
};

namespace {

// Paints progress bars and combo buttons; everything else is the default item drawing.
class CXCellDelegate : public QStyledItemDelegate {
public:
    CXCellDelegate(CXListModel& cells, QObject* parent) : QStyledItemDelegate(parent), cells_(cells) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const CXCellRecord* c = cells_.Cell(index.row(), index.column());
        if (!c) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QPalette& pal = option.palette;
        if (c->Progress) {
            painter->save();
            const QRect r = option.rect.adjusted(1, 1, -2, -2);
            painter->setPen(pal.color(QPalette::Dark));
            painter->setBrush(QColor(0xE0, 0xE0, 0xE0));
            painter->drawRect(r);
            const QRect inner = r.adjusted(2, 2, -1, -1);
            if (c->ProgressValue > 0)
                painter->fillRect(QRect(inner.left(), inner.top(), inner.width() * c->ProgressValue / 100, inner.height()),
                                  pal.color(QPalette::Highlight));
            if (c->ProgressShowText) {
                painter->setPen(pal.color(QPalette::Text));
                painter->drawText(r, Qt::AlignCenter, toQ(cells_.FormatProgress(index.row(), index.column())));
            }
            painter->restore();
            return;
        }
        if (c->Combo && (option.state & QStyle::State_Selected)) {
            const int side = option.rect.height();
            const QRect button(option.rect.right() - side + 1, option.rect.top(), side, side);
            QStyleOptionViewItem text = option;
            text.rect.setRight(button.left() - 1);
            QStyledItemDelegate::paint(painter, text, index);
            painter->save();
            painter->fillRect(button, pal.color(QPalette::Button));
            const int shift = c->ComboPressed ? 1 : 0;
            if (c->ComboPressed) {
                painter->setPen(pal.color(QPalette::Dark));
                painter->drawRect(button.adjusted(0, 0, -1, -1));
            } else {
                painter->setPen(pal.color(QPalette::Light));
                painter->drawLine(button.topLeft(), button.topRight());
                painter->drawLine(button.topLeft(), button.bottomLeft());
                painter->setPen(pal.color(QPalette::Dark));
                painter->drawLine(button.bottomLeft(), button.bottomRight());
                painter->drawLine(button.topRight(), button.bottomRight());
            }
            painter->setPen(pal.color(QPalette::ButtonText));
            const QPoint mid = button.center() + QPoint(shift, shift);
            for (int i = 0; i < 3; ++i) {
                const int half = 2 - i; // lines of 5, 3 and 1 pixels
                painter->drawLine(mid.x() - half, mid.y() - 1 + i, mid.x() + half, mid.y() - 1 + i);
            }
            painter->restore();
            return;
        }
        if ((c->CheckState == 0 || c->CheckState == 1) && cells_.GetCellText(index.row(), index.column()).empty()) {
            // A lone check box sits in the middle of its cell.
            painter->fillRect(option.rect, colourOf(c->BackColour));
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : nullptr;
            if (!style)
                return;
            QStyleOptionViewItem box = option;
            box.features |= QStyleOptionViewItem::HasCheckIndicator;
            box.checkState = c->CheckState ? Qt::Checked : Qt::Unchecked;
            const QRect mark = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, widget);
            box.rect = QRect(option.rect.center() - QPoint(mark.width() / 2, mark.height() / 2), mark.size());
            box.state = (box.state & ~QStyle::State_HasFocus) |
                        (c->CheckState ? QStyle::State_On : QStyle::State_Off);
            style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    CXListModel& cells_;
};

} // namespace

CXComboList::CXComboList(CXListCtrl& owner, int page)
    : QListWidget(&owner), owner_(owner), page_(std::max(1, page))
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setFrameShape(QFrame::Box);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
    setFont(owner.font());
    // Hovering selects the row under the mouse, once the mouse has moved:
    // a drop-down opening under a resting cursor keeps the cell's choice.
    const QPoint openedAt = QCursor::pos();
    connect(this, &QListWidget::itemEntered, this, [this, openedAt](QListWidgetItem* item) {
        if (QCursor::pos() != openedAt)
            setCurrentItem(item);
    });
}

void CXComboList::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        owner_.OnComboReturn();
        return;
    }
    if (key == Qt::Key_Escape) {
        owner_.OnComboEscape();
        return;
    }
    CXComboKey nav{};
    char16_t letter = 0;
    switch (key) {
    case Qt::Key_Home: nav = CXComboKey::Home; break;
    case Qt::Key_End: nav = CXComboKey::End; break;
    case Qt::Key_Up: nav = CXComboKey::Up; break;
    case Qt::Key_Down: nav = CXComboKey::Down; break;
    case Qt::Key_PageUp: nav = CXComboKey::PageUp; break;
    case Qt::Key_PageDown: nav = CXComboKey::PageDown; break;
    default:
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            nav = CXComboKey::Letter;
            letter = static_cast<char16_t>(u'A' + (key - Qt::Key_A));
            break;
        }
        event->accept();
        return;
    }
    std::vector<std::u16string> strings;
    strings.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i)
        strings.push_back(item(i)->text().toStdU16String());
    const int next = CXListModel::NavigateCombo(nav, letter, currentRow(), page_, strings);
    if (next >= 0)
        setCurrentRow(next);
    owner_.OnComboKeyDown();
}

void CXComboList::mouseReleaseEvent(QMouseEvent* event)
{
    QListWidget::mouseReleaseEvent(event);
    if (QListWidgetItem* it = itemAt(event->position().toPoint()))
        setCurrentItem(it);
    owner_.OnComboReturn();
}

void CXComboList::focusOutEvent(QFocusEvent* event)
{
    QListWidget::focusOutEvent(event);
    if (++focusLosses_ >= 3)
        owner_.OnComboEscape();
}

CXHeaderCtrl::CXHeaderCtrl(const CXListModel& model, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), model_(model)
{
    setSectionsClickable(true);
}

void CXHeaderCtrl::SetImageList(std::vector<QPixmap> images)
{
    images_ = std::move(images);
    viewport()->update();
}

std::vector<QPixmap> StandardHeaderImages()
{
    constexpr int kSide = 16;
    std::vector<QPixmap> images;
    for (int i = 0; i < 3; ++i) {
        QPixmap p(kSide, kSide);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing, i == 0);
        if (i == 0) {
            // A blue diamond: the lists' marker.
            const QPointF diamond[] = {{8, 3}, {13, 8}, {8, 13}, {3, 8}};
            g.setPen(QPen(QColor(0, 0, 160), 1));
            g.setBrush(QColor(80, 120, 230));
            g.drawPolygon(diamond, 4);
        } else {
            g.setPen(QPen(QColor(64, 64, 64), 1));
            g.setBrush(Qt::white);
            g.drawRect(2, 2, 11, 11);
            if (i == 2) {
                g.setPen(QPen(Qt::black, 2));
                const QPoint tick[] = {{4, 8}, {7, 11}, {12, 4}};
                g.drawPolyline(tick, 3);
            }
        }
        images.push_back(p);
    }
    return images;
}

void CXHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = rect;
    opt.section = logicalIndex;
    style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
    constexpr int kGap = 6;
    QRect textRect = rect.adjusted(kGap, 0, -kGap, 0);
    const int check = model_.GetColumnCheck(logicalIndex);
    const bool right = model_.ColumnAlign(logicalIndex) == CXAlign::Right;
    if (check >= 0 && static_cast<std::size_t>(check) < images_.size()) {
        const QPixmap& image = images_[static_cast<std::size_t>(check)];
        const int x = right ? textRect.right() - image.width() + 1 : textRect.left();
        painter->drawPixmap(x, rect.top() + (rect.height() - image.height()) / 2, image);
        if (right)
            textRect.setRight(x - kGap);
        else
            textRect.setLeft(x + image.width() + kGap);
    } else if (check > 0) {
        const int side = std::min(13, rect.height() - 2);
        QStyleOptionButton box;
        const int x = right ? textRect.right() - side + 1 : textRect.left();
        box.rect = QRect(x, rect.top() + (rect.height() - side) / 2, side, side);
        box.state = QStyle::State_Enabled | (check == 2 ? QStyle::State_On : QStyle::State_Off);
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
        if (right)
            textRect.setRight(x - kGap);
        else
            textRect.setLeft(x + side + kGap);
    }
    painter->setPen(colourOf(0xFF0000));
    const QString text = fontMetrics().elidedText(toQ(model_.ColumnHeading(logicalIndex)), Qt::ElideRight, textRect.width());
    painter->drawText(textRect, alignOf(model_.ColumnAlign(logicalIndex)) | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

CXListCtrl::CXListCtrl(QWidget* parent) : QTableView(parent)
{
    readColours();
    adapter_ = new CXListItemModel(cells_, images_, *this, this);
    setHorizontalHeader(new CXHeaderCtrl(cells_, this));
    setModel(adapter_);
    setItemDelegate(new CXCellDelegate(cells_, this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves on to the next control, as from a list control; the arrow
    // keys move between the rows.
    setTabKeyNavigation(false);
    setSortingEnabled(false);
    setShowGrid(false);
    verticalHeader()->hide();
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        for (const CXCellNotice& n : cells_.ClickColumn(column)) {
            cellChanged(n.row, n.column);
            emit checkboxClicked(n.row, n.column);
        }
        horizontalHeader()->viewport()->update();
    });
    hotTimer_.setInterval(kHotTimerMs);
    connect(&hotTimer_, &QTimer::timeout, this, &CXListCtrl::hotTick);
}

CXListCtrl::~CXListCtrl()
{
    hotTimer_.stop();
    delete combo_.data();
}

void CXListCtrl::readColours()
{
    cells_.SetDefaultColours(colourRef(palette().color(QPalette::Text)), colourRef(palette().color(QPalette::Base)));
}

void CXListCtrl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        readColours();
    QTableView::changeEvent(event);
}

int CXListCtrl::InsertColumn(int column, const QString& heading, CXAlign align, int width)
{
    const int r = cells_.InsertColumn(column, fromQ(heading), align);
    if (r >= 0) {
        adapter_->reset();
        setColumnWidth(r, width);
    }
    return r;
}

int CXListCtrl::AddRow(int row, const QString& text)
{
    const int r = cells_.AddRow(row, fromQ(text));
    if (r >= 0) {
        adapter_->reset();
        horizontalHeader()->viewport()->update();
    }
    return r;
}

int CXListCtrl::DeleteRow(int row)
{
    if (cells_.ComboRow() == row)
        destroyCombo();
    const int r = cells_.DeleteRow(row);
    if (r) {
        adapter_->reset();
        horizontalHeader()->viewport()->update();
    }
    return r;
}

int CXListCtrl::DeleteAllRows()
{
    destroyCombo();
    const int r = cells_.DeleteAllRows();
    adapter_->reset();
    return r;
}

void CXListCtrl::cellChanged(int row, int column)
{
    adapter_->changed(row, column);
    if (column >= 0)
        viewport()->update(visualRect(adapter_->index(row, column)));
    else
        viewport()->update();
}

void CXListCtrl::RedrawCell(int row, int column)
{
    if (row >= 0 && row < GetRowCount() && column < GetColumnCount())
        cellChanged(row, column);
}

int CXListCtrl::SetCellText(int row, int column, const QString& text)
{
    const int r = cells_.SetCellText(row, column, fromQ(text));
    if (r)
        cellChanged(row, column);
    return r;
}

QString CXListCtrl::GetCellText(int row, int column) const
{
    return toQ(cells_.GetCellText(row, column));
}

int CXListCtrl::SetCellCheck(int row, int column, int state)
{
    const int r = cells_.SetCellCheck(row, column, state);
    if (r) {
        cellChanged(row, column);
        horizontalHeader()->viewport()->update();
    }
    return r;
}

int CXListCtrl::GetCellCheck(int row, int column) const { return cells_.GetCellCheck(row, column); }

int CXListCtrl::SetCellCombo(int row, int column, bool enable, CXComboStrings strings, int height, int selection)
{
    const int r = cells_.SetCellCombo(row, column, enable, std::move(strings), height, selection);
    if (r)
        cellChanged(row, column);
    return r;
}

int CXListCtrl::GetComboSelection(int row, int column) const { return cells_.GetComboSelection(row, column); }

int CXListCtrl::SetCellBold(int row, int column, int bold)
{
    const int r = cells_.SetCellBold(row, column, bold);
    if (r)
        cellChanged(row, column);
    return r;
}

int CXListCtrl::SetCellToolTip(int row, int column, const QString& text)
{
    return cells_.SetCellToolTip(row, column, fromQ(text));
}

int CXListCtrl::SetCellColours(int row, int column, COLORREF text, COLORREF back)
{
    const int r = cells_.SetCellColours(row, column, text, back);
    if (r)
        cellChanged(row, column);
    return r;
}

int CXListCtrl::SetCellProgress(int row, int column, bool enable, int value, bool showText)
{
    const int r = cells_.SetCellProgress(row, column, enable, value, showText);
    if (r)
        cellChanged(row, column);
    return r;
}

int CXListCtrl::SetCellImage(int row, int column, int image)
{
    const int r = cells_.SetCellImage(row, column, image);
    if (r)
        cellChanged(row, column);
    return r;
}

void CXListCtrl::SetHeaderImageList(std::vector<QPixmap> images)
{
    static_cast<CXHeaderCtrl*>(horizontalHeader())->SetImageList(std::move(images));
}

void CXListCtrl::SetImageList(std::vector<QPixmap> images)
{
    images_ = std::move(images);
    viewport()->update();
}

int CXListCtrl::SetRowEnabled(int row, int enabled)
{
    const int r = cells_.SetRowEnabled(row, enabled);
    if (r)
        cellChanged(row, -1);
    return r;
}

int CXListCtrl::SetRowValue(int row, std::uint32_t value) { return cells_.SetRowValue(row, value); }
std::uint32_t CXListCtrl::GetRowValue(int row) const { return cells_.GetRowValue(row); }
int CXListCtrl::GetColumnCheck(int column) const { return cells_.GetColumnCheck(column); }

int CXListCtrl::SetColumnCheck(int column, int state)
{
    const int r = cells_.SetColumnCheck(column, state);
    if (r)
        horizontalHeader()->viewport()->update();
    return r;
}

int CXListCtrl::GetSelectedRow() const
{
    if (!selectionModel())
        return -1;
    int best = -1;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        if (best < 0 || i.row() < best)
            best = i.row();
    return best;
}

void CXListCtrl::SelectRow(int row)
{
    if (row < 0 || row >= GetRowCount())
        return;
    selectRow(row);
    setCurrentIndex(adapter_->index(row, 0));
}

void CXListCtrl::SortRows(const std::function<bool(int, int)>& less)
{
    cells_.SortRows(less);
    adapter_->reset();
}

QRect CXListCtrl::ComboButtonRect(int row, int column) const
{
    const QRect r = visualRect(adapter_->index(row, column));
    return QRect(r.right() - r.height() + 1, r.top(), r.height(), r.height());
}

void CXListCtrl::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (!index.isValid()) {
        closeComboAsEscape();
        QTableView::mousePressEvent(event);
        return;
    }
    const int row = index.row();
    const int column = index.column();
    if (!cells_.IsRowEnabled(row)) {
        event->accept();
        return;
    }
    const CXCellRecord* cell = cells_.Cell(row, column);
    bool open = false;
    if (cell && event->button() == Qt::LeftButton && (cell->CheckState == 0 || cell->CheckState == 1)) {
        closeComboAsEscape();
        for (const CXCellNotice& n : cells_.ClickCheck(row, column)) {
            cellChanged(n.row, n.column);
            emit checkboxClicked(n.row, n.column);
        }
        horizontalHeader()->viewport()->update();
    } else if (cell && event->button() == Qt::LeftButton && cell->Combo) {
        closeComboAsEscape();
        const QRect button = ComboButtonRect(row, column);
        if (button.contains(pos)) {
            pressedButton_ = button;
            pressedRow_ = row;
            pressedColumn_ = column;
            hot_ = true;
            open = true;
        }
    } else {
        closeComboAsEscape();
    }
    QTableView::mousePressEvent(event);
    if (open) {
        openCombo(row, column);
        hotTimer_.start();
    }
}

void CXListCtrl::openCombo(int row, int column)
{
    if (combo_ || !cells_.OpenCombo(row, column))
        return;
    cellChanged(row, column);
    const CXCellRecord* cell = cells_.Cell(row, column);
    const QRect r = visualRect(adapter_->index(row, column));
    const int rowHeight = std::max(1, fontMetrics().height() + 2);
    const int wanted = std::max(rowHeight, (r.height() - 2) * cell->ComboHeight);
    const int page = std::max(1, wanted / rowHeight);
    auto* list = new CXComboList(*this, page);
    if (cell->ComboStrings)
        for (const std::u16string& s : *cell->ComboStrings)
            list->addItem(toQ(s));
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setSizeHint(QSize(r.width() - 1, rowHeight));
    list->setCurrentRow(cell->ComboSelection);
    if (list->count() > 0)
        list->scrollToItem(list->item(std::max(0, cell->ComboSelection - 1)), QAbstractItemView::PositionAtTop);
    const QPoint topLeft = viewport()->mapToGlobal(QPoint(r.left(), r.bottom() - 1));
    list->setGeometry(QRect(topLeft, QSize(r.width() - 1, page * rowHeight + 2 * list->frameWidth())));
    combo_ = list;
    list->show();
    list->activateWindow();
    list->setFocus();
}

void CXListCtrl::destroyCombo()
{
    if (combo_) {
        combo_->hide();
        combo_->deleteLater();
        combo_ = nullptr;
    }
}

void CXListCtrl::closeComboAsEscape()
{
    if (!cells_.ComboOpen() && !combo_)
        return;
    const int row = cells_.ComboRow();
    const int column = cells_.ComboColumn();
    cells_.ComboCancel();
    if (row >= 0)
        cellChanged(row, column);
    destroyCombo();
}

void CXListCtrl::OnComboReturn()
{
    hotTimer_.stop();
    // Each deferred action belongs to the drop-down that asked for it, so a
    // late one never touches a drop-down opened since.
    QTimer::singleShot(eventDelayMs_, this, [this, which = combo_] {
        if (!which || which != combo_ || !cells_.ComboOpen())
            return;
        const int selection = which->currentRow();
        const std::vector<CXCellNotice> notices = cells_.ComboCommit(selection);
        destroyCombo();
        hot_ = false;
        for (const CXCellNotice& n : notices) {
            cellChanged(n.row, n.column);
            emit comboSelection(n.row, n.column);
        }
    });
}

void CXListCtrl::OnComboEscape()
{
    if (!cells_.ComboOpen())
        return;
    hotTimer_.stop();
    hot_ = false;
    const int row = cells_.ComboRow();
    const int column = cells_.ComboColumn();
    cells_.ComboCancel();
    cellChanged(row, column);
    QTimer::singleShot(eventDelayMs_, this, [this, which = combo_] {
        if (which && which == combo_)
            destroyCombo();
    });
}

void CXListCtrl::OnComboKeyDown()
{
    QTimer::singleShot(eventDelayMs_, this, [this, which = combo_] {
        if (!which || which != combo_ || !cells_.ComboOpen())
            return;
        cells_.ComboShow(which->currentRow());
        cellChanged(cells_.ComboRow(), cells_.ComboColumn());
    });
}

void CXListCtrl::hotTick()
{
    if (releasing_)
        return;
    if (hot_) {
        const QRect global(viewport()->mapToGlobal(pressedButton_.topLeft()), pressedButton_.size());
        if (!global.contains(cursor_ ? cursor_() : QCursor::pos())) {
            releasing_ = true;
            cells_.ReleaseCombo(pressedRow_, pressedColumn_);
            cellChanged(pressedRow_, pressedColumn_);
            hot_ = false;
            releasing_ = false;
        }
    } else if (!combo_) {
        hotTimer_.stop();
    }
}

void CXListCtrl::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (GetRowCount() == 0) {
        QPainter p(viewport());
        p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(viewport()->rect().adjusted(0, 10, 0, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                   QString::fromUtf16(kEmptyListText));
    }
}
