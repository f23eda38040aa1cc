// The login entry that brings the chosen display mode back: an XDG autostart
// desktop entry running xrandr.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "xdg_paths.h"

// argv as the value of an Exec key, quoted and escaped by the Desktop Entry
// rules; nothing when an argument cannot be carried (invalid UTF-8, control
// characters other than tab, newline and carriage return).
std::optional<std::string> DesktopExecValue(const std::vector<std::string>& argv);

// A refresh rate with two decimals, whatever the process's locale.
std::string FormatRate(double hz);

// The xrandr command line that re-applies mode modeName at rate hz on output.
std::vector<std::string> XrandrArgs(const std::string& output, const std::string& modeName,
                                    double hz);

// Replaces dir/kAutostartFileName atomically with an entry running argv.
// On failure nothing in dir changes and *error says why.
bool WriteAutostartEntry(const std::string& dir, const std::vector<std::string>& argv,
                         std::string* error);
