// The hot-key entry dialog as a user drives it, on a private X server: the
// profile editor's Hot Keys page with its "Change..." buttons clicked through
// XTest, the real keyboard detector over the hook library, the real action
// map polling the X pointer and an SDL virtual joystick, and a stand-in for
// the main sheet's window that receives what the hot keys post. Keys typed,
// buttons pressed and the virtual joystick's buttons set from a driver
// thread while the dialogs run their own loops on the GUI thread.
// gtest and Qt before the X11 headers: their macros (None, Bool, ...) break them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "input/ActionMap.h"
#include "input/Keyboard.h"
#include "kbhook/keysnare_services.h"
#include "platform/gui/message_pump.h"
#include "platform/messages.h"
#include "profiles/Profile.h"
#include "testing/temp_session.h"
#include "windows/HotKeyEntryDlg.h"
#include "windows/profile_sheet.h"

#include "testing/x_typist.h"
#include "testing/xvfb_server.h"

#include <SDL.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kCtrl = 2, kShift = 4, kAlt = 1;

// The main sheet's window as far as hot keys go: it records every message.
class SheetStandIn {
public:
    struct Message {
        platform::UINT message;
        platform::WPARAM wParam;
        platform::LPARAM lParam;
        bool operator==(const Message&) const = default;
    };

    SheetStandIn()
    {
        window_ = platform::createWindow({"HotKeySheet", "", false},
                                         [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                                             if (m == WM_HOTKEY_KEY || m == WM_HOTKEY_ACTION) {
                                                 std::lock_guard lock(mutex_);
                                                 got_.push_back({m, w, l});
                                             }
                                             return platform::LRESULT{0};
                                         });
    }
    ~SheetStandIn() { platform::destroyWindow(window_); }
    platform::HWND Window() const { return window_; }
    std::vector<Message> Take()
    {
        std::lock_guard lock(mutex_);
        std::vector<Message> out;
        out.swap(got_);
        return out;
    }

private:
    platform::HWND window_ = 0;
    std::mutex mutex_;
    std::vector<Message> got_;
};

// The editor's way to the program: only the hot-key entry dialog is real.
class EditorHost final : public IProfileEditorHost {
public:
    EditorHost(CKeyboard& keyboard, CActionMap& actions, platform::HWND sheet)
        : keyboard_(keyboard), actions_(actions), sheet_(sheet)
    {
    }
    bool Ask(const std::u16string&) override { return false; }
    void Message(const std::u16string&) override {}
    void ApplyTrackingSettings() override {}
    void Recenter() override {}
    void NotifyStateChanged() override {}
    void ResetPauseState() override {}
    void SetHotKeys(const CHotKeys& keys) override { keyboard_.SetHotKeys(keys); }
    void RefreshActions() override { actions_.Refresh(); }
    void EditHotKey(int index, CHotKeys& keys) override
    {
        ++opened;
        CHotKeyEntryDlg dlg(keyboard_, actions_, index, keys, sheet_, QApplication::activeWindow());
        dlg.SetMessageBox([this](const QString& text) { messages.push_back(text); });
        dlg.exec();
    }
    bool EditCurve(CProfile&, int) override { return false; }
    bool IsWindowOpen(int) const override { return false; }
    void OpenWindow(int) override {}
    void CloseWindow(int) override {}
    std::int32_t LaunchFlag(int) const override { return 0; }
    void SetLaunchFlag(int, std::int32_t) override {}
    void SaveSettings() override {}

    std::vector<QString> messages;
    int opened = 0; // entry dialogs opened

private:
    CKeyboard& keyboard_;
    CActionMap& actions_;
    platform::HWND sheet_;
};

class HotKeyCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new testing_support::XvfbServer();
        if (!server->ready())
            return;
        ::setenv("DISPLAY", server->name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // No session bus here: the D-Bus library would try to start one
        // through X, fail, and leave what the leak checker reports.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
        static int argc = 1;
        static char name[] = "hotkey_capture_test";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        delete app;
        app = nullptr;
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        if (!server->ready())
            GTEST_SKIP() << "no Xvfb";
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 12, 0);
        ASSERT_GE(index, 0) << SDL_GetError();
        joystick = SDL_JoystickOpen(index);
        ASSERT_NE(joystick, nullptr) << SDL_GetError();

        pump = std::make_unique<platform::gui::MessagePump>();
        sheet = std::make_unique<SheetStandIn>();
        keysnare::reset();
        keysnare::useServices(nullptr, nullptr, nullptr);  // the X11 source, window messages
        keyboard = std::make_unique<CW2Kkeyboard>();
        ASSERT_TRUE(keyboard->Install(sheet->Window(), WM_HOTKEY_KEY));
        actions = std::make_unique<CActionMap>();
        actions->Create(sheet->Window());
        poller = std::make_unique<CInputPoller>(*actions);
        ASSERT_TRUE(poller->Start());

        profile.SetDefaults();
        keyboard->SetHotKeys(profile.HotKeys);
        actions->ClearBindings();
        actions->AddHotKeys(profile.HotKeys, WM_HOTKEY_ACTION);

        host = std::make_unique<EditorHost>(*keyboard, *actions, sheet->Window());
        editor = std::make_unique<CProfilePropertySheet>(profile, *host);
        editor->SetNewProfile(0);
        editor->move(20, 20);
        editor->show();
        ASSERT_TRUE(editor->SetActivePage(2));
        page = &editor->HotKeys();

        typist = std::make_unique<testing_support::XTypist>(server->name());
        ASSERT_TRUE(typist->ok());
    }

    void TearDown() override
    {
        typist.reset();
        editor.reset();
        host.reset();
        poller.reset();
        actions.reset();
        keyboard.reset();
        keysnare::reset();
        sheet.reset();
        pump.reset();
        if (joystick) {
            SDL_JoystickClose(joystick);
            SDL_JoystickDetachVirtual(0);
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        }
    }

    // Runs `script` on a driver thread while the GUI thread runs its loops;
    // whatever modal dialog is left open at the end is cancelled.
    void Drive(const std::function<void()>& script)
    {
        QEventLoop loop;
        std::thread driver([&] {
            script();
            OnGui([] {
                if (QWidget* modal = QApplication::activeModalWidget())
                    static_cast<QDialog*>(modal)->reject();
            });
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        driver.join();
    }

    // Runs f on the GUI thread and waits for it (driver thread only).
    template <typename F>
    auto OnGui(F f) -> decltype(f())
    {
        if constexpr (std::is_void_v<decltype(f())>) {
            QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
        } else {
            decltype(f()) result{};
            QMetaObject::invokeMethod(app, [&] { result = f(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }
    template <typename F>
    bool Eventually(F condition, std::chrono::milliseconds within = 10s)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < end) {
            if (condition())
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return condition();
    }

    CHotKeyEntryDlg* OpenDialog()
    {
        return OnGui([] { return qobject_cast<CHotKeyEntryDlg*>(QApplication::activeModalWidget()); });
    }
    // Clicks a widget's middle with the left button, as a user does.
    void Click(QWidget* w)
    {
        // A click before the window is on the screen goes nowhere.
        Eventually([&] {
            return OnGui([w] {
                const QWindow* window = w->window()->windowHandle();
                return w->isVisible() && window != nullptr && window->isExposed();
            });
        });
        const QPoint at = OnGui([w] { return w->mapToGlobal(w->rect().center()); });
        const auto target = OnGui([w] { return static_cast<Window>(w->window()->winId()); });
        typist->MoveTo(at.x(), at.y());
        // A dialog that Qt has closed may still stand over the point until the
        // server has unmapped it; a click then goes to the dialog's window.
        EXPECT_TRUE(Eventually([&] { return typist->TopLevelUnderPointer() == target; }))
            << "window under the pointer: " << typist->TopLevelUnderPointer() << ", wanted " << target;
        Button(1, true);
        // Held long enough for the pointer's 33 ms poll to see it.
        std::this_thread::sleep_for(60ms);
        Button(1, false);
    }
    // Opens the entry dialog of a row; true once it captures.
    bool Change(int row)
    {
        QPushButton* button = OnGui([this, row] { return page->rows[static_cast<std::size_t>(row)].change; });
        const int before = OnGui([this] { return host->opened; });
        const bool enabled = OnGui([button] { return button->isEnabled(); });
        const auto capturing = [&] { return OpenDialog() != nullptr && actions->Capturing(); };
        Click(button);
        // Now and then Xvfb and Qt drop a synthetic click altogether (the
        // button never goes down, though it is under the pointer, enabled,
        // with nothing grabbed and nothing modal): a second click then is
        // what a user does. A dialog that opened and went is no such case.
        if (!Eventually(capturing, 2s) && OnGui([this] { return host->opened; }) == before &&
            !OnGui([button] { return button->isDown(); })) {
            std::fprintf(stderr, "row %d: the click on Change... was not taken; clicking again\n", row);
            Click(button);
        }
        if (Eventually(capturing))
            return true;
        ADD_FAILURE() << "row " << row << ": button " << (enabled ? "enabled" : "disabled") << ", dialogs opened "
                      << OnGui([this] { return host->opened; }) - before << ", dialog "
                      << (OpenDialog() != nullptr ? "open" : "not open") << ", capture "
                      << (actions->Capturing() ? "running" : "not running") << ", key now \""
                      << KeyText(row).toStdString() << "\", "
                      << OnGui([this] { return host->messages.size(); }) << " message(s)"
                      << ", pointer " << (typist->PointerGrabbed() ? "grabbed" : "free") << ", keyboard "
                      << (typist->KeyboardGrabbed() ? "grabbed" : "free") << ", Qt's mouse grabber "
                      << OnGui([] { return QWidget::mouseGrabber() != nullptr; }) << ", under the mouse: "
                      << OnGui([button] { return button->underMouse(); }) << ", down "
                      << OnGui([button] { return button->isDown(); })
                      << ", Qt's buttons " << OnGui([] { return static_cast<int>(QGuiApplication::mouseButtons()); })
                      << ", modifiers " << OnGui([] { return static_cast<int>(QGuiApplication::queryKeyboardModifiers()); })
                      << "/" << OnGui([] { return static_cast<int>(QGuiApplication::keyboardModifiers()); });
        return false;
    }
    bool DialogClosed()
    {
        return Eventually([&] { return OpenDialog() == nullptr; });
    }
    QString KeyText(int row)
    {
        return OnGui([this, row] { return page->rows[static_cast<std::size_t>(row)].key->text(); });
    }

    void Key(KeySym sym, bool press) { typist->Key(sym, press); }
    void Chord(const std::vector<KeySym>& modifiers, KeySym sym) { typist->Chord(modifiers, sym); }
    void Button(unsigned int button, bool press) { typist->Button(button, press); }
    void JoystickButton(int button, bool press)
    {
        SDL_JoystickSetVirtualButton(joystick, button, press ? SDL_PRESSED : SDL_RELEASED);
    }
    // Waits for exactly these messages at the sheet.
    bool SheetGets(std::vector<SheetStandIn::Message> want)
    {
        std::vector<SheetStandIn::Message> got;
        Eventually([&] {
            for (const auto& m : sheet->Take())
                got.push_back(m);
            return got.size() >= want.size();
        });
        std::this_thread::sleep_for(50ms);
        for (const auto& m : sheet->Take())
            got.push_back(m);
        EXPECT_EQ(got, want);
        return got == want;
    }
    static SheetStandIn::Message KeyMessage(platform::WPARAM state, std::uint32_t code)
    {
        return {WM_HOTKEY_KEY, state, static_cast<platform::LPARAM>(code)};
    }
    static SheetStandIn::Message ActionMessage(platform::WPARAM state, int action)
    {
        return {WM_HOTKEY_ACTION, state, static_cast<platform::LPARAM>(action)};
    }

    static testing_support::XvfbServer* server;
    static QApplication* app;
    testing_support::TempSession session;
    SDL_Joystick* joystick = nullptr;
    std::unique_ptr<platform::gui::MessagePump> pump;
    std::unique_ptr<SheetStandIn> sheet;
    std::unique_ptr<CW2Kkeyboard> keyboard;
    std::unique_ptr<CActionMap> actions;
    std::unique_ptr<CInputPoller> poller;
    CProfile profile;
    std::unique_ptr<EditorHost> host;
    std::unique_ptr<CProfilePropertySheet> editor;
    CProfilePageHotKeys* page = nullptr;
    std::unique_ptr<testing_support::XTypist> typist;
};

testing_support::XvfbServer* HotKeyCapture::server = nullptr;
QApplication* HotKeyCapture::app = nullptr;

constexpr std::uint32_t kF5 = 0x74, kF9 = 0x78, kF11 = 0x7A;

TEST_F(HotKeyCapture, KeysWithModifiersMouseAndJoystickButtonsAreTakenAndWorkAtOnce)
{
    Drive([&] {
        // Pause: a key with modifiers.
        ASSERT_TRUE(Change(1));
        Chord({XK_Control_L, XK_Shift_L}, XK_F5);
        ASSERT_TRUE(DialogClosed());
        EXPECT_EQ(KeyText(1), QStringLiteral("Ctrl+Shift+F5"));
        EXPECT_EQ(profile.HotKeys.GetAt(1).Code, kF5 | (kCtrl | kShift) << 16);
        // It works at once, and the old key is free.
        Key(XK_F9, true);
        Key(XK_F9, false);
        Chord({XK_Control_L, XK_Shift_L}, XK_F5);
        ASSERT_TRUE(SheetGets({KeyMessage(0x100, kF5 | (kCtrl | kShift) << 16),
                               KeyMessage(0x101, kF5 | (kCtrl | kShift) << 16)}));

        // Centre: a plain key.
        ASSERT_TRUE(Change(0));
        Key(XK_F11, true);
        Key(XK_F11, false);
        ASSERT_TRUE(DialogClosed());
        EXPECT_EQ(KeyText(0), QStringLiteral("F11"));
        Key(XK_F11, true);
        Key(XK_F11, false);
        ASSERT_TRUE(SheetGets({KeyMessage(0x100, kF11), KeyMessage(0x101, kF11)}));

        // Precision: the middle mouse button. Its release, once the dialog
        // has closed, is already the new hot key's.
        ASSERT_TRUE(Change(2));
        Button(2, true);
        ASSERT_TRUE(DialogClosed());
        Button(2, false);
        ASSERT_TRUE(SheetGets({ActionMessage(0x101, 2)}));
        EXPECT_EQ(KeyText(2), QStringLiteral("Mouse3"));
        EXPECT_EQ(profile.HotKeys.GetAt(2).Device, GUID_SysMouse);
        Button(2, true);
        ASSERT_TRUE(SheetGets({ActionMessage(0x100, 2)}));
        Button(2, false);
        ASSERT_TRUE(SheetGets({ActionMessage(0x101, 2)}));

        // Centre again: a button of the joystick.
        ASSERT_TRUE(Change(0));
        JoystickButton(4, true);
        ASSERT_TRUE(DialogClosed());
        JoystickButton(4, false);
        ASSERT_TRUE(SheetGets({ActionMessage(0x101, 0)}));
        EXPECT_EQ(KeyText(0), QStringLiteral("Joystick5"));
        EXPECT_NE(profile.HotKeys.GetAt(0).Device, GUID_NULL);
        EXPECT_NE(profile.HotKeys.GetAt(0).Device, GUID_SysMouse);
        JoystickButton(4, true);
        ASSERT_TRUE(SheetGets({ActionMessage(0x100, 0)}));
        JoystickButton(4, false);
        ASSERT_TRUE(SheetGets({ActionMessage(0x101, 0)}));
        // F11 is free again.
        Key(XK_F11, true);
        Key(XK_F11, false);
        ASSERT_TRUE(SheetGets({}));
    });
    EXPECT_TRUE(host->messages.empty());
}

// Keys held with Alt, alone or with other modifiers: taken with Alt, and
// working as the hot key as soon as the dialog has closed.
TEST_F(HotKeyCapture, KeysWithAltAreTakenAndWorkAtOnce)
{
    struct Case {
        std::vector<KeySym> modifiers;
        KeySym key;
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {{XK_Alt_L}, XK_F6, 0x75 | kAlt << 16, "Alt+F6"},
        {{XK_Alt_L}, XK_k, 0x4B | kAlt << 16, "Alt+K"},
        {{XK_Control_L, XK_Alt_L}, XK_F8, 0x77 | (kAlt | kCtrl) << 16, "Alt+Ctrl+F8"},
        {{XK_Shift_L, XK_Alt_L}, XK_3, 0x33 | (kAlt | kShift) << 16, "Alt+Shift+3"},
    };
    Drive([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            ASSERT_TRUE(Change(2));
            Chord(c.modifiers, c.key);
            ASSERT_TRUE(DialogClosed());
            EXPECT_EQ(KeyText(2), QString::fromUtf8(c.text));
            EXPECT_EQ(profile.HotKeys.GetAt(2).Code, c.code);
            EXPECT_EQ(profile.HotKeys.GetAt(2).Device, GUID_NULL);
            // It works at once, with exactly its modifiers; the key alone,
            // and the key it replaced, are no hot keys now.
            Chord(c.modifiers, c.key);
            ASSERT_TRUE(SheetGets({KeyMessage(0x100, c.code), KeyMessage(0x101, c.code)}));
            Key(c.key, true);
            Key(c.key, false);
            ASSERT_TRUE(SheetGets({}));
            if (&c == &cases[0]) { // the default F7
                Key(XK_F7, true);
                Key(XK_F7, false);
                ASSERT_TRUE(SheetGets({}));
            }
        }
    });
    EXPECT_TRUE(host->messages.empty());
}

TEST_F(HotKeyCapture, CancelLeavesTheOldKeyWorking)
{
    Drive([&] {
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(Change(1));
            // The click on Cancel is not taken as the left mouse button.
            CHotKeyEntryDlg* dlg = OpenDialog();
            ASSERT_NE(dlg, nullptr);
            Click(OnGui([dlg] { return static_cast<QWidget*>(dlg->CancelButton()); }));
            ASSERT_TRUE(DialogClosed());
            EXPECT_EQ(KeyText(1), QStringLiteral("F9"));
            EXPECT_EQ(profile.HotKeys.GetAt(1).Device, GUID_NULL);
            Key(XK_F9, true);
            Key(XK_F9, false);
            ASSERT_TRUE(SheetGets({KeyMessage(0x100, kF9), KeyMessage(0x101, kF9)})) << "round " << round;
        }
        // The next capture still works.
        ASSERT_TRUE(Change(1));
        Key(XK_F5, true);
        Key(XK_F5, false);
        ASSERT_TRUE(DialogClosed());
        EXPECT_EQ(KeyText(1), QStringLiteral("F5"));
    });
}

} // namespace
