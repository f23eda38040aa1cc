#include "mutter_state.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "compositor_mode.h"
#include "display_settings.h"
#include "mutter_layout.h"

namespace mutter_state {

namespace {

Variant Child(GVariant* v, size_t i) { return Variant(g_variant_get_child_value(v, i)); }

bool Lookup(GVariant* dict, const char* key, bool fallback)
{
    gboolean value = fallback;
    g_variant_lookup(dict, key, "b", &value);
    return value;
}

// Bounds of a state that Mutter could be in, wide enough for any real one;
// they keep the layout's arithmetic within 32 bits.
constexpr size_t kMaxMonitors = 16;
constexpr size_t kMaxModes = 1024;  // of one monitor
constexpr int32_t kMaxPixels = 65535;
constexpr int32_t kMaxPosition = 1 << 20;
constexpr double kMinScale = 0.1;
constexpr double kMaxScale = 16;
constexpr double kMaxRefresh = 10000;
constexpr uint32_t kMaxTransform = 7;  // flipped, turned 270 degrees

bool ScaleInRange(double scale) { return scale >= kMinScale && scale <= kMaxScale; }

// GetCurrentState's reply, as plain records, as it comes.
State Read(GVariant* reply)
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

// What in st could not be so, or empty.
std::string Contradiction(const State& st)
{
    if (st.monitors.size() > kMaxMonitors)
        return std::to_string(st.monitors.size()) + " monitors";
    std::set<std::string> connectors;
    for (const Monitor& m : st.monitors) {
        if (m.connector.empty()) return "a monitor without a connector";
        if (!connectors.insert(m.connector).second) return m.connector + " is listed twice";
        if (m.modes.size() > kMaxModes)
            return m.connector + " has " + std::to_string(m.modes.size()) + " modes";
        std::set<std::string> ids;
        int current = 0;
        for (const MonitorMode& mode : m.modes) {
            const std::string what = m.connector + " mode '" + mode.id + "'";
            if (mode.id.empty()) return m.connector + " has a mode without an id";
            if (!ids.insert(mode.id).second) return what + " is listed twice";
            if (mode.width <= 0 || mode.height <= 0 || mode.width > kMaxPixels ||
                mode.height > kMaxPixels)
                return what + " is " + std::to_string(mode.width) + "x" +
                       std::to_string(mode.height);
            if (!(mode.refresh > 0 && mode.refresh <= kMaxRefresh))
                return what + " has the rate " + std::to_string(mode.refresh);
            if (!ScaleInRange(mode.preferredScale) ||
                !std::all_of(mode.scales.begin(), mode.scales.end(), ScaleInRange))
                return what + " has a scale out of range";
            current += mode.current ? 1 : 0;
        }
        if (current > 1) return m.connector + " has " + std::to_string(current) + " current modes";
    }
    std::set<std::string> shown;
    int primaries = 0;
    for (const LogicalMonitor& lm : st.logical) {
        const std::string where =
            "the logical monitor at " + std::to_string(lm.x) + "," + std::to_string(lm.y);
        if (lm.connectors.empty()) return where + " has no monitor";
        for (const std::string& c : lm.connectors) {
            if (connectors.count(c) == 0) return where + " shows " + c + ", which is not listed";
            if (!shown.insert(c).second) return c + " is shown twice";
        }
        if (lm.x < -kMaxPosition || lm.x > kMaxPosition || lm.y < -kMaxPosition ||
            lm.y > kMaxPosition)
            return where + " is out of range";
        if (!ScaleInRange(lm.scale)) return where + " has the scale " + std::to_string(lm.scale);
        if (lm.transform > kMaxTransform)
            return where + " has the transform " + std::to_string(lm.transform);
        primaries += lm.primary ? 1 : 0;
    }
    if (primaries > 1) return std::to_string(primaries) + " primary logical monitors";
    // The layout mode is not checked: muffin 5.6 with fractional scaling on X11
    // announces a third one (3), which is sent back as it came.
    return "";
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

Config Refuse(int32_t code, std::string why) { return {code, std::move(why), nullptr}; }

}  // namespace

std::optional<State> ParseState(GVariant* reply, std::string* error)
{
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE(kStateType))) {
        *error = std::string("a reply of type ") + g_variant_get_type_string(reply);
        return std::nullopt;
    }
    State st = Read(reply);
    *error = Contradiction(st);
    if (!error->empty()) return std::nullopt;
    return st;
}

const LogicalMonitor* PrimaryOf(const State& st)
{
    for (const LogicalMonitor& lm : st.logical)
        if (lm.primary) return &lm;
    return st.logical.empty() ? nullptr : &st.logical.front();
}

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

}  // namespace mutter_state
