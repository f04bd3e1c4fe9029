// A monitor window's life on the GUI thread: opened where it was left,
// closed by the user or stopped by the main window, placement kept.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QKeyEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "app/modeless_dialog.h"
#include "testing/qt_app.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace {

using namespace app;
namespace reg = platform::registry;

class OneMonitor : public MonitorSource {
public:
    std::vector<Monitor> Monitors() const override { return {{{0, 0, 1280, 1024}, {0, 0, 1280, 984}}}; }
};

class ModelessDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing_support::qtApp(); }

    void SetUp() override
    {
        main_ = platform::createWindow({"MainTest", "main", false},
                                       [this](platform::HWND, platform::UINT m, platform::WPARAM w,
                                              platform::LPARAM) -> platform::LRESULT {
                                           received_.push_back({m, w});
                                           return 0;
                                       });
        ASSERT_NE(main_, 0u);
    }
    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Handles start again in the next test's session: nothing posted
        // here may reach the next test's main window.
        delivered(0);
        platform::destroyWindow(main_);
    }

    std::unique_ptr<CModelessDialog> makeDialog(const char* section)
    {
        auto d = std::make_unique<CModelessDialog>(140);
        d->SetSection(section);
        d->SetProfile(profile_);
        d->SetMonitors(std::make_shared<OneMonitor>());
        d->resize(300, 200);
        return d;
    }

    // The main window's messages of one kind that have arrived.
    std::vector<platform::WPARAM> delivered(platform::UINT message)
    {
        platform::Msg m;
        while (platform::peekMessage(m, true))
            platform::dispatchMessage(m);
        std::vector<platform::WPARAM> out;
        for (const auto& [msg, w] : received_)
            if (msg == message)
                out.push_back(w);
        return out;
    }

    int stored(const char* section, const char* value) { return profile_->GetProfileInt(section, value, -999); }

    testing_support::TempSession session_;
    testing_support::TempRegistry registry_;
    std::shared_ptr<CAppProfile> profile_ = std::make_shared<CAppProfile>(registry_.store());
    platform::HWND main_ = 0;
    std::vector<std::pair<platform::UINT, platform::WPARAM>> received_;
};

TEST_F(ModelessDialogTest, OpensClampedWhereItWasAndTellsTheMainWindowOnceWhenClosed)
{
    profile_->WriteProfileInt("gauges", "xpos", -500); // a monitor left of this one, now gone
    profile_->WriteProfileInt("gauges", "ypos", 2000);
    CDlgThread thread(makeDialog("gauges"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    CModelessDialog* d = thread.Dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->PlacementRestored());
    // All of its frame on the work area, flush with the bottom edge, once
    // the window system has shown it with its frame.
    for (int i = 0; i < 400 && d->frameGeometry().bottom() + 1 != 984; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(d->frameGeometry().left(), 0);
    EXPECT_EQ(d->frameGeometry().bottom() + 1, 984);

    d->move(120, 140);
    d->close(); // the user's close box
    EXPECT_TRUE(d->IsClosed());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(stored("gauges", "xpos"), 120);
    EXPECT_EQ(stored("gauges", "ypos"), 140);
    EXPECT_EQ(stored("gauges", "showcmd"), 1);

    const auto id = d->WindowId();
    thread.Stop(); // what the main window does on the notice
    EXPECT_EQ(thread.Dialog(), nullptr);
    EXPECT_EQ(delivered(WM_MODELESS_DESTROYED), (std::vector<platform::WPARAM>{id}));
}

TEST_F(ModelessDialogTest, EscapeClosesThroughTheSamePath)
{
    CDlgThread thread(makeDialog("heads"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    QTest::keyClick(thread.Dialog(), Qt::Key_Escape);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(delivered(WM_MODELESS_DESTROYED).size(), 1u);
    EXPECT_EQ(stored("heads", "showcmd"), 1);
}

TEST_F(ModelessDialogTest, ClosedWhileHiddenInNormalStateStoresShowCommandZero)
{
    CDlgThread thread(makeDialog("tracking"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    thread.Dialog()->hide();
    thread.Stop();
    EXPECT_EQ(stored("tracking", "showcmd"), 0);
    EXPECT_EQ(delivered(WM_MODELESS_DESTROYED).size(), 1u);

    // Opened again it still shows, where it was.
    CDlgThread again(makeDialog("tracking"), nullptr, main_);
    ASSERT_TRUE(again.Start());
    EXPECT_TRUE(again.Dialog()->isVisible());
}

TEST_F(ModelessDialogTest, SavedMaximisedOpensMaximised)
{
    profile_->WriteProfileInt("gauges", "showcmd", 3);
    CDlgThread thread(makeDialog("gauges"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Dialog()->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(thread.Dialog()->ShowCommand(), 3);
}

TEST_F(ModelessDialogTest, StopClosesAModalChildAsCancelThenTheWindow)
{
    CDlgThread thread(makeDialog("gauges"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    QPointer<CModelessDialog> dialog = thread.Dialog();
    auto* child = new QDialog(dialog); // e.g. an editor opened from the window
    int result = -1;
    bool aliveAfterChild = false;
    bool done = false;
    QTimer::singleShot(0, dialog, [&] {
        QTimer::singleShot(20, [&] { thread.Stop(); });
        result = child->exec(); // the window's own code waits here
        aliveAfterChild = !dialog.isNull();
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 3000));
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(aliveAfterChild); // not deleted under its own feet
    EXPECT_FALSE(thread.IsRunning());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(delivered(WM_MODELESS_DESTROYED).size(), 1u);
}

TEST_F(ModelessDialogTest, TheOwnedWindowClosesFirst)
{
    CDlgThread thread(makeDialog("heads"), nullptr, main_);
    ASSERT_TRUE(thread.Start());
    QWidget owned;
    owned.show();
    thread.Dialog()->SetOwnedWindow(&owned);
    thread.Stop();
    EXPECT_FALSE(owned.isVisible());
}

TEST_F(ModelessDialogTest, IdsAreUniqueAndActivationIsForwarded)
{
    CDlgThread a(makeDialog("gauges"), nullptr, main_);
    CDlgThread b(makeDialog("heads"), nullptr, main_);
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    const auto idA = a.Dialog()->WindowId();
    EXPECT_NE(idA, b.Dialog()->WindowId());
    a.Dialog()->OnActivateApp(true);
    b.Dialog()->OnActivateApp(false);
    EXPECT_EQ(delivered(WM_ACTIVATEAPP), (std::vector<platform::WPARAM>{1, 0}));

    // A stale notice of a stopped window never names its successor.
    a.Stop();
    CDlgThread c(makeDialog("gauges"), nullptr, main_);
    ASSERT_TRUE(c.Start());
    EXPECT_NE(c.Dialog()->WindowId(), idA);
    EXPECT_FALSE(a.Start()); // a thread runs its dialog once
}

TEST_F(ModelessDialogTest, AnOwnerWidgetParentsTheDialogAndMayGoFirst)
{
    auto owner = std::make_unique<QWidget>();
    CDlgThread thread(makeDialog("gauges"), owner.get(), main_);
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Dialog()->parentWidget(), owner.get());
    EXPECT_TRUE(thread.Dialog()->isWindow());
    owner.reset(); // Qt deletes the dialog with its owner
    EXPECT_EQ(thread.Dialog(), nullptr);
    thread.Stop();
}

} // namespace
