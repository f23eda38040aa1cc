// sway's side of keeping a display mode: its configuration and outputs, read
// over its IPC socket, and the file of this program's that the configuration
// may include.
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

// An output as sway's get_outputs shows it; make, model and serial as sway
// prints them ("Unknown" where the output reports none).
struct SwayOutput {
    std::string name;
    std::string make;
    std::string model;
    std::string serial;
    bool focused = false;
};

// The outputs of the sway at socketPath, asked of it within timeoutMs;
// nothing (with *error set) when it won't say.
std::optional<std::vector<SwayOutput>> SwayOutputs(const std::string& socketPath, int timeoutMs,
                                                   std::string* error);
// The outputs in a get_outputs answer; nothing when it is not one.
std::optional<std::vector<SwayOutput>> SwayOutputsFromJson(const std::string& json);

// "make model serial", as sway names an output by what it is, when sway
// reports all three for output and no other of outputs shares them; else empty.
std::string SwayIdentity(const SwayOutput& output, const std::vector<SwayOutput>& outputs);

// The string member key of a JSON object, unescaped; nothing when absent or
// when json is not valid JSON.
std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key);

// The folder of the configuration file a sway started with args (its
// command line, args[0] the program) in folder cwd loads: the one -c or
// --config names, else the first of ~/.sway, $XDG_CONFIG_HOME/sway, ~/.i3,
// $XDG_CONFIG_HOME/i3, /etc/sway and /etc/i3 that holds a readable `config`;
// empty when none does.
std::string SwayConfigDir(const std::vector<std::string>& args, const std::string& cwd);

// What sway does with the file at path when it next reads config: whether
// an include reaches it (followed as sway follows them: globs, ~ and
// variables, paths relative to the including file, nested files, each file
// once), and the first later line that sets the mode of an output named by
// one of names (a connector, an identity, or "*"), which then wins.
struct SwayReading {
    bool included = false;
    std::string overriddenBy;  // that line, or empty
};
SwayReading SwayConfigReads(const SwayConfig& config, const std::string& path,
                            const std::vector<std::string>& names);

// True when config, or a file it includes, includes path.
bool SwayConfigIncludes(const SwayConfig& config, const std::string& path);

// ConfigHome()/sway/config.d, or empty.
std::string SwayModeDir();

// The configuration line that sets output (a connector name, or with
// byIdentity an identity, which is quoted) to width x height at refreshMilliHz (0: whatever rate);
// empty when the name cannot be written into one.
std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz, bool byIdentity = false);

// The mode file's text current with line in place of every line for an
// output named by one of names; the other lines stay as they are.
std::string SwayModeFileWith(const std::string& current, const std::vector<std::string>& names,
                             const std::string& line);
