#include "mutter_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mutter_layout {
namespace {

// Where b lies from a when the two share a stretch of edge.
enum class Side { None, Right, Left, Below, Above };

int64_t Shared(int64_t a0, int64_t aLength, int64_t b0, int64_t bLength)
{
    return std::min(a0 + aLength, b0 + bLength) - std::max(a0, b0);
}

Side SideOf(const Rect& a, const Rect& b)
{
    const bool acrossY = Shared(a.y, a.height, b.y, b.height) > 0;
    const bool acrossX = Shared(a.x, a.width, b.x, b.width) > 0;
    if (acrossY && int64_t{b.x} == int64_t{a.x} + a.width) return Side::Right;
    if (acrossY && int64_t{b.x} + b.width == a.x) return Side::Left;
    if (acrossX && int64_t{b.y} == int64_t{a.y} + a.height) return Side::Below;
    if (acrossX && int64_t{b.y} + b.height == a.y) return Side::Above;
    return Side::None;
}

bool Overlap(const Rect& a, const Rect& b)
{
    return Shared(a.x, a.width, b.x, b.width) > 0 && Shared(a.y, a.height, b.y, b.height) > 0;
}

// Where q may start along one axis beside p, given p's and q's old start and
// length and p's new ones: q's old alignment to p first, then its old offset,
// then the other alignments.
std::vector<int32_t> Starts(int32_t p0, int32_t pLength, int32_t q0, int32_t qLength, int32_t newP0,
                            int32_t newPLength, int32_t newQLength)
{
    const int32_t start = newP0;
    const int32_t end = newP0 + newPLength - newQLength;
    const int32_t centre = newP0 + (newPLength - newQLength) / 2;
    std::vector<int32_t> starts;
    if (q0 == p0) starts.push_back(start);
    if (q0 + qLength == p0 + pLength) starts.push_back(end);
    if (2 * int64_t{q0} + qLength == 2 * int64_t{p0} + pLength) starts.push_back(centre);
    for (int32_t s : {newP0 + (q0 - p0), start, end, centre})
        if (std::find(starts.begin(), starts.end(), s) == starts.end()) starts.push_back(s);
    return starts;
}

// A depth-first search over the places each rect may take beside the one it
// was reached from; bounded, since a layout with no answer tries them all.
class Search {
public:
    Search(const std::vector<Rect>& old, const std::vector<Size>& sizes)
        : old_(old), now_(old), placed_(old.size(), false)
    {
        for (size_t i = 0; i < now_.size(); ++i) {
            now_[i].width = sizes[i].width;
            now_[i].height = sizes[i].height;
        }
    }

    std::optional<std::vector<Rect>> From(size_t anchor)
    {
        // Breadth first from the anchor: each rect hangs off a placed neighbour.
        order_.clear();
        std::vector<bool> seen(old_.size(), false);
        for (size_t root = anchor, n = 0; n < old_.size(); root = (root + 1) % old_.size(), ++n) {
            if (seen[root]) continue;
            seen[root] = true;
            order_.push_back({kNone, root});
            for (size_t head = order_.size() - 1; head < order_.size(); ++head)
                for (size_t q = 0; q < old_.size(); ++q)
                    if (!seen[q] && SideOf(old_[order_[head].second], old_[q]) != Side::None) {
                        seen[q] = true;
                        order_.push_back({order_[head].second, q});
                    }
        }
        std::fill(placed_.begin(), placed_.end(), false);
        steps_ = 0;
        if (!Place(0)) return std::nullopt;
        return now_;
    }

private:
    static constexpr size_t kNone = std::numeric_limits<size_t>::max();
    static constexpr int kMaxSteps = 200000;

    bool Fits(size_t q) const
    {
        for (size_t r = 0; r < old_.size(); ++r) {
            if (!placed_[r] || r == q) continue;
            if (Overlap(now_[q], now_[r])) return false;
            const Side was = SideOf(old_[r], old_[q]);
            if (was != Side::None && SideOf(now_[r], now_[q]) != was) return false;
        }
        return true;
    }

    bool Place(size_t k)
    {
        if (k == order_.size()) return true;
        if (++steps_ > kMaxSteps) return false;
        const auto [p, q] = order_[k];
        std::vector<Rect> candidates;
        if (p == kNone) {
            candidates.push_back({old_[q].x, old_[q].y, now_[q].width, now_[q].height});
        } else {
            const Rect &P = now_[p], &oldP = old_[p], &oldQ = old_[q];
            Rect c = now_[q];
            switch (SideOf(oldP, oldQ)) {
            case Side::Right:
            case Side::Left:
                c.x = SideOf(oldP, oldQ) == Side::Right ? P.x + P.width : P.x - c.width;
                for (int32_t y : Starts(oldP.y, oldP.height, oldQ.y, oldQ.height, P.y, P.height,
                                        c.height))
                    candidates.push_back({c.x, y, c.width, c.height});
                break;
            case Side::Below:
            case Side::Above:
                c.y = SideOf(oldP, oldQ) == Side::Below ? P.y + P.height : P.y - c.height;
                for (int32_t x :
                     Starts(oldP.x, oldP.width, oldQ.x, oldQ.width, P.x, P.width, c.width))
                    candidates.push_back({x, c.y, c.width, c.height});
                break;
            case Side::None: break;
            }
        }
        for (const Rect& c : candidates) {
            now_[q] = c;
            if (!Fits(q)) continue;
            placed_[q] = true;
            if (Place(k + 1)) return true;
            placed_[q] = false;
        }
        return false;
    }

    const std::vector<Rect>& old_;
    std::vector<Rect> now_;
    std::vector<bool> placed_;
    std::vector<std::pair<size_t, size_t>> order_;  // (reached from, rect)
    int steps_ = 0;
};

bool Supports(const std::vector<double>& scales, double scale)
{
    return std::any_of(scales.begin(), scales.end(),
                       [scale](double s) { return std::fabs(s - scale) < 1e-6; });
}

}  // namespace

std::optional<std::vector<Rect>> Relayout(const std::vector<Rect>& rects,
                                          const std::vector<Size>& sizes, size_t anchor)
{
    if (sizes.size() != rects.size() || anchor >= rects.size() ||
        std::any_of(sizes.begin(), sizes.end(),
                    [](const Size& s) { return s.width <= 0 || s.height <= 0; }))
        return std::nullopt;
    Search search(rects, sizes);
    // The primary holds still if it can; else whichever rect lets the rest fit.
    std::optional<std::vector<Rect>> placed = search.From(anchor);
    for (size_t a = 0; !placed && a < rects.size(); ++a)
        if (a != anchor) placed = search.From(a);
    if (!placed) return std::nullopt;
    int32_t minX = std::numeric_limits<int32_t>::max(), minY = minX;
    for (const Rect& r : *placed) {
        minX = std::min(minX, r.x);
        minY = std::min(minY, r.y);
    }
    for (Rect& r : *placed) {
        r.x -= minX;
        r.y -= minY;
    }
    return placed;
}

std::optional<double> ChooseScale(const std::vector<std::vector<double>>& supported,
                                  double current, double preferred)
{
    const auto everywhere = [&](double scale) {
        return std::all_of(supported.begin(), supported.end(),
                           [scale](const std::vector<double>& s) { return Supports(s, scale); });
    };
    if (everywhere(current)) return current;
    if (everywhere(preferred)) return preferred;
    std::optional<double> best;
    if (!supported.empty())
        for (double s : supported.front())
            if (everywhere(s) && (!best || std::fabs(s - current) < std::fabs(*best - current)))
                best = s;
    return best;
}

}  // namespace mutter_layout
