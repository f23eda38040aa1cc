// Display modes through user32, the platform's own calls.
#pragma once

#include <unordered_map>

#include <windows.h>

#include "display_settings.h"

class Win32DisplaySettings final : public DisplaySettings {
public:
    // user32's two calls, or stand-ins with their contract for tests.
    struct Calls {
        BOOL(WINAPI* enumerate)(LPCSTR, DWORD, DEVMODEA*) = ::EnumDisplaySettingsA;
        LONG(WINAPI* change)(DEVMODEA*, DWORD) = ::ChangeDisplaySettingsA;
    };

    Win32DisplaySettings() = default;
    explicit Win32DisplaySettings(Calls calls) : calls_(calls) {}

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;

private:
    Calls calls_;
    // What each index of the current device gave the first time, so that a
    // later query by the same index names the same mode or fails: the
    // platform's list can change under a running program.
    std::unordered_map<int32_t, DspMode> seen_;
};
