// Lower bounds on boxes.
#include "optimiser/lower_bound.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

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

namespace {

// Bounds by dual feasible functions. A dual feasible function maps a side's
// share of the box's side so that shares that fit side by side (at most 1 in
// all) still add up to at most 1 once mapped. With one such map per axis, an
// item is worth the product of its mapped shares; the worths of the items in
// one box add up to at most 1, so the total worth of all items, each counted
// in its least worthy orientation, is a bound on the boxes. The room is the
// largest extent of any type on each axis, which holds every box's load.
//
// Maps used: the share itself; "threshold" with cut c at most half the side
// (1 above side - c, the share from c to side - c, 0 below c); "steps" of k
// ((k + 1) times the share is whole: the share; else its floor over k). Near a
// jump, where rounding could put a size on the wrong side of it, the lowest
// value nearby is taken: a map below a dual feasible one is one too.
struct ShareMap {
    enum class Kind { share, threshold, steps } kind = Kind::share;
    double cut = 0.0;
    int steps = 0;
};

constexpr double kNear = 1e-9;

double mapped(const ShareMap& map, double size, double room) {
    const double share = size / room;
    switch (map.kind) {
        case ShareMap::Kind::share: return share;
        case ShareMap::Kind::threshold: {
            if (size < map.cut * (1.0 + kNear)) return 0.0;
            if (size + map.cut > room * (1.0 + kNear)) return 1.0;
            return share;
        }
        case ShareMap::Kind::steps: {
            const double scaled = (map.steps + 1) * share;
            const double whole = std::round(scaled);
            if (std::abs(scaled - whole) <= kNear * std::max(1.0, scaled)) {
                return std::max(0.0, (whole - 1.0) / map.steps);
            }
            return std::floor(scaled) / map.steps;
        }
    }
    return share;
}

// The maps tried on one axis: the share, steps of 1 to 3, and thresholds at a
// spread of the item extents up to half the room.
std::vector<ShareMap> maps_for(const std::vector<double>& extents, double room,
                               std::size_t thresholds) {
    std::vector<ShareMap> maps{ShareMap{}};
    for (int k = 1; k <= 3; ++k) maps.push_back({ShareMap::Kind::steps, 0.0, k});
    std::vector<double> cuts;
    for (const double e : extents) {
        if (e > 0.0 && e <= room / 2) cuts.push_back(e);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    const std::size_t take = std::min(thresholds, cuts.size());
    for (std::size_t i = 0; i < take; ++i) {
        // Evenly through the sorted cuts, the largest always among them.
        const std::size_t at =
            cuts.size() - 1 - i * (cuts.size() - 1) / std::max<std::size_t>(1, take - 1);
        maps.push_back({ShareMap::Kind::threshold, cuts[at], 0});
    }
    return maps;
}

std::size_t worth_bound(const KindTable& kinds, const std::vector<int>& counts,
                        const BoxTypes& types) {
    Vec3 room{0.0, 0.0, 0.0};
    for (std::size_t t = 0; t < types.size(); ++t) {
        const Vec3 e = extents_of(types[t]);
        for (int a = 0; a < 3; ++a) room[a] = std::max(room[a], e[a]);
    }
    if (!(room[0] > 0.0 && room[1] > 0.0 && room[2] > 0.0)) return 0;
    // Per kind with items, the orientations that fit the room.
    std::vector<int> used;
    std::vector<std::vector<Vec3>> sizes;
    std::size_t orientations = 0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] <= 0) continue;
        std::vector<Vec3> fitting;
        for (const KindOrientation& o : kinds.kinds[k].orientations) {
            if (fits(o.size, room) && o.size[0] > 0.0 && o.size[1] > 0.0 && o.size[2] > 0.0) {
                fitting.push_back(o.size);
            }
        }
        if (fitting.empty()) continue;
        used.push_back(static_cast<int>(k));
        orientations += fitting.size();
        sizes.push_back(std::move(fitting));
    }
    if (used.empty()) return 0;
    // Some 5 million evaluations at most: fewer thresholds for many kinds.
    std::size_t thresholds = 6;
    while (thresholds > 0 && std::pow(4.0 + thresholds, 3) * orientations > 5e6) --thresholds;
    std::array<std::vector<ShareMap>, 3> maps;
    // values[a][m][j]: map m of axis a on the j-th orientation (over all kinds).
    std::array<std::vector<std::vector<double>>, 3> values;
    for (int a = 0; a < 3; ++a) {
        std::vector<double> extents;
        for (const std::vector<Vec3>& fitting : sizes) {
            for (const Vec3& size : fitting) extents.push_back(size[a]);
        }
        maps[a] = maps_for(extents, room[a], thresholds);
        for (const ShareMap& map : maps[a]) {
            std::vector<double> row;
            row.reserve(orientations);
            for (const double e : extents) row.push_back(mapped(map, e, room[a]));
            values[a].push_back(std::move(row));
        }
    }
    double best = 0.0;
    for (const std::vector<double>& vx : values[0]) {
        for (const std::vector<double>& vy : values[1]) {
            for (const std::vector<double>& vz : values[2]) {
                double total = 0.0;
                std::size_t j = 0;
                for (std::size_t i = 0; i < used.size(); ++i) {
                    double least = std::numeric_limits<double>::infinity();
                    for (std::size_t o = 0; o < sizes[i].size(); ++o, ++j) {
                        least = std::min(least, vx[j] * vy[j] * vz[j]);
                    }
                    total += least * counts[used[i]];
                }
                best = std::max(best, total);
            }
        }
    }
    // Shaved a little, so that rounding cannot lift it over the truth.
    return static_cast<std::size_t>(std::ceil(best * (1.0 - kNear)));
}

// Every box takes at most the largest weight budget of the types.
std::size_t weight_bound(const KindTable& kinds, const std::vector<int>& counts,
                         const BoxTypes& types) {
    double capacity = 0.0;
    for (std::size_t t = 0; t < types.size(); ++t) {
        const WeightLimit limit = WeightLimit::of(*types[t].box);
        if (!limit.limited()) return 0;
        double most = std::numeric_limits<double>::infinity();
        if (limit.budget >= 0.0) most = limit.budget;
        if (limit.gross_limited) most = std::min(most, limit.max_weight - limit.empty_weight);
        capacity = std::max(capacity, most);
    }
    double total = 0.0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] > 0) total += kinds.kinds[k].weight * counts[k];
    }
    if (!(capacity > 0.0) || !(total > 0.0)) return 0;
    return static_cast<std::size_t>(std::ceil(total / capacity * (1.0 - kNear)));
}

}  // namespace

std::size_t box_count_bound(const KindTable& kinds, const std::vector<int>& counts,
                            const BoxTypes& types, const WorkBudget* budget) {
    const CountBound bound(kinds, counts, types, budget);
    std::size_t best = bound.of(bound.order(), bound.deep());
    if (budget && budget->out_of_time()) return best;
    best = std::max(best, worth_bound(kinds, counts, types));
    return std::max(best, weight_bound(kinds, counts, types));
}

}  // namespace stowvex::optimiser
