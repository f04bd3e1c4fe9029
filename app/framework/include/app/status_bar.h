#pragma once
// The main frame's status bar: fixed-width panes, the first of which may be
// drawn by the bar itself in its own text colour.
#include <vector>

#include <QColor>
#include <QStatusBar>

class QLabel;

class CColoredStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CColoredStatusBar(QWidget* parent = nullptr);

    // Replaces the panes with ones of these widths (pixels).
    void SetPanes(const std::vector<int>& widths);
    int PaneCount() const { return static_cast<int>(panes_.size()); }
    void SetPaneText(int index, const QString& text);
    QString PaneText(int index) const;

    // Pane 0 owner-drawn: it shows Text() in TextColour() with a 2-pixel
    // left margin on a transparent background.
    void SetOwnerDrawn(bool ownerDrawn);
    bool OwnerDrawn() const { return ownerDrawn_; }
    void SetText(const QString& text);
    QString Text() const { return text_; }
    void SetTextColour(const QColor& colour);
    QColor TextColour() const { return colour_; }

private:
    void refreshPane0();

    std::vector<QLabel*> panes_;
    QColor colour_{18, 0, 0};
    QString text_ = QStringLiteral("sss");
    bool ownerDrawn_ = false;
};
