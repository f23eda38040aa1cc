#include "mutter_config.h"

#include <algorithm>
#include <memory>

#include <gio/gio.h>

#include "gio_bus.h"

namespace {

constexpr const char* kService = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";

using gio_bus::Connect;
using gio_bus::Variant;

Variant Call(const std::string& address, const char* method, GVariant* params, std::string* error)
{
    const auto c = Connect(address);
    if (!c) {
        *error = "no bus";
        if (params) g_variant_unref(g_variant_ref_sink(params));
        return nullptr;
    }
    GError* e = nullptr;
    Variant reply(g_dbus_connection_call_sync(c.get(), kService, kPath, kService, method, params,
                                              nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &e));
    if (e != nullptr) {
        g_dbus_error_strip_remote_error(e);
        *error = e->message;
        g_error_free(e);
    }
    return reply;
}

int64_t Shared(int64_t a0, int64_t aLength, int64_t b0, int64_t bLength)
{
    return std::min(a0 + aLength, b0 + bLength) - std::max(a0, b0);
}

// "right", "left", "below" or "above": where b touches a; empty if it does not.
std::string Touch(const mutter_layout::Rect& a, const mutter_layout::Rect& b)
{
    const bool y = Shared(a.y, a.height, b.y, b.height) > 0;
    const bool x = Shared(a.x, a.width, b.x, b.width) > 0;
    if (y && b.x == a.x + a.width) return "right";
    if (y && b.x + b.width == a.x) return "left";
    if (x && b.y == a.y + a.height) return "below";
    if (x && b.y + b.height == a.y) return "above";
    return "";
}

}  // namespace

std::string ApplyConfig(const std::string& busAddress, const std::vector<ConfigLogical>& config,
                        unsigned method)
{
    std::string error;
    const Variant state = Call(busAddress, "GetCurrentState", nullptr, &error);
    if (!state) return error;
    guint32 serial = 0;
    g_variant_get_child(state.get(), 0, "u", &serial);
    GVariantBuilder logical;
    g_variant_builder_init(&logical, G_VARIANT_TYPE("a(iiduba(ssa{sv}))"));
    for (const ConfigLogical& lm : config) {
        GVariantBuilder monitors;
        g_variant_builder_init(&monitors, G_VARIANT_TYPE("a(ssa{sv})"));
        for (const ConfigMonitor& m : lm.monitors)
            g_variant_builder_add(&monitors, "(ss@a{sv})", m.connector.c_str(), m.mode.c_str(),
                                  g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
        g_variant_builder_add(&logical, "(iiduba(ssa{sv}))", lm.x, lm.y, 1.0, lm.transform,
                              static_cast<gboolean>(lm.primary), &monitors);
    }
    const Variant reply =
        Call(busAddress, "ApplyMonitorsConfig",
             g_variant_new("(uua(iiduba(ssa{sv}))@a{sv})", serial, method, &logical,
                           g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
             &error);
    return reply ? "" : error;
}

ReadState ReadConfig(const std::string& busAddress)
{
    ReadState st;
    std::string error;
    const Variant reply = Call(busAddress, "GetCurrentState", nullptr, &error);
    if (!reply) return st;
    GVariantIter* monitors = nullptr;
    GVariantIter* logical = nullptr;
    g_variant_get(reply.get(), "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})@a{sv})",
                  &st.serial, &monitors, &logical, nullptr);
    const gchar* connector = nullptr;
    GVariantIter* modes = nullptr;
    GVariant* props = nullptr;
    while (g_variant_iter_next(monitors, "((&s&s&s&s)a(siiddada{sv})@a{sv})", &connector, nullptr,
                               nullptr, nullptr, &modes, &props)) {
        ReadMonitor m;
        m.connector = connector;
        gchar* printed = g_variant_print(props, TRUE);
        m.properties = printed;
        g_free(printed);
        g_variant_unref(props);
        const gchar* id = nullptr;
        int width = 0, height = 0;
        GVariant* modeProps = nullptr;
        while (g_variant_iter_next(modes, "(&siidd@ad@a{sv})", &id, &width, &height, nullptr,
                                   nullptr, nullptr, &modeProps)) {
            gboolean current = FALSE;
            g_variant_lookup(modeProps, "is-current", "b", &current);
            g_variant_unref(modeProps);
            if (current) m = {m.connector, id, width, height, m.properties};
        }
        g_variant_iter_free(modes);
        st.monitors.push_back(std::move(m));
    }
    g_variant_iter_free(monitors);
    ConfigLogical lm;
    gboolean primary = FALSE;
    GVariantIter* specs = nullptr;
    while (g_variant_iter_next(logical, "(iiduba(ssss)@a{sv})", &lm.x, &lm.y, nullptr,
                               &lm.transform, &primary, &specs, nullptr)) {
        lm.primary = primary;
        lm.monitors.clear();
        while (g_variant_iter_next(specs, "(&s&s&s&s)", &connector, nullptr, nullptr, nullptr)) {
            const ReadMonitor* m = st.Monitor(connector);
            lm.monitors.push_back({connector, m ? m->mode : ""});
        }
        g_variant_iter_free(specs);
        st.logical.push_back(lm);
    }
    g_variant_iter_free(logical);
    st.read = true;
    return st;
}

const ReadMonitor* ReadState::Monitor(const std::string& connector) const
{
    for (const ReadMonitor& m : monitors)
        if (m.connector == connector) return &m;
    return nullptr;
}

const ConfigLogical* ReadState::LogicalOf(const std::string& connector) const
{
    for (const ConfigLogical& lm : logical)
        for (const ConfigMonitor& m : lm.monitors)
            if (m.connector == connector) return &lm;
    return nullptr;
}

std::vector<mutter_layout::Rect> ReadState::Rects() const
{
    std::vector<mutter_layout::Rect> rects;
    for (const ConfigLogical& lm : logical) {
        const ReadMonitor* m = lm.monitors.empty() ? nullptr : Monitor(lm.monitors[0].connector);
        int w = m ? m->width : 0, h = m ? m->height : 0;
        if (lm.transform % 2 == 1) std::swap(w, h);
        rects.push_back({lm.x, lm.y, w, h});
    }
    return rects;
}

std::string LayoutFault(const std::vector<mutter_layout::Rect>& before,
                        const std::vector<mutter_layout::Rect>& after)
{
    if (before.size() != after.size()) return "the number of logical monitors changed";
    int minX = after.empty() ? 0 : after[0].x, minY = after.empty() ? 0 : after[0].y;
    for (size_t i = 0; i < after.size(); ++i) {
        minX = std::min(minX, after[i].x);
        minY = std::min(minY, after[i].y);
        for (size_t j = i + 1; j < after.size(); ++j) {
            const auto& a = after[i];
            const auto& b = after[j];
            if (Shared(a.x, a.width, b.x, b.width) > 0 && Shared(a.y, a.height, b.y, b.height) > 0)
                return "monitors " + std::to_string(i) + " and " + std::to_string(j) + " overlap";
            const std::string was = Touch(before[i], before[j]);
            if (!was.empty() && Touch(a, b) != was)
                return "monitor " + std::to_string(j) + " no longer touches monitor " +
                       std::to_string(i) + " on its " + was;
        }
    }
    if (minX != 0 || minY != 0) return "the layout does not start at (0, 0)";
    return "";
}

ApplyCallRecorder::ApplyCallRecorder(const std::string& busAddress)
{
    auto c = Connect(busAddress);
    if (!c) return;
    GError* e = nullptr;
    Variant reply(g_dbus_connection_call_sync(
        c.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
        g_variant_new_parsed("([%s], uint32 0)",
                             "type='method_call',member='ApplyMonitorsConfig'"),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &e));
    if (!reply) {
        g_clear_error(&e);
        return;
    }
    // Runs on GDBus's own thread: the weak state outlives a late message.
    auto* weak = new std::weak_ptr<State>(state_);
    filter_ = g_dbus_connection_add_filter(
        c.get(),
        [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
            const auto state = static_cast<std::weak_ptr<State>*>(data)->lock();
            if (state && incoming &&
                g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
                g_strcmp0(g_dbus_message_get_member(message), "ApplyMonitorsConfig") == 0) {
                GVariant* body = g_dbus_message_get_body(message);
                gchar* printed = body ? g_variant_print(body, TRUE) : g_strdup("");
                std::lock_guard<std::mutex> hold(state->lock);
                state->calls.emplace_back(printed);
                g_free(printed);
            }
            // A monitor only listens: nothing it sees is for this process to answer.
            if (incoming) {
                g_object_unref(message);
                return static_cast<GDBusMessage*>(nullptr);
            }
            return message;
        },
        weak, [](gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); });
    connection_ = c.release();
}

ApplyCallRecorder::~ApplyCallRecorder()
{
    if (!connection_) return;
    auto* c = static_cast<GDBusConnection*>(connection_);
    g_dbus_connection_remove_filter(c, filter_);
    g_dbus_connection_close_sync(c, nullptr, nullptr);
    g_object_unref(c);
}

std::vector<std::string> ApplyCallRecorder::Calls() const
{
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->calls;
}
