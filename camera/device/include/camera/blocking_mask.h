#pragma once
// Areas of the camera image to ignore: a grid of square cells over the
// camera window. On hardware revision 7 the camera's FPGA applies the mask;
// the library keeps three bit planes (sent, user, effective) and writes only
// the 18-bit words that changed. On the other revisions the mask keeps the
// caller's cells and blocks nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace Orvane {

// The camera's mask registers, as the camera bridge writes them.
class cCameraBridge {
public:
    virtual ~cCameraBridge() = default;
    // One 18-bit mask word at a word address.
    virtual void WriteMaskWord(std::uint32_t address, std::uint32_t value) = 0;
    virtual void ClearMask() = 0;    // register 21 := 0x4000
    virtual void EnableMask() = 0;   // register 21 := 0x8000
    virtual void DisableMask() = 0;  // register 21 := 0
};

class BlockingMask {
public:
    static constexpr int WordCells = 18;
    static constexpr std::uint32_t FirstCellBit = 0x20000;

    // width x height pixels in cells of cellSize x cellSize.
    BlockingMask(int width, int height, int cellSize = 1);
    BlockingMask(const BlockingMask&) = delete;
    BlockingMask& operator=(const BlockingMask&) = delete;
    virtual ~BlockingMask() = default;

    virtual void AddRectangle(int x1, int y1, int x2, int y2);
    virtual void RemoveRectangle(int x1, int y1, int x2, int y2);
    // Sets or clears one cell of the user plane (off-grid cells are skipped).
    virtual void SetCell(int x, int y, bool blocked);
    // Whether the pixel lies in a blocked cell of the effective plane.
    virtual bool IsBlocked(int px, int py) const;
    // Sends the changed words; rows - 1 for a mask that sends, else 0.
    virtual int Update();
    virtual void Clear();
    virtual void Enable();
    virtual void Disable();
    // One byte per cell, row by row (non-zero = blocked). At most
    // min(size, columns x rows) bytes are read or written; the count is
    // returned.
    virtual std::size_t Read(std::span<std::uint8_t> bytes) const;
    virtual std::size_t Write(std::span<const std::uint8_t> bytes);

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    int RowBytes() const { return rowBytes_; }
    int CellSize() const { return cellSize_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int WordsPerRow() const { return (columns_ + WordCells - 1) / WordCells; }

    // Plane probes (tests and diagnostics).
    bool UserCell(int x, int y) const;
    bool SentCell(int x, int y) const;
    bool EffectiveCell(int x, int y) const;

protected:
    using Plane = std::vector<std::uint8_t>;

    bool OnGrid(int x, int y) const { return x >= 0 && y >= 0 && x < columns_ && y < rows_; }
    static bool Get(const Plane& p, int rowBytes, int x, int y)
    {
        return (p[static_cast<std::size_t>(y * rowBytes + x / 8)] & (1u << (x % 8))) != 0;
    }
    static void Put(Plane& p, int rowBytes, int x, int y, bool on);
    // The 18 cells of word j of row r in one plane, first cell highest.
    std::uint32_t Word(const Plane& p, int r, int j) const;
    // Sets every cell of the rectangle's cells in the user plane to `on`.
    void MarkRectangle(int x1, int y1, int x2, int y2, bool on);

    mutable std::mutex mutex_;  // the camera's reply thread and callers may meet
    Plane sent_;
    Plane user_;
    Plane effective_;
    int width_;
    int height_;
    int cellSize_;
    int columns_;
    int rows_;
    int rowBytes_;
};

// The revision-7 mask: every operation acts, and updates go through the bridge.
class BridgedBlockingMask final : public BlockingMask {
public:
    static constexpr int Cell = 3;

    BridgedBlockingMask(int width, int height, cCameraBridge& bridge);

    void AddRectangle(int x1, int y1, int x2, int y2) override;
    void RemoveRectangle(int x1, int y1, int x2, int y2) override;
    bool IsBlocked(int px, int py) const override;
    int Update() override;
    void Clear() override;
    void Enable() override;
    void Disable() override;
    std::size_t Read(std::span<std::uint8_t> bytes) const override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;

private:
    cCameraBridge& bridge_;
};

// The mask a camera of `revision` gets for its window: bridged on revision 7
// (when a bridge is given), plain otherwise.
std::unique_ptr<BlockingMask> MakeBlockingMask(int revision, int width, int height, cCameraBridge* bridge);

} // namespace Orvane
