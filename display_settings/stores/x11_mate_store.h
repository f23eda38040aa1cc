// MATE's display store: ~/.config/monitors.xml in the version-1 format that
// mate-settings-daemon's xrandr plugin applies at start and on hotplug.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "x11_mode_store.h"

inline constexpr const char* kMateMonitorsFile = "monitors.xml";

// MATE's whole-hertz rate of a mode, as it rounds it.
int MateRate(const X11ModeTiming& mode);
int MateRate(const X11OutputState& output);

// False where mate-settings-daemon, applying the chosen output's size and
// whole-hertz rate, would take an earlier mode of its list than the one it shows.
bool MateNamesMode(const X11Layout& layout);

// existing (a version-1 file, or empty for none) with the first configuration
// that MATE would pick for layout's outputs holding the chosen output's new
// mode; a configuration built from layout is added where none matches.
// Everything else is kept. Nothing, with *error saying why, for a file of
// another version or one that does not parse.
std::optional<std::string> MateMonitorsXml(const std::string& existing, const X11Layout& layout,
                                           std::string* error);

// The store in ConfigHome(): monitors.xml, and monitors.xml.backup where one
// waits to be restored; also the login entry where MATE cannot name the mode.
std::unique_ptr<X11ModeStore> MateStore();
