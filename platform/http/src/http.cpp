#include "platform/http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace platform::http {
namespace {

struct Sink {
    std::string* body;
    std::size_t limit;
    bool overflow = false;
};

std::size_t onData(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (sink->limit != 0 && sink->body->size() + n > sink->limit) {
        sink->overflow = true;
        return 0; // aborts the transfer
    }
    sink->body->append(data, n);
    return n;
}

std::uint32_t mapError(CURLcode code, bool overflow)
{
    if (overflow)
        return kErrorTooLarge;
    switch (code) {
    case CURLE_OK:
        return kOk;
    case CURLE_COULDNT_CONNECT:
        return kErrorNoNetwork;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kErrorNameNotResolved;
    case CURLE_OPERATION_TIMEDOUT:
        return kErrorTimeout;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return kErrorInvalidUrl;
    default:
        return kErrorInternal;
    }
}

} // namespace

CurlClient::CurlClient()
{
    // curl_global_init is not thread-safe; run it once for the process.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Response CurlClient::get(std::string_view url, const Options& options)
{
    Response response;
    if (url.substr(0, 7) != "http://") {
        response.error = kErrorInvalidUrl;
        return response;
    }
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        response.error = kErrorInternal;
        return response;
    }
    const std::string address(url);
    Sink sink{&response.body, options.maxBodyBytes};
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeoutMs));
    // A proxy from the environment stands for the system's configured one;
    // loopback is always reached directly.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    if (!options.userAgent.empty())
        curl_easy_setopt(curl, CURLOPT_USERAGENT, options.userAgent.c_str());
    if (!options.userName.empty()) {
        // Any method: the credentials go out only after the server asks.
        curl_easy_setopt(curl, CURLOPT_USERNAME, options.userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, "");
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(curl);
    response.error = mapError(code, sink.overflow);
    if (response.error == kOk)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    else
        response.body.clear();
    curl_easy_cleanup(curl);
    return response;
}

std::string serviceUrl(std::string_view fallback)
{
    const char* value = std::getenv("ORVANE_SERVICE_URL");
    std::string url = value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

std::string errorText(std::uint32_t error)
{
    switch (error) {
    case kOk:
        return "The operation completed successfully.";
    case kErrorNoNetwork:
        return "The network location cannot be reached.";
    case kErrorTimeout:
        return "The operation timed out.";
    case kErrorInvalidUrl:
        return "The URL is invalid.";
    case kErrorNameNotResolved:
        return "The server name or address could not be resolved.";
    case kErrorTooLarge:
        return "The server's answer is too large.";
    case kErrorInternal:
        return "An internal error occurred in the network transfer.";
    default:
        return "Error " + std::to_string(error) + ".";
    }
}

} // namespace platform::http
