#include "mutter_display_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include <gio/gio.h>

#include "backend_registry.h"
#include "compositor_mode.h"
#include "mutter_layout.h"
#include "session_bus.h"
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
    std::string vendor;
    std::string product;
    std::string serial;
    std::vector<MonitorMode> modes;
    Variant properties;  // a{sv}, as GetCurrentState announced them

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
    bool globalScaleRequired = false;

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
        const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
        g_variant_get(Child(monitor.get(), 0).get(), "(&s&s&s&s)", &connector, &vendor, &product,
                      &serial);
        m.connector = connector;
        m.vendor = vendor;
        m.product = product;
        m.serial = serial;
        m.properties = Child(monitor.get(), 2);
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
    st.globalScaleRequired = Lookup(props.get(), "global-scale-required", false);
    return st;
}

// The room a mode takes in Mutter's layout, in the layout's own units.
mutter_layout::Size LayoutExtent(const MonitorMode& mode, double scale, uint32_t transform,
                                 uint32_t layoutMode)
{
    mutter_layout::Size e{mode.width, mode.height};
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

// Where a monitor setting that GetCurrentState announces goes back in
// ApplyMonitorsConfig, which resets to its default whatever the call leaves out.
enum class Carry {
    PerMonitor,     // the same value, in the monitor's own properties
    ListWhereTrue,  // the specs of the monitors where it is true, in the call's properties
};
struct CarriedProperty {
    const char* announced;
    const char* sent;
    const char* type;
    Carry carry;
};
constexpr CarriedProperty kCarried[] = {
    {"is-underscanning", "underscanning", "b", Carry::PerMonitor},
    {"color-mode", "color-mode", "u", Carry::PerMonitor},
    {"rgb-range", "rgb-range", "u", Carry::PerMonitor},
    {"is-for-lease", "monitors-for-lease", "b", Carry::ListWhereTrue},
};

Variant Announced(const Monitor& m, const CarriedProperty& p)
{
    return Variant(m.properties ? g_variant_lookup_value(m.properties.get(), p.announced,
                                                         G_VARIANT_TYPE(p.type))
                                : nullptr);
}

// The monitor's own properties of the call: what it announced, sent back.
GVariant* MonitorProperties(const Monitor& m)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    for (const CarriedProperty& p : kCarried)
        if (p.carry == Carry::PerMonitor)
            if (const Variant v = Announced(m, p))
                g_variant_builder_add(&b, "{sv}", p.sent, v.get());
    return g_variant_builder_end(&b);
}

// The call's own properties: the layout mode where Mutter lets it be named,
// and the lists of monitors that any monitor's announcement calls for.
GVariant* ConfigProperties(const State& st)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    if (st.layoutModeChangeable)
        g_variant_builder_add(&b, "{sv}", "layout-mode", g_variant_new_uint32(st.layoutMode));
    for (const CarriedProperty& p : kCarried) {
        if (p.carry != Carry::ListWhereTrue) continue;
        bool announced = false;
        GVariantBuilder specs;
        g_variant_builder_init(&specs, G_VARIANT_TYPE("a(ssss)"));
        for (const Monitor& m : st.monitors) {
            const Variant v = Announced(m, p);
            announced = announced || v;
            if (v && g_variant_get_boolean(v.get()))
                g_variant_builder_add(&specs, "(ssss)", m.connector.c_str(), m.vendor.c_str(),
                                      m.product.c_str(), m.serial.c_str());
        }
        GVariant* list = g_variant_builder_end(&specs);
        if (announced)
            g_variant_builder_add(&b, "{sv}", p.sent, list);
        else
            g_variant_unref(g_variant_ref_sink(list));
    }
    return g_variant_builder_end(&b);
}

// The mode of m with width x height whose rate is nearest hz; null if none.
const MonitorMode* SameSize(const Monitor& m, int32_t width, int32_t height, double hz,
                            bool interlaced)
{
    const MonitorMode* best = nullptr;
    const auto distance = [&](const MonitorMode& mode) {
        return std::fabs(mode.refresh - hz) + (mode.interlaced != interlaced ? 1e6 : 0);
    };
    for (const MonitorMode& mode : m.modes)
        if (mode.width == width && mode.height == height &&
            (!best || distance(mode) < distance(*best)))
            best = &mode;
    return best;
}

// The parameters of ApplyMonitorsConfig that set connector's mode modeId and
// keep everything else Mutter announced; a DISP_CHANGE code and *why when
// there is no such configuration.
struct Config {
    int32_t refusal = dsp::kDispChangeSuccessful;
    std::string why;
    Variant params;
};

Config Refuse(int32_t code, std::string why) { return {code, std::move(why), nullptr}; }

Config BuildConfig(const State& st, const std::string& connector, const std::string& modeId,
                   uint32_t method)
{
    const Monitor* monitor = st.FindMonitor(connector);
    if (monitor == nullptr) return Refuse(dsp::kDispChangeFailed, connector + " is gone");
    const MonitorMode* wanted = monitor->Find(modeId);
    if (wanted == nullptr)
        return Refuse(dsp::kDispChangeBadMode, connector + " no longer has mode " + modeId);
    const auto changed = std::find_if(st.logical.begin(), st.logical.end(), [&](const auto& lm) {
        return std::find(lm.connectors.begin(), lm.connectors.end(), connector) !=
               lm.connectors.end();
    });
    if (changed == st.logical.end())
        return Refuse(dsp::kDispChangeFailed, connector + " shows no picture");

    // Every monitor's mode in the new configuration: the mirrors of the
    // changed one take the same size, as Mutter insists, at the nearest rate.
    std::vector<std::vector<const MonitorMode*>> modes(st.logical.size());
    for (size_t i = 0; i < st.logical.size(); ++i) {
        for (const std::string& c : st.logical[i].connectors) {
            const Monitor* m = st.FindMonitor(c);
            const MonitorMode* mode = m == nullptr ? nullptr
                                      : c == connector ? wanted
                                      : &st.logical[i] == &*changed
                                          ? SameSize(*m, wanted->width, wanted->height,
                                                     wanted->refresh, wanted->interlaced)
                                          : m->Current();
            if (mode == nullptr && &st.logical[i] == &*changed && m != nullptr)
                return Refuse(dsp::kDispChangeBadMode,
                              c + ", which mirrors " + connector + ", has no " +
                                  std::to_string(wanted->width) + "x" +
                                  std::to_string(wanted->height) + " mode");
            if (mode == nullptr) return Refuse(dsp::kDispChangeFailed, c + " shows no mode");
            modes[i].push_back(mode);
        }
    }

    // Scales: the changed logical monitor keeps its own where its new modes
    // allow it; where Mutter wants one scale for all, every monitor shares it.
    std::vector<double> scales;
    for (const LogicalMonitor& lm : st.logical) scales.push_back(lm.scale);
    std::vector<std::vector<double>> supported;
    for (size_t i = 0; i < st.logical.size(); ++i)
        if (st.globalScaleRequired || &st.logical[i] == &*changed)
            for (const MonitorMode* mode : modes[i]) supported.push_back(mode->scales);
    const std::optional<double> scale =
        mutter_layout::ChooseScale(supported, changed->scale, wanted->preferredScale);
    if (!scale)
        return Refuse(dsp::kDispChangeBadMode,
                      "no scale suits every monitor with " + connector + " at " + modeId);
    for (size_t i = 0; i < st.logical.size(); ++i)
        if (st.globalScaleRequired || &st.logical[i] == &*changed) scales[i] = *scale;

    // Mutter sizes a logical monitor by its first monitor's mode.
    std::vector<mutter_layout::Rect> before;
    std::vector<mutter_layout::Size> sizes;
    for (size_t i = 0; i < st.logical.size(); ++i) {
        const LogicalMonitor& lm = st.logical[i];
        const Monitor* first = st.FindMonitor(lm.connectors.front());
        const MonitorMode* current = first ? first->Current() : nullptr;
        if (current == nullptr)
            return Refuse(dsp::kDispChangeFailed, lm.connectors.front() + " shows no mode");
        const mutter_layout::Size old =
            LayoutExtent(*current, lm.scale, lm.transform, st.layoutMode);
        before.push_back({lm.x, lm.y, old.width, old.height});
        sizes.push_back(LayoutExtent(*modes[i].front(), scales[i], lm.transform, st.layoutMode));
    }
    const size_t primary = static_cast<size_t>(PrimaryOf(st) - st.logical.data());
    const auto after = mutter_layout::Relayout(before, sizes, primary);
    if (!after)
        return Refuse(dsp::kDispChangeFailed, "no layout keeps the monitors joined with " +
                                                  connector + " at " + modeId);

    GVariantBuilder logical;
    g_variant_builder_init(&logical, G_VARIANT_TYPE("a(iiduba(ssa{sv}))"));
    for (size_t i = 0; i < st.logical.size(); ++i) {
        const LogicalMonitor& lm = st.logical[i];
        GVariantBuilder monitors;
        g_variant_builder_init(&monitors, G_VARIANT_TYPE("a(ssa{sv})"));
        for (size_t j = 0; j < lm.connectors.size(); ++j)
            g_variant_builder_add(&monitors, "(ss@a{sv})", lm.connectors[j].c_str(),
                                  modes[i][j]->id.c_str(),
                                  MonitorProperties(*st.FindMonitor(lm.connectors[j])));
        g_variant_builder_add(&logical, "(iiduba(ssa{sv}))", (*after)[i].x, (*after)[i].y,
                              scales[i], lm.transform, static_cast<gboolean>(i == primary),
                              &monitors);
    }
    Config config;
    config.params.reset(g_variant_ref_sink(g_variant_new("(uua(iiduba(ssa{sv}))@a{sv})", st.serial,
                                                         method, &logical, ConfigProperties(st))));
    return config;
}

std::string RemoteErrorName(GError* error)
{
    gchar* name = g_dbus_error_get_remote_error(error);
    std::string s = name != nullptr ? name : "";
    g_free(name);
    return s;
}

// The error's own words, without GDBus's prefix that names the error.
std::string RemoteMessage(GError* error)
{
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    std::string s = copy->message;
    g_error_free(copy);
    return s;
}

}  // namespace

const DisplayConfigService kMutterService{"mutter", "org.gnome.Mutter.DisplayConfig",
                                          "/org/gnome/Mutter/DisplayConfig", "monitors.xml"};
const DisplayConfigService kMuffinService{"muffin", "org.cinnamon.Muffin.DisplayConfig",
                                          "/org/cinnamon/Muffin/DisplayConfig",
                                          "cinnamon-monitors.xml"};

struct MutterDisplaySettings::Bus {
    explicit Bus(const DisplayConfigService& s) : service(s) {}
    const DisplayConfigService& service;
    BusConnection connection;

    // Not GIO's own session-bus connection, whose loss would end the process:
    // the session bus that the look-ups at start share, or the bus at address.
    bool Connect(const char* address, std::string* error)
    {
        connection = address ? OpenBus(address, kReadTimeoutMs, error) : SessionBus(error);
        return connection != nullptr;
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

// Sends the whole current configuration with one monitor's mode changed, on
// a fresh serial. A refusal for a stale serial is sent again, rebuilt, only
// while a fresh read shows the serial moved; Mutter also refuses with
// AccessDenied when configuring over D-Bus is off, and that is final.
int32_t MutterDisplaySettings::Apply(const std::string& modeId, uint32_t method)
{
    constexpr int kAttempts = 3;
    State st;
    applyError_.clear();
    const auto fail = [this](int32_t code, const std::string& why) {
        applyError_ = why;
        std::fprintf(stderr, "tavrimo: mutter: %s\n", why.c_str());
        return code;
    };
    if (!bus_->ReadState(&st, &applyError_)) return fail(dsp::kDispChangeFailed, applyError_);
    for (int attempt = 1;; ++attempt) {
        Config config = BuildConfig(st, connector_, modeId, method);
        if (!config.params) return fail(config.refusal, config.why);
        GErrorPtr e;
        if (bus_->Call("ApplyMonitorsConfig", config.params.get(), nullptr, kApplyTimeoutMs, &e))
            return dsp::kDispChangeSuccessful;
        const std::string name = e ? RemoteErrorName(e.get()) : "";
        const std::string why = "ApplyMonitorsConfig: " + (e ? RemoteMessage(e.get()) : "no reply");
        if (name == "org.freedesktop.DBus.Error.InvalidArgs")
            return fail(dsp::kDispChangeBadMode, why);
        if (name != "org.freedesktop.DBus.Error.AccessDenied")
            return fail(dsp::kDispChangeFailed, why);
        const uint32_t sent = st.serial;
        std::string error;
        if (attempt == kAttempts || !bus_->ReadState(&st, &error) || st.serial == sent)
            return fail(dsp::kDispChangeFailed, why);
    }
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
