// Every window under a real X server with a real window manager (openbox,
// which frames windows with a title bar as desktops do): each one comes back
// exactly where the user left it, whole on the screen, however often it is
// reopened; saved places off the screen come back onto it; and each window,
// once opened, shows its contents (read back from the X server's pixels).
#include "frame_fixture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QWindow>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>

#include "app/frame/startup.h"
#include "app/frame_placer.h"
#include "app/shell/sheet_hosts.h"
#include "testing/end_child.h"
#include "testing/xvfb_server.h"
#include "windows/HotKeyEntryDlg.h"
#include "windows/curve_editor_dlg.h"
#include "windows/profile_sheet.h"
#include "windows/tracking_settings_dlg.h"

extern char** environ;

using namespace frame_test;

namespace {

// Xvfb with openbox on it, and the program's QApplication on that display.
class Desktop : public ::testing::Environment {
public:
    void SetUp() override
    {
        server_ = std::make_unique<testing_support::XvfbServer>("1280x1024x24");
        if (!server_->ready())
            return;
        ::setenv("DISPLAY", server_->name().c_str(), 1);
        // No session bus here: without this, the D-Bus library tries to
        // start one through the display and leaks what it built for it.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
        char arg0[] = "openbox";
        char noSession[] = "--sm-disable";
        char* argv[] = {arg0, noSession, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&wm_, "openbox", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            wm_ = -1;
            return;
        }
        if (!WaitForWindowManager())
            return;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        ready_ = true;
    }
    void TearDown() override
    {
        // Closing the application waits on the X server (its event reader
        // ends by a message sent through it); a window manager stuck while
        // it holds the server would make that wait endless, so after 30 s
        // the window manager is ended, which lets the server go on.
        std::mutex m;
        std::condition_variable cv;
        bool closed = false;
        std::thread guard([&] {
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, 30s, [&] { return closed; }) && wm_ > 0) {
                std::fprintf(stderr, "the application took 30 s to close: ending the window manager\n");
                ::kill(wm_, SIGKILL);
            }
        });
        app_.reset();
        {
            std::lock_guard lock(m);
            closed = true;
        }
        cv.notify_one();
        guard.join();
        testing_support::EndChild(wm_);
        server_.reset();
    }
    static bool Ready() { return ready_; }

private:
    // The window manager announces itself on the root window (10 s at most).
    bool WaitForWindowManager()
    {
        Display* d = XOpenDisplay(server_->name().c_str());
        if (d == nullptr)
            return false;
        const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
        bool found = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!found && std::chrono::steady_clock::now() < deadline) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                                   &after, &data) == Success &&
                count == 1)
                found = true;
            if (data != nullptr)
                XFree(data);
            if (!found)
                std::this_thread::sleep_for(20ms);
        }
        XCloseDisplay(d);
        return found;
    }

    std::unique_ptr<testing_support::XvfbServer> server_;
    pid_t wm_ = -1;
    std::unique_ptr<QApplication> app_;
    int argc_ = 1;
    char name_[16] = "placement_test";
    char* argv_[2] = {name_, nullptr};
    static inline bool ready_ = false;
};

const bool kDesktop = (::testing::AddGlobalTestEnvironment(new Desktop), true);

// A profile editor's host that does nothing.
struct QuietEditorHost final : IProfileEditorHost {
    bool IsWindowOpen(int) const override { return false; }
    void OpenWindow(int) override {}
    void CloseWindow(int) override {}
    std::int32_t LaunchFlag(int) const override { return 0; }
    void SetLaunchFlag(int, std::int32_t) override {}
    void SaveSettings() override {}
    bool Ask(const std::u16string&) override { return false; }
    void Message(const std::u16string&) override {}
    void ApplyTrackingSettings() override {}
    void Recenter() override {}
    void NotifyStateChanged() override {}
    void ResetPauseState() override {}
    void SetHotKeys(const CHotKeys&) override {}
    void RefreshActions() override {}
    void EditHotKey(int, CHotKeys&) override {}
    bool EditCurve(CProfile&, int) override { return false; }
};

// Another program of the suite on this desktop (the environment passed on:
// display, session, registry), ended when the object goes.
class ChildProgram {
public:
    explicit ChildProgram(const std::string& path)
    {
        std::string exe = path;
        char* argv[] = {exe.data(), nullptr};
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = -1;
    }
    ~ChildProgram()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

// Where the X server shows the client area of the window titled `title`
// that process `pid` mapped (empty when there is none yet).
QRect WindowOfProcess(pid_t pid, const std::string& title)
{
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr)
        return {};
    const auto property = [d](::Window w, const char* name, Atom type) {
        Atom actual = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned char> bytes;
        if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 4096, False, type, &actual, &format, &count,
                               &after, &data) == Success &&
            data != nullptr) {
            const std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
            bytes.assign(data, data + count * unit);
        }
        if (data != nullptr)
            XFree(data);
        return bytes;
    };
    QRect found;
    const auto clients = property(DefaultRootWindow(d), "_NET_CLIENT_LIST", XA_WINDOW);
    for (std::size_t i = 0; i + sizeof(long) <= clients.size() && found.isNull(); i += sizeof(long)) {
        long id = 0;
        std::memcpy(&id, clients.data() + i, sizeof id);
        const ::Window w = static_cast<::Window>(id);
        const auto owner = property(w, "_NET_WM_PID", XA_CARDINAL);
        const auto name = property(w, "_NET_WM_NAME", AnyPropertyType);
        long ownerPid = 0;
        if (owner.size() >= sizeof(long))
            std::memcpy(&ownerPid, owner.data(), sizeof ownerPid);
        XWindowAttributes a{};
        if (ownerPid != pid || std::string(name.begin(), name.end()) != title || !XGetWindowAttributes(d, w, &a) ||
            a.map_state != IsViewable)
            continue;
        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
        found = QRect(x, y, a.width, a.height);
    }
    XCloseDisplay(d);
    return found;
}

class DesktopTest : public FrameTest {
protected:
    void SetUp() override
    {
        if (!Desktop::Ready())
            GTEST_SKIP() << "no Xvfb or openbox here";
        FrameTest::SetUp();
    }

    // Waits (bounded) for the window manager to have framed and shown `w`,
    // and for the window's placer to have done; says what was missing.
    ::testing::AssertionResult Framed(QWidget* w)
    {
        const auto state = [w]() -> std::string {
            if (w == nullptr)
                return "no window";
            // The widget hears of a frame told without a move only when asked
            // (as the program asks before it reads a frame).
            app::RefreshFrameMargins(*w);
            if (!w->isVisible() || w->windowHandle() == nullptr || !w->windowHandle()->isExposed())
                return "not shown";
            if (w->frameGeometry() == w->geometry())
                return "no frame";
            for (const app::CFramePlacer* p : w->findChildren<app::CFramePlacer*>(Qt::FindDirectChildrenOnly))
                if (p->Active())
                    return "placer still active after " + std::to_string(p->Corrections()) + " corrections";
            return {};
        };
        if (WaitFor([&] { return state().empty(); }))
            return ::testing::AssertionSuccess();
        const QRect f = w != nullptr ? w->frameGeometry() : QRect(), g = w != nullptr ? w->geometry() : QRect();
        return ::testing::AssertionFailure() << state() << "; frame " << f.x() << "," << f.y() << " " << f.width()
                                             << "x" << f.height() << ", client " << g.x() << "," << g.y() << " "
                                             << g.width() << "x" << g.height();
    }
    // Moves the window as a user would and returns where the window manager
    // put its frame once it stopped moving.
    QPoint MoveTo(QWidget* w, QPoint p)
    {
        w->move(p);
        WaitFor([&] { return (w->frameGeometry().topLeft() - p).manhattanLength() <= 4; });
        QPoint last = w->frameGeometry().topLeft();
        for (int quiet = 0; quiet < 20;) {
            Pump();
            std::this_thread::sleep_for(5ms);
            const QPoint now = w->frameGeometry().topLeft();
            quiet = now == last ? quiet + 1 : 0;
            last = now;
        }
        return last;
    }
    // The frame's corner reaches `p` and stays there.
    bool SettlesAt(QWidget* w, QPoint p)
    {
        if (!WaitFor([&] { return w->frameGeometry().topLeft() == p; }))
            return false;
        Settle();
        return w->frameGeometry().topLeft() == p;
    }
    // Resizes the window and waits until the X server has it at that size.
    // A window manager still busy with the window's first placement may
    // answer with the size it had; it is asked again then, a few times.
    bool ResizeTo(QWidget* w, QSize size)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            w->resize(size);
            if (WaitFor([&] { return ServerSize(w) == size; }, 2s)) {
                Settle();
                if (ServerSize(w) == size && w->size() == size)
                    return true;
            }
        }
        return false;
    }
    // The size of the window's client area as the X server has it.
    static QSize ServerSize(QWidget* w)
    {
        Display* d = XOpenDisplay(nullptr);
        if (d == nullptr)
            return {};
        ::Window root = 0;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        const bool ok = XGetGeometry(d, static_cast<::Window>(w->winId()), &root, &x, &y, &width, &height, &border,
                                     &depth) != 0;
        XCloseDisplay(d);
        return ok ? QSize(static_cast<int>(width), static_cast<int>(height)) : QSize();
    }
    template <typename F>
    bool WaitFor(F done, std::chrono::milliseconds limit = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            Pump();
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // Lets the window manager's answers to earlier requests arrive.
    void Settle()
    {
        for (int i = 0; i < 30; ++i) {
            Pump();
            std::this_thread::sleep_for(5ms);
        }
    }
    static QRect Work() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    static bool OnScreen(const QWidget* w) { return Work().contains(w->frameGeometry()); }

    // The window's client area as the X server shows it.
    static QImage Shot(const QWidget* w) { return ScreenAt(w->geometry()); }
    // How the colours of an image spread: how many there are, and how many
    // of the pixels looked at have the most common one.
    struct Spread {
        qsizetype colours = 0;
        int most = 0;
        int total = 0;
        // Not blank: several colours, and more than a sliver of it differs
        // from its most common colour (a window never painted shows one).
        bool Painted() const { return colours >= 6 && most < total * 99 / 100; }
    };
    static Spread SpreadOf(const QImage& image)
    {
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                ++counts[image.pixel(x, y)];
        Spread s;
        for (const int c : counts)
            s.most = std::max(s.most, c);
        s.colours = counts.size();
        s.total = ((image.width() + 1) / 2) * ((image.height() + 1) / 2);
        return s;
    }
    static void ExpectContents(const QWidget* w, const char* what) { ExpectContents(Shot(w), what); }
    static void ExpectContents(const QImage& image, const char* what)
    {
        ASSERT_FALSE(image.isNull()) << what;
        const Spread s = SpreadOf(image);
        EXPECT_GE(s.colours, 6) << what;
        EXPECT_LT(s.most, s.total * 99 / 100) << what;
    }
    // The screen's pixels in `r`.
    static QImage ScreenAt(const QRect& r)
    {
        return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    }

    // Shows a dialog, then looks at it on the screen and closes it.
    void ShowAndLook(QDialog* dialog, const char* what)
    {
        dialog->show();
        ASSERT_TRUE(Framed(dialog)) << what;
        Settle();
        EXPECT_TRUE(OnScreen(dialog)) << what;
        ExpectContents(dialog, what);
        dialog->reject();
    }

    struct Monitor {
        platform::WPARAM command;
        const char* section;
    };
    static constexpr Monitor kMonitors[] = {{ID_VIEW_GAUGES, "gauges"}, {ID_VIEW_TRACKING, "tracking"},
                                            {ID_VIEW_HEADS, "heads"}};
    QWidget* Open(const Monitor& m)
    {
        frame->OnCommand(m.command);
        if (m.command == ID_VIEW_GAUGES) return Window<CGaugesDlg>();
        if (m.command == ID_VIEW_TRACKING) return Window<CTrackingDlg>();
        return Window<CHeadzDlg>();
    }
    void Close(const Monitor& m)
    {
        frame->OnCommand(m.command);
        Pump();
    }
};

} // namespace

// Open, move, close, reopen, three times over: each monitor window stands
// where the user left it, to the pixel, and does not creep.
TEST_F(DesktopTest, MonitorWindowsComeBackWhereTheUserLeftThem)
{
    Create();
    frame->show();
    ASSERT_TRUE(Framed(frame.get()));
    int i = 0;
    for (const Monitor& m : kMonitors) {
        SCOPED_TRACE(m.section);
        QWidget* w = Open(m);
        ASSERT_TRUE(Framed(w));
        const QPoint place = MoveTo(w, QPoint(300 + 60 * i, 200 + 50 * i));
        ++i;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            Close(m);
            EXPECT_EQ(Profile().GetProfileInt(m.section, "xpos", -1), place.x());
            EXPECT_EQ(Profile().GetProfileInt(m.section, "ypos", -1), place.y());
            w = Open(m);
            ASSERT_TRUE(Framed(w));
            EXPECT_TRUE(SettlesAt(w, place)) << "at " << w->frameGeometry().x() << "," << w->frameGeometry().y();
            EXPECT_TRUE(OnScreen(w));
        }
        Close(m);
    }
}

// The main window comes back at its place and size at the next start.
TEST_F(DesktopTest, TheMainWindowKeepsItsPlaceAndSizeAcrossRuns)
{
    Create();
    frame->show();
    ASSERT_TRUE(Framed(frame.get()));
    const QSize size = frame->size() + QSize(60, 40);
    ASSERT_TRUE(ResizeTo(frame.get(), size));
    const QPoint place = MoveTo(frame.get(), QPoint(170, 130));
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        frame->Shutdown();
        frame.reset();
        Create();
        frame->ShowInitially();
        ASSERT_TRUE(Framed(frame.get()));
        EXPECT_TRUE(SettlesAt(frame.get(), place)) << "at " << frame->frameGeometry().x() << ","
                                                   << frame->frameGeometry().y();
        EXPECT_EQ(frame->size(), size);
    }
}

// Places saved for a screen that is no longer there, or with the title bar
// above the screen, come back whole onto the screen.
TEST_F(DesktopTest, SavedPlacesOffTheScreenComeBackOntoIt)
{
    {
        app::CAppProfile p = Profile();
        WriteFirstRunPlacements(p);
        p.WriteProfileInt("Settings", "xpos", 200);
        p.WriteProfileInt("Settings", "ypos", -120);
        p.WriteProfileInt("heads", "xpos", 5000);
        p.WriteProfileInt("heads", "ypos", -300);
        p.WriteProfileInt("gauges", "xpos", -900);
        p.WriteProfileInt("gauges", "ypos", 3000);
    }
    Create();
    frame->ShowInitially();
    ASSERT_TRUE(Framed(frame.get()));
    ASSERT_TRUE(WaitFor([&] { return OnScreen(frame.get()); })) << "title bar at " << frame->frameGeometry().y();
    for (const Monitor& m : {kMonitors[0], kMonitors[2]}) {
        SCOPED_TRACE(m.section);
        QWidget* w = Open(m);
        ASSERT_TRUE(Framed(w));
        EXPECT_TRUE(WaitFor([&] { return OnScreen(w); }))
            << w->frameGeometry().x() << "," << w->frameGeometry().y() << " " << w->frameGeometry().width() << "x"
            << w->frameGeometry().height();
    }
}

// The profile editor over a main window at the top of the screen keeps its
// title bar on the screen.
TEST_F(DesktopTest, TheProfileEditorOpensWithItsTitleBarOnTheScreen)
{
    Create();
    frame->show();
    ASSERT_TRUE(Framed(frame.get()));
    MoveTo(frame.get(), QPoint(400, Work().top()));
    CProfile profile;
    profile.Name = u"Racing";
    QuietEditorHost host;
    CProfilePropertySheet sheet(profile, host, frame.get());
    sheet.SetCaption(profile.Name);
    sheet.resize(sheet.sizeHint().width(), std::max(sheet.sizeHint().height(), frame->frameGeometry().height() + 200));
    sheet.show();
    ASSERT_TRUE(Framed(&sheet));
    EXPECT_TRUE(WaitFor([&] { return OnScreen(&sheet); })) << "top at " << sheet.frameGeometry().y();
    sheet.reject();
}

// Every window once, as the X server shows it: on the screen and not blank;
// the 3D head window shows the heads' skin. Among them the dialogs opened
// from the windows (hot-key entry, camera settings, About) and the mouse
// emulator's window, a program of its own.
TEST_F(DesktopTest, EveryWindowShowsItsContents)
{
    headsWithoutDevice = false;
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    // The head model as it ships in the program folder.
    headsModelsFolder = fs::path(ORVANE_BIN_DIR) / "models";
    // Where the client library is, as the program's start says it (the
    // mouse emulator started below connects through it).
    PublishClientLocation(*registry.store(), OVCLIENT_DIR);
    Create();
    frame->show();
    ASSERT_TRUE(Framed(frame.get()));
    // Where a first window lands is the window manager's choice (placement
    // has tests of its own); put it in the open so the whole of it is seen.
    MoveTo(frame.get(), QPoint(60, 60));
    EXPECT_TRUE(WaitFor([&] { return OnScreen(frame.get()); }))
        << frame->frameGeometry().x() << "," << frame->frameGeometry().y() << " " << frame->frameGeometry().width()
        << "x" << frame->frameGeometry().height() << " in " << Work().width() << "x" << Work().height();
    Settle();
    ExpectContents(frame.get(), "main window");

    for (const Monitor& m : kMonitors) {
        QWidget* w = Open(m);
        ASSERT_TRUE(Framed(w)) << m.section;
        Settle();
        EXPECT_TRUE(OnScreen(w)) << m.section;
        ExpectContents(w, m.section);
    }
    // The heads: skin-coloured pixels in the panes once they have drawn.
    auto* heads = Window<CHeadzDlg>();
    ASSERT_NE(heads, nullptr);
    ASSERT_TRUE(heads->Scene(0)->HasDevice());
    ASSERT_NE(heads->View(0), nullptr);
    ASSERT_TRUE(heads->View(0)->Mesh() != nullptr && heads->View(0)->Mesh()->HasGeometry()) << fs::current_path();
    int skin = 0;
    ASSERT_TRUE(WaitFor([&] {
        const QImage shot = Shot(heads);
        skin = 0;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 90 && c.red() > c.green() + 15 && c.green() > c.blue())
                    ++skin;
            }
        return skin > 100;
    })) << skin;

    CProfile profile;
    profile.Name = u"Racing";
    profile.SetDefaults();
    QuietEditorHost host;
    CProfilePropertySheet sheet(profile, host, frame.get());
    ShowAndLook(&sheet, "profile editor");
    CCurveEditorDlg curves(frame.get());
    curves.SetProfile(&profile);
    curves.SetAxis(1);
    curves.OnInitDialog();
    ShowAndLook(&curves, "curve editor");
    CGameInfo game;
    game.Name = u"Racer";
    game.Limits[0].Supported = 1;
    CGameInfoDlg details(game, false, frame.get());
    ShowAndLook(&details, "title details");
    CHotKeys keys;
    CHotKeyEntryDlg hotKey(*Sheet().Keyboard(), Sheet().ActionMap(), 0, keys, Sheet().Window(), frame.get());
    ShowAndLook(&hotKey, "hot-key entry");
    app::CSheetTrackingSettingsHost trackingHost(Sheet());
    CTrackingSettingsDlg cameraSettings(Sheet().Settings(), trackingHost, {}, frame.get());
    ShowAndLook(&cameraSettings, "camera settings");
    const std::unique_ptr<QDialog> about = frame->CreateAboutBox();
    ShowAndLook(about.get(), "about box");

    // The mouse emulator, a program of its own, connected to this one as
    // it is when the user starts it.
    ChildProgram mouse(VSLMOUSE_PROGRAM);
    ASSERT_GT(mouse.pid(), 0);
    // Its dialog, not a message box about a failed start: it reads the pose.
    EXPECT_TRUE(WaitFor([&] { return Sheet().Engine().Transmitting() == 1; }));
    QRect place;
    EXPECT_TRUE(WaitFor([&] {
        place = WindowOfProcess(mouse.pid(), "Vistrel Mouse Emulation");
        return !place.isNull() && Work().contains(place) && SpreadOf(ScreenAt(place)).Painted();
    })) << "at " << place.x() << "," << place.y() << " " << place.width() << "x" << place.height();
    EXPECT_TRUE(mouse.running()) << "the emulator did not start";
    EXPECT_TRUE(Work().contains(place));
    ExpectContents(ScreenAt(place), "mouse emulator");
}
