#pragma once
// Access to another process's memory, the way a debugger-less game tool
// needs it: read and write at fixed addresses (code pages included), list
// the mapped regions, and tell whether the process still lives.
//
// The Linux backend reads with process_vm_readv, writes with pwrite on
// /proc/PID/mem (which ignores page protection, so code can be patched) and
// follows the process's life through a pidfd, which cannot be fooled by a
// reused pid. It opens and writes only processes of the same user: every
// uid of the target (real, effective, saved, file system) must be ours,
// checked when opening and again before every write and call.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MemoryRegion {
    std::uint64_t start = 0;
    std::uint64_t end = 0; // one past the last byte
    bool readable = false;
    bool writable = false;
    bool executable = false;
    std::string path; // the mapped file, empty for anonymous memory
};

// What a call made inside another process gave back.
struct RemoteCall {
    bool done = false;        // the call ran and returned
    std::uint64_t result = 0; // its return value
    std::string error;        // why it did not, in words for the user
};

// One opened process.
class ProcessHandle {
public:
    virtual ~ProcessHandle() = default;
    virtual int pid() const = 0;
    // The whole range or nothing: false on any short or failed transfer.
    virtual bool read(std::uint64_t address, std::span<std::uint8_t> out) = 0;
    virtual bool write(std::uint64_t address, std::span<const std::uint8_t> bytes) = 0;
    // False once the process has exited (also while it is a zombie).
    virtual bool alive() const = 0;
    virtual std::vector<MemoryRegion> regions() const = 0;
    // Loads the module at `path` inside the process as the process itself
    // would (the C library's dlopen, RTLD_NOW), on the process's main thread,
    // which then goes on where it was. The result is the module handle (0
    // when the load failed there). The Linux backend makes the call through
    // ptrace, so the system must allow this program to trace the process
    // (refused with the reason otherwise, the process untouched). A call
    // that has not returned within `limit` is reported as not done, and is
    // not cut short: the thread finishes it in the process's own time and
    // then goes back, by itself, to where it was stopped, with its registers,
    // extended state and blocked signals as they were (a load cut short
    // would leave the loader's lock held and the module half set up).
    virtual RemoteCall loadModule(const std::string& path, std::chrono::milliseconds limit) = 0;
};

// Where processes are found and opened.
class ProcessSystem {
public:
    virtual ~ProcessSystem() = default;
    // Null when the process does not exist, belongs to another user or may
    // not be accessed.
    virtual std::unique_ptr<ProcessHandle> open(int pid) = 0;
    // Pids of the live processes whose executable file name equals `name`,
    // ignoring case (ASCII), in ascending order.
    virtual std::vector<int> findByExecutable(std::string_view name) = 0;
    // File name (no folder) of a process's executable; empty when unknown.
    virtual std::string executableName(int pid) = 0;
    // Opens the first process found under an executable name.
    std::unique_ptr<ProcessHandle> openByExecutable(std::string_view name);
};

// The system's processes.
ProcessSystem& systemProcesses();

// ASCII case-insensitive equality, as file names are compared here.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// A process made of memory blocks, for tests. Blocks are copied in; reads
// and writes must fall inside one block; a protected block refuses writes
// unless `force` (as /proc/PID/mem would allow); a killed process refuses
// everything. A module load maps a block named by the path (or answers as
// the test says). Thread-safe.
class FakeProcess : public ProcessHandle {
public:
    explicit FakeProcess(int pid) : pid_(pid) {}
    void map(std::uint64_t address, std::span<const std::uint8_t> bytes, std::string path = {},
             bool readOnly = false);
    void map(std::uint64_t address, std::size_t size, std::string path = {});
    // Writes/reads through the test's back door (ignores kill and failures).
    void poke(std::uint64_t address, std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> peek(std::uint64_t address, std::size_t size) const;
    void kill();
    // The next `count` writes fail (the process stays alive).
    void failWrites(int count);
    int writeCount() const;
    // Answers the next module loads instead of mapping the module.
    void answerLoads(std::function<RemoteCall(const std::string& path)> answer);
    std::vector<std::string> loadRequests() const;

    int pid() const override { return pid_; }
    bool read(std::uint64_t address, std::span<std::uint8_t> out) override;
    bool write(std::uint64_t address, std::span<const std::uint8_t> bytes) override;
    bool alive() const override;
    std::vector<MemoryRegion> regions() const override;
    RemoteCall loadModule(const std::string& path, std::chrono::milliseconds limit) override;

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::string path;
        bool readOnly = false;
    };
    Block* find(std::uint64_t address, std::size_t size, std::uint64_t& offset);
    const Block* find(std::uint64_t address, std::size_t size, std::uint64_t& offset) const;

    int pid_;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, Block> blocks_;
    bool killed_ = false;
    int failWrites_ = 0;
    int writes_ = 0;
    std::function<RemoteCall(const std::string&)> answerLoads_;
    std::vector<std::string> loadRequests_;
};

// Hands out shared FakeProcess objects by pid and name.
class FakeProcessSystem : public ProcessSystem {
public:
    std::shared_ptr<FakeProcess> add(int pid, std::string executable);
    std::unique_ptr<ProcessHandle> open(int pid) override;
    std::vector<int> findByExecutable(std::string_view name) override;
    std::string executableName(int pid) override;

private:
    std::mutex mutex_;
    std::map<int, std::pair<std::string, std::shared_ptr<FakeProcess>>> processes_;
};

} // namespace platform
