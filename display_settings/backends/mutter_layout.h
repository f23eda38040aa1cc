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

// The layout after each of rects takes its size in sizes, as Mutter takes
// it: none overlap, all are joined into one by shared stretches of edge, and
// the top-left corner is (0, 0). Of such layouts, the one that keeps the most
// edges any two rects shared (each on the same side), then the most of their
// alignments (start, end or centre), then moves the others least against
// rects[anchor] (the primary), which keeps its place. Nothing only when sizes
// do not fit rects or one is empty.
std::optional<std::vector<Rect>> Relayout(const std::vector<Rect>& rects,
                                          const std::vector<Size>& sizes, size_t anchor);

// The scale for a logical monitor whose modes support the scales in each of
// supported: current when all of them support it, else preferred when all
// do, else the shared one nearest current; nothing when none is shared.
std::optional<double> ChooseScale(const std::vector<std::vector<double>>& supported,
                                  double current, double preferred);

}  // namespace mutter_layout
