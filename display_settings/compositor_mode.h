// What the compositor layers (Mutter, KWin, wlroots) share in turning an
// output's mode into a record.
#pragma once

#include <cmath>
#include <cstring>
#include <string>

#include "dsp_mode.h"

namespace dsp {

// wl_output.transform, which Mutter's transforms follow: 90 and 270, flipped
// or not, turn the picture sideways.
inline bool Sideways(int64_t transform) { return transform % 2 == 1; }

// A record for a mode of width x height pixels at hz on output name, as the
// output shows it under transform, with layer key key.
inline DspMode CompositorMode(const std::string& name, int32_t width, int32_t height, double hz,
                              int64_t transform, bool interlaced, uint32_t key)
{
    DspMode m{};
    std::strncpy(m.dmDeviceName, name.c_str(), sizeof m.dmDeviceName - 1);
    m.dmSpecVersion = kSpecVersion;
    m.dmSize = sizeof(DspMode);
    m.dmFields = kFieldBitsPerPel | kFieldPelsWidth | kFieldPelsHeight | kFieldDisplayFlags |
                 kFieldDisplayFrequency;
    // The compositors scan out 32-bit pixels whatever the mode; there is no depth to choose.
    m.dmBitsPerPel = 32;
    m.dmPelsWidth = Sideways(transform) ? height : width;
    m.dmPelsHeight = Sideways(transform) ? width : height;
    m.dmDisplayFlags = interlaced ? kDisplayInterlaced : 0;
    m.dmDisplayFrequency = static_cast<int32_t>(std::lround(hz));
    StoreModeKey(&m, key);
    return m;
}

}  // namespace dsp
