#pragma once
// The main frame's client view: hosts the main sheet as a child at (0, 0)
// and sizes the frame to the sheet once, on the first real size change.
#include <functional>
#include <memory>

#include <QPointer>
#include <QWidget>

#include "app/property_sheet.h"

class CChildView : public QWidget {
    Q_OBJECT
public:
    // Called once with the sheet's rectangle; default: the top-level window
    // is resized to fit the view's contents.
    using FrameSizer = std::function<void(const QRect& sheetRect)>;

    explicit CChildView(QWidget* parent = nullptr);
    ~CChildView() override;

    // Takes the sheet, makes it a child of the view at (0, 0) and shows it.
    bool Create(std::unique_ptr<CPropertySheetBase> sheet);
    CPropertySheetBase* Sheet() const { return sheet_.data(); }

    void SetFrameSizer(FrameSizer sizer) { sizer_ = std::move(sizer); }
    bool FrameSized() const { return frameSized_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<CPropertySheetBase> sheet_;
    FrameSizer sizer_;
    bool frameSized_ = false;
};
