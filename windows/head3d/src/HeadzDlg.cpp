#include "windows/head3d/HeadzDlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <algorithm>

#include "platform/program_folders.h"

namespace head3d {

QImage FrameImage(const CScene& scene)
{
    const platform::gfx::Image& frame = scene.Frame();
    if (frame.rgba.empty())
        return {};
    return QImage(frame.rgba.data(), frame.width, frame.height, frame.width * 4, QImage::Format_RGBA8888).copy();
}

} // namespace head3d

namespace {

struct ViewRow {
    int data;
    const char* text;
};
constexpr std::array<ViewRow, 7> kViewRows{{{0, "Mirror"},
                                            {1, "Yaw"},
                                            {2, "Pitch"},
                                            {3, "Roll"},
                                            {4, "X"},
                                            {5, "Y"},
                                            {6, "Z"}}};

QString FromU16(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CHeadzDlg::CHeadzDlg(head3d::IHeadSource& source, QWidget* parent) : CHeadzDlg(source, Options{}, parent) {}

CHeadzDlg::CHeadzDlg(head3d::IHeadSource& source, Options options, QWidget* parent)
    : CModelessDialog(kTemplateId, parent), source_(source), options_(std::move(options))
{
    SetSection("heads");
    setWindowTitle(QStringLiteral("3D Head"));
}

CHeadzDlg::~CHeadzDlg()
{
    // Views hold pointers into the scenes' mesh lists: drop them first.
    ReleaseViews();
    views_ = {};
    scenes_ = {};
}

bool CHeadzDlg::OnInitDialog()
{
    auto* grid = new QGridLayout(this);
    auto* yours = new QLabel(QStringLiteral("Your Head"), this);
    auto* game = new QLabel(QStringLiteral("In-game Head"), this);
    grid->addWidget(yours, 0, 0);
    grid->addWidget(game, 0, 1);
    const std::array<int, 2> ids{kRealHeadId, kGameHeadId};
    const std::array<const char*, 2> names{"Real head", "Game head"};
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        panes_[i] = new QLabel(this);
        panes_[i]->setObjectName(QString::number(ids[i]));
        panes_[i]->setAccessibleName(QString::fromLatin1(names[i]));
        panes_[i]->setFixedSize(kPaneSize, kPaneSize);
        panes_[i]->setFrameShape(QFrame::Box);
        grid->addWidget(panes_[i], 1, static_cast<int>(i));
    }
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("View:"), this));
    viewList_ = new QComboBox(this);
    viewList_->setObjectName(QString::number(kViewListId));
    for (const ViewRow& r : kViewRows)
        viewList_->addItem(QString::fromLatin1(r.text), r.data);
    viewList_->setCurrentIndex(0);
    row->addWidget(viewList_);
    row->addWidget(new QLabel(QStringLiteral("Now previewing: "), this));
    preview_ = new QLabel(this);
    preview_->setObjectName(QString::number(kPreviewId));
    row->addWidget(preview_, 1);
    grid->addLayout(row, 2, 0, 1, 2);
    hint_ = new QLabel(this);
    hint_->setObjectName(QString::number(kCentreHintId));
    grid->addWidget(hint_, 3, 0, 1, 2);

    for (std::size_t i = 0; i < scenes_.size(); ++i)
        scenes_[i] = std::make_unique<CScene>(CScene::Options{kPaneSize, kPaneSize, {}, options_.withoutDevice});
    connect(viewList_, &QComboBox::currentIndexChanged, this, [this](int) { OnSelChangeView(); });
    OnSelChangeView();
    // The placement once the controls are there, so that the window is
    // clamped onto the screen at its real size.
    CModelessDialog::OnInitDialog();

    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &CHeadzDlg::OnTimer);
    timer_->start();
    return true;
}

void CHeadzDlg::ReleaseViews()
{
    for (std::size_t i = 0; i < scenes_.size(); ++i) {
        if (!scenes_[i])
            continue;
        if (views_[i])
            views_[i]->ReleaseMesh(*scenes_[i]);
        scenes_[i]->ReleaseObjects();
    }
}

void CHeadzDlg::CreateViews(int row)
{
    std::array<std::unique_ptr<head3d::CHeadzView>, 2> created;
    for (int pane = 0; pane < 2; ++pane) {
        auto& view = created[static_cast<std::size_t>(pane)];
        if (row == head3d::kMirror)
            view = std::make_unique<head3d::CMirrorView>(row, pane);
        else if (row >= head3d::kDemoYaw && row <= head3d::kDemoZ)
            view = std::make_unique<head3d::CAutoView>(row, pane);
        else
            return;
    }
    std::filesystem::path models = options_.modelsFolder;
    if (models.empty() && platform::programFolders())
        models = platform::resolve("models"); // the program's shipped models
    if (models.empty())
        models = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "models";
    for (std::size_t i = 0; i < created.size(); ++i)
        if (scenes_[i])
            created[i]->LoadMesh(*scenes_[i], models);
    views_ = std::move(created);
}

void CHeadzDlg::OnSelChangeView()
{
    if (viewList_ == nullptr)
        return;
    const int index = std::max(viewList_->currentIndex(), 0);
    const int row = viewList_->itemData(index).toInt();
    ReleaseViews();
    CreateViews(row);
    preview_->setText(viewList_->itemText(index));
    ShowFrames();
}

void CHeadzDlg::ShowFrames()
{
    for (std::size_t i = 0; i < scenes_.size(); ++i) {
        if (!scenes_[i] || panes_[i] == nullptr)
            continue;
        const QImage image = head3d::FrameImage(*scenes_[i]);
        if (image.isNull())
            panes_[i]->clear();
        else
            panes_[i]->setPixmap(QPixmap::fromImage(image));
    }
}

void CHeadzDlg::OnTimer()
{
    const head3d::HeadPose pose = source_.Pose();
    for (std::size_t i = 0; i < scenes_.size(); ++i)
        if (views_[i] && scenes_[i])
            views_[i]->Update(*scenes_[i], pose);
    for (auto& scene : scenes_)
        if (scene)
            scene->Render();
    ShowFrames();

    const CProfile* profile = source_.CurrentProfile();
    if (profile != lastProfile_) {
        if (profile != nullptr) {
            if (viewList_ != nullptr && viewList_->currentIndex() == 0)
                preview_->setText(FromU16(profile->Name));
            const CKeyInfo centre = profile->HotKeys.GetAt(CHotKeys::Center);
            hint_->setText(QStringLiteral("Press %1 to center.").arg(FromU16(centre.Name)));
        }
        lastProfile_ = profile;
    }
}

void CHeadzDlg::OnDestroy()
{
    CModelessDialog::OnDestroy();
    if (timer_ != nullptr)
        timer_->stop();
    ReleaseViews();
    views_ = {};
    scenes_ = {};
}
