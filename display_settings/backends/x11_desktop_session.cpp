#include "x11_desktop_session.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kBusTimeoutMs = 5000;

bool HasOwner(GDBusConnection* bus, const char* name)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, &error);
    if (error != nullptr) g_error_free(error);
    gboolean owned = FALSE;
    if (reply != nullptr) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    return owned != FALSE;
}

// True when $XDG_CURRENT_DESKTOP, a colon-separated list, names desktop.
bool CurrentDesktopIs(const char* desktop)
{
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    if (value == nullptr) return false;
    gchar** names = g_strsplit(value, ":", -1);
    bool found = false;
    for (gchar** n = names; *n != nullptr && !found; ++n) found = g_ascii_strcasecmp(*n, desktop) == 0;
    g_strfreev(names);
    return found;
}

}  // namespace

BusConnection OpenBus(const char* address, int timeoutMs, std::string* error)
{
    GError* raw = nullptr;
    gchar* found = address != nullptr
                       ? g_strdup(address)
                       : g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    if (found == nullptr) {
        *error = std::string("no session bus: ") + (raw ? raw->message : "unknown");
        if (raw != nullptr) g_error_free(raw);
        return nullptr;
    }
    // Made in a context of its own, so that a bus that never answers costs
    // timeoutMs and no more.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    struct Pending {
        GDBusConnection* connection = nullptr;
        GError* error = nullptr;
        bool done = false;
    } pending;
    GCancellable* cancel = g_cancellable_new();
    g_dbus_connection_new_for_address(
        found,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancel,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            p->connection = g_dbus_connection_new_for_address_finish(result, &p->error);
            p->done = true;
        },
        &pending);
    GSource* timeout = g_timeout_source_new(static_cast<guint>(timeoutMs));
    g_source_set_callback(
        timeout,
        [](gpointer c) {
            g_cancellable_cancel(static_cast<GCancellable*>(c));
            return G_SOURCE_REMOVE;
        },
        cancel, nullptr);
    g_source_attach(timeout, context);
    while (!pending.done) g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_object_unref(cancel);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_free(found);
    BusConnection bus(pending.connection);
    if (!bus) *error = std::string("cannot connect to the session bus: ") +
                       (pending.error ? pending.error->message : "unknown");
    if (pending.error != nullptr) g_error_free(pending.error);
    if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    return bus;
}

X11Desktop DetectX11Desktop(std::string* why)
{
    const BusConnection bus = OpenBus(nullptr, kBusTimeoutMs, why);
    if (!bus) return X11Desktop::None;
    const bool xfce = HasOwner(bus.get(), "org.xfce.SettingsDaemon");
    const bool mate = HasOwner(bus.get(), "org.mate.SettingsDaemon");
    g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    if (xfce && mate) return CurrentDesktopIs("MATE") ? X11Desktop::Mate : X11Desktop::Xfce;
    if (xfce) return X11Desktop::Xfce;
    if (mate) return X11Desktop::Mate;
    *why = "neither xfsettingsd nor mate-settings-daemon runs on the session bus";
    if (CurrentDesktopIs("XFCE") || CurrentDesktopIs("MATE"))
        *why += " (though $XDG_CURRENT_DESKTOP names its desktop)";
    return X11Desktop::None;
}
