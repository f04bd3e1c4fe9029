#pragma once
// An in-process HTTP server for tests, bound to 127.0.0.1 on a port the
// system picks, so parallel tests never collide and nothing leaves the host.
#include <httplib.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class LocalHttpServer {
public:
    struct Seen {
        std::string target; // path and raw query as sent
        std::string userAgent;
        std::string authorization;
    };

    LocalHttpServer()
    {
        server_.set_tcp_nodelay(true);
        // Recorded before the handler runs, so a request is seen once its answer arrives.
        server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard guard(lock_);
            seen_.push_back(Seen{request.target, request.get_header_value("User-Agent"),
                                 request.get_header_value("Authorization")});
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    ~LocalHttpServer() { stop(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& server() { return server_; }

    // Binds and serves; false when it could not start within two seconds.
    bool start()
    {
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            return false;
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!server_.is_running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return server_.is_running();
    }
    void stop()
    {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<Seen> seen() const
    {
        std::lock_guard guard(lock_);
        return seen_;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex lock_;
    std::vector<Seen> seen_;
};

} // namespace testing_support
