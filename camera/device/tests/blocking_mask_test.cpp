// The blocking mask: grid geometry, rectangles to cells, the words an update
// sends, growth of the effective plane, the plain mask of the other
// revisions, and the camera's own mask operations on the simulated camera.
#include "camera/blocking_mask.h"
#include "camera_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using Orvane::BlockingMask;
using Orvane::BridgedBlockingMask;

namespace {

struct RecordingBridge final : Orvane::cCameraBridge {
    void WriteMaskWord(std::uint32_t address, std::uint32_t value) override { words.emplace_back(address, value); }
    void ClearMask() override { ops.push_back("clear"); }
    void EnableMask() override { ops.push_back("enable"); }
    void DisableMask() override { ops.push_back("disable"); }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;
    std::vector<std::string> ops;
};

TEST(BlockingMask, GeometryPerRevision)
{
    RecordingBridge bridge;
    auto rev7 = Orvane::MakeBlockingMask(7, 640, 480, &bridge);
    EXPECT_EQ(rev7->CellSize(), 3);
    EXPECT_EQ(rev7->Columns(), 214);
    EXPECT_EQ(rev7->Rows(), 160);
    EXPECT_EQ(rev7->RowBytes(), 27);
    EXPECT_EQ(rev7->WordsPerRow(), 12);
    auto rev6 = Orvane::MakeBlockingMask(6, 353, 289, &bridge);
    EXPECT_EQ(rev6->CellSize(), 1);
    EXPECT_EQ(rev6->Columns(), 353);
    EXPECT_EQ(rev6->Rows(), 289);
    EXPECT_EQ(rev6->RowBytes(), 45);
    EXPECT_EQ(Orvane::MakeBlockingMask(7, 0, 0, &bridge)->Columns(), 0);
}

TEST(BlockingMask, RectanglesCoverTheirCells)
{
    struct Case {
        int x1, y1, x2, y2;
        int c0, r0, c1, r1;  // expected inclusive cell range
    };
    for (const Case& c : {Case{0, 0, 4, 4, 0, 0, 2, 2}, Case{15, 15, 15, 15, 5, 5, 5, 5}, Case{3, 6, 8, 9, 1, 2, 3, 3},
                          Case{-5, -5, 1, 1, 0, 0, 1, 1}, Case{630, 470, 700, 500, 210, 156, 213, 159}}) {
        RecordingBridge bridge;
        BridgedBlockingMask m(640, 480, bridge);
        m.AddRectangle(c.x1, c.y1, c.x2, c.y2);
        for (int y = 0; y < m.Rows(); ++y)
            for (int x = 0; x < m.Columns(); ++x)
                ASSERT_EQ(m.UserCell(x, y), x >= c.c0 && x <= c.c1 && y >= c.r0 && y <= c.r1)
                    << c.x1 << "," << c.y1 << " cell " << x << "," << y;
        m.RemoveRectangle(c.x1, c.y1, c.x2, c.y2);
        for (int y = 0; y < m.Rows(); ++y)
            for (int x = 0; x < m.Columns(); ++x)
                ASSERT_FALSE(m.UserCell(x, y));
    }
}

TEST(BlockingMask, UpdateSendsOnlyChangedWordsAndGrows)
{
    RecordingBridge bridge;
    BridgedBlockingMask m(640, 480, bridge);
    m.AddRectangle(57, 6, 57, 6);  // cell (19, 2): word 1 of row 2, second cell
    EXPECT_EQ(m.Update(), 159);
    ASSERT_EQ(bridge.words.size(), 1u);
    EXPECT_EQ(bridge.words[0], std::make_pair(25u, 0x10000u));
    // Nothing changed: nothing sent.
    bridge.words.clear();
    m.Update();
    EXPECT_TRUE(bridge.words.empty());

    m.AddRectangle(15, 15, 15, 15);  // cell (5, 5)
    m.Update();
    ASSERT_EQ(bridge.words.size(), 1u);
    EXPECT_EQ(bridge.words[0], std::make_pair(5u * 12u, 0x20000u >> 5));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(m.EffectiveCell(x, y), x >= 4 && x <= 6 && y >= 4 && y <= 6) << x << "," << y;
    EXPECT_TRUE(m.IsBlocked(12, 12));
    EXPECT_TRUE(m.IsBlocked(20, 20));
    EXPECT_FALSE(m.IsBlocked(11, 15));
    EXPECT_FALSE(m.IsBlocked(21, 15));
    EXPECT_FALSE(m.IsBlocked(-1, 15));
    EXPECT_FALSE(m.IsBlocked(640 * 2, 15));

    // A cell on the border does not grow; clearing a cell sends its word as 0.
    m.RemoveRectangle(15, 15, 15, 15);
    m.AddRectangle(0, 0, 0, 0);
    bridge.words.clear();
    m.Update();
    EXPECT_EQ(bridge.words, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0u, 0x20000u}, {60u, 0u}}));
    EXPECT_TRUE(m.EffectiveCell(0, 0));
    EXPECT_FALSE(m.EffectiveCell(1, 1));
    EXPECT_FALSE(m.EffectiveCell(5, 5));
}

TEST(BlockingMask, ClearEnableDisable)
{
    RecordingBridge bridge;
    BridgedBlockingMask m(640, 480, bridge);
    m.AddRectangle(100, 100, 130, 130);
    m.Update();
    m.Clear();
    EXPECT_FALSE(m.IsBlocked(110, 110));
    EXPECT_FALSE(m.UserCell(35, 35));
    bridge.words.clear();
    m.Update();  // right after a clear: nothing to send
    EXPECT_TRUE(bridge.words.empty());
    m.Enable();
    m.Disable();
    EXPECT_EQ(bridge.ops, (std::vector<std::string>{"clear", "enable", "disable"}));
}

TEST(BlockingMask, ReadAndWriteStayWithinTheGivenSize)
{
    RecordingBridge bridge;
    BridgedBlockingMask m(30, 9, bridge);  // 10 x 3 cells
    std::vector<std::uint8_t> in(30, 0);
    in[0] = 1;
    in[11] = 7;
    in[29] = 1;
    EXPECT_EQ(m.Write(in), 30u);
    EXPECT_TRUE(m.UserCell(0, 0));
    EXPECT_TRUE(m.UserCell(1, 1));
    EXPECT_TRUE(m.UserCell(9, 2));
    std::vector<std::uint8_t> out(40, 0xAA);
    EXPECT_EQ(m.Read(out), 30u);
    for (std::size_t i = 0; i < 30; ++i)
        EXPECT_EQ(out[i], (i == 0 || i == 11 || i == 29) ? 1 : 0) << i;
    EXPECT_EQ(out[30], 0xAA);  // past the grid: untouched
    // A short buffer is honoured both ways.
    std::vector<std::uint8_t> shortOut(5, 0xAA);
    EXPECT_EQ(m.Read(std::span<std::uint8_t>(shortOut).first(3)), 3u);
    EXPECT_EQ(shortOut[3], 0xAA);
    std::vector<std::uint8_t> ones(2, 1);
    EXPECT_EQ(m.Write(ones), 2u);
    EXPECT_TRUE(m.UserCell(1, 0));
    EXPECT_FALSE(m.UserCell(2, 0));
}

TEST(BlockingMask, PlainMaskKeepsCellsAndBlocksNothing)
{
    RecordingBridge bridge;
    auto m = Orvane::MakeBlockingMask(6, 353, 289, &bridge);
    m->AddRectangle(0, 0, 100, 100);
    EXPECT_FALSE(m->UserCell(50, 50));
    m->SetCell(3, 4, true);
    EXPECT_TRUE(m->UserCell(3, 4));
    m->SetCell(-1, 4, true);  // off the grid: skipped
    m->SetCell(353, 0, true);
    EXPECT_EQ(m->Update(), 0);
    m->Clear();
    m->Enable();
    std::vector<std::uint8_t> out(10, 9);
    EXPECT_EQ(m->Read(out), 0u);
    EXPECT_EQ(out[0], 9);
    for (int p = 0; p < 353; p += 7)
        EXPECT_FALSE(m->IsBlocked(p, p % 289));
    EXPECT_TRUE(bridge.words.empty());
    EXPECT_TRUE(bridge.ops.empty());
    // Revision 7 without a bridge falls back to the plain mask.
    EXPECT_EQ(Orvane::MakeBlockingMask(7, 640, 480, nullptr)->CellSize(), 1);
}

// The camera's operations reach the mask made for its window: on revision 7
// an update writes exactly the changed words into the mask registers.
TEST(CameraBlockingMask, RevisionSevenWritesTheChangedWords)
{
    camera_test::SimCamera sim(camera_test::revision(7));
    Orvane::Camera& camera = *sim.camera;
    EXPECT_EQ(camera.BlockingMaskWidth(), 214);
    EXPECT_EQ(camera.BlockingMaskHeight(), 160);

    camera.AddBlockingRectangle(57, 6, 57, 6);  // cell (19, 2): word 1 of row 2
    EXPECT_EQ(camera.UpdateBlockingMask(), 159);
    ASSERT_TRUE(camera.Sync());
    EXPECT_EQ(sim.frames(), (std::vector<camera_test::Bytes>{{0x19, 21, 16, 0x90, 0x19}, {0x19, 22, 16, 0x00, 0x00}}));

    sim.device->clearLog();
    camera.UpdateBlockingMask();  // nothing changed: nothing sent
    camera.ClearBlockingMask();
    camera.UpdateBlockingMask();  // right after a clear: nothing sent
    camera.EnableBlockingMask();
    camera.DisableBlockingMask();
    ASSERT_TRUE(camera.Sync());
    EXPECT_EQ(sim.frames(), (std::vector<camera_test::Bytes>{
                                {0x19, 21, 16, 0x40, 0x00}, {0x19, 21, 16, 0x80, 0x00}, {0x19, 21, 16, 0x00, 0x00}}));

    // The byte form: one byte per cell, bounded by the caller's size.
    std::vector<std::uint8_t> cells(214 * 160, 0);
    cells[5 * 214 + 7] = 1;
    EXPECT_EQ(camera.SetBlockingMask(cells), cells.size());
    std::vector<std::uint8_t> back(214 * 160 + 10, 0xAA);
    EXPECT_EQ(camera.GetBlockingMask(back), cells.size());
    EXPECT_EQ(back[5 * 214 + 7], 1);
    EXPECT_EQ(back[5 * 214 + 8], 0);
    EXPECT_EQ(back[214 * 160], 0xAA);
    EXPECT_EQ(camera.GetBlockingMask(std::span<std::uint8_t>(back).first(3)), 3u);
    camera.RemoveBlockingRectangle(21, 15, 21, 15);
    EXPECT_EQ(camera.GetBlockingMask(back), cells.size());
    EXPECT_EQ(back[5 * 214 + 7], 0);
}

TEST(CameraBlockingMask, OtherRevisionsAndNoConfigurationSendNothing)
{
    camera_test::SimCamera sim(camera_test::revision(6));
    Orvane::Camera& camera = *sim.camera;
    EXPECT_EQ(camera.BlockingMaskWidth(), 353);
    EXPECT_EQ(camera.BlockingMaskHeight(), 289);
    camera.AddBlockingRectangle(0, 0, 100, 100);
    EXPECT_EQ(camera.UpdateBlockingMask(), 0);
    camera.EnableBlockingMask();
    camera.ClearBlockingMask();
    std::vector<std::uint8_t> out(16, 9);
    EXPECT_EQ(camera.GetBlockingMask(out), 0u);
    ASSERT_TRUE(camera.Sync());
    EXPECT_TRUE(sim.frames().empty());

    // Before any configuration read there is no mask at all.
    simcam::Hub hub;
    Orvane::Camera fresh(hub, 5);
    EXPECT_EQ(fresh.BlockingMaskWidth(), 0);
    EXPECT_EQ(fresh.BlockingMaskHeight(), 0);
    fresh.AddBlockingRectangle(0, 0, 10, 10);
    EXPECT_EQ(fresh.UpdateBlockingMask(), 0);
    EXPECT_EQ(fresh.SetBlockingMask(out), 0u);
}

} // namespace
