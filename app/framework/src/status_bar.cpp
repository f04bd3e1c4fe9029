#include "app/status_bar.h"

#include <QLabel>

CColoredStatusBar::CColoredStatusBar(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(false); }

void CColoredStatusBar::SetPanes(const std::vector<int>& widths)
{
    for (QLabel* pane : panes_) {
        removeWidget(pane);
        delete pane;
    }
    panes_.clear();
    for (int width : widths) {
        auto* pane = new QLabel(this);
        pane->setFixedWidth(width);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        addPermanentWidget(pane);
        panes_.push_back(pane);
    }
    refreshPane0();
}

void CColoredStatusBar::SetPaneText(int index, const QString& text)
{
    if (index < 0 || index >= PaneCount())
        return;
    if (index == 0 && ownerDrawn_)
        SetText(text);
    else
        panes_[static_cast<std::size_t>(index)]->setText(text);
}

QString CColoredStatusBar::PaneText(int index) const
{
    if (index < 0 || index >= PaneCount())
        return {};
    return panes_[static_cast<std::size_t>(index)]->text();
}

void CColoredStatusBar::SetOwnerDrawn(bool ownerDrawn)
{
    ownerDrawn_ = ownerDrawn;
    refreshPane0();
}

void CColoredStatusBar::SetText(const QString& text)
{
    text_ = text;
    refreshPane0();
}

void CColoredStatusBar::SetTextColour(const QColor& colour)
{
    colour_ = colour;
    refreshPane0();
}

void CColoredStatusBar::refreshPane0()
{
    if (panes_.empty())
        return;
    QLabel* pane = panes_.front();
    if (ownerDrawn_) {
        pane->setText(text_);
        pane->setAutoFillBackground(false);
        pane->setContentsMargins(2, 0, 0, 0);
        QPalette pal = pane->palette();
        pal.setColor(QPalette::WindowText, colour_);
        pane->setPalette(pal);
    } else {
        pane->setPalette(palette());
        pane->setContentsMargins(0, 0, 0, 0);
    }
}
