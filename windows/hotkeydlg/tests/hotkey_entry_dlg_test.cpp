// The hot-key entry dialog offscreen with a recording keyboard detector and
// a real action map over fake devices.
#include "windows/HotKeyEntryDlg.h"

#include "input/InputDevices.h"
#include "platform/devices/button_device.h"
#include "platform/gui/message_pump.h"
#include "testing/temp_session.h"

#include "testing/qt_app.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

namespace {

namespace dev = platform::devices;

constexpr platform::HWND kSheet = 0x30001;
constexpr platform::HWND kOwner = 0x30002;
const Guid kPad{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

constexpr std::uint32_t kF12 = 0x7B, kF9 = 0x78, kF7 = 0x76, kK = 0x4B;

class RecordingKeyboard final : public CKeyboard {
public:
    bool Install(platform::HWND target, platform::UINT message) override
    {
        calls.push_back("Install " + std::to_string(target) + " " + std::to_string(message));
        return true;
    }
    void Uninstall() override { calls.push_back("Uninstall"); }
    void SetHotKeys(const CHotKeys& keys) override
    {
        calls.push_back("SetHotKeys");
        watched = keys;
    }
    void SetHotKey(std::uint32_t, int, int, int) override {}
    bool FilterAllKeys(platform::HWND target, platform::UINT message) override
    {
        calls.push_back("FilterAllKeys " + std::to_string(target) + " " + std::to_string(message));
        return filterWorks;
    }
    bool StartTypingHook(platform::UINT, platform::UINT, platform::UINT) override { return false; }
    bool StopTypingHook() override { return false; }

    std::vector<std::string> calls;
    CHotKeys watched;
    bool filterWorks = true;
};

CKeyInfo padButton(std::uint32_t button)
{
    CKeyInfo k;
    k.Device = kPad;
    k.SetKey(button);
    k.Enable = 1;
    return k;
}

class HotKeyEntryTest : public ::testing::Test {
protected:
    HotKeyEntryTest()
    {
        auto src = std::make_unique<dev::FakeButtonSource>();
        source = src.get();
        pad = source->attach({DeviceIdFromGuid(kPad), DeviceIdFromGuid(kPad), dev::kTypeGamepad, "pad"}, 8);
        mouse = source->attach({dev::kSystemMouseId, dev::kSystemMouseId, dev::kTypeMouse, "Mouse"}, 3);
        map = std::make_unique<CActionMap>(std::move(src), [this](platform::HWND w, platform::UINT m, platform::WPARAM,
                                                                  platform::LPARAM) {
            posts.push_back({w, m});
            return true;
        });
        map->Create(kOwner);
        map->Poll();
        keys.SetDefaults();
        keys.SetAtGrow(2, padButton(3)); // Precision on a pad button
        map->AddHotKeys(keys, WM_HOTKEY_ACTION);
        before = keys;
    }

    std::unique_ptr<CHotKeyEntryDlg> open(int index)
    {
        auto dlg = std::make_unique<CHotKeyEntryDlg>(keyboard, *map, index, keys, kSheet);
        dlg->SetMessageBox([this](const QString& text) { messages.push_back(text); });
        dlg->SetCursorInCancel([this] { return cursorInCancel; });
        dlg->show();
        keyboard.calls.clear();
        return dlg;
    }

    // Presses and releases a device button; the map reports the capture.
    void click(std::size_t device, int button)
    {
        source->setButton(device, button, true);
        map->Poll();
        source->setButton(device, button, false);
        map->Poll();
    }

    void expectKeyboardGivenBack()
    {
        const std::vector<std::string> want{"Uninstall", "Install " + std::to_string(kSheet) + " " +
                                                             std::to_string(WM_HOTKEY_KEY)};
        ASSERT_GE(keyboard.calls.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(keyboard.calls.begin(), keyboard.calls.begin() + 2), want);
    }

    testing_support::TempSession session;
    RecordingKeyboard keyboard;
    dev::FakeButtonSource* source = nullptr;
    std::size_t pad = 0, mouse = 0;
    std::unique_ptr<CActionMap> map;
    std::vector<std::pair<platform::HWND, platform::UINT>> posts;
    CHotKeys keys, before;
    std::vector<QString> messages;
    bool cursorInCancel = false;
};

TEST_F(HotKeyEntryTest, OpeningShowsTheRoleAndStartsBothCaptures)
{
    CHotKeyEntryDlg dlg(keyboard, *map, 1, keys, kSheet);
    dlg.SetMessageBox([this](const QString& text) { messages.push_back(text); });
    EXPECT_EQ(dlg.RoleLabel()->text(), QString("Pause"));
    EXPECT_EQ(dlg.windowTitle(), QString("Hotkey Entry"));
    EXPECT_EQ(dlg.TemplateId(), 129);
    dlg.show();
    ASSERT_EQ(keyboard.calls.size(), 1u);
    EXPECT_EQ(keyboard.calls[0], "FilterAllKeys " + std::to_string(dlg.Window()) + " " + std::to_string(0x812C));
    EXPECT_TRUE(map->Capturing());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(CHotKeyEntryDlg::RoleName(0), QString("Center"));
    EXPECT_EQ(CHotKeyEntryDlg::RoleName(2), QString("Precision"));
}

TEST_F(HotKeyEntryTest, RefusedKeyboardCaptureSaysSoAndButtonsStillWork)
{
    keyboard.filterWorks = false;
    auto dlg = open(0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QString("Failed to set Keyboard Hook"));
    EXPECT_TRUE(dlg->isVisible());
    click(pad, 5);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0], std::make_pair(dlg->Window(), WM_HOTKEY_ACTION));
    dlg->HandleMessage(WM_HOTKEY_ACTION, 0, 0);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(keys.GetAt(0).Device, kPad);
    EXPECT_EQ(keys.GetAt(0).Code, 5u);
}

TEST_F(HotKeyEntryTest, KeyAlreadyAssignedIsRefusedNamingItsHolder)
{
    struct Case {
        int index;
        std::uint32_t code;
        const char* holder;
    };
    for (Case c : {Case{0, kF12, "Center"}, Case{0, kF9, "Pause"}, Case{1, kF12, "Center"}}) {
        SCOPED_TRACE(c.holder);
        messages.clear();
        auto dlg = open(c.index);
        dlg->HandleMessage(WM_HOTKEY_KEY, 0x100, static_cast<platform::LPARAM>(c.code));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], CHotKeyEntryDlg::AlreadyAssignedText(
                                   QString::fromStdU16String(CKeyInfo{}.GetKeyText(c.code)), c.holder));
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(keys, before);
        expectKeyboardGivenBack();
        EXPECT_EQ(keyboard.calls.size(), 2u); // no SetHotKeys
    }
}

TEST_F(HotKeyEntryTest, NewKeyIsStoredAndBothWatchersFollowTheNewSet)
{
    auto dlg = open(1);
    const std::uint32_t ctrlK = HotKeyAndModifiers(kK, kModCtrl);
    // A release is taken as well as a press; only the first message counts.
    dlg->HandleMessage(WM_HOTKEY_KEY, 0x101, static_cast<platform::LPARAM>(ctrlK));
    dlg->HandleMessage(WM_HOTKEY_KEY, 0x100, static_cast<platform::LPARAM>(kF7 + 1));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    const CKeyInfo k = keys.GetAt(1);
    EXPECT_EQ(k.Code, ctrlK);
    EXPECT_EQ(k.Device, GUID_NULL);
    EXPECT_EQ(k.Name, k.GetKeyText(ctrlK));
    EXPECT_EQ(keys.GetAt(0), before.GetAt(0));
    expectKeyboardGivenBack();
    ASSERT_EQ(keyboard.calls.size(), 3u);
    EXPECT_EQ(keyboard.calls[2], "SetHotKeys");
    EXPECT_EQ(keyboard.watched, keys);
    // The pad button of Precision is bound again; keyboard keys are not bound.
    const auto bindings = map->Bindings();
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_EQ(bindings[0].device, kPad);
    EXPECT_EQ(bindings[0].button, 3);
    EXPECT_EQ(bindings[0].action, 2);
}

TEST_F(HotKeyEntryTest, PressingTheRowsOwnCodeOnAnotherWayLeavesItUnchanged)
{
    // The row's own device button pressed again is bound to the row itself.
    auto dlg = open(2);
    click(pad, 3);
    dlg->HandleMessage(WM_HOTKEY_ACTION, 0, 0);
    ASSERT_EQ(messages.size(), 1u);
    CKeyInfo shown = keys.GetAt(2);
    EXPECT_EQ(messages[0], CHotKeyEntryDlg::AlreadyAssignedText(QString::fromStdU16String(shown.GetKeyText(3)),
                                                                "Precision"));
    EXPECT_EQ(keys, before);
}

TEST_F(HotKeyEntryTest, NewDeviceButtonTakesTheDevice)
{
    auto dlg = open(0);
    click(pad, 6);
    dlg->HandleMessage(WM_HOTKEY_ACTION, 0, 0);
    EXPECT_TRUE(messages.empty());
    const CKeyInfo k = keys.GetAt(0);
    EXPECT_EQ(k.Device, kPad);
    EXPECT_EQ(k.Code, 6u);
    EXPECT_EQ(k.Name, k.GetKeyText(6));
    EXPECT_EQ(map->Bindings().size(), 2u);
    EXPECT_EQ(dlg->CapturedDevice(), kPad);
}

TEST_F(HotKeyEntryTest, LeftClickOnCancelIsNotAssignedAndCaptureGoesOn)
{
    auto dlg = open(1);
    cursorInCancel = true;
    click(mouse, 0);
    dlg->HandleMessage(WM_HOTKEY_ACTION, 0, 0);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(keys, before);
    EXPECT_TRUE(map->Capturing());
    // Outside the button the same click counts.
    cursorInCancel = false;
    click(mouse, 0);
    dlg->HandleMessage(WM_HOTKEY_ACTION, 0, 0);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(keys.GetAt(1).Device, GUID_SysMouse);
    EXPECT_EQ(keys.GetAt(1).Code, 0u);
}

TEST_F(HotKeyEntryTest, CancelGivesTheKeyboardBackAndChangesNothing)
{
    auto dlg = open(0);
    QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(keyboard.calls, (std::vector<std::string>{"Uninstall", "Install " + std::to_string(kSheet) + " " +
                                                                         std::to_string(WM_HOTKEY_KEY)}));
    // A key arriving late is ignored.
    dlg->HandleMessage(WM_HOTKEY_KEY, 0x100, static_cast<platform::LPARAM>(kK));
    EXPECT_EQ(keys, before);
    EXPECT_EQ(keyboard.calls.size(), 2u);
    // The button capture ends with the dialog: the next press goes to its bindings.
    EXPECT_FALSE(map->Capturing());
}

TEST_F(HotKeyEntryTest, AKeyEndsTheButtonCaptureToo)
{
    auto dlg = open(2);
    ASSERT_TRUE(map->Capturing());
    dlg->HandleMessage(WM_HOTKEY_KEY, 0x100, static_cast<platform::LPARAM>(kK));
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(map->Capturing());
}

TEST_F(HotKeyEntryTest, KeyPostedToTheDialogsWindowIsTakenFromTheLoop)
{
    platform::gui::MessagePump pump;
    auto dlg = open(2);
    ASSERT_NE(dlg->Window(), 0u);
    ASSERT_TRUE(platform::postMessage(dlg->Window(), WM_HOTKEY_KEY, 0x100, static_cast<platform::LPARAM>(kK)));
    pump.pumpNow();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(keys.GetAt(2).Code, kK);
    EXPECT_EQ(keys.GetAt(2).Device, GUID_NULL);
}

} // namespace
