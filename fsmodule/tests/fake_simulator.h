#pragma once
// A fake flight simulator for the module's tests: a function table whose
// entries record what the module calls, and a host that loads the module
// and drives it as the simulator does.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "fsmodule/sim_host.h"

namespace fake_simulator {

using fsmodule::Word;
using Event = std::pair<std::uint32_t, std::int32_t>;

struct Call {
    std::size_t entry;
    std::vector<Word> args;
    bool operator==(const Call&) const = default;
};

// What the module did to the simulator; one per process (the table holds
// plain function pointers).
class Recorder {
public:
    static Recorder& instance()
    {
        static Recorder r;
        return r;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
        calls_.clear();
    }
    void event(std::uint32_t id, std::uint32_t value)
    {
        std::lock_guard lock(mutex_);
        events_.emplace_back(id, static_cast<std::int32_t>(value));
    }
    void call(std::size_t entry, std::vector<Word> args)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({entry, std::move(args)});
    }
    std::vector<Event> events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<Call> calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Waits (bounded) until `pred(events)` holds.
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (pred(events()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return pred(events());
    }

private:
    std::mutex mutex_;
    std::vector<Event> events_;
    std::vector<Call> calls_;
};

template <std::size_t Entry>
Word Forward1(Word a, Word context)
{
    Recorder::instance().call(Entry, {a, context});
    return Entry;
}
template <std::size_t Entry>
Word Forward2(Word a, Word b, Word context)
{
    Recorder::instance().call(Entry, {a, b, context});
    return Entry;
}
inline void SendEvent(std::uint32_t id, std::uint32_t value) { Recorder::instance().event(id, value); }
inline void Callback(Word* block) { Recorder::instance().call(fsmodule::kSimCallback, {reinterpret_cast<Word>(block)}); }

template <typename Fn>
Word W(Fn fn)
{
    return reinterpret_cast<Word>(fn);
}

inline fsmodule::SimulatorHost::Table MakeTable()
{
    fsmodule::SimulatorHost::Table t{};
    t[24] = W(&Forward1<24>);
    t[25] = W(&Forward2<25>);
    t[26] = W(&Forward1<26>);
    t[27] = W(&Forward1<27>);
    t[28] = W(&Forward2<28>);
    t[29] = W(&Forward1<29>);
    t[31] = W(&Forward1<31>);
    t[fsmodule::kSimSendEvent] = W(&SendEvent);
    t[fsmodule::kSimCallback] = W(&Callback);
    return t;
}

inline bool Contains(const std::vector<Event>& events, Event e)
{
    for (const Event& x : events)
        if (x == e)
            return true;
    return false;
}

} // namespace fake_simulator
