// Xfce's display store: the xfconf channel "displays", which xfsettingsd
// applies at session start and when told to, reached over xfconfd's D-Bus.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <gio/gio.h>

#include "x11_mode_store.h"

using XfconfValue = std::variant<bool, int32_t, double, std::string>;
using XfconfProperties = std::map<std::string, XfconfValue>;

// An output's name as xfsettingsd writes it into a property name.
std::string XfconfOutputName(const std::string& output);

// The profile of the user's that xfsettingsd 4.20 applies at start in place
// of Default (/AutoEnableProfiles allowing; 4.18 applies Default): the only
// one whose outputs' EDIDs are exactly those of the connected outputs.
// Empty where there is none.
std::string XfceLoginProfile(const X11Layout& layout, const XfconfProperties& current);

// What to set in channel "displays", whose properties are now current, so
// that scheme Default, and the active profile and the one XfceLoginProfile
// names where they hold the output, bring back layout's chosen output at its mode. An output the scheme knows
// changes only its mode; one it does not know is written whole, as RandR
// shows it now. Nothing else is touched.
XfconfProperties XfconfChanges(const X11Layout& layout, const XfconfProperties& current);

// Opens a connection to the bus xfconfd is on: a new reference, or null with
// *error saying why.
using XfconfBus = std::function<GDBusConnection*(std::string* error)>;

// The store on the bus that openBus connects to.
std::unique_ptr<X11ModeStore> XfceStore(XfconfBus openBus);
