#pragma once
// Hands items from a producer thread to a consumer thread without copying
// and without allocating after construction. Every item lives on the free
// list (ready to be filled) or the filled list (waiting, oldest first), or is
// out with a caller between taking and handing back.
//
// Producer: TakeFree, fill, Append. Consumer: Wait, TakeFilled, read, GiveBack.
// Each list has its own lock and no operation holds both, so a producer
// taking a free item never blocks a consumer taking a filled one. A
// manual-reset event is set while the filled list is not empty; it is
// changed only under the filled lock.
#include "camera/exceptions.h"
#include "platform/sync.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Orvane {

template <class T>
class DoubleBuffer {
public:
    static constexpr std::uint32_t NodeTag = 0xFEED0123u;

    // `count` default-constructed items on the free list. `argument` is
    // stored only.
    explicit DoubleBuffer(int count = 0, int argument = 0) : capacity_(count), argument_(argument)
    {
        free_.prev = free_.next = &free_;
        filled_.prev = filled_.next = &filled_;
        for (int i = 0; i < count; ++i)
            Emplace();
    }

    DoubleBuffer(const DoubleBuffer&) = delete;
    DoubleBuffer& operator=(const DoubleBuffer&) = delete;

    // Wakes every waiter and waits for them to leave Wait before the items go.
    ~DoubleBuffer()
    {
        closing_.store(true, std::memory_order_release);
        {
            std::lock_guard lock(filledLock_);
            event_.set();
        }
        while (waiters_.load(std::memory_order_acquire) != 0)
            std::this_thread::yield();
    }

    // Adds one more item to the free list, constructed from `args` (or a
    // copy of an item). Construction-time only: it allocates, and must not
    // run while other threads use the buffer.
    template <class... Args>
    T* Emplace(Args&&... args)
    {
        auto node = std::make_unique<Node>(std::forward<Args>(args)...);
        Node* raw = node.get();
        {
            std::lock_guard lock(freeLock_);
            auto at = std::lower_bound(nodes_.begin(), nodes_.end(), raw, ByItemAddress);
            nodes_.insert(at, std::move(node));
            raw->state.store(OnFree, std::memory_order_relaxed);
            LinkTail(free_, raw);
            freeCount_.fetch_add(1, std::memory_order_relaxed);
        }
        return &raw->item;
    }
    T* Add() { return Emplace(); }
    T* Add(const T& item)
    {
        T* added = Emplace(item);
        NodeOf(added)->source = &item;
        return added;
    }

    // The oldest free item, or null when none is free.
    T* TakeFree()
    {
        std::lock_guard lock(freeLock_);
        Node* n = Unlink(free_);
        if (n == nullptr)
            return nullptr;
        freeCount_.fetch_sub(1, std::memory_order_relaxed);
        n->state.store(Out, std::memory_order_release);
        return &n->item;
    }

    // Queues an item taken from this buffer. Throws OVDoubleBufferException
    // for an item that is not out of this buffer (foreign, or already queued
    // or given back).
    void Append(T* item)
    {
        Node* n = Checkout(item, OnFilled, "DoubleBuffer::Append - item is not out of this buffer.");
        producer_.store(platform::currentProcessor(), std::memory_order_relaxed);
        std::lock_guard lock(filledLock_);
        LinkTail(filled_, n);
        if (filledCount_.fetch_add(1, std::memory_order_release) == 0)
            event_.set();
    }

    // The oldest queued item, or null when none is queued.
    T* TakeFilled()
    {
        std::lock_guard lock(filledLock_);
        Node* n = Unlink(filled_);
        if (n == nullptr)
            return nullptr;
        if (filledCount_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            event_.reset();
        n->state.store(Out, std::memory_order_release);
        return &n->item;
    }

    // The oldest queued item when `accept` (called under the filled lock; keep
    // it cheap) takes it, else null and the item stays queued.
    template <class Pred>
    T* TakeFilledIf(Pred&& accept)
    {
        std::lock_guard lock(filledLock_);
        if (filled_.next == &filled_ || !accept(static_cast<const T&>(static_cast<Node*>(filled_.next)->item)))
            return nullptr;
        Node* n = Unlink(filled_);
        if (filledCount_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            event_.reset();
        n->state.store(Out, std::memory_order_release);
        return &n->item;
    }

    // Returns an item to the free list (no event). Throws
    // OVDoubleBufferException as Append does.
    void GiveBack(T* item)
    {
        Node* n = Checkout(item, OnFree, "DoubleBuffer::GiveBack - item is not out of this buffer.");
        std::lock_guard lock(freeLock_);
        LinkTail(free_, n);
        freeCount_.fetch_add(1, std::memory_order_relaxed);
    }

    // 0 at once while items are queued; otherwise waits up to `ms` for one
    // (platform::kInfinite waits until one comes or the buffer is destroyed)
    // and returns 0, or 258 on time-out.
    std::uint32_t Wait(std::uint32_t ms)
    {
        if (filledCount_.load(std::memory_order_acquire) > 0)
            return platform::kWaitObject0;
        waiters_.fetch_add(1, std::memory_order_acq_rel);
        std::uint32_t result = platform::kWaitObject0;
        if (!closing_.load(std::memory_order_acquire))
            result = event_.wait(ms);
        waiters_.fetch_sub(1, std::memory_order_acq_rel);
        return result;
    }

    // Whether `item` is one of this buffer's items.
    bool Owns(const T* item) const { return Find(item) != nullptr; }

    // The item a node was copied from at construction (null for the others).
    const T* GetSource(const T* item) const
    {
        const Node* n = Find(item);
        return n ? n->source : nullptr;
    }

    int GetCapacity() const { return capacity_; }
    int GetArgument() const { return argument_; }
    int GetFreeCount() const { return freeCount_.load(std::memory_order_relaxed); }
    int GetFilledCount() const { return filledCount_.load(std::memory_order_acquire); }
    int GetItemCount() const
    {
        std::lock_guard lock(freeLock_);
        return static_cast<int>(nodes_.size());
    }
    // The processor the producer ran on at its last Append (-1 before the
    // first): where a consumer that follows it (platform::ProcessorFollower)
    // is woken most cheaply.
    int ProducerProcessor() const { return producer_.load(std::memory_order_relaxed); }
    // Whether the filled event is set (for tests and diagnostics).
    bool IsFilledEventSet() const { return event_.isSet(); }

private:
    enum State : std::uint8_t { OnFree, OnFilled, Out };

    struct Links {
        Links* next = nullptr;
        Links* prev = nullptr;
    };
    struct Node : Links {
        template <class... Args>
        explicit Node(Args&&... args) : item(std::forward<Args>(args)...)
        {
        }
        T item;
        const T* source = nullptr;
        std::uint32_t tag = NodeTag;
        std::atomic<std::uint8_t> state{Out};
    };

    static bool ByItemAddress(const std::unique_ptr<Node>& a, const Node* b)
    {
        return std::less<const T*>()(&a->item, &b->item);
    }

    // The node of an item, found by address among this buffer's own nodes:
    // a pointer that did not come out of this buffer is never dereferenced.
    Node* Find(const T* item) const
    {
        if (item == nullptr)
            return nullptr;
        // The node list only changes at construction time (Emplace).
        auto at = std::lower_bound(nodes_.begin(), nodes_.end(), item,
                                   [](const std::unique_ptr<Node>& a, const T* p) {
                                       return std::less<const T*>()(&a->item, p);
                                   });
        if (at == nodes_.end() || &(*at)->item != item || (*at)->tag != NodeTag)
            return nullptr;
        return at->get();
    }
    Node* NodeOf(const T* item) const { return Find(item); }

    Node* Checkout(T* item, State to, const char* error)
    {
        Node* n = Find(item);
        std::uint8_t expected = Out;
        if (n == nullptr || !n->state.compare_exchange_strong(expected, to, std::memory_order_acq_rel))
            throw OVDoubleBufferException(std::string(error));
        return n;
    }

    static void LinkTail(Links& head, Node* n)
    {
        n->prev = head.prev;
        n->next = &head;
        head.prev->next = n;
        head.prev = n;
    }
    static Node* Unlink(Links& head)
    {
        Links* first = head.next;
        if (first == &head)
            return nullptr;
        head.next = first->next;
        first->next->prev = &head;
        first->next = first->prev = nullptr;
        return static_cast<Node*>(first);
    }

    const int capacity_;
    std::atomic<int> freeCount_{0};
    std::atomic<int> filledCount_{0};
    const int argument_;
    std::mutex filledLock_;
    mutable std::mutex freeLock_;
    Links free_;
    Links filled_;
    platform::Event event_{platform::Event::Reset::Manual, false};
    std::vector<std::unique_ptr<Node>> nodes_;  // sorted by item address
    std::atomic<int> waiters_{0};
    std::atomic<bool> closing_{false};
    std::atomic<int> producer_{-1};
};

class Frame;
struct TrackedCoordinate;

} // namespace Orvane

// Consumer operations for callers that reach the buffers through plain
// functions. The acquire functions take the oldest queued item (null when
// none is queued); the release functions give an item back (they throw
// OVDoubleBufferException for an item that is not out of that buffer).
extern "C" {
Orvane::Frame* AcquireCameraBuffer(Orvane::DoubleBuffer<Orvane::Frame>* buffer);
Orvane::TrackedCoordinate* AcquireTrackedBuffer(Orvane::DoubleBuffer<Orvane::TrackedCoordinate>* buffer);
void ReleaseCameraBuffer(Orvane::DoubleBuffer<Orvane::Frame>* buffer, Orvane::Frame* item);
void ReleaseTrackedBuffer(Orvane::DoubleBuffer<Orvane::TrackedCoordinate>* buffer, Orvane::TrackedCoordinate* item);
}
