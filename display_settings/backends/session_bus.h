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
// within timeoutMs as a whole, authentication and the bus's Hello included;
// null with *error saying why. Never starts a bus: with neither an address
// nor a user bus there is none. The connection makes method calls; GDBus
// does not route the bus's signals to it.
BusConnection OpenBus(const char* address, int timeoutMs, std::string* error);

// How long the look-ups at start wait for the session bus.
inline constexpr int kLookupBusTimeoutMs = 1000;

// Makes the look-ups on this thread share one session-bus connection while
// the returned handle lives: the first SessionBus() opens it, the others get
// it, or the first one's error, without trying again.
std::shared_ptr<void> ShareSessionBus();

// The session bus for a look-up at start, within kLookupBusTimeoutMs: the
// shared connection where ShareSessionBus() holds one, else a private one.
// A bus that lets that time run out, or none at all, is given up for the rest
// of the process: DBUS_SESSION_BUS_ADDRESS becomes "disabled:", so that no
// other client here (Qt's accessibility bridge) waits for it in turn or starts
// one.
BusConnection SessionBus(std::string* error);
