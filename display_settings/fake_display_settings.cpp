#include "fake_display_settings.h"

#include <cstring>

DspMode FakeDisplaySettings::Mode(int32_t width, int32_t height, int16_t bitsPerPel,
                                  int32_t frequency)
{
    DspMode m{};
    std::strcpy(m.dmDeviceName, "FAKE-0");
    m.dmSpecVersion = dsp::kSpecVersion;
    m.dmSize = sizeof(DspMode);
    m.dmFields = dsp::kFieldBitsPerPel | dsp::kFieldPelsWidth | dsp::kFieldPelsHeight |
                 dsp::kFieldDisplayFlags | dsp::kFieldDisplayFrequency;
    m.dmBitsPerPel = bitsPerPel;
    m.dmPelsWidth = width;
    m.dmPelsHeight = height;
    m.dmDisplayFrequency = frequency;
    return m;
}

int32_t FakeDisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                  DspMode* devMode)
{
    ++enumCalls;
    if (deviceName != nullptr || devMode == nullptr || modeNum < 0 ||
        static_cast<size_t>(modeNum) >= modes.size())
        return 0;
    *devMode = modes[static_cast<size_t>(modeNum)];
    return dsp::kEnumOk;
}

int32_t FakeDisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr)
        return dsp::kDispChangeBadParam;
    applied.push_back({*devMode, flags});
    return changeResult;
}
