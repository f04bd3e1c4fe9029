#include "platform/process.h"

#include <algorithm>

namespace platform {

void FakeProcess::map(std::uint64_t address, std::span<const std::uint8_t> bytes, std::string path,
                      bool readOnly)
{
    std::lock_guard lock(mutex_);
    blocks_[address] = Block{{bytes.begin(), bytes.end()}, std::move(path), readOnly};
}

void FakeProcess::map(std::uint64_t address, std::size_t size, std::string path)
{
    std::vector<std::uint8_t> zeros(size);
    map(address, zeros, std::move(path));
}

FakeProcess::Block* FakeProcess::find(std::uint64_t address, std::size_t size, std::uint64_t& offset)
{
    auto it = blocks_.upper_bound(address);
    if (it == blocks_.begin())
        return nullptr;
    --it;
    offset = address - it->first;
    if (offset + size > it->second.bytes.size())
        return nullptr;
    return &it->second;
}

const FakeProcess::Block* FakeProcess::find(std::uint64_t address, std::size_t size,
                                            std::uint64_t& offset) const
{
    return const_cast<FakeProcess*>(this)->find(address, size, offset);
}

void FakeProcess::poke(std::uint64_t address, std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    std::uint64_t offset = 0;
    if (Block* b = find(address, bytes.size(), offset))
        std::copy(bytes.begin(), bytes.end(), b->bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::vector<std::uint8_t> FakeProcess::peek(std::uint64_t address, std::size_t size) const
{
    std::lock_guard lock(mutex_);
    std::uint64_t offset = 0;
    const Block* b = find(address, size, offset);
    if (!b)
        return {};
    auto first = b->bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    return {first, first + static_cast<std::ptrdiff_t>(size)};
}

void FakeProcess::kill()
{
    std::lock_guard lock(mutex_);
    killed_ = true;
}

void FakeProcess::failWrites(int count)
{
    std::lock_guard lock(mutex_);
    failWrites_ = count;
}

int FakeProcess::writeCount() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

bool FakeProcess::read(std::uint64_t address, std::span<std::uint8_t> out)
{
    std::lock_guard lock(mutex_);
    std::uint64_t offset = 0;
    const Block* b = killed_ ? nullptr : find(address, out.size(), offset);
    if (!b)
        return false;
    std::copy_n(b->bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

bool FakeProcess::write(std::uint64_t address, std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    if (killed_)
        return false;
    if (failWrites_ > 0) {
        --failWrites_;
        return false;
    }
    std::uint64_t offset = 0;
    Block* b = find(address, bytes.size(), offset);
    if (!b)
        return false;
    std::copy(bytes.begin(), bytes.end(), b->bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    ++writes_;
    return true;
}

bool FakeProcess::alive() const
{
    std::lock_guard lock(mutex_);
    return !killed_;
}

std::vector<MemoryRegion> FakeProcess::regions() const
{
    std::lock_guard lock(mutex_);
    std::vector<MemoryRegion> out;
    for (const auto& [address, block] : blocks_)
        out.push_back({address, address + block.bytes.size(), true, !block.readOnly, false, block.path});
    return out;
}

void FakeProcess::answerLoads(std::function<RemoteCall(const std::string& path)> answer)
{
    std::lock_guard lock(mutex_);
    answerLoads_ = std::move(answer);
}

std::vector<std::string> FakeProcess::loadRequests() const
{
    std::lock_guard lock(mutex_);
    return loadRequests_;
}

RemoteCall FakeProcess::loadModule(const std::string& path, std::chrono::milliseconds)
{
    std::function<RemoteCall(const std::string&)> answer;
    {
        std::lock_guard lock(mutex_);
        if (killed_)
            return {false, 0, "the process has ended"};
        loadRequests_.push_back(path);
        answer = answerLoads_;
    }
    if (answer)
        return answer(path);
    // Mapped above everything else, as a loader would place it.
    std::uint64_t at = 0x7F0000000000;
    {
        std::lock_guard lock(mutex_);
        if (!blocks_.empty())
            at = std::max(at, blocks_.rbegin()->first + blocks_.rbegin()->second.bytes.size() + 0x1000);
    }
    map(at, 0x1000, path);
    return {true, at, {}};
}

namespace {

// An opened handle on a shared fake: the test keeps its own reference.
class FakeHandle : public ProcessHandle {
public:
    explicit FakeHandle(std::shared_ptr<FakeProcess> p) : p_(std::move(p)) {}
    int pid() const override { return p_->pid(); }
    bool read(std::uint64_t a, std::span<std::uint8_t> out) override { return p_->read(a, out); }
    bool write(std::uint64_t a, std::span<const std::uint8_t> b) override { return p_->write(a, b); }
    bool alive() const override { return p_->alive(); }
    std::vector<MemoryRegion> regions() const override { return p_->regions(); }
    RemoteCall loadModule(const std::string& path, std::chrono::milliseconds limit) override
    {
        return p_->loadModule(path, limit);
    }

private:
    std::shared_ptr<FakeProcess> p_;
};

} // namespace

std::shared_ptr<FakeProcess> FakeProcessSystem::add(int pid, std::string executable)
{
    std::lock_guard lock(mutex_);
    auto process = std::make_shared<FakeProcess>(pid);
    processes_[pid] = {std::move(executable), process};
    return process;
}

std::unique_ptr<ProcessHandle> FakeProcessSystem::open(int pid)
{
    std::lock_guard lock(mutex_);
    auto it = processes_.find(pid);
    if (it == processes_.end() || !it->second.second->alive())
        return nullptr;
    return std::make_unique<FakeHandle>(it->second.second);
}

std::vector<int> FakeProcessSystem::findByExecutable(std::string_view name)
{
    std::lock_guard lock(mutex_);
    std::vector<int> pids;
    for (const auto& [pid, entry] : processes_)
        if (entry.second->alive() && equalsIgnoreCase(entry.first, name))
            pids.push_back(pid);
    return pids;
}

std::string FakeProcessSystem::executableName(int pid)
{
    std::lock_guard lock(mutex_);
    auto it = processes_.find(pid);
    return it == processes_.end() ? std::string{} : it->second.first;
}

} // namespace platform
