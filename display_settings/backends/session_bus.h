// A private, bounded connection to the session bus, for the layers that talk
// D-Bus through GIO (Mutter's and muffin's, and the X11 desktops' look-up).
#pragma once

#include <memory>
#include <string>

#include <gio/gio.h>

struct GObjectUnref {
    void operator()(void* o) const { g_object_unref(o); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref>;

// A private connection to the bus at address (null: the session bus), made
// within timeoutMs; null with *error saying why. Never starts a bus: with
// neither an address nor a user bus there is none.
BusConnection OpenBus(const char* address, int timeoutMs, std::string* error);
