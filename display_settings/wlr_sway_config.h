// sway's side of keeping a display mode: its configuration, read over its
// IPC socket, and the file of this program's that the configuration may include.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* kSwayModeFileName = "tavrimo-display-mode.conf";

// The text of the configuration sway runs with, asked of the sway at
// socketPath within timeoutMs; nothing (with *error set) when it won't say.
std::optional<std::string> SwayCurrentConfig(const std::string& socketPath, int timeoutMs,
                                             std::string* error);

// The string member key of a JSON object, unescaped; nothing when absent or
// when json is not valid JSON.
std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key);

// The folder of the configuration file sway loads when it is not given one:
// the first of ~/.sway, $XDG_CONFIG_HOME/sway, ~/.i3, $XDG_CONFIG_HOME/i3,
// /etc/sway and /etc/i3 that holds a readable `config`; empty when none does.
std::string SwayConfigDir();

// True when an include line of config, the text of the file in configDir,
// names path, itself or by a glob, after expanding it as sway does (a
// relative path is relative to configDir).
bool SwayConfigIncludes(const std::string& config, const std::string& path,
                        const std::string& configDir = SwayConfigDir());

// ConfigHome()/sway/config.d, or empty.
std::string SwayModeDir();

// The configuration line that sets output to width x height at refreshMilliHz
// (0: whatever rate); empty when the name cannot be written into one.
std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz);
