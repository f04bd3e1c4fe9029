#include "platform/http.h"
#include "platform/local_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

using namespace platform::http;

namespace {

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& s = server_.server();
        s.Get("/hello", [](const httplib::Request&, httplib::Response& r) { r.set_content("hi there", "text/plain"); });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& r) {
            r.status = 404;
            r.set_content("<html>not found</html>", "text/html");
        });
        s.Get("/slow", [this](const httplib::Request&, httplib::Response& r) {
            // Ends early when the test is over, so the server stops promptly.
            for (int i = 0; i < 200 && !done_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            r.set_content("late", "text/plain");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& r) { r.set_content(std::string(5000, 'x'), "text/plain"); });
        s.Get("/auth", [](const httplib::Request& q, httplib::Response& r) {
            if (q.get_header_value("Authorization").empty()) {
                r.status = 401;
                r.set_header("WWW-Authenticate", "Basic realm=\"files\"");
                return;
            }
            r.set_content("in", "text/plain");
        });
        ASSERT_TRUE(server_.start());
    }
    void TearDown() override { done_ = true; }

    std::atomic<bool> done_{false};
    testing_support::LocalHttpServer server_;
    CurlClient client_;
};

TEST_F(HttpTest, GetsBodyAndStatusAndSendsTheAgentAndTheQueryAsGiven)
{
    Options options;
    options.userAgent = "Orvane Vistrel 4.1.037";
    const Response ok = client_.get(server_.base() + "/hello?a=1&b=%2F", options);
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(ok.body, "hi there");
    const auto seen = server_.seen();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().target, "/hello?a=1&b=%2F");
    EXPECT_EQ(seen.back().userAgent, "Orvane Vistrel 4.1.037");
    EXPECT_TRUE(seen.back().authorization.empty());
}

TEST_F(HttpTest, ServerErrorIsAnAnswerButNotOk)
{
    const Response r = client_.get(server_.base() + "/missing", {});
    EXPECT_EQ(r.error, kOk);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(r.ok());
}

TEST_F(HttpTest, TotalTimeoutBoundsAHangingServer)
{
    Options options;
    options.totalTimeoutMs = 150;
    const auto start = std::chrono::steady_clock::now();
    const Response r = client_.get(server_.base() + "/slow", options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.error, kErrorTimeout);
    EXPECT_TRUE(r.body.empty());
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST_F(HttpTest, StoppedServerIsNoNetworkAndBadAddressesAreRefused)
{
    const std::string base = server_.base();
    server_.stop();
    EXPECT_EQ(client_.get(base + "/hello", {}).error, kErrorNoNetwork);
    EXPECT_EQ(client_.get("ftp://127.0.0.1/x", {}).error, kErrorInvalidUrl);
    EXPECT_EQ(client_.get("file:///etc/passwd", {}).error, kErrorInvalidUrl);
}

TEST_F(HttpTest, BodyBeyondTheLimitIsRefused)
{
    Options options;
    options.maxBodyBytes = 1000;
    const Response r = client_.get(server_.base() + "/big", options);
    EXPECT_EQ(r.error, kErrorTooLarge);
    EXPECT_TRUE(r.body.empty());
    options.maxBodyBytes = 0;
    EXPECT_EQ(client_.get(server_.base() + "/big", options).body.size(), 5000u);
}

TEST_F(HttpTest, UserNameGoesOutOnlyAfterTheServerAsks)
{
    Options options;
    options.userName = "Vistrel4";
    const Response r = client_.get(server_.base() + "/auth", options);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.body, "in");
    const auto seen = server_.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].authorization.empty());
    EXPECT_EQ(seen[1].authorization.rfind("Basic ", 0), 0u);
}

TEST(HttpServiceUrl, EnvironmentOverridesTheFallback)
{
    ::unsetenv("ORVANE_SERVICE_URL");
    EXPECT_EQ(serviceUrl("http://www.orvane.example/"), "http://www.orvane.example");
    ::setenv("ORVANE_SERVICE_URL", "http://127.0.0.1:5000", 1);
    EXPECT_EQ(serviceUrl("http://www.orvane.example"), "http://127.0.0.1:5000");
    ::unsetenv("ORVANE_SERVICE_URL");
}

TEST(HttpFake, AnswersInOrderRepeatsTheLastAndRecords)
{
    FakeClient fake;
    fake.push(200, "a");
    fake.pushError(kErrorTimeout);
    EXPECT_EQ(fake.get("http://h/1", {}).body, "a");
    EXPECT_EQ(fake.get("http://h/2", {}).error, kErrorTimeout);
    EXPECT_EQ(fake.get("http://h/3", {}).error, kErrorTimeout);
    ASSERT_EQ(fake.requests().size(), 3u);
    EXPECT_EQ(fake.requests()[2].url, "http://h/3");
}

} // namespace
