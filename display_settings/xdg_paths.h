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

// What a replaced file's permissions become: 0644, or those (and the owner)
// of the regular file it replaces, where there is one.
enum class FileMode { Public, KeepExisting };

// Replaces dir/name atomically with content (permissions as mode says),
// making dir and its parents (private to the user) when missing. On failure
// nothing in dir changes and *error says why.
bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& content,
                 std::string* error, FileMode mode = FileMode::Public);
