#include "mode_list.h"

#include <limits>
#include <stdexcept>

std::string FmtNum(int32_t n)
{
    std::string s = std::to_string(n);
    if (s.size() < 5)
        s.insert(0, 5 - s.size(), ' ');
    return s;
}

std::string DepthText(int16_t bitsPerPel)
{
    switch (bitsPerPel) {
    case 4: return " 16色( 4bit)";
    case 8: return "256色( 8bit)";
    case 16: return " 高彩(16bit)";
    case 32: return " 全彩(32bit)";
    default: return {};
    }
}

std::string DspLine(const DspMode& mode)
{
    return FmtNum(mode.dmPelsWidth) + " x " + FmtNum(mode.dmPelsHeight) + "   " +
           DepthText(mode.dmBitsPerPel);
}

void FillDspList(DisplaySettings& settings, DspListView& list)
{
    DspMode mode{};
    for (int32_t index = 0;; ++index) {
        if (settings.EnumDisplaySettingsA(nullptr, index, &mode) != dsp::kEnumOk)
            return;
        list.AppendLine(DspLine(mode));
        list.ProcessPendingEvents();
        if (index == std::numeric_limits<int32_t>::max())
            throw std::overflow_error("mode counter overflow");
    }
}

std::optional<int32_t> ApplyDsp(DisplaySettings& settings, DspListView& list)
{
    const int position = list.SelectedPosition();
    if (position < 0)
        return std::nullopt;
    list.FocusList();
    DspMode mode{};
    // An index the platform no longer knows leaves the record meaningless:
    // applying it could switch to a mode the user never chose.
    if (settings.EnumDisplaySettingsA(nullptr, position, &mode) != dsp::kEnumOk)
        return std::nullopt;
    return settings.ChangeDisplaySettingsA(&mode, dsp::kUpdateRegistry);
}
