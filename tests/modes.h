// Reading a display-settings layer's whole mode list in tests.
#pragma once

#include <vector>

#include "display_settings.h"

inline std::vector<DspMode> Enumerate(DisplaySettings& layer)
{
    std::vector<DspMode> modes;
    DspMode m{};
    for (int32_t i = 0; layer.EnumDisplaySettingsA(nullptr, i, &m) == dsp::kEnumOk; ++i)
        modes.push_back(m);
    return modes;
}

// Position of the first mode of that size, -1 when there is none.
inline int IndexOf(const std::vector<DspMode>& modes, int width, int height)
{
    for (size_t i = 0; i < modes.size(); ++i)
        if (modes[i].dmPelsWidth == width && modes[i].dmPelsHeight == height)
            return static_cast<int>(i);
    return -1;
}
