#include "app/child_view.h"

#include <QResizeEvent>

CChildView::CChildView(QWidget* parent) : QWidget(parent) {}

CChildView::~CChildView()
{
    // The view owns the sheet; Qt's parenting deletes it with the view.
}

bool CChildView::Create(std::unique_ptr<CPropertySheetBase> sheet)
{
    if (!sheet)
        return false;
    CPropertySheetBase* s = sheet.release();
    s->setParent(this, Qt::Widget);
    s->move(0, 0);
    s->adjustSize();
    s->show();
    sheet_ = s;
    return true;
}

void CChildView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (frameSized_ || !sheet_ || event->size().isEmpty() || window()->isMinimized())
        return;
    frameSized_ = true;
    const QRect sheetRect = sheet_->geometry();
    if (sizer_) {
        sizer_(sheetRect);
    } else {
        setMinimumSize(sheetRect.size());
        window()->adjustSize();
    }
}
