// Lower bounds on boxes.
#include "optimiser/lower_bound.hpp"

#include <algorithm>
#include <cmath>

#include "optimiser/box_problem.hpp"

namespace stowvex::optimiser {

namespace {

Vec3 extents_of(const BoxType& type) {
    return {type.box->width(), type.box->length(), type.box->depth()};
}

bool fits(const Vec3& size, const Vec3& room) {
    return size[0] <= room[0] && size[1] <= room[1] && size[2] <= room[2];
}

// Whether one item of each kind fit a type together: two cuboids in a box
// lie on either side of a plane across one axis.
bool fit_together(const ItemKind& a, const ItemKind& b, const BoxType& type,
                  const WeightLimit& limit) {
    if (!limit.allows(0.0 + a.weight + b.weight)) return false;
    if (!a.placeable || !b.placeable || !limit.admits(a.weight) || !limit.admits(b.weight)) {
        return false;
    }
    const Vec3 room = extents_of(type);
    for (const KindOrientation& oa : a.orientations) {
        if (!fits(oa.size, room)) continue;
        for (const KindOrientation& ob : b.orientations) {
            if (!fits(ob.size, room)) continue;
            for (int axis = 0; axis < 3; ++axis) {
                if (oa.size[axis] + ob.size[axis] <= room[axis]) return true;
            }
        }
    }
    return false;
}

}  // namespace

bool kind_fits(const ItemKind& kind, const BoxType& type) {
    const WeightLimit limit = WeightLimit::of(*type.box);
    if (!kind.placeable || !limit.admits(kind.weight) || !limit.allows(0.0 + kind.weight)) {
        return false;
    }
    const Vec3 room = extents_of(type);
    for (const KindOrientation& o : kind.orientations) {
        if (fits(o.size, room)) return true;
    }
    return false;
}

std::vector<int> placeable_counts(const KindTable& kinds, const std::vector<int>& counts,
                                  const BoxTypes& types) {
    std::vector<int> result(counts.size(), 0);
    for (std::size_t k = 0; k < counts.size(); ++k) {
        for (std::size_t t = 0; t < types.size() && result[k] == 0; ++t) {
            if (kind_fits(kinds.kinds[k], types[t])) result[k] = counts[k];
        }
    }
    // A box group goes into a box whole or not at all.
    for (const std::vector<int>& group : kinds.group_kinds) {
        bool whole = true;
        for (const int k : group) whole = whole && result[k] == counts[k];
        if (whole) continue;
        for (const int k : group) result[k] = 0;
    }
    return result;
}

namespace {

// Bounds over the kinds of `order` (largest volume first), with `apart(a, b)`
// telling whether items of kinds a and b can never share a box. Up to
// kMaxDeepKinds kinds, where the deeper bound asks about most pairs, every
// pair is tested once beforehand; above it only the pairs the clique asks
// about are tested, as they are asked (a table of all pairs of 10,000 kinds
// would take 100 MB and most of a second).
class CountBound {
public:
    CountBound(const KindTable& kinds, const std::vector<int>& counts, const BoxTypes& types,
               const WorkBudget* budget)
        : kinds_(kinds), counts_(counts), types_(types), budget_(budget) {
        for (std::size_t t = 0; t < types.size(); ++t)
            largest_ = std::max(largest_, types[t].volume);
        for (std::size_t k = 0; k < counts.size(); ++k) {
            if (counts[k] > 0) order_.push_back(static_cast<int>(k));
        }
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            return kinds.kinds[a].volume > kinds.kinds[b].volume;
        });
        limits_.reserve(types.size());
        for (std::size_t t = 0; t < types.size(); ++t)
            limits_.push_back(WeightLimit::of(*types[t].box));
        deep_ = order_.size() <= kMaxDeepKinds;
        if (!deep_) return;
        apart_.assign(counts.size(), std::vector<char>(counts.size(), 0));
        for (const int a : order_) {
            for (const int b : order_) {
                if (b < a) continue;
                apart_[a][b] = apart_[b][a] = never_together(a, b);
            }
        }
    }

    bool deep() const { return deep_; }

    // The volume bound, and for every prefix of the largest-first clique of
    // items no two of which share a box: its size plus the boxes needed by
    // the items that share a box with none of its members.
    std::size_t of(const std::vector<int>& kinds, bool deeper) const {
        std::size_t best = volume_bound(kinds);
        std::vector<int> clique;
        std::size_t members = 0;
        std::size_t steps = 0;
        for (const int k : kinds) {
            // Every prefix gives a bound: out of time, the best so far holds.
            if (budget_ && ++steps % 64 == 0 && budget_->out_of_time()) break;
            bool joins = true;
            for (const int c : clique) joins = joins && apart(k, c);
            if (!joins) continue;
            clique.push_back(k);
            members += apart(k, k) ? static_cast<std::size_t>(counts_[k]) : 1;
            std::size_t rest = 0;
            if (deeper) {
                std::vector<int> alone;
                for (const int other : kinds) {
                    if (std::find(clique.begin(), clique.end(), other) != clique.end()) continue;
                    bool apart_from_all = true;
                    for (const int c : clique) apart_from_all = apart_from_all && apart(other, c);
                    if (apart_from_all) alone.push_back(other);
                }
                rest = alone.empty() ? 0 : of(alone, false);
            }
            best = std::max(best, members + rest);
        }
        return best;
    }

    const std::vector<int>& order() const { return order_; }

private:
    std::size_t volume_bound(const std::vector<int>& kinds) const {
        if (kinds.empty()) return 0;
        double volume = 0.0;
        for (const int k : kinds) volume += kinds_.kinds[k].volume * counts_[k];
        if (!(largest_ > 0.0)) return 1;
        // Shaved a little, so that rounding cannot lift it over the truth.
        const double boxes = volume / largest_ * (1.0 - 1e-9);
        return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(boxes)));
    }

    bool apart(int a, int b) const { return deep_ ? apart_[a][b] != 0 : never_together(a, b); }

    bool never_together(int a, int b) const {
        for (std::size_t t = 0; t < types_.size(); ++t) {
            if (fit_together(kinds_.kinds[a], kinds_.kinds[b], types_[t], limits_[t])) return false;
        }
        return true;
    }

    const KindTable& kinds_;
    const std::vector<int>& counts_;
    const BoxTypes& types_;
    const WorkBudget* budget_;
    double largest_ = 0.0;
    bool deep_ = false;
    std::vector<int> order_;
    std::vector<WeightLimit> limits_;
    std::vector<std::vector<char>> apart_;
};

}  // namespace

std::size_t box_count_bound(const KindTable& kinds, const std::vector<int>& counts,
                            const BoxTypes& types, const WorkBudget* budget) {
    const CountBound bound(kinds, counts, types, budget);
    return bound.of(bound.order(), bound.deep());
}

}  // namespace stowvex::optimiser
