#include "windows/head3d/HeadzDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#include "platform/registry.h"

namespace {

class FakeSource : public head3d::IHeadSource {
public:
    head3d::HeadPose Pose() const override { return pose; }
    const CProfile* CurrentProfile() const override { return profile; }
    head3d::HeadPose pose;
    const CProfile* profile = nullptr;
};

// The head's pixels: everything brighter than the black background.
int HeadPixels(const QLabel* pane)
{
    const QImage image = pane->pixmap().toImage().convertToFormat(QImage::Format_RGBA8888);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 12 || c.green() > 12 || c.blue() > 12)
                ++count;
        }
    return count;
}

class HeadzDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        setenv("GALLIUM_DRIVER", "llvmpipe", 1);
        static int argc = 1;
        static char name[] = "headz_dlg_test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::temp_directory_path() /
                                    ("headz_dlg_test_" + std::to_string(::getpid()) + ".db"),
                                ignored);
        delete app_;
        app_ = nullptr;
    }
    std::unique_ptr<CHeadzDlg> Make(bool withoutDevice = false)
    {
        CHeadzDlg::Options options;
        options.modelsFolder = HEAD3D_MODELS_DIR;
        options.withoutDevice = withoutDevice;
        auto dlg = std::make_unique<CHeadzDlg>(source_, options);
        dlg->SetProfile(Profile());
        dlg->OnInitDialog();
        return dlg;
    }
    static std::shared_ptr<app::CAppProfile> Profile()
    {
        static const auto store = std::make_shared<platform::registry::Store>(
            std::filesystem::temp_directory_path() / ("headz_dlg_test_" + std::to_string(::getpid()) + ".db"));
        return std::make_shared<app::CAppProfile>(store);
    }
    static QApplication* app_;
    FakeSource source_;
};
QApplication* HeadzDlgTest::app_ = nullptr;

} // namespace

TEST_F(HeadzDlgTest, InitialisesTheListTheScenesAndThe33msTimer)
{
    auto dlg = Make();
    EXPECT_EQ(dlg->TemplateId(), 139);
    EXPECT_EQ(dlg->Section(), "heads");
    ASSERT_EQ(dlg->ViewList()->count(), 7);
    const char* texts[] = {"Mirror", "Yaw", "Pitch", "Roll", "X", "Y", "Z"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(dlg->ViewList()->itemText(i), QString::fromLatin1(texts[i]));
        EXPECT_EQ(dlg->ViewList()->itemData(i).toInt(), i);
    }
    EXPECT_EQ(dlg->ViewList()->currentIndex(), 0);
    EXPECT_EQ(dlg->Preview()->text(), QStringLiteral("Mirror"));
    EXPECT_TRUE(dlg->Timer()->isActive());
    EXPECT_EQ(dlg->Timer()->interval(), 33);
    ASSERT_NE(dynamic_cast<head3d::CMirrorView*>(dlg->View(0)), nullptr);
    EXPECT_EQ(dlg->View(0)->Published(), 0);
    EXPECT_EQ(dlg->View(1)->Published(), 1);
    EXPECT_EQ(dlg->Pane(0)->objectName(), QStringLiteral("1047"));
    EXPECT_EQ(dlg->Pane(1)->objectName(), QStringLiteral("1048"));
}

TEST_F(HeadzDlgTest, TicksShowBothRenderedHeadsAndMirrorFollowsEachPoseArray)
{
    auto dlg = Make();
    if (!dlg->Scene(0)->HasDevice())
        GTEST_SKIP() << "no EGL display here";
    source_.pose.raw = {0, 0, 0, 0, 0, 0};
    source_.pose.output = {8000, 0, 0, 0, 0, 0};
    dlg->OnTimer();
    EXPECT_GT(HeadPixels(dlg->Pane(0)), 100);
    EXPECT_GT(HeadPixels(dlg->Pane(1)), 100);
    EXPECT_EQ(dlg->Pane(0)->pixmap().size(), QSize(CHeadzDlg::kPaneSize, CHeadzDlg::kPaneSize));
    // x is mirrored: a positive output x moves the right-hand head left.
    EXPECT_LT(dlg->View(1)->Mesh()->position.x, dlg->View(0)->Mesh()->position.x - 100.0f);
    const QImage before = dlg->Pane(1)->pixmap().toImage();
    source_.pose.output = {0, 0, 0, 6000, 0, 0};
    dlg->OnTimer();
    EXPECT_NE(dlg->Pane(1)->pixmap().toImage(), before);
}

TEST_F(HeadzDlgTest, DemoRowsSwingAndMirrorAgainShowsTheLivePoseAtOnce)
{
    auto dlg = Make();
    source_.pose.raw = {100, 200, 300, 400, 500, 600};
    dlg->ViewList()->setCurrentIndex(2); // Pitch
    EXPECT_EQ(dlg->Preview()->text(), QStringLiteral("Pitch"));
    auto* raw = dynamic_cast<head3d::CAutoView*>(dlg->View(0));
    auto* output = dynamic_cast<head3d::CAutoView*>(dlg->View(1));
    ASSERT_NE(raw, nullptr);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(raw->Axis(), 2);
    for (int i = 0; i < 20; ++i) {
        dlg->OnTimer();
        ASSERT_FLOAT_EQ(output->LastValues()[4], 4.0f * raw->LastValues()[4]);
        ASSERT_EQ(raw->Direction(), output->Direction());
    }
    EXPECT_EQ(raw->Direction(), -1.0f);
    EXPECT_EQ(dlg->Scene(0)->MeshCount(), 1u);

    dlg->ViewList()->setCurrentIndex(0);
    ASSERT_NE(dynamic_cast<head3d::CMirrorView*>(dlg->View(0)), nullptr);
    EXPECT_EQ(dlg->Scene(0)->MeshCount(), 1u); // the demo's mesh went with its view
    dlg->OnTimer();
    EXPECT_FLOAT_EQ(dlg->View(0)->LastValues()[4], 500.0f);
    EXPECT_FLOAT_EQ(dlg->View(0)->LastValues()[0], 100.0f);
}

TEST_F(HeadzDlgTest, AProfileChangeUpdatesTheHintOnTheNextTickAndDemoKeepsItsName)
{
    auto dlg = Make(true);
    CProfile first;
    first.Name = u"Flight";
    first.HotKeys.SetDefaults();
    CProfile second;
    second.Name = u"Racing";
    second.HotKeys.SetDefaults();
    source_.profile = &first;
    dlg->OnTimer();
    EXPECT_EQ(dlg->Preview()->text(), QStringLiteral("Flight"));
    const QString key = QString::fromStdU16String(first.HotKeys.GetAt(0).Name);
    EXPECT_FALSE(key.isEmpty());
    EXPECT_EQ(dlg->CentreHint()->text(), QStringLiteral("Press %1 to center.").arg(key));

    dlg->ViewList()->setCurrentIndex(1); // Yaw
    source_.profile = &second;
    dlg->OnTimer();
    EXPECT_EQ(dlg->Preview()->text(), QStringLiteral("Yaw"));
    EXPECT_EQ(dlg->CentreHint()->text(), QStringLiteral("Press %1 to center.").arg(key));
    dlg->ViewList()->setCurrentIndex(0);
    dlg->OnTimer(); // same profile: the name stays as the list set it
    EXPECT_EQ(dlg->Preview()->text(), QStringLiteral("Mirror"));
}

TEST_F(HeadzDlgTest, WithoutADeviceOrMeshThePanesStayEmptyAndTicksGoOn)
{
    auto dlg = Make(true);
    for (int i = 0; i < 3; ++i)
        dlg->OnTimer();
    EXPECT_TRUE(dlg->Pane(0)->pixmap().isNull());
    EXPECT_FALSE(dlg->Scene(0)->HasDevice());

    CHeadzDlg::Options options;
    options.modelsFolder = std::filesystem::temp_directory_path() / "no_models_here_h3d";
    CHeadzDlg empty(source_, options);
    empty.SetProfile(Profile());
    empty.OnInitDialog();
    empty.OnTimer();
    if (empty.Scene(0)->HasDevice()) {
        EXPECT_EQ(HeadPixels(empty.Pane(0)), 0);
    }
    empty.ViewList()->setCurrentIndex(3);
    empty.OnTimer();
}
