// Where a desktop session keeps a user's settings, by the XDG Base Directory
// rules, this program's login entry there, and how its files there are written.
#pragma once

#include <string>

inline constexpr const char* kAutostartFileName = "tavrimo-display-mode.desktop";

// $XDG_CONFIG_HOME, or $HOME/.config when the variable is unset, empty or
// relative; no trailing slash. Empty when no home is known.
std::string ConfigHome();

// ConfigHome()/autostart, or empty.
std::string AutostartDir();

// Removes an earlier login entry of this program, when it is a regular file
// (a symlink there is the user's own doing and stays). True when no entry is
// left behind.
bool RemoveLoginEntry();

// Replaces dir/name atomically with content (mode 0644), making dir and its
// parents (private to the user) when missing. On failure nothing in dir
// changes and *error says why.
bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& content,
                 std::string* error);
