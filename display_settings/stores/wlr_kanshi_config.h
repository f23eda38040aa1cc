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
