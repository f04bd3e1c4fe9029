// Any bytes, as a frame read from a message socket: the parsers take only a
// whole frame of the exact length, and what they take is exactly what a
// sender of this build would have written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "../src/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace platform::wire;
    const std::span<const std::uint8_t> frame(data, size);
    if (const auto request = parseRequest(frame)) {
        if (size != sizeof(Request) || std::memcmp(&*request, data, size) != 0)
            std::abort();
        if (request->magic != kMagic || (request->kind != kSend && request->kind != kPost) || request->hwnd == 0)
            std::abort();
    }
    if (const auto reply = parseReply(frame)) {
        if (size != sizeof(Reply) || std::memcmp(&*reply, data, size) != 0 || reply->handled > 1)
            std::abort();
    }
    return 0;
}
