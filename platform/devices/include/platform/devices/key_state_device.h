#pragma once
// A polled key-state device: watches up to ten keys in slots, each set by a
// one-byte key code, and answers per slot whether its key is down. It is
// driven by numbered requests, as the keyboard detector's driver protocol
// has them; the backends are XQueryKeymap over an X display and a fake.
//
// Requests (code -> effect; the answer is the returned count):
//   228 start, 216 stop, 215 key block (10 bytes: one key code per slot),
//   per slot: query (answer 1 when enabled and its key is down, else 0),
//   enable, disable, set key (10-byte block; the slot's byte is taken).
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace platform::devices {

inline constexpr int kKeySlots = 10;
inline constexpr std::uint32_t kRequestStart = 228;
inline constexpr std::uint32_t kRequestStop = 216;
inline constexpr std::uint32_t kRequestKeyBlock = 215;

// Request codes of slots 0..7 (slots 8 and 9 have none).
struct SlotRequests {
    std::uint32_t query, enable, disable, setKey, unused;
};
inline constexpr std::array<SlotRequests, 8> kSlotRequests{{
    {220, 236, 240, 225, 217},
    {222, 237, 241, 226, 218},
    {224, 238, 242, 227, 219},
    {235, 239, 243, 233, 234},
    {247, 248, 249, 250, 246},
    {252, 254, 255, 253, 251},
    {257, 259, 260, 258, 256},
    {262, 264, 265, 263, 261},
}};

class KeyStateDevice {
public:
    virtual ~KeyStateDevice() = default;
    // False when the device cannot be reached (no display).
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // One request; no value when the device is closed or the code unknown.
    virtual std::optional<std::uint32_t> request(std::uint32_t code, std::span<const std::uint8_t> input) = 0;
    // Key code of a virtual key and back (0 when there is none).
    virtual std::uint8_t keyFromVk(std::uint32_t vk) = 0;
    virtual std::uint32_t vkFromKey(std::uint8_t key) = 0;
};

// The request protocol over a source of key states; backends give the states.
class KeySlotDevice : public KeyStateDevice {
public:
    std::optional<std::uint32_t> request(std::uint32_t code, std::span<const std::uint8_t> input) override;

protected:
    // Whether the key with this code is down now; called with the device open.
    virtual bool keyDown(std::uint8_t key) = 0;
    void resetSlots();

private:
    std::mutex mutex_;
    bool started_ = false;
    std::array<std::uint8_t, kKeySlots> keys_{};
    std::array<bool, kKeySlots> enabled_{};
};

// XQueryKeymap on `display` (empty: $DISPLAY); key codes are X key codes.
std::unique_ptr<KeyStateDevice> makeX11KeyStateDevice(std::string display = {});

// The test double: the key code of a virtual key is the key's own low byte;
// the test presses and releases key codes and can make open() fail.
class FakeKeyStateDevice final : public KeySlotDevice {
public:
    bool open() override;
    void close() override;
    bool isOpen() const override;
    std::optional<std::uint32_t> request(std::uint32_t code, std::span<const std::uint8_t> input) override;
    std::uint8_t keyFromVk(std::uint32_t vk) override { return static_cast<std::uint8_t>(vk & 0xFF); }
    std::uint32_t vkFromKey(std::uint8_t key) override { return key; }

    void setAvailable(bool available);
    void press(std::uint8_t key);
    void release(std::uint8_t key);
    // Every request code sent, in order.
    std::vector<std::uint32_t> requests() const;
    void clearRequests();
    int opens() const;

protected:
    bool keyDown(std::uint8_t key) override;

private:
    mutable std::mutex mutex_;
    bool available_ = true;
    bool open_ = false;
    int opens_ = 0;
    std::set<std::uint8_t> down_;
    std::vector<std::uint32_t> requests_;
};

} // namespace platform::devices
