// The layouts a switch on GNOME must keep acceptable to Mutter, on dummy
// monitors LVDS1 (primary, the one that changes), LVDS2 and LVDS3 with the
// modes of kDummyModes; and the modes LVDS1 switches to in each.
#pragma once

#include <string>
#include <vector>

#include "mutter_config.h"

inline constexpr const char* kWide = "1280x720@60.000";
inline constexpr const char* kSquare = "1024x768@60.000";
inline constexpr const char* kSmall = "800x600@60.000";
inline constexpr const char* kSwitchTargets[] = {kSmall, kSquare};

struct LayoutRow {
    const char* name;
    std::vector<ConfigLogical> config;
};

inline std::vector<LayoutRow> LayoutRows()
{
    const auto one = [](int x, int y, const char* connector, const char* mode,
                        unsigned transform = 0) {
        return ConfigLogical{x, y, transform, connector == std::string("LVDS1"),
                             {{connector, mode}}};
    };
    return {
        {"side by side, top-aligned", {one(0, 0, "LVDS1", kWide), one(1280, 0, "LVDS2", kSquare)}},
        {"side by side, bottom-aligned",
         {one(0, 48, "LVDS1", kWide), one(1280, 0, "LVDS2", kSquare)}},
        {"side by side, centred", {one(0, 24, "LVDS1", kWide), one(1280, 0, "LVDS2", kSquare)}},
        {"stacked, the lower one far to the right",
         {one(0, 0, "LVDS1", kWide), one(1000, 720, "LVDS2", kSquare)}},
        {"stacked, the primary below", {one(0, 0, "LVDS2", kSquare), one(0, 768, "LVDS1", kWide)}},
        {"three in a row, the primary in the middle",
         {one(0, 0, "LVDS3", kSquare), one(1024, 0, "LVDS1", kWide),
          one(2304, 0, "LVDS2", kSmall)}},
        {"an L shape",
         {one(0, 0, "LVDS1", kWide), one(1280, 0, "LVDS2", kWide), one(0, 720, "LVDS3", kWide)}},
        {"one turned 90 degrees",
         {one(0, 0, "LVDS1", kWide), one(1280, 0, "LVDS2", kSquare, 1)}},
        {"a mirrored pair beside a third",
         {{0, 0, 0, true, {{"LVDS1", kWide}, {"LVDS2", kWide}}}, one(1280, 0, "LVDS3", kSquare)}},
        // At 800 wide the primary can keep both only by crossing the seam
        // between them: no edge of it lines up with theirs.
        {"the primary above two side by side, across their seam",
         {one(0, 0, "LVDS1", kWide), one(240, 720, "LVDS2", kSmall),
          one(1040, 720, "LVDS3", kSmall)}},
    };
}
