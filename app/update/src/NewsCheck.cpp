#include "app/NewsCheck.h"

CNewsCheck::CNewsCheck(const CUpdateService& service, LastVersion lastVersion, Announce announce)
    : service_(service), lastVersion_(std::move(lastVersion)), announce_(std::move(announce))
{
}

CNewsCheck::~CNewsCheck() { Join(); }

bool CNewsCheck::Start()
{
    std::lock_guard guard(lock_);
    if (running_.load())
        return false;
    if (thread_.joinable())
        thread_.join();
    running_.store(true);
    thread_.start(
        [this] {
            CheckNews();
            running_.store(false);
        },
        platform::ThreadPriority::Normal, "news");
    return true;
}

void CNewsCheck::Join()
{
    std::lock_guard guard(lock_);
    if (thread_.joinable())
        thread_.join();
}

bool CNewsCheck::CheckNews()
{
    CNewsReply reply;
    if (service_.QueryNews(reply) != kUpdateOk)
        return false;
    const std::int32_t last = lastVersion_ ? lastVersion_() : 0;
    if (last >= reply.URLVersion)
        return false;
    if (announce_)
        announce_(reply);
    return true;
}
