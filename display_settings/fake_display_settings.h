// A scripted display-settings layer for tests: it serves a mode table that the
// test sets up and records every apply instead of touching a display.
#pragma once

#include <vector>

#include "display_settings.h"

class FakeDisplaySettings final : public DisplaySettings {
public:
    struct Applied {
        DspMode mode;
        int32_t flags;
    };

    std::vector<DspMode> modes;        // index k serves modes[k]
    int32_t changeResult = dsp::kDispChangeSuccessful;
    std::vector<Applied> applied;
    int enumCalls = 0;

    // Builds a record the way a platform query would fill it.
    static DspMode Mode(int32_t width, int32_t height, int16_t bitsPerPel,
                        int32_t frequency = 60);

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;
};
