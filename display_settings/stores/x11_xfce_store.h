// Xfce's display store: the xfconf channel "displays", which xfsettingsd
// applies at session start and when told to, reached over xfconfd's D-Bus.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "x11_mode_store.h"

using XfconfValue = std::variant<bool, int32_t, double, std::string>;
using XfconfProperties = std::map<std::string, XfconfValue>;

// An output's name as xfsettingsd writes it into a property name.
std::string XfconfOutputName(const std::string& output);

// What to set in channel "displays", whose properties are now current, so
// that scheme Default, and the active profile where it holds the output,
// bring back layout's chosen output at its mode. An output the scheme knows
// changes only its mode; one it does not know is written whole, as RandR
// shows it now. Nothing else is touched.
XfconfProperties XfconfChanges(const X11Layout& layout, const XfconfProperties& current);

// The store on the session bus at busAddress (null: the session's own).
std::unique_ptr<X11ModeStore> XfceStore(const char* busAddress = nullptr);
