// The only road from the rest of the program to the platform's display modes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

namespace dsp {

// The query of a layer that read its device's modes once: mode modeNum of
// modes, for the current device (deviceName null) or the one named device.
inline int32_t ServeMode(const std::vector<DspMode>& modes, const std::string& device,
                         const char* deviceName, int32_t modeNum, DspMode* devMode)
{
    if (devMode == nullptr || modeNum < 0 || static_cast<size_t>(modeNum) >= modes.size())
        return 0;
    if (deviceName != nullptr && device != deviceName) return 0;
    *devMode = modes[static_cast<size_t>(modeNum)];
    return kEnumOk;
}

}  // namespace dsp
