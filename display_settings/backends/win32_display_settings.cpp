#include "win32_display_settings.h"

#include <cstring>

#include <windows.h>

static_assert(dsp::kEnumOk == TRUE);
static_assert(dsp::kUpdateRegistry == CDS_UPDATEREGISTRY);
static_assert(dsp::kDispChangeSuccessful == DISP_CHANGE_SUCCESSFUL);
static_assert(dsp::kDispChangeRestart == DISP_CHANGE_RESTART);
static_assert(dsp::kDispChangeFailed == DISP_CHANGE_FAILED);
static_assert(dsp::kDispChangeBadMode == DISP_CHANGE_BADMODE);
static_assert(dsp::kDispChangeNotUpdated == DISP_CHANGE_NOTUPDATED);
static_assert(dsp::kDispChangeBadFlags == DISP_CHANGE_BADFLAGS);
static_assert(dsp::kDispChangeBadParam == DISP_CHANGE_BADPARAM);
static_assert(dsp::kFieldBitsPerPel == DM_BITSPERPEL && dsp::kFieldPelsWidth == DM_PELSWIDTH &&
              dsp::kFieldPelsHeight == DM_PELSHEIGHT &&
              dsp::kFieldDisplayFlags == DM_DISPLAYFLAGS &&
              dsp::kFieldDisplayFrequency == DM_DISPLAYFREQUENCY);
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == offsetof(DspMode, dmBitsPerPel));
static_assert(offsetof(DEVMODEA, dmPelsWidth) == offsetof(DspMode, dmPelsWidth));
static_assert(offsetof(DEVMODEA, dmPelsHeight) == offsetof(DspMode, dmPelsHeight));
static_assert(offsetof(DEVMODEA, dmDisplayFrequency) == offsetof(DspMode, dmDisplayFrequency));
static_assert(sizeof(DEVMODEA) >= sizeof(DspMode));

int32_t Win32DisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                   DspMode* devMode)
{
    if (devMode == nullptr) return FALSE;
    // The platform gets a whole record to fill, so it can never write past
    // the memory it was given; the program keeps the part it carries.
    DEVMODEA full{};
    full.dmSize = sizeof full;
    full.dmDriverExtra = 0;
    if (!calls_.enumerate(deviceName, static_cast<DWORD>(modeNum), &full)) return FALSE;
    DspMode mode;
    std::memcpy(&mode, &full, sizeof mode);
    if (deviceName == nullptr) {
        const auto [first, inserted] = seen_.try_emplace(modeNum, mode);
        if (!inserted && std::memcmp(&first->second, &mode, sizeof mode) != 0) return FALSE;
    }
    *devMode = mode;
    return dsp::kEnumOk;
}

int32_t Win32DisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return DISP_CHANGE_BADPARAM;
    // A whole record again, of which only the carried head is declared valid,
    // so the platform never reads past what the program holds.
    DEVMODEA full{};
    std::memcpy(&full, devMode, sizeof *devMode);
    full.dmSize = sizeof *devMode;
    full.dmDriverExtra = 0;
    return calls_.change(&full, static_cast<DWORD>(flags));
}
