#pragma once
// The frames the message sockets carry between processes of one session.
// One connection carries one request; a send is answered with one reply.
// Both ends run on the same machine and build, so a frame is the struct's
// bytes; what arrives is still read only through the parsers below, which
// take exactly one whole frame and nothing else.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace platform::wire {

inline constexpr std::uint32_t kMagic = 0x4f564d31; // "OVM1"
inline constexpr std::uint32_t kSend = 1;
inline constexpr std::uint32_t kPost = 2;

struct Request {
    std::uint32_t magic;
    std::uint32_t kind; // kSend or kPost
    std::uint32_t hwnd;
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
};
struct Reply {
    std::uint32_t magic;
    std::uint32_t handled;
    std::int64_t result;
};
static_assert(sizeof(Request) == 32 && sizeof(Reply) == 16, "the frames have no padding");

// The largest frame a reader takes in; anything longer is cut by the socket
// (and refused, as its length is wrong).
inline constexpr std::size_t kMaxFrame = 64;

// A request frame: exactly sizeof(Request) bytes, the magic, a known kind
// and a window handle. nullopt for anything else.
inline std::optional<Request> parseRequest(std::span<const std::uint8_t> frame)
{
    if (frame.size() != sizeof(Request))
        return std::nullopt;
    Request r;
    std::memcpy(&r, frame.data(), sizeof r);
    if (r.magic != kMagic || (r.kind != kSend && r.kind != kPost) || r.hwnd == 0)
        return std::nullopt;
    return r;
}

// A reply frame: exactly sizeof(Reply) bytes with the magic and a handled
// flag of 0 or 1.
inline std::optional<Reply> parseReply(std::span<const std::uint8_t> frame)
{
    if (frame.size() != sizeof(Reply))
        return std::nullopt;
    Reply r;
    std::memcpy(&r, frame.data(), sizeof r);
    if (r.magic != kMagic || r.handled > 1)
        return std::nullopt;
    return r;
}

} // namespace platform::wire
