#include "windows/gauges_dlg.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/CameraDataProcessor.h"

namespace gauges {

PoseAxes CEngineGaugeSource::RawAxes() const { return engine_.RawAxes(); }
PoseAxes CEngineGaugeSource::OutputAxes() const { return engine_.OutputAxes(); }
PoseAxes CEngineGaugeSource::PreCompensationAxes() const { return engine_.PreCompensationAxes(); }

namespace {
QColor ToColor(std::uint32_t rgb) { return QColor(static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF), static_cast<int>(rgb & 0xFF)); }
} // namespace

QImage RenderGauge(const GaugePicture& pic)
{
    QImage image(std::max(pic.width, 1), std::max(pic.height, 1), QImage::Format_RGB32);
    image.fill(ToColor(pic.background));
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(ToColor(pic.background));
    p.drawRect(0, 0, pic.width - 1, pic.height - 1);
    p.setBrush(Qt::NoBrush);
    // Vertical pens are drawn as filled columns starting at the line's x, so
    // the pixels a line covers do not depend on the paint engine's pen rules.
    const auto column = [&](const VerticalLine& line) {
        p.fillRect(QRect(line.x, 0, line.width, pic.height), ToColor(line.colour));
    };
    column(pic.lines.front());
    p.setPen(QPen(ToColor(pic.curveColour), 1));
    QPolygon curve;
    for (const Point& pt : pic.curve)
        curve << QPoint(pt.x, pt.y);
    p.drawPolyline(curve);
    for (std::size_t i = 1; i < pic.lines.size(); ++i)
        column(pic.lines[i]);
    return image;
}

} // namespace gauges

namespace {
const char* const kNames[] = {"Yaw", "Pitch", "Roll", "X", "Y", "Z"};
const char* const kHints[] = {"(turn left/right)", "(look up/down)",   "(tilt left/right)",
                              "(move left/right)", "(move up/down)", "(move in/out)"};
} // namespace

CGaugesDlg::CGaugesDlg(gauges::IGaugeSource& source, gauges::CurveEditor editor, QWidget* parent)
    : CModelessDialog(kTemplateId, parent), source_(source), controller_(source, std::move(editor))
{
    SetSection("gauges");
    setWindowTitle(QStringLiteral("Gauges"));
    auto* grid = new QGridLayout;
    for (int i = 0; i < gauges::kGaugeCount; ++i) {
        auto* title = new QLabel(QString::fromLatin1(kNames[i]) + QLatin1Char(' ') + QString::fromLatin1(kHints[i]), this);
        auto* frame = new QFrame(this);
        frame->setObjectName(QString::number(kFrameIds[static_cast<std::size_t>(i)]));
        frame->setFixedSize(160, 80);
        // Mouse events go to the window, which finds the gauge itself.
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frames_[static_cast<std::size_t>(i)] = frame;
        grid->addWidget(title, (i / 3) * 2, i % 3);
        grid->addWidget(frame, (i / 3) * 2 + 1, i % 3);
    }
    auto* preview = new QLabel(QStringLiteral("Now previewing: "), this);
    name_ = new QLabel(this);
    name_->setObjectName(QString::number(kProfileNameId));
    auto* row = new QHBoxLayout;
    row->addWidget(preview);
    row->addWidget(name_, 1);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(row);

    menu_ = new QMenu(this);
    QAction* edit = menu_->addAction(QStringLiteral("Edit"));
    menu_->setDefaultAction(edit);
    menu_->addSeparator();
    enable_ = menu_->addAction(QStringLiteral("Enable"));
    enable_->setCheckable(true);
    invert_ = menu_->addAction(QStringLiteral("Invert"));
    invert_->setCheckable(true);
    connect(edit, &QAction::triggered, this, [this] { OnCommand(gauges::kCmdEdit); });
    connect(enable_, &QAction::triggered, this, [this] { OnCommand(gauges::kCmdEnable); });
    connect(invert_, &QAction::triggered, this, [this] { OnCommand(gauges::kCmdInvert); });

    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &CGaugesDlg::OnTimer);
}

CGaugesDlg::~CGaugesDlg() = default;

bool CGaugesDlg::OnInitDialog()
{
    CModelessDialog::OnInitDialog();
    timer_->start();
    return true;
}

QRect CGaugesDlg::GaugeRect(int gauge) const
{
    const QFrame* f = frames_[static_cast<std::size_t>(gauge)];
    return QRect(f->mapTo(this, QPoint(0, 0)), f->size());
}

void CGaugesDlg::UpdateRects()
{
    std::array<gauges::Rect, gauges::kGaugeCount> rects{};
    for (int i = 0; i < gauges::kGaugeCount; ++i) {
        const QRect r = GaugeRect(i);
        rects[static_cast<std::size_t>(i)] = {r.x(), r.y(), r.width(), r.height()};
    }
    controller_.SetRects(rects);
}

void CGaugesDlg::DrawGauges()
{
    const CProfile* profile = source_.CurrentProfile();
    if (!profile)
        return;
    const gauges::PoseAxes raw = source_.RawAxes();
    const gauges::PoseAxes out = source_.OutputAxes();
    const gauges::PoseAxes pre = source_.PreCompensationAxes();
    for (int i = 0; i < gauges::kGaugeCount; ++i) {
        const QRect r = GaugeRect(i);
        const auto values = gauges::ValuesForGauge(i, raw, out, pre);
        const auto pic = gauges::LayoutGauge(r.width(), r.height(), profile->Axes[static_cast<std::size_t>(i)],
                                             gauges::IsGaugeActive(*profile, i), values);
        images_[static_cast<std::size_t>(i)] = gauges::RenderGauge(pic);
    }
}

void CGaugesDlg::OnTimer()
{
    DrawGauges();
    if (const CProfile* profile = source_.CurrentProfile())
        name_->setText(QString::fromUtf16(profile->Name.data(), static_cast<qsizetype>(profile->Name.size())));
    update();
}

void CGaugesDlg::paintEvent(QPaintEvent* event)
{
    CModelessDialog::paintEvent(event);
    if (images_[0].isNull())
        DrawGauges();
    QPainter p(this);
    for (int i = 0; i < gauges::kGaugeCount; ++i) {
        const QImage& image = images_[static_cast<std::size_t>(i)];
        if (!image.isNull())
            p.drawImage(GaugeRect(i).topLeft(), image);
    }
}

void CGaugesDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton) {
        CModelessDialog::mouseReleaseEvent(event);
        return;
    }
    UpdateRects();
    const QPoint pt = event->position().toPoint();
    const int gauge = controller_.OnRightButtonUp(pt.x(), pt.y());
    if (gauge < 0) {
        CModelessDialog::mouseReleaseEvent(event);
        return;
    }
    enable_->setChecked(controller_.IsEnabled(gauge));
    invert_->setChecked(controller_.IsInverted(gauge));
    menu_->popup(mapToGlobal(pt));
}

void CGaugesDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    UpdateRects();
    const QPoint pt = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !controller_.OnDoubleClick(pt.x(), pt.y()))
        CModelessDialog::mouseDoubleClickEvent(event);
}

void CGaugesDlg::OnCommand(int command)
{
    UpdateRects();
    controller_.OnCommand(command);
}

void CGaugesDlg::OnDestroy()
{
    CModelessDialog::OnDestroy();
    timer_->stop();
}
