// kanshi's side of keeping a display mode: whether kanshi manages this
// session's outputs, and the profile of its configuration that it would apply
// to the outputs connected now, which takes the mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An output as the compositor announces it: its connector name and, where the
// compositor reports them, its make, model and serial.
struct KanshiOutput {
    std::string name;
    std::string make;
    std::string model;
    std::string serial;
    // The mode is not one of the output's own mode objects (a headless,
    // nested or virtual output): kanshi has to set it as a custom mode.
    bool customMode = false;
};

enum class KanshiStoreResult {
    NotRunning,  // kanshi does not manage this session's outputs
    NoProfile,   // no profile matches the connected outputs; nothing written
    Stored,      // the profile holds the mode, and kanshi was told to reload
    Failed,      // *error says why; nothing written
};

// Sets output's mode to width x height at refreshMilliHz (0: whatever rate)
// in the profile kanshi would choose for connected, changing nothing else.
KanshiStoreResult KanshiStoreMode(const std::vector<KanshiOutput>& connected,
                                  const KanshiOutput& output, int32_t width, int32_t height,
                                  int32_t refreshMilliHz, std::string* error);

// The parts below are what KanshiStoreMode is made of.

// The value of a `mode` directive for width x height at refreshMilliHz:
// "1920x1080@60.000Hz", "1280x720" without a rate, "--custom 1024x768" when custom.
std::string KanshiModeValue(int32_t width, int32_t height, int32_t refreshMilliHz, bool custom);

// Setting a mode in a kanshi configuration: which file changes, and to what.
struct KanshiEdit {
    KanshiStoreResult result = KanshiStoreResult::Failed;  // NoProfile, Stored or Failed
    std::string path;  // the file holding the profile's line for the output (Stored)
    std::string text;  // that file's new content (Stored)
    std::string error;  // why not (Failed)
};

// How a kanshi matches a profile's output lines to the connected outputs:
// each line in turn takes the first output left that it matches (the outputs
// newest first), lines that name an output before "*" lines.
struct KanshiRules {
    bool fileOrder = false;  // in file order (kanshi 1.9), else last line first (1.3 to 1.5)
    bool globs = false;      // "MAKE MODEL SERIAL" may be a glob (kanshi 1.9)
};

// The edit that gives output the mode value in the profile kanshi would apply
// to connected, reading configPath and the files its include lines name
// (relative ones from cwd, kanshi's working folder).
KanshiEdit KanshiEditMode(const std::string& configPath, const std::string& cwd,
                          const KanshiRules& rules, const std::vector<KanshiOutput>& connected,
                          const KanshiOutput& output, const std::string& modeValue);

// The kanshi that manages the outputs of this session's compositor
// ($XDG_RUNTIME_DIR and $WAYLAND_DISPLAY), as far as it can be seen.
struct KanshiDaemon {
    bool running = false;
    bool ipc = false;  // it answers on its IPC socket (kanshi 1.4 and later, with varlink)
    bool customModes = false;  // it reads `mode --custom` (not kanshi 1.3)
    KanshiRules rules;
    int pid = 0;  // 0 where its process cannot be seen
    std::string configPath;
    std::string cwd;
};
KanshiDaemon FindKanshi();

// The configuration file a kanshi started with args (args[0] the program)
// in folder cwd, with environment env (NAME=value), reads.
std::string KanshiConfigPath(const std::vector<std::string>& args, const std::string& cwd,
                             const std::vector<std::string>& env);
