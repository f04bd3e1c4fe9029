// The dialog, offscreen, over the fake client, pointer and clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "fake_client.h"
#include "mouse_dialog.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "testing/test_clock.h"

using mouse_test::FakeClient;
using platform::registry::Root;

namespace {

class FixedForeground final : public vslmouse::ForegroundProbe {
public:
    std::uint64_t ForegroundWindow() override { return 1; }
    std::vector<std::string> ModuleNames(std::uint64_t) override { return {"game", "dinput8.dll"}; }
};

class DialogTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    testing_support::TestClock clock;
    FakeClient fake;
    vslmouse::ClientBinding client{FakeClient::functions()};
    platform::FakePointer pointer;
    FixedForeground foreground;
    std::vector<QString> boxes;
    std::unique_ptr<vslmouse::MouseDialog> dialog;

    void SetUp() override { FakeClient::current() = &fake; }
    void TearDown() override
    {
        dialog.reset();
        FakeClient::current() = nullptr;
    }
    void set(const char* name, std::uint32_t v)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(Root::CurrentUser, vslmouse::kSettingsKey), 0);
        ASSERT_EQ(store->setDword(Root::CurrentUser, vslmouse::kSettingsKey, name, v), 0);
    }
    std::optional<std::uint32_t> get(const char* name)
    {
        std::uint32_t v = 0;
        if (registry.store()->queryDword(Root::CurrentUser, vslmouse::kSettingsKey, name, v) != 0)
            return std::nullopt;
        return v;
    }
    int open()
    {
        dialog = std::make_unique<vslmouse::MouseDialog>(
            vslmouse::DialogServices{client, pointer, foreground, clock, *registry.store()});
        dialog->SetMessageBox([this](const QString& t) { boxes.push_back(t); });
        const int rc = dialog->Start();
        if (rc == 0)
            dialog->show();
        return rc;
    }
    template <typename W>
    W* child(const char* name)
    {
        W* w = dialog->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(DialogTest, ControlsShowTheStoredSettings)
{
    set("XAxis", 3);
    set("YAxis", 5);
    set("AutoPanning", 1);
    set("AutoPanningThreshold", 70);
    set("MouseOverrideDelay", 7);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(child<QComboBox>("xAxis")->currentIndex(), 3);
    EXPECT_EQ(child<QComboBox>("xAxis")->count(), 6);
    EXPECT_EQ(child<QComboBox>("yAxis")->currentText(), QStringLiteral("Z"));
    EXPECT_TRUE(child<QCheckBox>("autoPanning")->isChecked());
    EXPECT_EQ(child<QCheckBox>("autoPanning")->text(), QStringLiteral("X Axis &Auto Panning"));
    EXPECT_EQ(child<QSlider>("threshold")->value(), 70);
    EXPECT_EQ(child<QSlider>("threshold")->minimum(), 5);
    EXPECT_EQ(child<QSlider>("threshold")->maximum(), 95);
    EXPECT_EQ(child<QLabel>("thresholdText")->text(), QStringLiteral("70"));
    EXPECT_EQ(child<QSlider>("delay")->maximum(), 10);
    EXPECT_EQ(child<QLabel>("delayText")->text(), QStringLiteral("0.7 seconds"));
    EXPECT_TRUE(child<QSlider>("threshold")->isEnabled());
    EXPECT_NE(dialog->Window(), 0u);
    EXPECT_EQ(fake.window, dialog->Window());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DialogTest, ChangesSaveAsTheUserMakesThem)
{
    ASSERT_EQ(open(), 0);
    auto* threshold = child<QSlider>("threshold");
    EXPECT_FALSE(threshold->isEnabled());
    EXPECT_FALSE(child<QPushButton>("thresholdUp")->isEnabled());
    EXPECT_EQ(get("XAxis"), std::nullopt); // filling the controls saved nothing

    child<QComboBox>("xAxis")->setCurrentIndex(2);
    EXPECT_EQ(get("XAxis"), 2u);
    EXPECT_EQ(dialog->Emulator().Settings().xAxis, 2);
    child<QComboBox>("yAxis")->setCurrentIndex(4);
    EXPECT_EQ(get("YAxis"), 4u);

    child<QCheckBox>("autoPanning")->click();
    EXPECT_EQ(get("AutoPanning"), 1u);
    EXPECT_TRUE(threshold->isEnabled());
    EXPECT_TRUE(child<QPushButton>("thresholdDown")->isEnabled());
    EXPECT_TRUE(dialog->Emulator().Settings().autoPanning);

    // The buttons move the slider and its text, and save nothing.
    QTest::mouseClick(child<QPushButton>("thresholdUp"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("thresholdUp"), Qt::LeftButton);
    EXPECT_EQ(threshold->value(), 52);
    EXPECT_EQ(child<QLabel>("thresholdText")->text(), QStringLiteral("52"));
    EXPECT_EQ(dialog->Emulator().Settings().autoPanningThreshold, 52);
    EXPECT_EQ(get("AutoPanningThreshold"), 50u);
    QTest::mouseClick(child<QPushButton>("delayUp"), Qt::LeftButton);
    EXPECT_EQ(child<QLabel>("delayText")->text(), QStringLiteral("0.1 seconds"));
    EXPECT_EQ(get("MouseOverrideDelay"), 0u);
    QTest::mouseClick(child<QPushButton>("delayDown"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("delayDown"), Qt::LeftButton);
    EXPECT_EQ(child<QSlider>("delay")->value(), 0);

    // Scrolling a slider saves.
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_PageUp);
    EXPECT_EQ(child<QLabel>("thresholdText")->text(), QString::number(threshold->value()));
    EXPECT_EQ(get("AutoPanningThreshold"), static_cast<std::uint32_t>(threshold->value()));
    auto* delay = child<QSlider>("delay");
    delay->setFocus();
    QTest::keyClick(delay, Qt::Key_Right);
    QTest::keyClick(delay, Qt::Key_Right);
    EXPECT_EQ(get("MouseOverrideDelay"), 2u);
    EXPECT_EQ(child<QLabel>("delayText")->text(), QStringLiteral("0.2 seconds"));
    EXPECT_EQ(dialog->Emulator().Settings().mouseOverrideDelay, 2);

    child<QCheckBox>("autoPanning")->click();
    EXPECT_EQ(get("AutoPanning"), 0u);
    EXPECT_FALSE(threshold->isEnabled());
}

TEST_F(DialogTest, TimersMoveTheCursorAndTheMeters)
{
    set("AutoPanning", 1);
    ASSERT_EQ(open(), 0);
    fake.setPose(1, 12000, 0, 0, 0, 0, 0);
    fake.record.value[1] = -8000;
    for (int i = 0; i < 5; ++i) {
        clock.advanceMs(8);
        dialog->RunTimers();
    }
    ASSERT_FALSE(pointer.events().empty());
    EXPECT_EQ(pointer.events()[0].dx, -20);
    auto* xMeter = dialog->findChild<vslmouse::MeterWidget*>(QStringLiteral("xMeter"));
    auto* yMeter = dialog->findChild<vslmouse::MeterWidget*>(QStringLiteral("yMeter"));
    ASSERT_TRUE(xMeter && yMeter);
    EXPECT_EQ(xMeter->Value(), 12000);
    EXPECT_EQ(yMeter->Value(), -8000);
    EXPECT_TRUE(xMeter->Layout().zones);
    EXPECT_GT(xMeter->Layout().marker, xMeter->Layout().rightZoneStart);
    EXPECT_FALSE(xMeter->grab().isNull());

    dialog->close();
    EXPECT_EQ(fake.commands().back(), "UnregisterWindowHandle");
}

// On the real clock the dialog's event loop runs the timers by itself.
TEST_F(DialogTest, EventLoopRunsThePoll)
{
    vslmouse::MouseDialog live({client, pointer, foreground, platform::systemClock(), *registry.store()});
    live.SetMessageBox([this](const QString& t) { boxes.push_back(t); });
    ASSERT_EQ(live.Start(), 0);
    fake.setPose(1, -500);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pointer.events().empty(); }, 2000));
    ASSERT_FALSE(pointer.events().empty());
    EXPECT_EQ(pointer.events()[0].dx, 100);
    fake.setPose(2, -1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pointer.events().size() >= 2; }, 2000));
    live.close();
    EXPECT_EQ(fake.commands().back(), "UnregisterWindowHandle");
}

TEST_F(DialogTest, FailedStartEndsWithTwo)
{
    fake.profileResult = OV_PROFILE_REFUSED;
    EXPECT_EQ(open(), 2);
    EXPECT_EQ(boxes, (std::vector<QString>{QStringLiteral("Unabled to initialize Vistrel.")}));
    const auto cmds = fake.commands();
    EXPECT_EQ(cmds.back(), "UnregisterWindowHandle");
    EXPECT_EQ(dialog->Window(), 0u);
}

TEST_F(DialogTest, AboutBox)
{
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(vslmouse::MouseDialog::AboutBoxText(),
              QStringLiteral("Vistrel Mouse Emulation Version 4.1  Build 37"));
    auto* about = dialog->findChild<QAction*>(QStringLiteral("about"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About Vistrel Mouse Emulation..."));
    QString shown;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->text();
                box->accept();
            }
    });
    about->trigger();
    EXPECT_EQ(shown, vslmouse::MouseDialog::AboutBoxText());
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
