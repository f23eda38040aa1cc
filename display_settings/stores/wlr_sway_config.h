// sway's side of keeping a display mode: its configuration, read over its
// IPC socket, and the file of this program's that the configuration may include.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kSwayModeFileName = "tavrimo-display-mode.conf";

// The configuration sway runs with: the text of its main file, and that
// file's folder, which relative include lines are relative to (empty when
// it cannot be known).
struct SwayConfig {
    std::string text;
    std::string dir;
};

// The configuration of the sway at socketPath, asked of it within timeoutMs;
// nothing (with *error set) when it won't say.
std::optional<SwayConfig> SwayCurrentConfig(const std::string& socketPath, int timeoutMs,
                                            std::string* error);

// The string member key of a JSON object, unescaped; nothing when absent or
// when json is not valid JSON.
std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key);

// The folder of the configuration file a sway started with args (its
// command line, args[0] the program) in folder cwd loads: the one -c or
// --config names, else the first of ~/.sway, $XDG_CONFIG_HOME/sway, ~/.i3,
// $XDG_CONFIG_HOME/i3, /etc/sway and /etc/i3 that holds a readable `config`;
// empty when none does.
std::string SwayConfigDir(const std::vector<std::string>& args, const std::string& cwd);

// True when an include line of config names path, itself or by a glob,
// after expanding it as sway does.
bool SwayConfigIncludes(const SwayConfig& config, const std::string& path);

// ConfigHome()/sway/config.d, or empty.
std::string SwayModeDir();

// The configuration line that sets output to width x height at refreshMilliHz
// (0: whatever rate); empty when the name cannot be written into one.
std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz);
