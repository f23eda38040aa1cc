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

X11Desktop DetectX11Desktop(std::string* why)
{
    const BusConnection bus = SessionBus(why);
    if (!bus) return X11Desktop::None;
    const bool xfce = HasOwner(bus.get(), "org.xfce.SettingsDaemon");
    const bool mate = HasOwner(bus.get(), "org.mate.SettingsDaemon");
    if (xfce && mate) return CurrentDesktopIs("MATE") ? X11Desktop::Mate : X11Desktop::Xfce;
    if (xfce) return X11Desktop::Xfce;
    if (mate) return X11Desktop::Mate;
    *why = "neither xfsettingsd nor mate-settings-daemon runs on the session bus";
    if (CurrentDesktopIs("XFCE") || CurrentDesktopIs("MATE"))
        *why += " (though $XDG_CURRENT_DESKTOP names its desktop)";
    return X11Desktop::None;
}
