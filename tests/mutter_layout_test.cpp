// The layout and scale a switch on GNOME sends, worked out without a Mutter;
// the same rows run against a real Mutter in mutter_test.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

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
        // Touching over x 1000..1280 only, it keeps touching by taking the left edge.
        {"offset below",
         {{0, 0, 1280, 720}, {1000, 720, 1024, 768}},
         0, {800, 600}, 0,
         {{0, 0, 800, 600}, {0, 600, 1024, 768}}},
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
