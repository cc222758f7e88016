// Telling from a packing's journal that an added item would never be placed.
#include "engine/packing_journal.hpp"

#include <algorithm>

#include "engine/placement_cursor.hpp"
#include "model/packing_rules.hpp"

namespace stowvex {

namespace {

bool within(const double ascending[3], const double sorted[3]) {
    return ascending[0] <= sorted[0] && ascending[1] <= sorted[1] && ascending[2] <= sorted[2];
}

}  // namespace

// The packing of the longer list makes the very decisions of this one for as
// long as the added entry is not placed: an entry that a search of the
// unplaced entries finds and that does not fit leaves everything as it was,
// and with exact arithmetic an entry too large for a free space, or too heavy
// for its budget, is found in none of the volumes nested in it. The free
// spaces dropped for being too small for every unplaced entry are the same
// when the added entry is no smaller, rank by rank, than the unplaced entries
// were when the last of them was dropped (the smallest measures left only
// grow). So the added entry stays out when it is not placed by the rows and
// layers at the point its turn comes, and fits none of the free spaces the
// packing tried, nor those still open at its end. A packing that gave up
// proved some entry would stay out; with one more entry, not placed before
// that point, the same proof holds.
bool PackingJournal::never_places(const PackingEntry& e, std::uint32_t position) const {
    if (!e.placeable) return true;
    if (!exact) return false;
    for (int rank = 0; rank < 3; ++rank) {
        if (e.ascending[rank] < pruned_below[rank]) return false;
    }

    // Its turn in the rows and layers comes after the last placement of an
    // entry before it, with the cursor and weight that placement left.
    const auto after =
        std::lower_bound(rows.begin(), rows.end(), position,
                         [](const RowPlacement& row, std::uint32_t at) { return row.entry < at; });
    if (after == rows.end() && !rows_done) return true;  // gave up before its turn
    PlacementCursor cursor;
    double used_weight = 0.0;
    if (after != rows.begin()) {
        const RowPlacement& last = *(after - 1);
        cursor = PlacementCursor{last.cursor[0], last.cursor[1], last.cursor[2], last.cursor[3],
                                 last.cursor[4]};
        used_weight = last.used_weight;
    }
    double bound[3];
    if (reach_at_cursor(cursor, width, length, depth, bound) && within(e.ascending, bound) &&
        weight_allows(used_weight, e.weight, budget) &&
        spot_at_cursor(e.dims, e.rotation, cursor, width, length, depth).orientation >= 0) {
        return false;
    }
    if (!rows_done) return true;  // gave up after its turn

    if (!spaces_done && !gave_up) return false;  // its free spaces were never made
    for (const Space& space : spaces) {
        if (within(e.ascending, space.sorted) && weight_allows(0.0, e.weight, space.budget)) {
            return false;
        }
    }
    return true;
}

}  // namespace stowvex
