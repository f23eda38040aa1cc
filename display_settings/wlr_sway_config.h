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

// The string member key of a JSON object, unescaped; nothing when absent.
std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key);

// True when an include line of config names path, itself or by a glob,
// after `~` and environment variables in it are expanded.
bool SwayConfigIncludes(const std::string& config, const std::string& path);

// ConfigHome()/sway/config.d, or empty.
std::string SwayModeDir();

// The configuration line that sets output to width x height at refreshMilliHz
// (0: whatever rate); empty when the name cannot be written into one.
std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz);
