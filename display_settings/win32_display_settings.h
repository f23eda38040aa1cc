// Display modes through user32, the platform's own calls.
#pragma once

#include "display_settings.h"

class Win32DisplaySettings final : public DisplaySettings {
public:
    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;
};
