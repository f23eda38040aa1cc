// The mode list and the apply step, free of any window system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "display_settings.h"

// The list control as the fill and apply steps see it; each window front end
// implements it over its own list widget. Texts are UTF-8.
class DspListView {
public:
    virtual ~DspListView() = default;
    virtual void AppendLine(const std::string& line) = 0;
    // Lets the window system handle every event that is pending, then returns.
    virtual void ProcessPendingEvents() = 0;
    // Position of the selected line, -1 when none is selected.
    virtual int SelectedPosition() const = 0;
    virtual void FocusList() = 0;
};

// n in decimal, right-aligned in at least 5 characters.
std::string FmtNum(int32_t n);

// The colour-depth label for a bits-per-pixel value; empty for unnamed depths.
std::string DepthText(int16_t bitsPerPel);

// One list line: width, height and depth label.
std::string DspLine(const DspMode& mode);

// Appends one line per mode of the current display device, in the platform's
// order, so that line k describes mode index k.
void FillDspList(DisplaySettings& settings, DspListView& list);

// Applies the mode of the selected line and makes it persistent. Returns the
// platform's result, or nothing when nothing was applied (no selection, or
// the platform no longer knows the line's index).
std::optional<int32_t> ApplyDsp(DisplaySettings& settings, DspListView& list);
