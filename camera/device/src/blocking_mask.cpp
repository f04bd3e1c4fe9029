#include "camera/blocking_mask.h"

#include <algorithm>

namespace Orvane {

namespace {

int ceilDiv(int a, int b)
{
    return a <= 0 ? 0 : (a + b - 1) / b;
}

// Floor and ceiling divisions that stay right for negative pixels.
int floorDiv(int a, int b)
{
    const int q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
int ceilDivSigned(int a, int b)
{
    const int q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

} // namespace

BlockingMask::BlockingMask(int width, int height, int cellSize)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), cellSize_(std::max(cellSize, 1))
{
    columns_ = ceilDiv(width_, cellSize_);
    rows_ = ceilDiv(height_, cellSize_);
    rowBytes_ = ceilDiv(columns_, 8);
    const std::size_t size = static_cast<std::size_t>(rowBytes_) * static_cast<std::size_t>(rows_);
    sent_.assign(size, 0);
    user_.assign(size, 0);
    effective_.assign(size, 0);
}

void BlockingMask::Put(Plane& p, int rowBytes, int x, int y, bool on)
{
    std::uint8_t& byte = p[static_cast<std::size_t>(y * rowBytes + x / 8)];
    const auto bit = static_cast<std::uint8_t>(1u << (x % 8));
    byte = on ? static_cast<std::uint8_t>(byte | bit) : static_cast<std::uint8_t>(byte & ~bit);
}

std::uint32_t BlockingMask::Word(const Plane& p, int r, int j) const
{
    std::uint32_t word = 0;
    for (int k = 0; k < WordCells; ++k) {
        const int x = j * WordCells + k;
        if (x < columns_ && Get(p, rowBytes_, x, r))
            word |= FirstCellBit >> k;
    }
    return word;
}

void BlockingMask::MarkRectangle(int x1, int y1, int x2, int y2, bool on)
{
    const int c0 = std::max(floorDiv(x1, cellSize_), 0), r0 = std::max(floorDiv(y1, cellSize_), 0);
    const int c1 = std::min(ceilDivSigned(x2, cellSize_), columns_ - 1);
    const int r1 = std::min(ceilDivSigned(y2, cellSize_), rows_ - 1);
    for (int y = r0; y <= r1; ++y)
        for (int x = c0; x <= c1; ++x)
            Put(user_, rowBytes_, x, y, on);
}

void BlockingMask::AddRectangle(int, int, int, int) {}
void BlockingMask::RemoveRectangle(int, int, int, int) {}

void BlockingMask::SetCell(int x, int y, bool blocked)
{
    std::lock_guard lock(mutex_);
    if (OnGrid(x, y))
        Put(user_, rowBytes_, x, y, blocked);
}

bool BlockingMask::IsBlocked(int, int) const { return false; }
int BlockingMask::Update() { return 0; }
void BlockingMask::Clear() {}
void BlockingMask::Enable() {}
void BlockingMask::Disable() {}
std::size_t BlockingMask::Read(std::span<std::uint8_t>) const { return 0; }
std::size_t BlockingMask::Write(std::span<const std::uint8_t>) { return 0; }

bool BlockingMask::UserCell(int x, int y) const
{
    std::lock_guard lock(mutex_);
    return OnGrid(x, y) && Get(user_, rowBytes_, x, y);
}
bool BlockingMask::SentCell(int x, int y) const
{
    std::lock_guard lock(mutex_);
    return OnGrid(x, y) && Get(sent_, rowBytes_, x, y);
}
bool BlockingMask::EffectiveCell(int x, int y) const
{
    std::lock_guard lock(mutex_);
    return OnGrid(x, y) && Get(effective_, rowBytes_, x, y);
}

BridgedBlockingMask::BridgedBlockingMask(int width, int height, cCameraBridge& bridge)
    : BlockingMask(width, height, Cell), bridge_(bridge)
{
}

void BridgedBlockingMask::AddRectangle(int x1, int y1, int x2, int y2)
{
    std::lock_guard lock(mutex_);
    MarkRectangle(x1, y1, x2, y2, true);
}

void BridgedBlockingMask::RemoveRectangle(int x1, int y1, int x2, int y2)
{
    std::lock_guard lock(mutex_);
    MarkRectangle(x1, y1, x2, y2, false);
}

bool BridgedBlockingMask::IsBlocked(int px, int py) const
{
    std::lock_guard lock(mutex_);
    const int x = floorDiv(px, cellSize_), y = floorDiv(py, cellSize_);
    return OnGrid(x, y) && Get(effective_, rowBytes_, x, y);
}

int BridgedBlockingMask::Update()
{
    std::lock_guard lock(mutex_);
    const int words = WordsPerRow();
    for (int r = 0; r < rows_; ++r) {
        for (int j = 0; j < words; ++j) {
            const std::uint32_t user = Word(user_, r, j);
            if (user != Word(sent_, r, j))
                bridge_.WriteMaskWord(static_cast<std::uint32_t>(r * words + j), user);
        }
    }
    sent_ = user_;
    effective_ = sent_;
    // Grow by one cell round every set cell that is not on the border.
    for (int y = 1; y < rows_ - 1; ++y)
        for (int x = 1; x < columns_ - 1; ++x)
            if (Get(sent_, rowBytes_, x, y))
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        Put(effective_, rowBytes_, x + dx, y + dy, true);
    return rows_ - 1;
}

void BridgedBlockingMask::Clear()
{
    std::lock_guard lock(mutex_);
    bridge_.ClearMask();
    std::fill(sent_.begin(), sent_.end(), std::uint8_t{0});
    std::fill(user_.begin(), user_.end(), std::uint8_t{0});
    std::fill(effective_.begin(), effective_.end(), std::uint8_t{0});
}

void BridgedBlockingMask::Enable()
{
    std::lock_guard lock(mutex_);
    bridge_.EnableMask();
}

void BridgedBlockingMask::Disable()
{
    std::lock_guard lock(mutex_);
    bridge_.DisableMask();
}

std::size_t BridgedBlockingMask::Read(std::span<std::uint8_t> bytes) const
{
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_));
    for (std::size_t i = 0; i < n; ++i) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(columns_));
        const int y = static_cast<int>(i / static_cast<std::size_t>(columns_));
        bytes[i] = Get(user_, rowBytes_, x, y) ? 1 : 0;
    }
    return n;
}

std::size_t BridgedBlockingMask::Write(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_));
    for (std::size_t i = 0; i < n; ++i) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(columns_));
        const int y = static_cast<int>(i / static_cast<std::size_t>(columns_));
        Put(user_, rowBytes_, x, y, bytes[i] != 0);
    }
    return n;
}

std::unique_ptr<BlockingMask> MakeBlockingMask(int revision, int width, int height, cCameraBridge* bridge)
{
    if (revision == 7 && bridge != nullptr)
        return std::make_unique<BridgedBlockingMask>(width, height, *bridge);
    return std::make_unique<BlockingMask>(width, height, 1);
}

} // namespace Orvane
