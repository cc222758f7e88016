// Free spaces: the disjoint empty regions left in a volume by the regions placed
// in it, how a placed region cuts them, and the order in which they are tried.
#pragma once

#include <vector>

namespace stowvex {

// An axis-aligned region in the frame of the volume being packed: the corner
// with the smallest coordinates and the extents along x, y and z.
struct Region {
    double x;
    double y;
    double z;
    double width;
    double length;
    double depth;
};

// One empty region, positioned in the frame of the volume being packed.
struct FreeSpace : Region {
    double volume;     // width * length * depth
    double base_area;  // width * length
};

FreeSpace make_free_space(double x, double y, double z, double width, double length, double depth);

// Lowest first; at equal height the larger volume, then the larger floor.
inline bool space_before(const FreeSpace& a, const FreeSpace& b) {
    if (a.z != b.z) return a.z < b.z;
    if (a.volume != b.volume) return a.volume > b.volume;
    return a.base_area > b.base_area;
}

// Touching along a face is no overlap.
inline bool overlaps(const FreeSpace& s, const Region& p) {
    return !(p.x >= s.x + s.width || s.x >= p.x + p.width || p.y >= s.y + s.length ||
             s.y >= p.y + p.length || p.z >= s.z + s.depth || s.z >= p.z + p.depth);
}

// The pieces of the space that lie outside the region, which overlaps it: low
// x, high x, low y, high y, below, above, each only when its extent is
// positive. The pieces never overlap one another. Writes them to `out` and
// gives their number; append_pieces adds them to a list.
int cut_pieces(const FreeSpace& space, const Region& region, FreeSpace out[6]);
void append_pieces(const FreeSpace& space, const Region& region, std::vector<FreeSpace>& out);

// Cuts the space by each region in turn, a piece only by the regions after the
// one that made it, and appends what is left of it to `out`: the pieces of
// the first region that overlaps it, in the order low x, high x, low y,
// high y, below, above, each cut in turn, and so on. With `smallest` (per
// rank, the smallest of the sorted measures of anything that is to go into
// the spaces), a space too small for all of it is left out as it is made,
// and with it every piece it would be cut into later.
void cut_space(const FreeSpace& space, const std::vector<Region>& regions, const double* smallest,
               std::vector<FreeSpace>& out);

// The free spaces of an empty volume of this size cut by the regions, appended
// to `out`.
void free_spaces_of(double width, double length, double depth, const std::vector<Region>& regions,
                    const double* smallest, std::vector<FreeSpace>& out);

// Whether a space is too small for anything whose sorted measures are, per
// rank, at least `smallest`.
bool too_small(const FreeSpace& space, const double smallest[3]);

}  // namespace stowvex
