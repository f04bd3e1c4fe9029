#pragma once
// A value published by one writer at a time and read whole by any thread
// without a lock: the writer bumps a sequence number around the store, a
// reader retries until it saw the same even number before and after. Every
// word is itself atomic, so a torn read is detected, never undefined.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

template <class T>
class CSeqLock {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

public:
    CSeqLock() { Store(T{}); }
    explicit CSeqLock(const T& value) { Store(value); }

    // Writers must not overlap (the caller serialises them).
    void Store(const T& value)
    {
        std::array<std::uint64_t, kWords> words{};
        std::memcpy(words.data(), &value, sizeof(T));
        const std::uint32_t s = sequence_.load(std::memory_order_relaxed);
        sequence_.store(s + 1, std::memory_order_relaxed);
        // Release per word keeps the odd number ahead of every word.
        for (std::size_t i = 0; i < kWords; ++i)
            words_[i].store(words[i], std::memory_order_release);
        sequence_.store(s + 2, std::memory_order_release);
    }

    T Load() const
    {
        std::array<std::uint64_t, kWords> words{};
        for (unsigned attempt = 0;; ++attempt) {
            const std::uint32_t before = sequence_.load(std::memory_order_acquire);
            if ((before & 1u) == 0) {
                // Acquire per word keeps the second look at the number behind them.
                for (std::size_t i = 0; i < kWords; ++i)
                    words[i] = words_[i].load(std::memory_order_acquire);
                if (sequence_.load(std::memory_order_relaxed) == before)
                    break;
            }
            if (attempt > 64)
                std::this_thread::yield();
        }
        T value;
        std::memcpy(&value, words.data(), sizeof(T));
        return value;
    }

private:
    std::atomic<std::uint32_t> sequence_{0};
    std::array<std::atomic<std::uint64_t>, kWords> words_{};
};
