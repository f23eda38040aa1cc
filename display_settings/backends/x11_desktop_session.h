// What an X11 session's desktop shows on its session bus: whose display
// daemon runs there, and a bounded connection to that bus.
#pragma once

#include <memory>
#include <string>

#include <gio/gio.h>

struct GObjectUnref {
    void operator()(void* o) const { g_object_unref(o); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref>;

// A private connection to the bus at address (null: the session bus), made
// within timeoutMs; null with *error saying why.
BusConnection OpenBus(const char* address, int timeoutMs, std::string* error);

enum class X11Desktop { None, Xfce, Mate };

// The X11 desktop whose display daemon owns its name on the session bus:
// xfsettingsd's org.xfce.SettingsDaemon or mate-settings-daemon's
// org.mate.SettingsDaemon. $XDG_CURRENT_DESKTOP only settles a session where
// both run. With None, *why says what was looked for.
X11Desktop DetectX11Desktop(std::string* why);
