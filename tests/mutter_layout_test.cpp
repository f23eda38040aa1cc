// The layout and scale a switch on GNOME sends, worked out without a Mutter;
// the same rows run against a real Mutter in mutter_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "mutter_layout.h"
#include "mutter_layouts.h"

namespace {

using mutter_layout::Rect;
using mutter_layout::Size;

Size SizeOf(const std::string& modeId, unsigned transform)
{
    Size s;
    std::sscanf(modeId.c_str(), "%dx%d", &s.width, &s.height);
    if (transform % 2 == 1) std::swap(s.width, s.height);
    return s;
}

TEST(MutterLayout, EveryRowStaysJoinedAndApartWhenThePrimaryChangesMode)
{
    for (const LayoutRow& row : LayoutRows()) {
        SCOPED_TRACE(row.name);
        std::vector<Rect> before;
        size_t primary = 0;
        for (size_t i = 0; i < row.config.size(); ++i) {
            const ConfigLogical& lm = row.config[i];
            const Size s = SizeOf(lm.monitors[0].mode, lm.transform);
            before.push_back({lm.x, lm.y, s.width, s.height});
            if (lm.primary) primary = i;
        }
        for (const char* target : kSwitchTargets) {
            SCOPED_TRACE(target);
            std::vector<Size> sizes;
            for (const Rect& r : before) sizes.push_back({r.width, r.height});
            sizes[primary] = SizeOf(target, row.config[primary].transform);
            const auto after = mutter_layout::Relayout(before, sizes, primary);
            ASSERT_TRUE(after.has_value());
            EXPECT_EQ(LayoutFault(before, *after), "");
            for (size_t i = 0; i < after->size(); ++i)
                EXPECT_EQ((*after)[i].width, sizes[i].width) << i;
        }
    }
}

TEST(MutterLayout, NeighboursKeepTheirAlignmentAndThePrimaryItsPlace)
{
    struct Case {
        const char* name;
        std::vector<Rect> before;
        size_t changed;
        Size size;
        size_t anchor;
        std::vector<Rect> after;
    };
    const Case cases[] = {
        // The right-hand one stays bottom-aligned: it moves down as the primary shrinks.
        {"bottom-aligned",
         {{0, 48, 1280, 720}, {1280, 0, 1024, 768}},
         0, {800, 600}, 0,
         {{0, 168, 800, 600}, {800, 0, 1024, 768}}},
        // Touching over x 1000..1280 only, it keeps its centre as far from the
        // primary's as it can.
        {"offset below",
         {{0, 0, 1280, 720}, {1000, 720, 1024, 768}},
         0, {800, 600}, 0,
         {{0, 0, 800, 600}, {760, 600, 1024, 768}}},
        // A left neighbour of a primary that grows keeps its place; the primary is not moved.
        {"neighbour to the left",
         {{0, 0, 1024, 768}, {1024, 0, 1280, 720}},
         1, {1024, 768}, 1,
         {{0, 0, 1024, 768}, {1024, 0, 1024, 768}}},
        // The lower one of an L cannot keep its left edge without running into
        // the right-hand one; it lines up with the primary's right edge instead.
        {"L shape",
         {{0, 0, 1280, 720}, {1280, 0, 1280, 720}, {0, 720, 1280, 720}},
         0, {800, 600}, 0,
         {{480, 0, 800, 600}, {1280, 0, 1280, 720}, {0, 600, 1280, 720}}},
        // Half as wide, the primary keeps touching both by staying centred on their seam.
        {"above two, across their seam",
         {{640, 0, 2560, 1440}, {0, 1440, 1920, 1080}, {1920, 1440, 1920, 1080}},
         0, {1280, 720}, 0,
         {{1280, 0, 1280, 720}, {0, 720, 1920, 1080}, {1920, 720, 1920, 1080}}},
        // Grown to 1280x1920, the primary pushes the one on its right down past
        // the top one's edge, or the lower one off it: one of five joins goes.
        {"one join must go",
         {{0, 1280, 640, 640}, {0, 1920, 640, 640}, {640, 1280, 640, 1280}, {0, 0, 1280, 1280}},
         0, {1280, 1920}, 0,
         {{0, 1280, 1280, 1920}, {640, 3200, 640, 640}, {1280, 2560, 640, 1280}, {0, 0, 1280, 1280}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Size> sizes;
        for (const Rect& r : c.before) sizes.push_back({r.width, r.height});
        sizes[c.changed] = c.size;
        const auto after = mutter_layout::Relayout(c.before, sizes, c.anchor);
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(*after, c.after);
    }
}

// The sides of a that b shares a stretch of, as Mutter sees two monitors meet.
int Touches(const Rect& a, const Rect& b)
{
    const auto shared = [](int64_t a0, int64_t al, int64_t b0, int64_t bl) {
        return std::min(a0 + al, b0 + bl) - std::max(a0, b0) > 0;
    };
    const bool y = shared(a.y, a.height, b.y, b.height);
    const bool x = shared(a.x, a.width, b.x, b.width);
    if (y && int64_t{b.x} == int64_t{a.x} + a.width) return 1;
    if (y && int64_t{b.x} + b.width == a.x) return 2;
    if (x && int64_t{b.y} == int64_t{a.y} + a.height) return 3;
    if (x && int64_t{b.y} + b.height == a.y) return 4;
    return 0;
}

// Why Mutter would refuse layout, or "" when it takes it: overlaps, monitors
// not joined into one, or a layout that does not start at (0, 0).
std::string Refusal(const std::vector<Rect>& layout)
{
    std::vector<size_t> group(layout.size());
    for (size_t i = 0; i < group.size(); ++i) group[i] = i;
    int64_t minX = INT64_MAX, minY = INT64_MAX;
    for (size_t i = 0; i < layout.size(); ++i) {
        minX = std::min<int64_t>(minX, layout[i].x);
        minY = std::min<int64_t>(minY, layout[i].y);
        for (size_t j = i + 1; j < layout.size(); ++j) {
            const Rect &a = layout[i], &b = layout[j];
            if (std::max(a.x, b.x) < std::min(a.x + a.width, b.x + b.width) &&
                std::max(a.y, b.y) < std::min(a.y + a.height, b.y + b.height))
                return "overlap";
            if (Touches(a, b) != 0) {
                const size_t from = group[j], to = group[i];
                for (size_t& g : group)
                    if (g == from) g = to;
            }
        }
    }
    if (std::any_of(group.begin(), group.end(), [&](size_t g) { return g != group[0]; }))
        return "not joined";
    if (minX != 0 || minY != 0) return "not at (0, 0)";
    return "";
}

size_t KeptJoins(const std::vector<Rect>& before, const std::vector<Rect>& after)
{
    size_t kept = 0;
    for (size_t i = 0; i < before.size(); ++i)
        for (size_t j = i + 1; j < before.size(); ++j)
            if (Touches(before[i], before[j]) != 0 &&
                Touches(before[i], before[j]) == Touches(after[i], after[j]))
                ++kept;
    return kept;
}

// The most old joins that any layout on a grid of unit keeps: every joined
// layout, built by putting each monitor in turn against a side of one placed
// before, at every step along it.
size_t MostJoinsOnTheGrid(const std::vector<Rect>& before, const std::vector<Size>& sizes,
                          size_t anchor, int32_t unit)
{
    std::vector<Rect> now(before.size());
    for (size_t i = 0; i < now.size(); ++i) now[i] = {0, 0, sizes[i].width, sizes[i].height};
    std::vector<size_t> order;
    for (size_t i = 0; i < now.size(); ++i)
        if (i != anchor) order.push_back(i);
    std::vector<size_t> placed{anchor};
    size_t best = 0;
    const std::function<void(size_t)> place = [&](size_t k) {
        if (k == order.size()) {
            std::vector<Rect> shifted = now;
            int32_t minX = INT32_MAX, minY = INT32_MAX;
            for (const Rect& r : shifted) minX = std::min(minX, r.x), minY = std::min(minY, r.y);
            for (Rect& r : shifted) r.x -= minX, r.y -= minY;
            if (Refusal(shifted).empty()) best = std::max(best, KeptJoins(before, shifted));
            return;
        }
        Rect& q = now[order[k]];
        for (size_t n = placed.size(), pi = 0; pi < n; ++pi) {
            const Rect& at = now[placed[pi]];
            for (int side = 0; side < 4; ++side) {
                const int32_t along = side < 2 ? at.height + q.height : at.width + q.width;
                for (int32_t step = unit; step < along; step += unit) {
                    if (side < 2) {
                        q.x = side == 0 ? at.x + at.width : at.x - q.width;
                        q.y = at.y - q.height + step;
                    } else {
                        q.y = side == 2 ? at.y + at.height : at.y - q.height;
                        q.x = at.x - q.width + step;
                    }
                    const bool clear = std::all_of(placed.begin(), placed.end(), [&](size_t j) {
                        const Rect& r = now[j];
                        return std::max(q.x, r.x) >= std::min(q.x + q.width, r.x + r.width) ||
                               std::max(q.y, r.y) >= std::min(q.y + q.height, r.y + r.height);
                    });
                    if (!clear) continue;
                    placed.push_back(order[k]);
                    place(k + 1);
                    placed.pop_back();
                }
            }
        }
    };
    do {
        place(0);
    } while (std::next_permutation(order.begin(), order.end()));
    return best;
}

TEST(MutterLayout, RandomLayoutsAreNeverRefusedAndKeepAsManyJoinsAsAnyOther)
{
    constexpr int32_t kUnit = 160;
    std::mt19937 random(20261209);
    const auto pick = [&random](int32_t n) { return static_cast<int32_t>(random() % n); };
    struct Tier {
        size_t monitors;
        int cases;
    };
    for (const Tier tier : {Tier{2, 200}, Tier{3, 300}, Tier{4, 120}}) {
        for (int n = 0; n < tier.cases; ++n) {
            // A joined layout: each monitor put against a side of one placed before.
            std::vector<Rect> before;
            while (before.size() < tier.monitors) {
                Rect r{0, 0, (1 + pick(2)) * kUnit, (1 + pick(2)) * kUnit};
                if (!before.empty()) {
                    const Rect& p = before[static_cast<size_t>(pick(static_cast<int32_t>(before.size())))];
                    const int side = pick(4);
                    if (side < 2) {
                        r.x = side == 0 ? p.x + p.width : p.x - r.width;
                        r.y = p.y - r.height + kUnit * (1 + pick((p.height + r.height) / kUnit - 1));
                    } else {
                        r.y = side == 2 ? p.y + p.height : p.y - r.height;
                        r.x = p.x - r.width + kUnit * (1 + pick((p.width + r.width) / kUnit - 1));
                    }
                }
                std::vector<Rect> tried = before;
                tried.push_back(r);
                int32_t minX = INT32_MAX, minY = INT32_MAX;
                for (const Rect& t : tried) minX = std::min(minX, t.x), minY = std::min(minY, t.y);
                for (Rect& t : tried) t.x -= minX, t.y -= minY;
                if (Refusal(tried).empty()) before = tried;
            }
            const size_t anchor = static_cast<size_t>(pick(static_cast<int32_t>(tier.monitors)));
            std::vector<Size> sizes;
            for (const Rect& r : before) sizes.push_back({r.width, r.height});
            sizes[anchor] = {(1 + pick(3)) * kUnit, (1 + pick(3)) * kUnit};

            std::string trace;
            for (const Rect& r : before)
                trace += "(" + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                         std::to_string(r.width) + "x" + std::to_string(r.height) + ") ";
            SCOPED_TRACE(trace + "monitor " + std::to_string(anchor) + " to " +
                         std::to_string(sizes[anchor].width) + "x" +
                         std::to_string(sizes[anchor].height));
            const auto after = mutter_layout::Relayout(before, sizes, anchor);
            ASSERT_TRUE(after.has_value());
            EXPECT_EQ(Refusal(*after), "");
            for (size_t i = 0; i < after->size(); ++i) {
                EXPECT_EQ((*after)[i].width, sizes[i].width);
                EXPECT_EQ((*after)[i].height, sizes[i].height);
            }
            EXPECT_GE(KeptJoins(before, *after), MostJoinsOnTheGrid(before, sizes, anchor, kUnit));
        }
    }
}

TEST(MutterLayout, AScaleEveryMonitorSupportsOrNone)
{
    struct Case {
        std::vector<std::vector<double>> supported;
        double current, preferred;
        std::optional<double> chosen;
    };
    const Case cases[] = {
        {{{1, 2}, {1, 2}}, 2, 1, 2},     // kept where every mode allows it
        {{{1, 2}, {1}}, 2, 2, 1},        // else the one all share
        {{{1, 1.5, 2}, {1.5, 2}}, 1, 2, 2},  // the preferred, shared, before the nearest
        {{{1, 1.25}, {1.25, 2}}, 2, 1, 1.25},
        {{{1.5}, {2}}, 1, 1.5, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mutter_layout::ChooseScale(c.supported, c.current, c.preferred), c.chosen);
}

}  // namespace
