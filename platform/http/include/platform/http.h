#pragma once
// HTTP GET with every wait bounded: the connect and the whole exchange each
// have a time limit, so a server that hangs costs at most the total time.
// Errors are reported with the Windows Internet codes the callers show.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform::http {

// Error codes of a failed exchange.
inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kErrorNoNetwork = 1222;       // host unreachable or refusing connections
inline constexpr std::uint32_t kErrorTimeout = 12002;        // the exchange took too long
inline constexpr std::uint32_t kErrorInvalidUrl = 12005;     // not an http:// address
inline constexpr std::uint32_t kErrorNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorTooLarge = 12153;        // the body passed the caller's limit
inline constexpr std::uint32_t kErrorInternal = 12004;       // any other transfer failure

struct Options {
    std::string userAgent;
    // User name sent only when the server asks for it (no password).
    std::string userName;
    unsigned connectTimeoutMs = 10000;
    unsigned totalTimeoutMs = 30000;
    // The body is refused beyond this many bytes (0: no limit).
    std::size_t maxBodyBytes = 16u * 1024u * 1024u;
};

struct Response {
    std::uint32_t error = kOk; // kOk when the server answered (any status)
    long status = 0;           // the HTTP status when it answered
    std::string body;
    bool ok() const { return error == kOk && status == 200; }
};

class Client {
public:
    virtual ~Client() = default;
    // One GET of an absolute "http://host[:port]/path?query" address; the
    // path and query are sent exactly as given.
    virtual Response get(std::string_view url, const Options& options) = 0;
};

// The libcurl backend. A proxy from the environment is used as configured
// there; the address is never passed to a shell.
class CurlClient final : public Client {
public:
    CurlClient();
    Response get(std::string_view url, const Options& options) override;
};

// A scripted client: answers from a queue (the last answer repeats when the
// queue runs dry) and records every request. Thread-safe.
class FakeClient final : public Client {
public:
    struct Request {
        std::string url;
        Options options;
    };
    void push(Response response);
    void push(long status, std::string body);
    void pushError(std::uint32_t error);
    Response get(std::string_view url, const Options& options) override;
    std::vector<Request> requests() const;

private:
    mutable std::mutex lock_;
    std::deque<Response> answers_;
    Response last_{kErrorNoNetwork, 0, {}};
    std::vector<Request> requests_;
};

// The service's base address ("http://host[:port]"): ORVANE_SERVICE_URL
// when set and non-empty, else `fallback`. A trailing '/' is dropped.
std::string serviceUrl(std::string_view fallback);

// The system-like text of an error code this layer reports.
std::string errorText(std::uint32_t error);

} // namespace platform::http
