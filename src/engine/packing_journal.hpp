// What a whole packing of a list into a box saw, kept so that the packing of
// the same list with one more item can sometimes be known to fail without
// packing it: when the added item is never placed, the longer list packs as
// the shorter one did, with the added item left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/packing_entry.hpp"

namespace stowvex {

struct PackingJournal {
    // One placement of the rows and layers of the box itself, in order: the
    // entry placed, and the cursor and used weight right after it.
    struct RowPlacement {
        std::uint32_t entry;
        double cursor[5];  // x, y, z, row length, layer depth
        double used_weight;
    };
    // A free space of the box that was tried, or that was still open when
    // the packing ended: its sorted measures and the weight it could take.
    struct Space {
        double sorted[3];
        double budget;
    };

    // Whether the packing's arithmetic was exact; only then is the journal
    // of use (free spaces are then never larger than those they came from).
    bool exact = false;
    double width = 0.0, length = 0.0, depth = 0.0, budget = -1.0;
    std::vector<RowPlacement> rows;
    bool rows_done = false;    // the rows and layers ran to their end
    bool spaces_done = false;  // so did the free spaces, or the box took all
    bool gave_up = false;      // the packing stopped short of its end
    // Per rank, the largest of the smallest unplaced measures by which free
    // spaces too small for everything left were dropped (they only grow).
    double pruned_below[3] = {0.0, 0.0, 0.0};
    std::vector<Space> spaces;

    // Whether a packing of the list with `entry` added at `position` (the
    // entries from `position` on come after it) certainly never places it,
    // in which case it places exactly what this packing placed. False when
    // that cannot be told from the journal.
    bool never_places(const PackingEntry& entry, std::uint32_t position) const;

    std::size_t size() const { return rows.size() + spaces.size(); }
};

}  // namespace stowvex
