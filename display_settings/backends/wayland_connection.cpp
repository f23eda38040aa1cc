#include "wayland_connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <wayland-client.h>

void ProxyDeleter::operator()(wl_proxy* p) const
{
    if (destroy != nullptr)
        destroy(p);
    else
        wl_proxy_destroy(p);
}

WaylandConnection::WaylandConnection(const char* socket)
{
    if (const char* ms = std::getenv("TAVRIMO_WAYLAND_APPLY_TIMEOUT_MS"); ms != nullptr) {
        const long value = std::strtol(ms, nullptr, 10);
        if (value > 0 && value <= kWaylandApplyTimeoutMs) applyTimeoutMs_ = static_cast<int>(value);
    }
    // Without the variable libwayland would try wayland-0, which in an X11
    // session may well be some other user's compositor or none.
    const char* named = std::getenv("WAYLAND_DISPLAY");
    if (socket == nullptr && (named == nullptr || *named == '\0')) {
        error_ = "no Wayland session (WAYLAND_DISPLAY is unset)";
        return;
    }
    display_ = wl_display_connect(socket);
    if (display_ == nullptr) {
        error_ = std::string("cannot connect to the Wayland compositor: ") + std::strerror(errno);
        return;
    }
    static const wl_registry_listener listener{
        [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
            static_cast<WaylandConnection*>(data)->globals_.push_back(
                {name, interface, version, false});
        },
        [](void* data, wl_registry*, uint32_t name) {
            for (Global& g : static_cast<WaylandConnection*>(data)->globals_)
                if (g.name == name) g.removed = true;
        },
    };
    registry_ = Proxy(AsProxy(wl_display_get_registry(display_)));
    wl_registry_add_listener(As<wl_registry>(registry_), &listener, this);
    // Without its globals the connection is of no use.
    if (!Roundtrip(kWaylandReadTimeoutMs) && error_.empty()) error_ = waitError_;
}

WaylandConnection::~WaylandConnection()
{
    registry_.reset();
    if (display_ != nullptr) wl_display_disconnect(display_);
}

const WaylandConnection::Global* WaylandConnection::Find(const char* interface) const
{
    for (const Global& g : globals_)
        if (!g.removed && g.interface == interface) return &g;
    return nullptr;
}

bool WaylandConnection::Present(uint32_t name) const
{
    return std::any_of(globals_.begin(), globals_.end(),
                       [name](const Global& g) { return g.name == name && !g.removed; });
}

std::vector<const WaylandConnection::Global*> WaylandConnection::FindAll(const char* interface) const
{
    std::vector<const Global*> found;
    for (const Global& g : globals_)
        if (!g.removed && g.interface == interface) found.push_back(&g);
    return found;
}

Proxy WaylandConnection::Bind(const Global& g, const wl_interface* iface, uint32_t clientMax,
                              void (*destroy)(wl_proxy*))
{
    const uint32_t version = std::min(g.version, clientMax);
    void* bound = wl_registry_bind(As<wl_registry>(registry_), g.name, iface, version);
    return Proxy(static_cast<wl_proxy*>(bound), ProxyDeleter{destroy});
}

bool WaylandConnection::Fail(const std::string& why)
{
    if (error_.empty()) error_ = why;
    return false;
}

bool WaylandConnection::DispatchUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (display_ == nullptr) return false;
    waitError_.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto lost = [this] {
        const int code = wl_display_get_error(display_);
        if (code == EPROTO) {
            const wl_interface* iface = nullptr;
            uint32_t id = 0;
            const uint32_t err = wl_display_get_protocol_error(display_, &iface, &id);
            return Fail(std::string("the compositor reported protocol error ") +
                        std::to_string(err) + " on " + (iface ? iface->name : "an object"));
        }
        return Fail(std::string("the Wayland connection failed: ") +
                    std::strerror(code != 0 ? code : EPIPE));
    };
    if (wl_display_get_error(display_) != 0) return lost();
    while (!done()) {
        // Events already read go first; only then may this thread read more.
        if (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) return lost();
            continue;
        }
        const int remaining = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   deadline - std::chrono::steady_clock::now())
                                                   .count());
        if (remaining <= 0) {
            wl_display_cancel_read(display_);
            // The connection lives on: a late answer is read by a later wait.
            waitError_ = "the compositor did not answer within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        pollfd pfd{wl_display_get_fd(display_), POLLIN, 0};
        if (wl_display_flush(display_) < 0 && errno == EAGAIN) pfd.events |= POLLOUT;
        const int ready = ::poll(&pfd, 1, remaining);
        if (ready < 0 && errno == EINTR) {
            wl_display_cancel_read(display_);
            continue;
        }
        if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
            wl_display_cancel_read(display_);
            if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP)) != 0) {
                wl_display_dispatch_pending(display_);
                return lost();
            }
            continue;
        }
        if (wl_display_read_events(display_) < 0) return lost();
        if (wl_display_dispatch_pending(display_) < 0) return lost();
    }
    // Requests the handlers made (a release) go out now, not at the next wait.
    wl_display_flush(display_);
    return true;
}

bool WaylandConnection::Roundtrip(int timeoutMs)
{
    if (display_ == nullptr) return false;
    bool answered = false;
    static const wl_callback_listener listener{
        [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
    };
    const Proxy callback(AsProxy(wl_display_sync(display_)));
    wl_callback_add_listener(reinterpret_cast<wl_callback*>(callback.get()), &listener, &answered);
    return DispatchUntil([&answered] { return answered; }, timeoutMs);
}
