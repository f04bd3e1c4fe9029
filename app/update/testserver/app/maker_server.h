#pragma once
// The maker's update server as the tests stand it in, on 127.0.0.1: the
// update query (/update/files/queryinfo.cgi) answers with the text set for
// the catalogue (file id "SGL") or for every other file id, and packages are
// served from memory under /files/ (404 for a name not served). More routes
// can be added on server() before start().
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/local_http_server.h"

namespace testing_support {

class MakerServer {
public:
    MakerServer()
    {
        auto& s = http_.server();
        s.Get(R"(/update/files/queryinfo\.cgi)", [this](const httplib::Request& q, httplib::Response& r) {
            const bool catalogue = q.get_param_value("file_id") == "SGL";
            std::lock_guard guard(lock_);
            r.status = status_;
            r.set_content(catalogue ? catalogue_ : other_, "text/xml");
        });
        s.Get(R"(/files/(.*))", [this](const httplib::Request& q, httplib::Response& r) {
            std::lock_guard guard(lock_);
            const auto it = files_.find(q.matches[1]);
            if (it == files_.end()) {
                r.status = 404;
                return;
            }
            r.set_content(it->second, "application/octet-stream");
        });
    }
    MakerServer(const MakerServer&) = delete;
    MakerServer& operator=(const MakerServer&) = delete;

    bool start() { return http_.start(); }
    void stop() { http_.stop(); }
    httplib::Server& server() { return http_.server(); }
    std::string base() const { return http_.base(); }
    std::vector<LocalHttpServer::Seen> seen() const { return http_.seen(); }

    // The update query's answers: for the catalogue, and for the other files.
    void setReplies(std::string catalogue, std::string other)
    {
        std::lock_guard guard(lock_);
        catalogue_ = std::move(catalogue);
        other_ = std::move(other);
    }
    // The HTTP status the update query answers with (200 unless set).
    void setStatus(int status)
    {
        std::lock_guard guard(lock_);
        status_ = status;
    }
    void serve(const std::string& name, std::span<const std::uint8_t> data)
    {
        std::lock_guard guard(lock_);
        files_[name] = std::string(data.begin(), data.end());
    }

private:
    std::mutex lock_;
    int status_ = 200;
    std::string catalogue_, other_;
    std::map<std::string, std::string> files_;
    LocalHttpServer http_; // last: stops before what its handlers read
};

} // namespace testing_support
