#include "windows/tracking_dlg.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/CameraDataProcessor.h"
#include "profiles/Profile.h"
#include "windows/tracking_settings_dlg.h"

namespace camimage {

CEngineImageSource::CEngineImageSource(const CCameraDataProcessor& engine,
                                       std::function<const CProfile*()> currentProfile)
    : engine_(engine), profile_(std::move(currentProfile))
{
}

std::uint32_t CEngineImageSource::FrameCounter() const { return engine_.GetFrameCount(); }

bool CEngineImageSource::CopyHeldFrame(CFrameCopy& out)
{
    if (!engine_.CopyHeldFrame(scratch_))
        return false;
    out.CopyFrom(scratch_);
    return true;
}

int CEngineImageSource::HardwareRevision() const { return engine_.GetHardwareRevision(); }

int CEngineImageSource::MotionType() const
{
    const CProfile* p = profile_ ? profile_() : nullptr;
    return p ? p->MotionType : 1;
}

QImage ToImage(const Orvane::BitMap& bitmap)
{
    const int w = bitmap.PixelWidth(), h = bitmap.PixelHeight();
    if (w <= 0 || h <= 0 || bitmap.GetBits() == nullptr)
        return {};
    const uchar* bits = bitmap.GetBits();
    switch (bitmap.GetBytesPerPixel()) {
    case 4: return QImage(bits, w, h, bitmap.ByteSpan(), QImage::Format_RGBX8888).copy();
    case 3: return QImage(bits, w, h, bitmap.ByteSpan(), QImage::Format_RGB888).copy();
    default: {
        QImage image(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::uint32_t c = bitmap.GetPixel(x, y);
                line[x] = qRgb(static_cast<int>(c >> 16 & 0xFF), static_cast<int>(c >> 8 & 0xFF),
                               static_cast<int>(c & 0xFF));
            }
        }
        return image;
    }
    }
}

} // namespace camimage

CTrackingDlg::CTrackingDlg(camimage::ITrackingImageSource& source, CAppSettings& settings,
                           ITrackingSettingsHost& host, QWidget* parent)
    : CModelessDialog(kTemplateId, parent), source_(source), settings_live_(settings), host_(host)
{
    SetSection("tracking");
    setWindowTitle(QStringLiteral("Tracking"));
    frame_ = new QFrame(this);
    frame_->setObjectName(QStringLiteral("1076"));
    settings_ = new QPushButton(QStringLiteral("&Settings..."), this);
    settings_->setObjectName(QStringLiteral("1035"));
    settings_->setAutoDefault(false);
    dotTitle_ = new QLabel(QStringLiteral("Current dot (pixels):"), this);
    dotTitle_->setObjectName(QStringLiteral("1091"));
    dotValue_ = new QLabel(this);
    dotValue_->setObjectName(QStringLiteral("1090"));
    dotTitle_->setVisible(false);
    dotValue_->setVisible(false);
    auto* row = new QHBoxLayout;
    row->addWidget(dotTitle_);
    row->addWidget(dotValue_);
    row->addStretch(1);
    row->addWidget(settings_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(frame_, 1);
    top->addLayout(row);
    connect(settings_, &QPushButton::clicked, this, &CTrackingDlg::OnSettings);
    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &CTrackingDlg::OnTimer);
}

CTrackingDlg::~CTrackingDlg() = default;

bool CTrackingDlg::OnInitDialog()
{
    image_.Init(source_.HardwareRevision());
    const auto size = image_.Chosen();
    frame_->setMinimumSize(size.PixelWidth(), size.PixelHeight());
    CModelessDialog::OnInitDialog();
    timer_->start();
    return true;
}

bool CTrackingDlg::OnMessage(platform::UINT message, platform::WPARAM wParam)
{
    if (message != kEnableSettingsMessage)
        return false;
    settings_->setEnabled(wParam != 0);
    return true;
}

int CTrackingDlg::ScreenDepth() const
{
    if (depth_)
        return depth_();
    const QScreen* s = screen();
    return s ? s->depth() : 32;
}

QRect CTrackingDlg::PictureRect() const { return QRect(frame_->mapTo(this, QPoint(0, 0)), frame_->size()); }

void CTrackingDlg::OnTimer()
{
    if (!image_.Tick(source_, ScreenDepth()))
        return;
    picture_ = camimage::ToImage(image_.Chosen());
    if (image_.TakeEraseRequest()) {
        ++erases_;
        frame_->setMinimumSize(picture_.size());
        update();
    } else {
        update(PictureRect());
    }
    const camimage::DotLabel& label = image_.Label();
    if (label.visible && label.shown >= 1)
        dotValue_->setText(QString::number(label.shown));
    dotTitle_->setVisible(label.visible && label.shown >= 1);
    dotValue_->setVisible(label.visible && label.shown >= 1);
}

void CTrackingDlg::paintEvent(QPaintEvent* event)
{
    CModelessDialog::paintEvent(event);
    if (picture_.isNull())
        return;
    QPainter p(this);
    p.drawImage(PictureRect().topLeft(), picture_);
}

void CTrackingDlg::OnSettings()
{
    const CTrackingSettingsBackup backup(settings_live_);
    bool ok = false;
    if (runner_) {
        ok = runner_(settings_live_, host_);
    } else {
        CTrackingSettingsDlg dlg(settings_live_, host_, {}, this);
        open_ = &dlg;
        SetOwnedWindow(&dlg);
        ok = dlg.exec() == QDialog::Accepted;
        open_ = nullptr;
    }
    if (!ok)
        backup.Restore(settings_live_, host_);
}

void CTrackingDlg::OnDestroy()
{
    CModelessDialog::OnDestroy();
    timer_->stop();
}
