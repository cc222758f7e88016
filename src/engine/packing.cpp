// One packing: cursor placement, rows and layers, and the recursive packing of
// free spaces.
#include "engine/packing.hpp"

#include <algorithm>
#include <cmath>

#include "engine/exact_measures.hpp"
#include "engine/orientation.hpp"
#include "engine/packing_control.hpp"
#include "engine/placement_cursor.hpp"
#include "model/packing_rules.hpp"

namespace stowvex {

namespace {

// The budget of a free space: what is left of the volume's. Weights copied in
// from a free space are added in another order than they were tested in, so
// the used weight can pass the budget by a rounding error. What is left is
// then nothing, not a negative budget, which would lift the limit.
double space_budget(double budget, double used_weight) {
    return budget < 0.0 ? budget : std::max(0.0, budget - used_weight);
}

}  // namespace

Packing::Packing(const PackingItems& items, bool whole)
    : items_(items),
      entries_(items.entries()),
      own_scratch_(std::make_unique<PackingScratch>()),
      scratch_(*own_scratch_),
      unplaced_(scratch_.unplaced),
      placed_(scratch_.placed),
      whole_(whole) {}

Packing::Packing(const PackingItems& items, bool whole, PackingScratch& scratch)
    : items_(items),
      entries_(items.entries()),
      scratch_(scratch),
      unplaced_(scratch_.unplaced),
      placed_(scratch_.placed),
      whole_(whole) {}

PackedItem Packing::packed_item(const PlacedEntry& p) const {
    return PackedItem(*entries_[p.entry].item, p.region.width, p.region.length, p.region.depth,
                      kOrientations[p.orientation].label, p.region.x, p.region.y, p.region.z);
}

void Packing::pack(double width, double length, double depth, double budget, int nesting_depth,
                   std::vector<PlacedEntry>& out) {
    out.clear();
    if (!started_) {  // the outermost volume
        started_ = true;
        const BoxFacts box(width, length, depth, budget);
        exact_ = items_.facts().fraction_bits() <= box.exact_bits;
        if (whole_ && nesting_depth == 0) size_up(box);
        if (gave_up_) return give_up();
        // What is left to place; copied only for a packing that goes ahead.
        unplaced_ = items_.index();
        placed_.assign(entries_.size(), 0);
    }
    if (gave_up_) return;
    double used_weight = 0.0;
    fill_rows_and_layers(width, length, depth, budget, used_weight, nesting_depth, out);
    if (nesting_depth < kMaxNestingDepth && !gave_up_) {
        fill_free_spaces(width, length, depth, budget, used_weight, nesting_depth, out);
    }
}

void Packing::place(const PackingEntry& e, std::uint32_t entry) {
    placed_[e.identity] = 1;
    const std::vector<std::uint32_t>& holders = items_.holders(e.identity);
    if (holders.empty()) {
        unplaced_.remove(entry);
    } else {
        for (const std::uint32_t holder : holders) unplaced_.remove(holder);
    }
}

// Each entry in list order is offered to the cursor once, unless placed or
// over the budget. The index passes over entries that cannot fit any extent
// the cursor offers, or that fail the weight test: offering those would
// place nothing and leave the cursor as it is.
void Packing::fill_rows_and_layers(double width, double length, double depth, double budget,
                                   double& used_weight, int nesting_depth,
                                   std::vector<PlacedEntry>& out) {
    const bool watch = whole_ && nesting_depth == 0;
    if (watch && too_heavy(budget, used_weight)) return give_up();
    PlacementCursor cursor;
    std::uint32_t from = 0;
    double bound[3];
    // The bound and the weight test change only when something is placed.
    bool reachable = reach_at_cursor(cursor, width, length, depth, bound);
    while (reachable) {
        check_stop();
        const std::uint32_t index = unplaced_.next(from, bound, used_weight, budget);
        if (index == EntryIndex::kNone) break;
        from = index + 1;
        const PackingEntry& e = entries_[index];
        if (!e.placeable || placed_[e.identity] != 0 ||
            !weight_allows(used_weight, e.weight, budget)) {
            continue;
        }
        const Spot spot = spot_at_cursor(e.dims, e.rotation, cursor, width, length, depth);
        if (spot.orientation < 0) continue;
        const Orientation& turn = kOrientations[spot.orientation];
        used_weight += e.weight;
        place(e, index);
        out.push_back(PlacedEntry{Region{spot.x, spot.y, spot.z, e.dims[turn.along_width],
                                         e.dims[turn.along_length], e.dims[turn.along_depth]},
                                  index, spot.orientation});
        if (watch && too_heavy(budget, used_weight)) return give_up();
        reachable = reach_at_cursor(cursor, width, length, depth, bound);
    }
}

// Whether packing the space would place anything at all. Packing an empty
// volume places something exactly when one of the items passes the weight
// test and fits the whole volume at its origin; anything that fits nowhere
// there fits in none of its free spaces either. Checking this first spares
// the nested packing for the many attempts that take nothing.
bool Packing::could_take_any(const FreeSpace& space, double budget) const {
    double available[3];
    sort_ascending(space.width, space.length, space.depth, available);
    if (std::isnan(available[0]) || std::isnan(available[1]) || std::isnan(available[2])) {
        return false;  // NaN fails every comparison, and each orientation makes one per extent
    }
    for (std::uint32_t from = 0;;) {
        check_stop();
        const std::uint32_t index = unplaced_.next(from, available, 0.0, budget);
        if (index == EntryIndex::kNone) return false;
        from = index + 1;
        const PackingEntry& e = entries_[index];
        if (!e.placeable || !weight_allows(0.0, e.weight, budget)) continue;
        if (e.ascending[0] > available[0] || e.ascending[1] > available[1] ||
            e.ascending[2] > available[2]) {
            continue;
        }
        // Measures that fit in sorted order fit in some orientation; with all
        // six allowed that one is allowed.
        if (orientation_count(e.rotation) == 6) return true;
        if (fits_some_orientation(e.dims[0], e.dims[1], e.dims[2], e.rotation, space.width,
                                  space.length, space.depth)) {
            return true;
        }
    }
}

void Packing::fill_free_spaces(double width, double length, double depth, double budget,
                               double& used_weight, int nesting_depth,
                               std::vector<PlacedEntry>& out) {
    if (unplaced_.empty()) return;
    // With exact measures every free space lies in the volume: when nothing
    // left fits the volume itself, no space takes anything.
    const bool watch = whole_ && nesting_depth == 0;
    if (exact_ && !watch &&
        !could_take_any(make_free_space(0.0, 0.0, 0.0, width, length, depth),
                        space_budget(budget, used_weight))) {
        return;
    }
    PackingScratch::Level& level = scratch_.levels[nesting_depth];
    level.regions.clear();
    for (const PlacedEntry& p : out) level.regions.push_back(p.region);
    FreeSpaceQueue& spaces = level.spaces;
    const double smallest[3] = {unplaced_.smallest(0), unplaced_.smallest(1),
                                unplaced_.smallest(2)};
    spaces.reset(width, length, depth, level.regions, exact_, smallest);

    if (watch && hopeless(spaces, budget, used_weight, true)) return give_up();
    std::size_t successes = 0;
    while (!unplaced_.empty()) {
        check_stop();
        const double left = space_budget(budget, used_weight);
        const FreeSpace* next = spaces.next();
        if (next == nullptr) return;
        const FreeSpace space = *next;
        if (!could_take_any(space, left)) {
            spaces.reject();
            continue;
        }
        pack(space.width, space.length, space.depth, left, nesting_depth + 1, level.filled);
        if (level.filled.empty()) {
            spaces.reject();
            continue;
        }
        level.regions.clear();
        for (PlacedEntry moved : level.filled) {
            moved.region.x = moved.region.x + space.x;
            moved.region.y = moved.region.y + space.y;
            moved.region.z = moved.region.z + space.z;
            used_weight += entries_[moved.entry].weight;
            out.push_back(moved);
            level.regions.push_back(moved.region);
        }
        const double still_smallest[3] = {unplaced_.smallest(0), unplaced_.smallest(1),
                                          unplaced_.smallest(2)};
        spaces.fill(level.regions, still_smallest);
        // Volumes are weighed after the 1st, 2nd, 4th, 8th ... success only:
        // that walks all entries, and most packings that give up do so early.
        ++successes;
        const bool power_of_two = (successes & (successes - 1)) == 0;
        if (watch && hopeless(spaces, budget, used_weight, power_of_two)) return give_up();
    }
}

void Packing::give_up() { gave_up_ = true; }

// The early ends of a whole packing. Each names an entry that is certain
// never to be placed, whatever the packing does from here on. They are only
// asked at nesting depth 0, about the box itself: first what the facts of the
// list rule out (ListFacts::cannot_be_held).
void Packing::size_up(const BoxFacts& box) {
    gave_up_ = items_.some_never_placed() || items_.facts().cannot_be_held(box);
}

// Under a weight limit only weights of 0 or more are placed, so the used
// weight only grows, and a free space gets the budget max(0, budget - used
// weight) at the time; a space nested in it gets no more than that, and
// nothing heavier than its budget goes into it. So an entry heavier than
// what is left now will never be placed.
// The index holds exactly the unplaced entries here: a whole packing goes
// ahead only when every entry is placeable and holds an item of its own.
bool Packing::too_heavy(double budget, double used_weight) {
    if (!(budget >= 0.0)) return false;
    return unplaced_.heaviest() > std::max(0.0, budget - used_weight);
}

// With exact arithmetic the placements are disjoint and lie in the box, and
// every placement still to come lies inside one of the box's current free
// spaces (later spaces are pieces of these) that may still take something.
// So some entry stays out when one is larger, measure by measure in sorted
// order, than every such space, or when the unplaced entries have more volume
// than these spaces.
// The volumes are weighed only when asked for, as that walks every space;
// otherwise the walk ends once the spaces seen are as large as the largest
// entries, rank by rank.
bool Packing::hopeless(FreeSpaceQueue& spaces, double budget, double used_weight,
                       bool weigh_volumes) {
    if (too_heavy(budget, used_weight)) return true;
    if (!exact_ || unplaced_.empty()) return false;
    const double needed[3] = {unplaced_.largest(0), unplaced_.largest(1), unplaced_.largest(2)};
    if (!weigh_volumes) return !spaces.reaches(needed);
    double largest[3] = {0.0, 0.0, 0.0};
    double open_volume = 0.0;
    std::size_t open = 0;
    spaces.for_each_until([&](const FreeSpace& s) {
        double sorted[3];
        sort_ascending(s.width, s.length, s.depth, sorted);
        for (int rank = 0; rank < 3; ++rank) largest[rank] = std::max(largest[rank], sorted[rank]);
        open_volume += volume_above(s.width, s.length, s.depth);
        ++open;
        return false;
    });
    for (int rank = 0; rank < 3; ++rank) {
        if (needed[rank] > largest[rank]) return true;
    }
    return unplaced_.volume_below() > sum_above(open_volume, open);
}

}  // namespace stowvex
