#pragma once
// Memory access to one game process for the view writers. Every range a
// writer remembers before patching and every snapshot it takes is written
// back by Undo (and so when the poker is destroyed), as long as the game
// still runs.
#include "platform/process.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CProcessPoker {
public:
    static constexpr int kSnapshotSlots = 10;

    explicit CProcessPoker(platform::ProcessSystem& system = platform::systemProcesses());
    virtual ~CProcessPoker();
    CProcessPoker(const CProcessPoker&) = delete;
    CProcessPoker& operator=(const CProcessPoker&) = delete;

    // Closes any open process and opens `pid`; true when opened.
    bool Attach(std::uint32_t pid);
    bool Read(void* buffer, std::uint32_t address, std::uint32_t size);
    bool Write(const void* bytes, std::uint32_t address, std::uint32_t size);
    // Keeps the current bytes of a range so that Undo writes them back.
    bool Remember(std::uint32_t address, std::uint32_t size);
    bool Snapshot(int slot, std::uint32_t address, std::uint32_t size);
    bool RestoreSnapshot(int slot, bool keep);
    // The slot's bytes; empty when the slot is empty.
    std::span<const std::uint8_t> GetSnapshot(int slot) const;
    void Undo();

    std::uint32_t processId() const { return pid_; }
    bool attached() const { return process_ != nullptr; }
    std::size_t rememberedCount() const { return patches_.size(); }

    template <typename T>
    bool ReadValue(std::uint32_t address, T& out)
    {
        return Read(&out, address, sizeof(T));
    }
    template <typename T>
    bool WriteValue(std::uint32_t address, const T& value)
    {
        return Write(&value, address, sizeof(T));
    }

private:
    struct Range {
        std::uint32_t address = 0;
        std::uint32_t size = 0;
        std::vector<std::uint8_t> bytes;
    };
    void closeWhenGone();

    platform::ProcessSystem& system_;
    std::unique_ptr<platform::ProcessHandle> process_;
    std::vector<Range> patches_;
    std::array<Range, kSnapshotSlots> snapshots_{};
    std::uint32_t pid_ = 0;
};
