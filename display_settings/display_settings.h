// The only road from the rest of the program to the platform's display modes.
#pragma once

#include <cstdint>

#include "dsp_mode.h"

class DisplaySettings {
public:
    virtual ~DisplaySettings() = default;

    // Fills *devMode with mode modeNum of the current display device
    // (deviceName null). Returns dsp::kEnumOk when the mode exists.
    virtual int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                         DspMode* devMode) = 0;

    // Switches to *devMode, as a query left it; with dsp::kUpdateRegistry in
    // flags the mode also becomes the display's persistent setting.
    // Returns one of the dsp::kDispChange* codes.
    virtual int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) = 0;
};
