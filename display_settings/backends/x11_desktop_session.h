// What an X11 session's desktop shows on its session bus: whose display
// daemon runs there.
#pragma once

#include <string>

#include "session_bus.h"

enum class X11Desktop { None, Xfce, Mate };

// The X11 desktop whose display daemon owns its name on the session bus:
// xfsettingsd's org.xfce.SettingsDaemon or mate-settings-daemon's
// org.mate.SettingsDaemon. $XDG_CURRENT_DESKTOP only settles a session where
// both run. With None, *why says what was looked for.
X11Desktop DetectX11Desktop(std::string* why);
