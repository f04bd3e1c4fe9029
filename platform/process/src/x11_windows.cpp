#include "platform/x11_windows.h"

#include "platform/utf.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>

#include <xcb/xcb.h>

namespace platform {

namespace {

// Titles and class names longer than this are cut (the matching reads 260
// characters at most).
constexpr std::uint32_t kPropertyWords = 256;

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

struct Reply {
    xcb_get_property_reply_t* p = nullptr;
    ~Reply() { std::free(p); }
    std::string_view bytes() const
    {
        if (!p || p->format != 8)
            return {};
        return {static_cast<const char*>(xcb_get_property_value(p)),
                static_cast<std::size_t>(xcb_get_property_value_length(p))};
    }
};

} // namespace

struct X11Windows::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t netClientListStacking = XCB_ATOM_NONE;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t netWmPid = XCB_ATOM_NONE;
    xcb_atom_t utf8 = XCB_ATOM_NONE;
    std::set<std::uint32_t> watched;
    std::set<std::uint32_t> destroyed;

    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }

    bool broken() const { return xcb_connection_has_error(c) != 0; }

    // Takes in what the server has sent: the watched windows' ends.
    void drainEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY) {
                const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
                if (watched.erase(d->window) != 0)
                    destroyed.insert(d->window);
            }
            std::free(event);
        }
    }

    std::vector<xcb_window_t> candidates()
    {
        // A window manager's list of its clients, bottom to top; else the
        // root's children, also bottom to top.
        std::vector<xcb_window_t> out;
        if (netClientListStacking != XCB_ATOM_NONE) {
            Reply r{xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, netClientListStacking, XCB_ATOM_WINDOW, 0, 4096), nullptr)};
            if (r.p && r.p->format == 32 && xcb_get_property_value_length(r.p) > 0) {
                const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(r.p));
                out.assign(ids, ids + xcb_get_property_value_length(r.p) / 4);
            }
        }
        if (out.empty()) {
            xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
            if (tree) {
                const xcb_window_t* ids = xcb_query_tree_children(tree);
                out.assign(ids, ids + xcb_query_tree_children_length(tree));
                std::free(tree);
            }
        }
        std::reverse(out.begin(), out.end());
        return out;
    }
};

X11Windows::X11Windows(std::string display) : display_(std::move(display)) {}

X11Windows::~X11Windows() = default;

X11Windows::Connection* X11Windows::connection()
{
    if (connection_ && !connection_->broken())
        return connection_.get();
    connection_.reset();
    auto made = std::make_unique<Connection>();
    int screen = 0;
    made->c = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screen);
    if (xcb_connection_has_error(made->c))
        return nullptr;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(made->c));
    for (int i = 0; i < screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return nullptr;
    made->root = it.data->root;
    made->netClientListStacking = internAtom(made->c, "_NET_CLIENT_LIST_STACKING");
    made->netWmName = internAtom(made->c, "_NET_WM_NAME");
    made->netWmPid = internAtom(made->c, "_NET_WM_PID");
    made->utf8 = internAtom(made->c, "UTF8_STRING");
    connection_ = std::move(made);
    return connection_.get();
}

std::vector<TopLevelWindow> X11Windows::list()
{
    std::vector<TopLevelWindow> out;
    Connection* x = connection();
    if (!x)
        return out;
    x->drainEvents();
    const std::vector<xcb_window_t> ids = x->candidates();
    // Every question first, then every answer: one round trip in all.
    struct Asked {
        xcb_get_property_cookie_t cls, netName, name, pid;
    };
    std::vector<Asked> asked;
    asked.reserve(ids.size());
    for (xcb_window_t id : ids)
        asked.push_back({xcb_get_property(x->c, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, kPropertyWords),
                         xcb_get_property(x->c, 0, id, x->netWmName, x->utf8, 0, kPropertyWords),
                         xcb_get_property(x->c, 0, id, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kPropertyWords),
                         xcb_get_property(x->c, 0, id, x->netWmPid, XCB_ATOM_CARDINAL, 0, 1)});
    out.reserve(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        // A window destroyed meanwhile answers with an error: its replies are null.
        Reply cls{xcb_get_property_reply(x->c, asked[i].cls, nullptr)};
        Reply netName{xcb_get_property_reply(x->c, asked[i].netName, nullptr)};
        Reply name{xcb_get_property_reply(x->c, asked[i].name, nullptr)};
        Reply pid{xcb_get_property_reply(x->c, asked[i].pid, nullptr)};
        if (!cls.p)
            continue;
        // An id the server gave out again names a new window.
        x->destroyed.erase(ids[i]);
        TopLevelWindow w;
        w.id = ids[i];
        const std::string_view names = cls.bytes();
        const std::size_t split = names.find('\0');
        w.instanceName.assign(names.substr(0, split));
        if (split != std::string_view::npos) {
            std::string_view second = names.substr(split + 1);
            w.className.assign(second.substr(0, second.find('\0')));
        }
        if (netName.p && netName.p->value_len > 0)
            w.title = utf8ToUtf16(netName.bytes());
        else if (name.p && name.p->type == x->utf8)
            w.title = utf8ToUtf16(name.bytes());
        else if (name.p)
            w.title = latin1ToUtf16(name.bytes()); // STRING is Latin-1
        if (pid.p && pid.p->format == 32 && xcb_get_property_value_length(pid.p) == 4)
            std::memcpy(&w.pid, xcb_get_property_value(pid.p), 4);
        out.push_back(std::move(w));
    }
    return out;
}

bool X11Windows::exists(std::uint32_t id)
{
    Connection* x = connection();
    if (!x)
        return false;
    x->drainEvents();
    if (x->watched.count(id) != 0)
        return true;
    if (x->destroyed.count(id) != 0)
        return false;
    // First question about this window: watch it for its end, which also
    // tells whether it is there now.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_generic_error_t* error =
        xcb_request_check(x->c, xcb_change_window_attributes_checked(x->c, id, XCB_CW_EVENT_MASK, &mask));
    if (error) {
        std::free(error);
        return false;
    }
    x->watched.insert(id);
    return true;
}

void X11Windows::forget(std::uint32_t id)
{
    if (!connection_ || connection_->broken())
        return;
    Connection* x = connection_.get();
    if (x->watched.erase(id) != 0) {
        const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(x->c, id, XCB_CW_EVENT_MASK, &none);
        xcb_flush(x->c);
    }
    x->destroyed.erase(id);
}

} // namespace platform
