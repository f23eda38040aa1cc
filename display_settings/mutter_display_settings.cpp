#include "mutter_display_settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <gio/gio.h>

#include "backend_registry.h"
#include "compositor_mode.h"
#include "xdg_paths.h"

namespace {

constexpr int kReadTimeoutMs = 5000;
// A mode set on real hardware takes a modeset or two, and Mutter answers after.
constexpr int kApplyTimeoutMs = 15000;

constexpr uint32_t kMethodTemporary = 1;
constexpr uint32_t kMethodPersistent = 2;
constexpr uint32_t kLayoutLogical = 1;

struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct ObjectUnref {
    void operator()(void* o) const { g_object_unref(o); }
};

struct MonitorMode {
    std::string id;
    int32_t width = 0;
    int32_t height = 0;
    double refresh = 0;
    double preferredScale = 1;
    std::vector<double> scales;
    bool current = false;
    bool interlaced = false;
};

struct Monitor {
    std::string connector;
    std::vector<MonitorMode> modes;

    const MonitorMode* Find(const std::string& id) const
    {
        for (const MonitorMode& m : modes)
            if (m.id == id) return &m;
        return nullptr;
    }
    const MonitorMode* Current() const
    {
        for (const MonitorMode& m : modes)
            if (m.current) return &m;
        return nullptr;
    }
};

struct LogicalMonitor {
    int32_t x = 0;
    int32_t y = 0;
    double scale = 1;
    uint32_t transform = 0;
    bool primary = false;
    std::vector<std::string> connectors;
};

struct State {
    uint32_t serial = 0;
    std::vector<Monitor> monitors;
    std::vector<LogicalMonitor> logical;
    uint32_t layoutMode = kLayoutLogical;  // what Mutter assumes when it says nothing
    bool layoutModeChangeable = false;

    const Monitor* FindMonitor(const std::string& connector) const
    {
        for (const Monitor& m : monitors)
            if (m.connector == connector) return &m;
        return nullptr;
    }
};

Variant Child(GVariant* v, size_t i) { return Variant(g_variant_get_child_value(v, i)); }

bool Lookup(GVariant* dict, const char* key, bool fallback)
{
    gboolean value = fallback;
    g_variant_lookup(dict, key, "b", &value);
    return value;
}

// The reply of GetCurrentState, as plain records.
State ParseState(GVariant* reply)
{
    State st;
    st.serial = g_variant_get_uint32(Child(reply, 0).get());
    const Variant monitors = Child(reply, 1);
    for (size_t i = 0; i < g_variant_n_children(monitors.get()); ++i) {
        const Variant monitor = Child(monitors.get(), i);
        Monitor m;
        const char* connector = nullptr;
        g_variant_get_child(Child(monitor.get(), 0).get(), 0, "&s", &connector);
        m.connector = connector;
        const Variant modes = Child(monitor.get(), 1);
        for (size_t j = 0; j < g_variant_n_children(modes.get()); ++j) {
            MonitorMode mode;
            const char* id = nullptr;
            GVariant* scales = nullptr;
            GVariant* props = nullptr;
            g_variant_get_child(modes.get(), j, "(&siidd@ad@a{sv})", &id, &mode.width,
                                &mode.height, &mode.refresh, &mode.preferredScale, &scales, &props);
            const Variant ownScales(scales), ownProps(props);
            mode.id = id;
            gsize n = 0;
            const auto* values = static_cast<const double*>(
                g_variant_get_fixed_array(scales, &n, sizeof(double)));
            mode.scales.assign(values, values + n);
            mode.current = Lookup(props, "is-current", false);
            mode.interlaced = Lookup(props, "is-interlaced", false);
            m.modes.push_back(std::move(mode));
        }
        st.monitors.push_back(std::move(m));
    }
    const Variant logical = Child(reply, 2);
    for (size_t i = 0; i < g_variant_n_children(logical.get()); ++i) {
        LogicalMonitor lm;
        gboolean primary = FALSE;
        GVariant* specs = nullptr;
        g_variant_get_child(logical.get(), i, "(iidub@a(ssss)@a{sv})", &lm.x, &lm.y, &lm.scale,
                            &lm.transform, &primary, &specs, nullptr);
        const Variant ownSpecs(specs);
        lm.primary = primary;
        for (size_t j = 0; j < g_variant_n_children(specs); ++j) {
            const char* connector = nullptr;
            g_variant_get_child(Child(specs, j).get(), 0, "&s", &connector);
            lm.connectors.emplace_back(connector);
        }
        st.logical.push_back(std::move(lm));
    }
    const Variant props = Child(reply, 3);
    guint32 layoutMode = 0;
    if (g_variant_lookup(props.get(), "layout-mode", "u", &layoutMode)) st.layoutMode = layoutMode;
    st.layoutModeChangeable = Lookup(props.get(), "supports-changing-layout-mode", false);
    return st;
}

struct Extent {
    int32_t width;
    int32_t height;
};

// The room a mode takes in Mutter's layout, in the layout's own units.
Extent LayoutExtent(const MonitorMode& mode, double scale, uint32_t transform, uint32_t layoutMode)
{
    Extent e{mode.width, mode.height};
    if (dsp::Sideways(transform)) std::swap(e.width, e.height);
    if (layoutMode == kLayoutLogical && scale > 0) {
        e.width = static_cast<int32_t>(std::lround(e.width / scale));
        e.height = static_cast<int32_t>(std::lround(e.height / scale));
    }
    return e;
}

// The logical monitor GNOME calls primary (the first one when none says so).
const LogicalMonitor* PrimaryOf(const State& st)
{
    for (const LogicalMonitor& lm : st.logical)
        if (lm.primary) return &lm;
    return st.logical.empty() ? nullptr : &st.logical.front();
}

bool HasScale(const MonitorMode& mode, double scale)
{
    return std::any_of(mode.scales.begin(), mode.scales.end(),
                       [scale](double s) { return std::fabs(s - scale) < 1e-6; });
}

std::string RemoteErrorName(GError* error)
{
    gchar* name = g_dbus_error_get_remote_error(error);
    std::string s = name != nullptr ? name : "";
    g_free(name);
    return s;
}

enum class Outcome { Applied, Stale, Refused, Failed };

}  // namespace

const DisplayConfigService kMutterService{"mutter", "org.gnome.Mutter.DisplayConfig",
                                          "/org/gnome/Mutter/DisplayConfig", "monitors.xml"};
const DisplayConfigService kMuffinService{"muffin", "org.cinnamon.Muffin.DisplayConfig",
                                          "/org/cinnamon/Muffin/DisplayConfig",
                                          "cinnamon-monitors.xml"};

struct MutterDisplaySettings::Bus {
    explicit Bus(const DisplayConfigService& s) : service(s) {}
    const DisplayConfigService& service;
    std::unique_ptr<GDBusConnection, ObjectUnref> connection;

    ~Bus()
    {
        if (connection) g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    }

    // A private connection, so that a bus that goes away closes only it (the
    // shared one would end the process), made within a bounded time.
    bool Connect(const char* address, std::string* error)
    {
        // With neither an address nor a user bus, GLib would run dbus-launch
        // (and might start a new bus with it), where Mutter never is.
        const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        if (address == nullptr && (env == nullptr || *env == '\0')) {
            gchar* userBus = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
            const bool exists = g_file_test(userBus, G_FILE_TEST_EXISTS);
            g_free(userBus);
            if (!exists) {
                *error = "no session bus: DBUS_SESSION_BUS_ADDRESS is not set";
                return false;
            }
        }
        GErrorPtr e;
        GError* raw = nullptr;
        gchar* found = address != nullptr
                           ? g_strdup(address)
                           : g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
        e.reset(raw);
        if (found == nullptr) {
            *error = std::string("no session bus: ") + (e ? e->message : "unknown");
            return false;
        }
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        struct Pending {
            GDBusConnection* connection = nullptr;
            GError* error = nullptr;
            bool done = false;
        } pending;
        std::unique_ptr<GCancellable, ObjectUnref> cancel(g_cancellable_new());
        g_dbus_connection_new_for_address(
            found,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancel.get(),
            [](GObject*, GAsyncResult* result, gpointer data) {
                auto* p = static_cast<Pending*>(data);
                p->connection = g_dbus_connection_new_for_address_finish(result, &p->error);
                p->done = true;
            },
            &pending);
        GSource* timeout = g_timeout_source_new(kReadTimeoutMs);
        g_source_set_callback(
            timeout,
            [](gpointer c) {
                g_cancellable_cancel(static_cast<GCancellable*>(c));
                return G_SOURCE_REMOVE;
            },
            cancel.get(), nullptr);
        g_source_attach(timeout, context);
        while (!pending.done) g_main_context_iteration(context, TRUE);
        g_source_destroy(timeout);
        g_source_unref(timeout);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        g_free(found);
        e.reset(pending.error);
        connection.reset(pending.connection);
        if (!connection) {
            *error = std::string("cannot connect to the session bus: ") +
                     (e ? e->message : "unknown");
            return false;
        }
        return true;
    }

    // Calls a DisplayConfig method; an error comes back as a value.
    Variant Call(const char* method, GVariant* params, const char* replyType, int timeoutMs,
                 GErrorPtr* error)
    {
        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_sync(
            connection.get(), service.busName, service.objectPath, service.busName, method, params,
            replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
            timeoutMs, nullptr, &raw));
        error->reset(raw);
        return reply;
    }

    bool ReadState(State* st, std::string* error)
    {
        GErrorPtr e;
        const Variant reply =
            Call("GetCurrentState", nullptr,
                 "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})", kReadTimeoutMs, &e);
        if (!reply) {
            *error = std::string("GetCurrentState: ") + (e ? e->message : "no reply");
            return false;
        }
        *st = ParseState(reply.get());
        return true;
    }
};

MutterDisplaySettings::MutterDisplaySettings(const char* busAddress,
                                             const DisplayConfigService& service)
    : bus_(std::make_unique<Bus>(service))
{
    if (!bus_->Connect(busAddress, &error_)) return;
    State st;
    if (!bus_->ReadState(&st, &error_)) return;
    const LogicalMonitor* primary = PrimaryOf(st);
    const Monitor* monitor =
        primary && !primary->connectors.empty() ? st.FindMonitor(primary->connectors.front())
                                                : nullptr;
    if (monitor == nullptr) {
        error_ = std::string(service.busName) + " shows no monitor";
        return;
    }
    connector_ = monitor->connector;
    for (const MonitorMode& mode : monitor->modes) {
        modeIds_.push_back(mode.id);
        modes_.push_back(dsp::CompositorMode(connector_, mode.width, mode.height, mode.refresh,
                                             primary->transform, mode.interlaced,
                                             static_cast<uint32_t>(modeIds_.size())));
    }
}

MutterDisplaySettings::~MutterDisplaySettings() = default;

int32_t MutterDisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                    DspMode* devMode)
{
    return dsp::ServeMode(modes_, connector_, deviceName, modeNum, devMode);
}

int32_t MutterDisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return dsp::kDispChangeBadParam;
    if ((flags & ~dsp::kUpdateRegistry) != 0) return dsp::kDispChangeBadFlags;
    if (!bus_->connection || connector_.empty()) return dsp::kDispChangeFailed;
    const uint32_t key = dsp::LoadModeKey(*devMode);
    if (key == 0 || key > modeIds_.size()) return dsp::kDispChangeBadMode;
    const bool persistent = (flags & dsp::kUpdateRegistry) != 0;
    const int32_t result =
        Apply(modeIds_[key - 1], persistent ? kMethodPersistent : kMethodTemporary);
    // GNOME and Cinnamon restore their own store at login; an older entry
    // of ours would set another mode over it.
    if (result == dsp::kDispChangeSuccessful && persistent) RemoveLoginEntry();
    return result;
}

// Sends the whole current layout with one monitor's mode changed, on a fresh
// serial; a configuration that went stale meanwhile is read and sent again once.
int32_t MutterDisplaySettings::Apply(const std::string& modeId, uint32_t method)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        State st;
        std::string error;
        if (!bus_->ReadState(&st, &error)) return dsp::kDispChangeFailed;
        const Monitor* monitor = st.FindMonitor(connector_);
        if (monitor == nullptr) return dsp::kDispChangeFailed;
        const MonitorMode* wanted = monitor->Find(modeId);
        if (wanted == nullptr) return dsp::kDispChangeBadMode;
        const auto changed =
            std::find_if(st.logical.begin(), st.logical.end(), [&](const LogicalMonitor& lm) {
                return std::find(lm.connectors.begin(), lm.connectors.end(), connector_) !=
                       lm.connectors.end();
            });
        if (changed == st.logical.end() || monitor->Current() == nullptr)
            return dsp::kDispChangeFailed;

        // Mutter refuses gaps and overlaps: what lies right of or below the
        // changed monitor moves by the change in its size.
        const double newScale =
            HasScale(*wanted, changed->scale) ? changed->scale : wanted->preferredScale;
        const Extent before =
            LayoutExtent(*monitor->Current(), changed->scale, changed->transform, st.layoutMode);
        const Extent after = LayoutExtent(*wanted, newScale, changed->transform, st.layoutMode);
        for (LogicalMonitor& lm : st.logical) {
            if (&lm == &*changed) continue;
            if (lm.x >= changed->x + before.width) lm.x += after.width - before.width;
            if (lm.y >= changed->y + before.height) lm.y += after.height - before.height;
        }
        changed->scale = newScale;

        GVariantBuilder logical;
        g_variant_builder_init(&logical, G_VARIANT_TYPE("a(iiduba(ssa{sv}))"));
        bool complete = true;
        for (const LogicalMonitor& lm : st.logical) {
            GVariantBuilder monitors;
            g_variant_builder_init(&monitors, G_VARIANT_TYPE("a(ssa{sv})"));
            for (const std::string& connector : lm.connectors) {
                const Monitor* m = st.FindMonitor(connector);
                const MonitorMode* mode =
                    connector == connector_ ? wanted : (m ? m->Current() : nullptr);
                if (mode == nullptr) {
                    complete = false;
                    continue;
                }
                g_variant_builder_add(&monitors, "(ss@a{sv})", connector.c_str(), mode->id.c_str(),
                                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
            }
            g_variant_builder_add(&logical, "(iiduba(ssa{sv}))", lm.x, lm.y, lm.scale, lm.transform,
                                  static_cast<gboolean>(lm.primary), &monitors);
        }
        GVariantBuilder props;
        g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
        if (st.layoutModeChangeable)
            g_variant_builder_add(&props, "{sv}", "layout-mode", g_variant_new_uint32(st.layoutMode));
        GVariant* params = g_variant_new("(uua(iiduba(ssa{sv}))a{sv})", st.serial, method,
                                         &logical, &props);
        if (!complete) {
            g_variant_unref(g_variant_ref_sink(params));
            return dsp::kDispChangeFailed;
        }

        GErrorPtr e;
        if (bus_->Call("ApplyMonitorsConfig", params, nullptr, kApplyTimeoutMs, &e))
            return dsp::kDispChangeSuccessful;
        const std::string name = e ? RemoteErrorName(e.get()) : "";
        // Mutter's word for a configuration built on an old serial.
        if (name == "org.freedesktop.DBus.Error.AccessDenied") continue;
        if (name == "org.freedesktop.DBus.Error.InvalidArgs") return dsp::kDispChangeBadMode;
        return dsp::kDispChangeFailed;
    }
    return dsp::kDispChangeFailed;
}

namespace {

// Its one read of the state also tells whether the compositor owns its name at all.
template <const DisplayConfigService& Service>
std::unique_ptr<DisplaySettings> OpenService(bool forced, std::string* why)
{
    auto settings = std::make_unique<MutterDisplaySettings>(nullptr, Service);
    *why = settings->Error();
    if (!forced && !why->empty()) return nullptr;
    return settings;
}

}  // namespace

extern const DisplayBackend kMutterBackend;
const DisplayBackend kMutterBackend{kMutterService.backend, &OpenService<kMutterService>};
// Cinnamon's muffin, tried right after Mutter.
extern const DisplayBackend kMuffinBackend;
const DisplayBackend kMuffinBackend{kMuffinService.backend, &OpenService<kMuffinService>};
