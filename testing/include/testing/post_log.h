#pragma once
// Records posted messages in place of the window queues: through poster()
// for the posting functions the input layers take, or record() for a sink
// of another shape.
#include "platform/messages.h"

#include <mutex>
#include <ostream>
#include <vector>

namespace testing_support {

struct Post {
    platform::HWND hwnd;
    platform::UINT message;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
    bool operator==(const Post&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Post& p)
{
    return os << std::hex << "{" << p.hwnd << ", " << p.message << ", " << p.wParam << ", " << p.lParam << "}";
}

class PostLog {
public:
    auto poster()
    {
        return [this](platform::HWND h, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
            return record(h, m, w, l);
        };
    }
    bool record(platform::HWND h, platform::UINT m, platform::WPARAM w, platform::LPARAM l)
    {
        std::lock_guard lock(mutex_);
        posts_.push_back({h, m, w, l});
        return true;
    }
    std::vector<Post> take()
    {
        std::lock_guard lock(mutex_);
        std::vector<Post> out;
        out.swap(posts_);
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<Post> posts_;
};

} // namespace testing_support
