#include "views/process_poker.h"

CProcessPoker::CProcessPoker(platform::ProcessSystem& system) : system_(system) {}

CProcessPoker::~CProcessPoker()
{
    Undo();
}

bool CProcessPoker::Attach(std::uint32_t pid)
{
    process_.reset();
    pid_ = pid;
    process_ = system_.open(static_cast<int>(pid));
    return process_ != nullptr;
}

void CProcessPoker::closeWhenGone()
{
    // A game that has exited keeps no handle: every later access fails at once.
    if (process_ && !process_->alive()) {
        process_.reset();
        pid_ = 0;
    }
}

bool CProcessPoker::Read(void* buffer, std::uint32_t address, std::uint32_t size)
{
    if (!process_)
        return false;
    if (process_->read(address, {static_cast<std::uint8_t*>(buffer), size}))
        return true;
    closeWhenGone();
    return false;
}

bool CProcessPoker::Write(const void* bytes, std::uint32_t address, std::uint32_t size)
{
    if (!process_)
        return false;
    if (process_->write(address, {static_cast<const std::uint8_t*>(bytes), size}))
        return true;
    closeWhenGone();
    return false;
}

bool CProcessPoker::Remember(std::uint32_t address, std::uint32_t size)
{
    Range range{address, size, std::vector<std::uint8_t>(size)};
    if (!Read(range.bytes.data(), address, size))
        return false;
    patches_.push_back(std::move(range));
    return true;
}

bool CProcessPoker::Snapshot(int slot, std::uint32_t address, std::uint32_t size)
{
    if (slot < 0 || slot >= kSnapshotSlots)
        return false;
    Range& s = snapshots_[static_cast<std::size_t>(slot)];
    s = Range{};
    Range taken{address, size, std::vector<std::uint8_t>(size)};
    if (size == 0 || !Read(taken.bytes.data(), address, size))
        return false;
    s = std::move(taken);
    return true;
}

bool CProcessPoker::RestoreSnapshot(int slot, bool keep)
{
    if (slot < 0 || slot >= kSnapshotSlots)
        return false;
    Range& s = snapshots_[static_cast<std::size_t>(slot)];
    if (s.size != 0 && process_) {
        if (!Write(s.bytes.data(), s.address, s.size))
            return false;
    }
    if (!keep)
        s = Range{};
    return true;
}

std::span<const std::uint8_t> CProcessPoker::GetSnapshot(int slot) const
{
    if (slot < 0 || slot >= kSnapshotSlots)
        return {};
    return snapshots_[static_cast<std::size_t>(slot)].bytes;
}

void CProcessPoker::Undo()
{
    if (!process_)
        return;
    // Newest first: a range remembered twice (patched over a patch) ends
    // with its first original bytes.
    for (auto it = patches_.rbegin(); it != patches_.rend(); ++it)
        Write(it->bytes.data(), it->address, it->size);
    patches_.clear();
    for (int i = 0; i < kSnapshotSlots; ++i)
        RestoreSnapshot(i, false);
}
