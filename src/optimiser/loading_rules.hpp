// Loading rules of a request, which the optimiser keeps as hard constraints
// beside the engine's own rules: what an item may carry (MaxLoad, Fragile),
// which ways up it may stand (Orientations), its delivery stop (Stop), and
// where the centre of gravity of a box's load may lie (CentreOfGravity).
// Every test of a rule lives here; the loading, the box set and the check of
// the engine's result call it.
#pragma once

#include <array>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/item.hpp"
#include "model/pack_response.hpp"
#include "optimiser/cuboid.hpp"

namespace stowvex::optimiser {

inline constexpr double kNoLoadLimit = std::numeric_limits<double>::infinity();

struct ItemRule {
    double max_load = kNoLoadLimit;  // Fragile is 0
    unsigned orientations = 0;       // bit t for kOrientations[t]; 0 when not given
    int stop = 0;                    // 0 without a stop
};

// Fractions of the box's width (x) and length (y).
struct CentreRange {
    std::array<double, 2> x{0.0, 1.0};
    std::array<double, 2> y{0.0, 1.0};
};

class LoadingRules {
public:
    // JSON text {"items": {code: {...}}, "boxes": {reference: {...}}}; throws
    // std::invalid_argument naming what is wrong.
    static LoadingRules parse(const std::string& text);

    bool empty() const { return items_.empty() && boxes_.empty(); }
    const ItemRule* item(const std::string& code) const;
    const CentreRange* centre(const std::string& reference) const;

private:
    std::map<std::string, ItemRule> items_;
    std::map<std::string, CentreRange> boxes_;
};

// The orientations (bits of kOrientations) an item may take: the rule's, or
// those of its rotation freedom.
unsigned allowed_orientations(const Item& item, const ItemRule* rule);
bool label_allowed(unsigned mask, const std::string& label);

// `upper` lies above `lower`: its base at or above the other's top face and
// their footprints overlapping in positive area, at any height.
inline bool lies_above(const Cuboid& upper, const Cuboid& lower) {
    return upper.low[2] >= lower.high[2] && footprint_overlap(upper, lower) > 0.0;
}

inline bool ranges_meet(const Cuboid& a, const Cuboid& b, int axis) {
    return a.low[axis] < b.high[axis] && b.low[axis] < a.high[axis];
}

// `later` stands between `earlier` and the door (the face at y = length):
// their x and z ranges meet and it lies wholly beyond the other's far y.
inline bool lies_towards_door(const Cuboid& later, const Cuboid& earlier) {
    return ranges_meet(later, earlier, 0) && ranges_meet(later, earlier, 2) &&
           later.low[1] >= earlier.high[1];
}

// The weight resting on an item: weights counted from 0 up (a negative weight
// lends no capacity), and whether the sum is exact, so that a limit is met
// whatever order the weights are added in.
struct Load {
    double weight = 0.0;
    long long items = 0;
    bool exact = true;

    void add(double each, long long count);
};

// Whether an item of this max load may carry the load: nothing at all on a
// limit of 0; a sum that may have rounded is kept clear of the limit by its
// error bound.
bool bearable(const Load& load, double max_load);

// A placed item as the rules see it.
struct RuledItem {
    Cuboid cuboid;
    double weight = 0.0;
    double max_load = kNoLoadLimit;
    int stop = 0;
};

// Whether two items of different stops break last in, first out.
bool stops_clash(const RuledItem& a, const RuledItem& b);

// Every item carries what lies above it; no two items' stops clash.
bool loads_kept(const std::vector<RuledItem>& items);
bool stops_kept(const std::vector<RuledItem>& items);

// The weighted centre (x, y) of the items; nothing when no item weighs more
// than 0, so that the box is exempt.
std::optional<std::array<double, 2>> centre_of(const std::vector<RuledItem>& items);
bool centre_within(const std::array<double, 2>& centre, const Vec3& box, const CentreRange& range);
bool centre_kept(const std::vector<RuledItem>& items, const Vec3& box, const CentreRange& range);

// Whether a whole result keeps every rule given: each placement's orientation,
// loads, stops and each box's centre of gravity.
bool keeps_rules(const PackResponse& response, const LoadingRules& rules);

}  // namespace stowvex::optimiser
