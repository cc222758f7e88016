// What one box is to be filled from: the box's extents and weight limits,
// the support rule, the items offered (counts per kind), the value of each
// kind, which loading rules their kinds carry and the catalogue of blocks
// made from the offer.
#pragma once

#include <array>
#include <vector>

#include "model/box.hpp"
#include "model/packing_rules.hpp"
#include "optimiser/block_catalogue.hpp"
#include "optimiser/cuboid.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/reachable_lengths.hpp"

namespace stowvex::optimiser {

// The weight a box may take in items, by the weight rule (packing_rules.hpp)
// on its budget, tested on the running sum of item weights in placement
// order. The search also keeps the gross weight, the empty box's and the
// items' added up, within the max weight: the budget, a difference, can let
// that sum round past it.
struct WeightLimit {
    double budget = -1.0;  // negative: no limit
    double empty_weight = 0.0;
    double max_weight = -1.0;
    bool gross_limited = false;

    static WeightLimit of(const Box& box);
    bool limited() const { return budget >= 0.0 || gross_limited; }
    bool allows(double item_weight) const {
        if (!within_budget(item_weight, budget)) return false;
        return !gross_limited || empty_weight + item_weight <= max_weight;
    }
    // Whether an item of this weight may go in at all.
    bool admits(double weight_of_one) const { return weight_admitted(weight_of_one, budget); }
};

// A placed extent of an item kind, for quick tests of what fits a space.
struct KindSize {
    Vec3 size;
    int kind;
};

struct BoxProblem {
    // Items are valued by their volume, which fills the box fullest; with
    // `favour_large` by their volume to the power 1.5, which favours large
    // items and leaves the small ones to fill the gaps of later boxes.
    BoxProblem(const KindTable& kinds, std::vector<int> offered, const Box& box, double min_support,
               const CatalogueSettings& settings, bool favour_large = false);

    const KindTable& kinds;
    std::vector<int> offered;
    Vec3 size;
    WeightLimit weight;
    double min_support;
    std::vector<double> value;  // of one item of each kind
    // The extents of every orientation of every kind offered, smallest volume first.
    std::vector<KindSize> sizes;
    // Whether some kind offered has a max load, and whether kinds of two
    // different stops are offered: only then do placements test those rules.
    bool loads = false;
    bool stops = false;
    // Every block goes to the space nearest the corner at the origin, from
    // the floor up, so that the load lies in one heap that can be shifted.
    bool heaped = false;
    // Per axis, the lengths rows of the offered items can fill.
    std::array<ReachableLengths, 3> reachable;
    BlockCatalogue catalogue;
};

}  // namespace stowvex::optimiser
