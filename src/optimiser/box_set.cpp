// Solutions and their boxes.
#include "optimiser/box_set.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "model/packing_rules.hpp"
#include "optimiser/support.hpp"

namespace stowvex::optimiser {

namespace {

Cuboid cuboid_of(const LaidItem& item, const KindTable& kinds) {
    const Vec3& size = kinds.kinds[item.kind].orientations[item.orientation].size;
    return {item.position,
            {item.position[0] + size[0], item.position[1] + size[1], item.position[2] + size[2]}};
}

// Drops the items of every group the box splits: the items of a group
// still to be packed are those offered.
bool drop_split_groups(std::vector<LaidItem>& items, const KindTable& kinds,
                       const std::vector<int>& offered) {
    if (!kinds.has_groups()) return false;
    std::vector<int> in_box(kinds.groups.size(), 0);
    std::vector<int> wanted(kinds.groups.size(), 0);
    for (std::size_t g = 0; g < kinds.groups.size(); ++g) {
        for (const int k : kinds.group_kinds[g]) wanted[g] += offered[k];
    }
    const auto group_of = [&kinds](const LaidItem& item) -> const int* {
        const int& group = kinds.kinds[item.kind].group;
        return group >= 0 ? &group : nullptr;
    };
    const auto left = [&wanted](int group) { return wanted[group]; };
    std::vector<LaidItem> kept;
    if (!without_split_groups(items, group_of, in_box, left, kept)) return false;
    items.swap(kept);
    return true;
}

// Drops the items without enough support.
bool drop_unsupported(std::vector<LaidItem>& items, const KindTable& kinds, double ratio) {
    std::vector<Cuboid> cuboids;
    cuboids.reserve(items.size());
    for (const LaidItem& item : items) cuboids.push_back(cuboid_of(item, kinds));
    const std::vector<bool> supported = supported_cuboids(cuboids, ratio);
    std::vector<LaidItem> kept;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (supported[i]) kept.push_back(items[i]);
    }
    const bool dropped = kept.size() != items.size();
    items.swap(kept);
    return dropped;
}

// Drops split groups, and under a support rule the items left without
// support and their groups, until nothing more goes.
void drop_cascade(std::vector<LaidItem>& items, const KindTable& kinds,
                  const std::vector<int>& offered, double min_support, bool dropped) {
    while (dropped && min_support > 0.0) {
        dropped = drop_unsupported(items, kinds, min_support);
        if (dropped) drop_split_groups(items, kinds, offered);
    }
}

std::vector<RuledItem> ruled_of(const std::vector<LaidItem>& items, const KindTable& kinds) {
    std::vector<RuledItem> ruled;
    ruled.reserve(items.size());
    for (const LaidItem& item : items) {
        const ItemKind& kind = kinds.kinds[item.kind];
        ruled.push_back({cuboid_of(item, kinds), kind.weight, kind.max_load, kind.stop});
    }
    return ruled;
}

// Whether items moved as a whole still make a sound box: inside it, apart,
// supported and within every loading rule.
bool sound(const std::vector<LaidItem>& items, const KindTable& kinds, const Vec3& box,
           double min_support, const CentreRange& centre) {
    const std::vector<RuledItem> ruled = ruled_of(items, kinds);
    const Cuboid whole{{0.0, 0.0, 0.0}, box};
    std::vector<Cuboid> cuboids;
    for (const RuledItem& r : ruled) {
        if (!contains(whole, r.cuboid)) return false;
        for (const Cuboid& other : cuboids) {
            if (overlaps(other, r.cuboid)) return false;
        }
        cuboids.push_back(r.cuboid);
    }
    if (min_support > 0.0) {
        for (const bool ok : supported_cuboids(cuboids, min_support)) {
            if (!ok) return false;
        }
    }
    return loads_kept(ruled) && stops_kept(ruled) && centre_kept(ruled, box, centre);
}

// The shift along an axis that brings a centre at `at` into [lo, hi] (kept
// a little inside) with the load spanning [low, high] still in [0, size]:
// the middle of what may be chosen, whole when a whole number will do.
std::optional<double> shift_into(double at, double low, double high, double size, double lo,
                                 double hi) {
    double from = 0.0;
    double to = -1.0;
    for (const double margin : {(hi - lo) * 0.25, 4e-12 * size}) {
        from = std::max(-low, lo + margin - at);
        to = std::min(size - high, hi - margin - at);
        if (from <= to) break;
    }
    if (!(from <= to)) return std::nullopt;
    if (from <= 0.0 && 0.0 <= to) return 0.0;
    const double middle = from + (to - from) / 2.0;
    const double whole = std::round(middle);
    return whole >= from && whole <= to ? whole : middle;
}

// Tries the load mirrored (none, x, y, both) and shifted so that its centre
// falls within the range; true, with the items moved, when one keeps every
// rule. Each whole test of a moved load counts against `tests`.
bool move_into_range(std::vector<LaidItem>& items, const KindTable& kinds, const Vec3& box,
                     double min_support, const CentreRange& range, int& tests) {
    for (int mirror = 0; mirror < 4; ++mirror) {
        std::vector<LaidItem> moved = items;
        for (LaidItem& item : moved) {
            const Vec3& size = kinds.kinds[item.kind].orientations[item.orientation].size;
            for (int a = 0; a < 2; ++a) {
                if (mirror & (1 << a)) item.position[a] = box[a] - (item.position[a] + size[a]);
            }
        }
        const std::vector<RuledItem> ruled = ruled_of(moved, kinds);
        const auto centre = centre_of(ruled);
        if (!centre) return true;
        Vec3 low{box[0], box[1], 0.0};
        Vec3 high{0.0, 0.0, 0.0};
        for (const RuledItem& r : ruled) {
            for (int a = 0; a < 2; ++a) {
                low[a] = std::min(low[a], r.cuboid.low[a]);
                high[a] = std::max(high[a], r.cuboid.high[a]);
            }
        }
        const std::array<double, 2>* bounds[2] = {&range.x, &range.y};
        std::array<double, 2> shift{};
        bool possible = true;
        for (int a = 0; a < 2 && possible; ++a) {
            const auto by = shift_into((*centre)[a], low[a], high[a], box[a],
                                       (*bounds[a])[0] * box[a], (*bounds[a])[1] * box[a]);
            possible = by.has_value();
            if (by) shift[a] = *by;
        }
        if (!possible || tests <= 0) continue;
        --tests;
        for (LaidItem& item : moved) {
            for (int a = 0; a < 2; ++a) item.position[a] = item.position[a] + shift[a];
        }
        if (sound(moved, kinds, box, min_support, range)) {
            items = std::move(moved);
            return true;
        }
    }
    return false;
}

// How far from [lo, hi] a centre at `at` stays when the load, spanning
// [low, high] of [0, size], is shifted as far as the box allows, or mirrored
// (`mirrored` allows it) and shifted; in shares of the size.
double unreachable(double at, double low, double high, double size, double lo, double hi,
                   bool mirrored) {
    const auto gap = [&](double from, double to) {
        return std::max({0.0, lo - to, from - hi}) / (size > 0.0 ? size : 1.0);
    };
    const double plain = gap(at - low, at + (size - high));
    return mirrored ? std::min(plain, gap(high - at, size - at + low)) : plain;
}

// The two smallest and the two largest of some values, to know them with
// any one value left out.
struct Extremes {
    double least[2] = {std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::infinity()};
    double most[2] = {-std::numeric_limits<double>::infinity(),
                      -std::numeric_limits<double>::infinity()};

    void add_low(double v) {
        if (v < least[0]) {
            least[1] = least[0];
            least[0] = v;
        } else if (v < least[1]) {
            least[1] = v;
        }
    }
    void add_high(double v) {
        if (v > most[0]) {
            most[1] = most[0];
            most[0] = v;
        } else if (v > most[1]) {
            most[1] = v;
        }
    }
    double low_without(double v) const { return v == least[0] ? least[1] : least[0]; }
    double high_without(double v) const { return v == most[0] ? most[1] : most[0]; }
};

// Takes out one item: of those whose going lets a shift (or a mirror, where
// no stops forbid it) bring the centre into the range, the smallest; else the
// one that brings it nearest.
void drop_worst_for_centre(std::vector<LaidItem>& items, const KindTable& kinds, const Vec3& box,
                           const CentreRange& range) {
    const std::vector<RuledItem> ruled = ruled_of(items, kinds);
    double total = 0.0;
    std::array<double, 2> moment{0.0, 0.0};
    std::array<Extremes, 2> extremes;
    bool stops = false;
    for (const RuledItem& r : ruled) {
        total += r.weight;
        stops = stops || r.stop != 0;
        for (int a = 0; a < 2; ++a) {
            moment[a] += r.weight * ((r.cuboid.low[a] + r.cuboid.high[a]) / 2.0);
            extremes[a].add_low(r.cuboid.low[a]);
            extremes[a].add_high(r.cuboid.high[a]);
        }
    }
    const std::array<double, 2>* bounds[2] = {&range.x, &range.y};
    std::size_t worst = items.size() - 1;
    double nearest = std::numeric_limits<double>::infinity();
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = items.size(); i-- > 0;) {
        const RuledItem& r = ruled[i];
        const double rest = total - r.weight;
        double distance = 0.0;
        if (rest > 0.0) {
            for (int a = 0; a < 2; ++a) {
                const double at =
                    (moment[a] - r.weight * ((r.cuboid.low[a] + r.cuboid.high[a]) / 2.0)) / rest;
                distance += unreachable(at, extremes[a].low_without(r.cuboid.low[a]),
                                        extremes[a].high_without(r.cuboid.high[a]), box[a],
                                        (*bounds[a])[0] * box[a], (*bounds[a])[1] * box[a],
                                        a == 0 || !stops);
            }
        } else if (!(rest == 0.0 && r.weight > 0.0)) {
            distance = 1.0;  // what is left still weighs nothing or less
        }
        const double volume = r.cuboid.volume();
        if (distance < nearest || (distance == nearest && volume < smallest)) {
            nearest = distance;
            smallest = volume;
            worst = i;
        }
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(worst));
}

}  // namespace

std::vector<int> FilledBox::counts(std::size_t kind_count) const {
    std::vector<int> result(kind_count, 0);
    for (const LaidItem& item : items) ++result[item.kind];
    return result;
}

FilledBox filled_box_of(const BoxLoading& loading, std::size_t type, double min_support,
                        const CentreRange* centre, std::size_t* dropped_for_centre) {
    const BoxProblem& problem = loading.problem();
    const KindTable& kinds = problem.kinds;
    FilledBox box;
    box.type = type;
    box.items = loading.laid_items();
    // A group is whole when the box holds all of it that was offered. Items
    // dropped may leave others without support, and those their groups.
    drop_cascade(box.items, kinds, problem.offered, min_support,
                 drop_split_groups(box.items, kinds, problem.offered));
    // Items taken out never break a max load or a stop; they may move the
    // centre of gravity, which is tested last.
    const std::size_t before = box.items.size();
    int tests = 8;  // whole tests of a moved load, each as long as the load squared
    while (centre && !box.items.empty() &&
           !centre_kept(ruled_of(box.items, kinds), problem.size, *centre)) {
        if (move_into_range(box.items, kinds, problem.size, min_support, *centre, tests)) break;
        // A few items go between two support cascades, each of which takes
        // time of the load squared.
        const std::size_t batch = 1 + box.items.size() / 64;
        drop_worst_for_centre(box.items, kinds, problem.size, *centre);
        for (std::size_t k = 1; k < batch && !box.items.empty() &&
                                !centre_kept(ruled_of(box.items, kinds), problem.size, *centre);
             ++k) {
            drop_worst_for_centre(box.items, kinds, problem.size, *centre);
        }
        drop_split_groups(box.items, kinds, problem.offered);
        drop_cascade(box.items, kinds, problem.offered, min_support, true);
    }
    if (dropped_for_centre) *dropped_for_centre = before - box.items.size();
    for (const LaidItem& item : box.items) box.item_volume += kinds.kinds[item.kind].volume;
    return box;
}

std::size_t BoxSet::placed() const {
    std::size_t n = 0;
    for (const FilledBox& box : boxes) n += box.items.size();
    return n;
}

Score BoxSet::score(const BoxTypes& types) const {
    Score score;
    score.placed = placed();
    score.boxes = boxes.size();
    std::vector<double> volumes;
    std::vector<double> costs;
    for (const FilledBox& box : boxes) {
        volumes.push_back(types[box.type].volume);
        costs.push_back(types[box.type].cost);
    }
    score.volume = ordered_sum(volumes);
    score.cost = ordered_sum(costs);
    return score;
}

}  // namespace stowvex::optimiser
