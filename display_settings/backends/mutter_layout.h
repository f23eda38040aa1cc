// Where Mutter's logical monitors go, and at what scale, when one of them
// changes mode: the rules ApplyMonitorsConfig checks, kept as plain records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace mutter_layout {

struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const Rect&) const = default;
};

struct Size {
    int32_t width = 0;
    int32_t height = 0;
};

// The layout after each of rects takes its size in sizes: every two rects
// that shared a stretch of edge still share a stretch of that same edge, none
// overlap, and the layout's top-left corner is (0, 0), as Mutter requires.
// rects[anchor] (the primary) keeps its place relative to the layout; each
// neighbour keeps its alignment (top, bottom, centre or offset) where it can.
// Nothing when no such layout exists.
std::optional<std::vector<Rect>> Relayout(const std::vector<Rect>& rects,
                                          const std::vector<Size>& sizes, size_t anchor);

// The scale for a logical monitor whose modes support the scales in each of
// supported: current when all of them support it, else preferred when all
// do, else the shared one nearest current; nothing when none is shared.
std::optional<double> ChooseScale(const std::vector<std::vector<double>>& supported,
                                  double current, double preferred);

}  // namespace mutter_layout
