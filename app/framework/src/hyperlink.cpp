#include "app/hyperlink.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QMouseEvent>

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent), launcher_(std::make_shared<app::SpawnUrlLauncher>())
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    setTextFormat(Qt::PlainText);
    hoverTimer_.setInterval(kHoverCheckMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CHyperLink::CheckHover);
    reporter_ = [this](int, const QString& text) {
        QApplication::beep();
        QMessageBox::warning(this, QString(), text);
    };
    applyLook();
}

CHyperLink::~CHyperLink() = default;

void CHyperLink::SetURL(const QString& url)
{
    url_ = url;
    fit();
    setToolTip(url_);
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover)
{
    link_ = link;
    visited_ = visited;
    hover_ = hover;
    colour_ = over_ ? hover_ : (visited_flag_ ? visited_ : link_);
    applyLook();
}

void CHyperLink::SetVisited(bool visited)
{
    visited_flag_ = visited;
    if (!over_)
        colour_ = visited_flag_ ? visited_ : link_;
    applyLook();
}

void CHyperLink::SetUnderline(int mode)
{
    underline_ = mode;
    applyLook();
    fit();
}

void CHyperLink::SetAutoSize(bool adjustToFit)
{
    adjustToFit_ = adjustToFit;
    fit();
}

void CHyperLink::SetLauncher(std::shared_ptr<app::UrlLauncher> launcher)
{
    if (launcher)
        launcher_ = std::move(launcher);
}

int CHyperLink::GotoURL(const QString& url, int showCommand)
{
    return launcher_->Open(url.toStdString(), showCommand);
}

void CHyperLink::CheckHover()
{
    if (rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    over_ = false;
    hoverTimer_.stop();
    colour_ = visited_flag_ ? visited_ : link_;
    applyLook();
    if (QWidget* p = parentWidget())
        p->update(geometry());
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event)
{
    if (!over_) {
        over_ = true;
        if (colour_ != hover_) {
            colour_ = hover_;
            applyLook();
        }
        hoverTimer_.start();
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    const int result = GotoURL(url_, 5);
    if (result > 32) {
        SetVisited(true);
    } else if (reporter_) {
        reporter_(result, QString::fromStdU16String(app::HyperlinkErrorText(result)));
    }
    event->accept();
}

void CHyperLink::applyLook()
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, colour_);
    setPalette(pal);
    QFont f = font();
    f.setUnderline(underline_ == kUnderlineAlways || (underline_ == kUnderlineHover && over_));
    setFont(f);
    update();
}

void CHyperLink::fit()
{
    if (adjustToFit_)
        resize(sizeHint());
}
