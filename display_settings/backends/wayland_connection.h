// Listener members a client leaves unheard: a generic lambda turns into a
// function of whatever signature the member has.
inline constexpr auto kIgnoreEvent = [](auto...) {};

// One client connection to the Wayland compositor, with every wait bounded
// and every failure kept as a value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wayland-client-core.h>

struct wl_registry;

// A proxy destroyed with the request its interface names for that, or with
// no request at all (wl_proxy_destroy) where it has none.
struct ProxyDeleter {
    void (*destroy)(wl_proxy*) = nullptr;
    void operator()(wl_proxy* p) const;
};
using Proxy = std::unique_ptr<wl_proxy, ProxyDeleter>;

template <typename T>
wl_proxy* AsProxy(T* p) { return reinterpret_cast<wl_proxy*>(p); }
template <typename T>
T* As(const Proxy& p) { return reinterpret_cast<T*>(p.get()); }

// Destroys a proxy with its interface's release request where the bound
// version has one (since), else without a request.
template <class T, void (*Release)(T*), uint32_t Since>
void ReleaseOrDestroy(wl_proxy* p)
{
    if (wl_proxy_get_version(p) >= Since)
        Release(reinterpret_cast<T*>(p));
    else
        wl_proxy_destroy(p);
}

// How long a layer waits for the compositor: to read what it shows, and to
// answer a configuration (a modeset or two on real hardware; the tests
// shorten it with TAVRIMO_WAYLAND_APPLY_TIMEOUT_MS).
inline constexpr int kWaylandReadTimeoutMs = 5000;
inline constexpr int kWaylandApplyTimeoutMs = 15000;

// A mode object a compositor announced for an output, as a layer keeps it.
struct AnnouncedMode {
    uint64_t serial = 0;  // the layer's own name for it, unique for the connection
    Proxy proxy;
    int32_t width = 0;
    int32_t height = 0;
    int32_t refresh = 0;  // millihertz
    bool gone = false;    // withdrawn by the compositor

    // A mode the output can be set to; a compositor may announce a 0x0
    // stand-in for an output that has none.
    bool Real() const { return !gone && width > 0 && height > 0; }
};

class WaylandConnection {
public:
    struct Global {
        uint32_t name = 0;
        std::string interface;
        uint32_t version = 0;
        bool removed = false;
    };

    // Connects to socket (null: $WAYLAND_DISPLAY) and reads the globals.
    explicit WaylandConnection(const char* socket = nullptr);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // Why the connection failed for good, else why the last wait failed
    // (empty when it did not).
    const std::string& Error() const { return error_.empty() ? waitError_ : error_; }
    // False once the connection is dead; a wait that merely timed out leaves
    // it working, and a later wait may still see the late answer.
    bool Ok() const { return error_.empty(); }
    // The last wait ran out of time on a working connection.
    bool TimedOut() const { return error_.empty() && !waitError_.empty(); }
    // How long to wait for a configuration's answer.
    int ApplyTimeoutMs() const { return applyTimeoutMs_; }

    // The first global of that interface not removed since, or null.
    const Global* Find(const char* interface) const;
    std::vector<const Global*> FindAll(const char* interface) const;
    // False once the compositor has withdrawn global name.
    bool Present(uint32_t name) const;
    // Binds g at the highest version both this client (clientMax) and the
    // compositor know.
    Proxy Bind(const Global& g, const wl_interface* iface, uint32_t clientMax,
               void (*destroy)(wl_proxy*) = nullptr);

    // Dispatches events until done() holds; false (with Error() set) when
    // the connection fails or timeoutMs passes first (then TimedOut()).
    bool DispatchUntil(const std::function<bool()>& done, int timeoutMs);
    // Asks the compositor to answer once everything sent so far is handled,
    // and dispatches until it has.
    bool Roundtrip(int timeoutMs);

private:
    bool Fail(const std::string& why);

    wl_display* display_ = nullptr;
    Proxy registry_;
    std::vector<Global> globals_;
    std::string error_;
    std::string waitError_;
    int applyTimeoutMs_ = kWaylandApplyTimeoutMs;
};
