#include "mutter_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mutter_layout {
namespace {

constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max() / 4;

int64_t Shared(int64_t a0, int64_t aLength, int64_t b0, int64_t bLength)
{
    return std::min(a0 + aLength, b0 + bLength) - std::max(a0, b0);
}

// Where q lies from p: sharing a stretch of p's right, left, bottom or top
// edge, or wholly beyond that edge.
enum Relation : uint8_t { TouchRight, TouchLeft, TouchBelow, TouchAbove, Right, Left, Below, Above };
constexpr Relation kRelations[] = {TouchRight, TouchLeft, TouchBelow, TouchAbove,
                                   Right,      Left,      Below,      Above};

bool Touching(Relation r) { return r <= TouchAbove; }

bool Holds(Relation r, const Rect& p, const Rect& q)
{
    const int64_t px = p.x, py = p.y, qx = q.x, qy = q.y;
    const bool acrossY = Shared(py, p.height, qy, q.height) > 0;
    const bool acrossX = Shared(px, p.width, qx, q.width) > 0;
    switch (r) {
    case TouchRight: return acrossY && qx == px + p.width;
    case TouchLeft: return acrossY && qx + q.width == px;
    case TouchBelow: return acrossX && qy == py + p.height;
    case TouchAbove: return acrossX && qy + q.height == py;
    case Right: return qx >= px + p.width;
    case Left: return qx + q.width <= px;
    case Below: return qy >= py + p.height;
    case Above: return qy + q.height <= py;
    }
    return false;
}

// Bounds x[j] - x[i] <= At(i, j) on one axis, kept closed (every bound as
// tight as the others imply), so that a contradiction shows at once.
class Bounds {
public:
    explicit Bounds(size_t n) : n_(n), d_(n * n, kUnbounded)
    {
        for (size_t i = 0; i < n; ++i) d_[i * n + i] = 0;
    }

    int64_t At(size_t i, size_t j) const { return d_[i * n_ + j]; }

    // Adds x[j] - x[i] <= c; false, and nothing changed, when that contradicts.
    bool AtMost(size_t i, size_t j, int64_t c)
    {
        if (c + At(j, i) < 0) return false;
        if (c >= At(i, j)) return true;
        for (size_t a = 0; a < n_; ++a) {
            if (At(a, i) >= kUnbounded) continue;
            for (size_t b = 0; b < n_; ++b)
                if (At(j, b) < kUnbounded)
                    d_[a * n_ + b] = std::min(At(a, b), At(a, i) + c + At(j, b));
        }
        return true;
    }

    // Adds x[j] - x[i] == c, or nothing when that contradicts.
    bool Exactly(size_t i, size_t j, int64_t c)
    {
        Bounds tried = *this;
        if (!tried.AtMost(i, j, c) || !tried.AtMost(j, i, -c)) return false;
        *this = std::move(tried);
        return true;
    }

private:
    size_t n_;
    std::vector<int64_t> d_;
};

// Adds what relation r of q to p asks of the two axes, at the new sizes.
bool Require(Relation r, size_t p, size_t q, const std::vector<Size>& s, Bounds& x, Bounds& y)
{
    const auto overlapY = [&] {
        return y.AtMost(p, q, int64_t{s[p].height} - 1) && y.AtMost(q, p, int64_t{s[q].height} - 1);
    };
    const auto overlapX = [&] {
        return x.AtMost(p, q, int64_t{s[p].width} - 1) && x.AtMost(q, p, int64_t{s[q].width} - 1);
    };
    switch (r) {
    case TouchRight: return x.Exactly(p, q, s[p].width) && overlapY();
    case TouchLeft: return x.Exactly(q, p, s[q].width) && overlapY();
    case TouchBelow: return y.Exactly(p, q, s[p].height) && overlapX();
    case TouchAbove: return y.Exactly(q, p, s[q].height) && overlapX();
    case Right: return x.AtMost(q, p, -int64_t{s[p].width});
    case Left: return x.AtMost(p, q, -int64_t{s[q].width});
    case Below: return y.AtMost(q, p, -int64_t{s[p].height});
    case Above: return y.AtMost(p, q, -int64_t{s[q].height});
    }
    return false;
}

struct Pair {
    size_t p, q;
    std::optional<Relation> touched;   // the edge the two shared before
    std::vector<Relation> options;     // what they were before first
};

// How good a layout is, better first: the edges kept, then the alignments
// kept along them, then how little the others moved against the primary.
struct Score {
    size_t kept = 0;
    size_t aligned = 0;
    int64_t moved = 0;
    bool Beats(const Score& o) const
    {
        if (kept != o.kept) return kept > o.kept;
        if (aligned != o.aligned) return aligned > o.aligned;
        return moved < o.moved;
    }
};

// Every layout the rects may take, as one relation for each two of them:
// joined along an edge or apart beyond one. Each set of relations is a set of
// difference bounds on x and on y; a set whose bounds hold and whose joins
// connect all the rects is a layout Mutter takes. The search keeps the best by
// Score; a branch that cannot keep as many edges as the best found is cut.
class Search {
public:
    Search(const std::vector<Rect>& old, const std::vector<Size>& sizes, size_t anchor)
        : old_(old), sizes_(sizes), anchor_(anchor)
    {
        for (size_t p = 0; p < old.size(); ++p)
            for (size_t q = p + 1; q < old.size(); ++q) {
                Pair pair{p, q, std::nullopt, {}};
                for (Relation r : kRelations)
                    if (Touching(r) && Holds(r, old[p], old[q])) pair.touched = r;
                if (pair.touched) pair.options.push_back(*pair.touched);
                for (Relation r : kRelations)
                    if (!Touching(r) && Holds(r, old[p], old[q])) pair.options.push_back(r);
                for (Relation r : kRelations)
                    if (std::find(pair.options.begin(), pair.options.end(), r) ==
                        pair.options.end())
                        pair.options.push_back(r);
                pairs_.push_back(std::move(pair));
            }
        // Pairs that shared an edge first, so the bound on kept edges cuts early.
        std::stable_partition(pairs_.begin(), pairs_.end(),
                              [](const Pair& pair) { return pair.touched.has_value(); });
        for (const Pair& pair : pairs_) touchedLeft_ += pair.touched ? 1 : 0;
        chosen_.resize(pairs_.size());
    }

    std::optional<std::vector<Rect>> Run()
    {
        Bounds x(old_.size()), y(old_.size());
        Visit(0, 0, touchedLeft_, x, y);
        return best_;
    }

private:
    // Enough for every layout of up to five monitors; past it the best found stands.
    static constexpr long kMaxVisits = 4'000'000;

    void Visit(size_t k, size_t kept, size_t touchedLeft, const Bounds& x, const Bounds& y)
    {
        if (++visits_ > kMaxVisits && (best_ || visits_ > 4 * kMaxVisits)) return;
        if (best_ && kept + touchedLeft < score_.kept) return;
        if (k == pairs_.size()) {
            Finish(kept, x, y);
            return;
        }
        const Pair& pair = pairs_[k];
        for (Relation r : pair.options) {
            Bounds nx = x, ny = y;
            if (!Require(r, pair.p, pair.q, sizes_, nx, ny)) continue;
            chosen_[k] = r;
            const bool keeps = pair.touched && *pair.touched == r;
            Visit(k + 1, kept + (keeps ? 1 : 0), touchedLeft - (pair.touched ? 1 : 0), nx, ny);
        }
    }

    bool Connected() const
    {
        std::vector<size_t> root(old_.size());
        for (size_t i = 0; i < root.size(); ++i) root[i] = i;
        const auto find = [&root](size_t i) {
            while (root[i] != i) i = root[i] = root[root[i]];
            return i;
        };
        size_t parts = root.size();
        for (size_t k = 0; k < pairs_.size(); ++k)
            if (Touching(chosen_[k])) {
                const size_t a = find(pairs_[k].p), b = find(pairs_[k].q);
                if (a != b) {
                    root[a] = b;
                    --parts;
                }
            }
        return parts == 1;
    }

    // Places the rects within the relations chosen: each kept edge keeps its
    // alignment where it can, then each rect goes as near as it can to where
    // its centre was from the primary's.
    void Finish(size_t kept, Bounds x, Bounds y)
    {
        if (!Connected()) return;
        Score score;
        score.kept = kept;
        for (size_t k = 0; k < pairs_.size(); ++k) {
            const Pair& pair = pairs_[k];
            if (!pair.touched || chosen_[k] != *pair.touched) continue;
            const bool sideways = *pair.touched == TouchRight || *pair.touched == TouchLeft;
            if (Align(pair.p, pair.q, sideways ? y : x, !sideways)) ++score.aligned;
        }
        std::vector<Rect> placed(old_.size());
        for (bool horizontal : {true, false}) {
            Bounds& b = horizontal ? x : y;
            for (size_t i = 0; i < old_.size(); ++i) {
                const int64_t want = CentreOffset(i, horizontal);
                const int64_t low = i == anchor_ ? 0 : -b.At(i, anchor_);
                const int64_t high = i == anchor_ ? 0 : b.At(anchor_, i);
                const int64_t at = std::clamp(want, low, high);
                if (i != anchor_ && !b.Exactly(anchor_, i, at)) return;  // cannot happen
                score.moved += at > want ? at - want : want - at;
                const int64_t origin = horizontal ? old_[anchor_].x : old_[anchor_].y;
                if (horizontal) {
                    placed[i].x = Narrow(origin + at);
                    placed[i].width = sizes_[i].width;
                } else {
                    placed[i].y = Narrow(origin + at);
                    placed[i].height = sizes_[i].height;
                }
            }
        }
        if (!best_ || score.Beats(score_)) {
            best_ = std::move(placed);
            score_ = score;
        }
    }

    // Keeps q's old alignment to p along the edge they share (start, end or
    // centre, the first it had that still fits); false when it had none or
    // none fits.
    bool Align(size_t p, size_t q, Bounds& b, bool horizontal) const
    {
        const int64_t p0 = horizontal ? old_[p].x : old_[p].y;
        const int64_t q0 = horizontal ? old_[q].x : old_[q].y;
        const int64_t pl = horizontal ? old_[p].width : old_[p].height;
        const int64_t ql = horizontal ? old_[q].width : old_[q].height;
        const int64_t np = horizontal ? sizes_[p].width : sizes_[p].height;
        const int64_t nq = horizontal ? sizes_[q].width : sizes_[q].height;
        if (q0 == p0 && b.Exactly(p, q, 0)) return true;
        if (q0 + ql == p0 + pl && b.Exactly(p, q, np - nq)) return true;
        if (2 * q0 + ql == 2 * p0 + pl && b.Exactly(p, q, (np - nq) / 2)) return true;
        return false;
    }

    // Where rect i would start from the primary's start on one axis if its
    // centre kept its old distance from the primary's centre.
    int64_t CentreOffset(size_t i, bool horizontal) const
    {
        const Rect &r = old_[i], &a = old_[anchor_];
        const int64_t twice =
            horizontal ? (2 * int64_t{r.x} + r.width) - (2 * int64_t{a.x} + a.width) -
                             sizes_[i].width + sizes_[anchor_].width
                       : (2 * int64_t{r.y} + r.height) - (2 * int64_t{a.y} + a.height) -
                             sizes_[i].height + sizes_[anchor_].height;
        return twice >= 0 ? twice / 2 : -((-twice + 1) / 2);
    }

    static int32_t Narrow(int64_t v)
    {
        return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }

    const std::vector<Rect>& old_;
    const std::vector<Size>& sizes_;
    size_t anchor_;
    std::vector<Pair> pairs_;
    std::vector<Relation> chosen_;
    size_t touchedLeft_ = 0;
    long visits_ = 0;
    std::optional<std::vector<Rect>> best_;
    Score score_;
};

// All in one row, in their old order from left to right, tops in line.
std::vector<Rect> Row(const std::vector<Rect>& old, const std::vector<Size>& sizes)
{
    std::vector<size_t> order(old.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&old](size_t a, size_t b) { return old[a].x < old[b].x; });
    std::vector<Rect> row(old.size());
    int64_t x = 0;
    for (size_t i : order) {
        row[i] = {static_cast<int32_t>(std::min<int64_t>(x, std::numeric_limits<int32_t>::max())),
                  0, sizes[i].width, sizes[i].height};
        x += sizes[i].width;
    }
    return row;
}

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
    std::vector<Rect> placed = Search(rects, sizes, anchor).Run().value_or(Row(rects, sizes));
    int64_t minX = std::numeric_limits<int64_t>::max(), minY = minX;
    for (const Rect& r : placed) {
        minX = std::min<int64_t>(minX, r.x);
        minY = std::min<int64_t>(minY, r.y);
    }
    for (Rect& r : placed) {
        const int64_t x = r.x - minX, y = r.y - minY;
        if (x + r.width > std::numeric_limits<int32_t>::max() ||
            y + r.height > std::numeric_limits<int32_t>::max())
            return std::nullopt;
        r.x = static_cast<int32_t>(x);
        r.y = static_cast<int32_t>(y);
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
