#include "platform/http.h"

namespace platform::http {

void FakeClient::push(Response response)
{
    std::lock_guard guard(lock_);
    answers_.push_back(std::move(response));
}

void FakeClient::push(long status, std::string body) { push(Response{kOk, status, std::move(body)}); }

void FakeClient::pushError(std::uint32_t error) { push(Response{error, 0, {}}); }

Response FakeClient::get(std::string_view url, const Options& options)
{
    std::lock_guard guard(lock_);
    requests_.push_back(Request{std::string(url), options});
    if (!answers_.empty()) {
        last_ = std::move(answers_.front());
        answers_.pop_front();
    }
    return last_;
}

std::vector<FakeClient::Request> FakeClient::requests() const
{
    std::lock_guard guard(lock_);
    return requests_;
}

} // namespace platform::http
