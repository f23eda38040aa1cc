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

// A refresh rate, whatever the process's locale: two decimals, or as many
// more (up to nine) as it takes for the text to lie nearer to hz than to any
// of others, the rates of the output's other modes of the same name, since
// xrandr picks the mode of that name whose rate is nearest the one it is given.
std::string FormatRate(double hz, const std::vector<double>& others = {});

// The xrandr command line that re-applies mode modeName at rate hz on output;
// others as for FormatRate.
std::vector<std::string> XrandrArgs(const std::string& output, const std::string& modeName,
                                    double hz, const std::vector<double>& others = {});

// Replaces dir/kAutostartFileName atomically with an entry running argv.
// On failure nothing in dir changes and *error says why.
bool WriteAutostartEntry(const std::string& dir, const std::vector<std::string>& argv,
                         std::string* error);
