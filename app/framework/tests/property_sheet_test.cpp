// The sheet hands its five notifications to the pages that have a window.
#include <stdexcept>

#include <gtest/gtest.h>

#include <QTabWidget>
#include <QTest>

#include "app/dialog_base.h"
#include "app/property_sheet.h"
#include "testing/qt_app.h"

namespace {

using namespace app;
using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

struct Call {
    int page;
    const char* slot;
    WPARAM w;
    LPARAM l;
    bool operator==(const Call& o) const
    {
        return page == o.page && std::string(slot) == o.slot && w == o.w && l == o.l;
    }
};

class RecordingPage : public CPropertyPageBase {
public:
    RecordingPage(int index, std::vector<Call>& calls) : CPropertyPageBase(100 + index), index_(index), calls_(calls)
    {
        setWindowTitle(QString("Page %1").arg(index));
    }
    bool throwOnNotify = false;
    int inits = 0;
    int actives = 0;
    int oks = 0;
    int cancels = 0;

    bool OnInitDialog() override
    {
        ++inits;
        return true;
    }
    bool OnSetActive() override
    {
        ++actives;
        return true;
    }
    void OnOK() override { ++oks; }
    void OnCancel() override { ++cancels; }
    LRESULT OnDeviceState(WPARAM w, LPARAM l) override { return record("DeviceState", w, l); }
    LRESULT OnProfileChanged(WPARAM w, LPARAM l) override { return record("ProfileChanged", w, l); }
    LRESULT OnGameChanged(WPARAM w, LPARAM l) override { return record("GameChanged", w, l); }
    LRESULT OnDeviceChange(WPARAM w, LPARAM l) override { return record("DeviceChange", w, l); }
    LRESULT OnCameraStatus(WPARAM w, LPARAM l) override { return record("CameraStatus", w, l); }

private:
    LRESULT record(const char* slot, WPARAM w, LPARAM l)
    {
        calls_.push_back({index_, slot, w, l});
        if (throwOnNotify)
            throw std::runtime_error("page failed");
        return 0;
    }
    int index_;
    std::vector<Call>& calls_;
};

class PropertySheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing_support::qtApp(); }

    void SetUp() override
    {
        for (int i = 0; i < 3; ++i) {
            pages_.push_back(new RecordingPage(i, calls_));
            sheet_.AddPage(pages_.back());
        }
    }
    // Every page built, as after the user looked at each tab.
    void createAll()
    {
        sheet_.show();
        for (int i = 0; i < 3; ++i)
            sheet_.SetActivePage(i);
        sheet_.SetActivePage(0);
    }

    std::vector<Call> calls_;
    CPropertySheetBase sheet_{"Sheet"};
    std::vector<RecordingPage*> pages_;
};

TEST_F(PropertySheetTest, AddPageRecordsTheSheetInThePage)
{
    EXPECT_EQ(sheet_.PageCount(), 3);
    for (auto* p : pages_)
        EXPECT_EQ(p->Sheet(), &sheet_);
    EXPECT_EQ(sheet_.TabControl()->tabText(1), "Page 1");
}

TEST_F(PropertySheetTest, EachCodeReachesItsSlotOnEveryPageInOrder)
{
    createAll();
    sheet_.SetRunFlag(true);
    const struct {
        platform::UINT code;
        const char* slot;
    } table[] = {{0x8065, "DeviceState"},
                 {0x8066, "ProfileChanged"},
                 {0x8067, "GameChanged"},
                 {0x8068, "DeviceChange"},
                 {0x8069, "CameraStatus"}};
    for (const auto& row : table) {
        calls_.clear();
        sheet_.NotifyPages(row.code, 7, -3);
        EXPECT_EQ(calls_, (std::vector<Call>{{0, row.slot, 7, -3}, {1, row.slot, 7, -3}, {2, row.slot, 7, -3}}))
            << row.slot;
    }
    calls_.clear();
    sheet_.NotifyPages(0x8064, 0, 0);
    sheet_.NotifyPages(0x806A, 0, 0);
    EXPECT_TRUE(calls_.empty());
}

TEST_F(PropertySheetTest, NothingReachesThePagesWhileTheRunFlagIsClear)
{
    createAll();
    sheet_.NotifyPages(PN_DEVICE_STATE, 0, 0); // cleared at construction
    sheet_.SetRunFlag(true);
    sheet_.SetRunFlag(false);
    sheet_.NotifyPages(PN_GAME_CHANGED, 0, 0);
    EXPECT_TRUE(calls_.empty());
}

TEST_F(PropertySheetTest, AnotherSheetsRunFlagMayGateTheNotifications)
{
    createAll();
    CPropertySheetBase mainSheet;
    sheet_.SetOwningSheet(&mainSheet);
    sheet_.SetRunFlag(true); // its own flag no longer counts
    sheet_.NotifyPages(PN_DEVICE_STATE, 0, 0);
    EXPECT_TRUE(calls_.empty());
    mainSheet.SetRunFlag(true);
    sheet_.NotifyPages(PN_DEVICE_STATE, 0, 0);
    EXPECT_EQ(calls_.size(), 3u);
}

TEST_F(PropertySheetTest, PagesNotYetShownGetNothing)
{
    sheet_.SetRunFlag(true);
    sheet_.show();
    EXPECT_TRUE(pages_[0]->HasWindow()); // the active page is built when the sheet shows
    EXPECT_FALSE(pages_[1]->HasWindow());
    sheet_.NotifyPages(PN_CAMERA_STATUS, 1, 2);
    EXPECT_EQ(calls_, (std::vector<Call>{{0, "CameraStatus", 1, 2}}));

    sheet_.TabControl()->setCurrentIndex(2); // the user opens the third tab
    EXPECT_TRUE(pages_[2]->HasWindow());
    EXPECT_EQ(pages_[2]->inits, 1);
    sheet_.SetActivePage(0);
    sheet_.SetActivePage(2);
    EXPECT_EQ(pages_[2]->inits, 1); // built once
    EXPECT_EQ(pages_[2]->actives, 2);
    calls_.clear();
    sheet_.NotifyPages(PN_CAMERA_STATUS, 0, 0);
    EXPECT_EQ(calls_.size(), 2u);
}

TEST_F(PropertySheetTest, APageThatThrowsEndsThePass)
{
    createAll();
    sheet_.SetRunFlag(true);
    pages_[1]->throwOnNotify = true;
    EXPECT_NO_THROW(sheet_.NotifyPages(PN_PROFILE_CHANGED, 0, 0));
    EXPECT_EQ(calls_.size(), 2u); // pages 0 and 1; page 2 misses this code
    pages_[1]->throwOnNotify = false;
    calls_.clear();
    sheet_.NotifyPages(PN_PROFILE_CHANGED, 0, 0);
    EXPECT_EQ(calls_.size(), 3u); // the next pass reaches all again
}

TEST_F(PropertySheetTest, OkAndCancelReachTheBuiltPages)
{
    sheet_.SetButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    sheet_.SetActivePage(1);
    EXPECT_FALSE(pages_[1]->HasWindow()) << "a sheet not yet shown builds no page";
    sheet_.show();
    EXPECT_TRUE(pages_[1]->HasWindow()) << "the chosen page is built when the sheet shows";
    EXPECT_FALSE(pages_[0]->HasWindow());
    sheet_.accept();
    EXPECT_EQ(pages_[1]->oks, 1);
    EXPECT_EQ(pages_[0]->oks, 0);
    EXPECT_EQ(sheet_.result(), QDialog::Accepted);
    sheet_.reject();
    EXPECT_EQ(pages_[1]->cancels, 1);
    EXPECT_EQ(sheet_.result(), QDialog::Rejected);
}

TEST_F(PropertySheetTest, HelpKeyOpensHelpFromTheSheetAPageAndADialog)
{
    int opened = 0;
    SetHelpHandler([&] { ++opened; });
    sheet_.show();
    QTest::keyClick(&sheet_, Qt::Key_F1);
    QTest::keyClick(pages_[0], Qt::Key_F1);
    CDialogBase dialog(136);
    QTest::keyClick(&dialog, Qt::Key_F1);
    QTest::keyClick(&dialog, Qt::Key_F2);
    EXPECT_EQ(opened, 3);
    SetHelpHandler(nullptr);
    EXPECT_FALSE(OpenHelp());
}

TEST_F(PropertySheetTest, APageDeletedFirstIsForgotten)
{
    createAll();
    sheet_.SetRunFlag(true);
    delete pages_[1];
    sheet_.NotifyPages(PN_DEVICE_CHANGE, 0, 0);
    EXPECT_EQ(calls_.size(), 2u);
}

} // namespace
