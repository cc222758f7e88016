// The walking cursor of rows and layers: where the next item goes in the
// current row, a new row behind it or a new layer on top, and what the
// cursor can still take.
#pragma once

#include <algorithm>
#include <cmath>

#include "engine/orientation.hpp"
#include "model/rotation.hpp"

namespace stowvex {

// Where the next item of the current row goes, the longest placed length of
// the current row and the tallest placed depth of the current layer.
struct PlacementCursor {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double row_length = 0.0;
    double layer_depth = 0.0;
};

// Where spot_at_cursor puts an item: the orientation (in kOrientations) and
// the position, or orientation -1 for nowhere.
struct Spot {
    int orientation = -1;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Tries the item in the current row, then in a new row behind the longest
// item of the current one, then in a new layer on top of the tallest item of
// the current one, in a volume of this size with its corner at (0, 0, 0). On
// success the cursor moves on; otherwise it is left exactly as it was.
inline Spot spot_at_cursor(const double dims[3], Rotation rotation, PlacementCursor& cursor,
                           double width, double length, double depth) {
    // Current row: the rest of the row, and everything behind and above it.
    int chosen =
        best_orientation(dims, rotation, width - cursor.x, length - cursor.y, depth - cursor.z);
    if (chosen >= 0) {
        const Orientation& turn = kOrientations[chosen];
        const Spot spot{chosen, cursor.x, cursor.y, cursor.z};
        cursor.x += dims[turn.along_width];
        cursor.row_length = std::max(cursor.row_length, dims[turn.along_length]);
        cursor.layer_depth = std::max(cursor.layer_depth, dims[turn.along_depth]);
        return spot;
    }
    if (length > cursor.y + cursor.row_length) {
        const double ny = cursor.y + cursor.row_length;
        chosen = best_orientation(dims, rotation, width, length - ny, depth - cursor.z);
        if (chosen >= 0) {
            const Orientation& turn = kOrientations[chosen];
            const Spot spot{chosen, 0.0, ny, cursor.z};
            cursor.x = 0.0 + dims[turn.along_width];  // 0.0 + -0.0 is 0.0
            cursor.y = ny;
            cursor.row_length = dims[turn.along_length];
            cursor.layer_depth = std::max(cursor.layer_depth, dims[turn.along_depth]);
            return spot;
        }
    }
    if (depth > cursor.z + cursor.layer_depth) {
        const double nz = cursor.z + cursor.layer_depth;
        chosen = best_orientation(dims, rotation, width, length, depth - nz);
        if (chosen >= 0) {
            const Orientation& turn = kOrientations[chosen];
            const Spot spot{chosen, 0.0, 0.0, nz};
            cursor.x = 0.0 + dims[turn.along_width];
            cursor.y = 0.0;
            cursor.z = nz;
            cursor.row_length = dims[turn.along_length];
            cursor.layer_depth = dims[turn.along_depth];
            return spot;
        }
    }
    return Spot{};
}

// The sorted measures that bound whatever spot_at_cursor can place now: an
// item fits one of the three extents it tries only if its sorted measures are
// at most that extent's. False when none of the three can take anything.
inline bool reach_at_cursor(const PlacementCursor& cursor, double width, double length,
                            double depth, double bound[3]) {
    bool any = false;
    const auto offer = [&](double w, double l, double d) {
        if (std::isnan(w) || std::isnan(l) || std::isnan(d)) return;  // takes nothing
        double sorted[3];
        sort_ascending(w, l, d, sorted);
        for (int rank = 0; rank < 3; ++rank) {
            bound[rank] = any ? std::max(bound[rank], sorted[rank]) : sorted[rank];
        }
        any = true;
    };
    offer(width - cursor.x, length - cursor.y, depth - cursor.z);
    if (length > cursor.y + cursor.row_length) {
        offer(width, length - (cursor.y + cursor.row_length), depth - cursor.z);
    }
    if (depth > cursor.z + cursor.layer_depth) {
        offer(width, length, depth - (cursor.z + cursor.layer_depth));
    }
    return any;
}

}  // namespace stowvex
