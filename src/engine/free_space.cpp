// Free spaces: cutting by placed regions.
#include "engine/free_space.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "engine/orientation.hpp"
#include "engine/region_index.hpp"

namespace stowvex {

FreeSpace make_free_space(double x, double y, double z, double width, double length, double depth) {
    return FreeSpace{{x, y, z, width, length, depth}, width * length * depth, width * length};
}

int cut_pieces(const FreeSpace& s, const Region& p, FreeSpace out[6]) {
    int n = 0;
    const double s_x1 = s.x + s.width;
    const double s_y1 = s.y + s.length;
    const double s_z1 = s.z + s.depth;
    const double x0 = std::max(p.x, s.x);
    const double x1 = std::min(p.x + p.width, s_x1);
    const double y0 = std::max(p.y, s.y);
    const double y1 = std::min(p.y + p.length, s_y1);
    const double z0 = std::max(p.z, s.z);
    const double z1 = std::min(p.z + p.depth, s_z1);
    if (x0 > s.x) out[n++] = make_free_space(s.x, s.y, s.z, x0 - s.x, s.length, s.depth);
    if (s_x1 > x1) out[n++] = make_free_space(x1, s.y, s.z, s_x1 - x1, s.length, s.depth);
    if (y0 > s.y) out[n++] = make_free_space(x0, s.y, s.z, x1 - x0, y0 - s.y, s.depth);
    if (s_y1 > y1) out[n++] = make_free_space(x0, y1, s.z, x1 - x0, s_y1 - y1, s.depth);
    if (z0 > s.z) out[n++] = make_free_space(x0, y0, s.z, x1 - x0, y1 - y0, z0 - s.z);
    if (s_z1 > z1) out[n++] = make_free_space(x0, y0, z1, x1 - x0, y1 - y0, s_z1 - z1);
    return n;
}

void append_pieces(const FreeSpace& s, const Region& p, std::vector<FreeSpace>& out) {
    FreeSpace pieces[6];
    const int n = cut_pieces(s, p, pieces);
    out.insert(out.end(), pieces, pieces + n);
}

bool too_small(const FreeSpace& s, const double smallest[3]) {
    double sorted[3];
    sort_ascending(s.width, s.length, s.depth, sorted);
    return sorted[0] < smallest[0] || sorted[1] < smallest[1] || sorted[2] < smallest[2];
}

namespace {

// Cutting a space by the regions in turn puts its pieces in its place, and
// each piece is cut only by the regions after the one that made it. So the
// list made from one space and the regions from `first` on is: the space
// itself when none of them overlaps it, otherwise, for the first one that
// does, the lists of its pieces, each made from the piece and the regions
// after that one. (A piece can stick out of its parent by a rounding step,
// so the later regions are tested against each piece anew.) The pieces wait
// on a stack, the first on top, so the lists come out in that order.
struct Pending {
    FreeSpace space;
    std::size_t first;  // the first region that may still cut it
};

template <class FirstOverlapping>
void cut_in_order(const FreeSpace& space, const std::vector<Region>& regions,
                  const double* smallest, FirstOverlapping first_overlapping,
                  std::vector<FreeSpace>& out) {
    // Cuts follow one another on a thread: they share the stack.
    thread_local std::vector<Pending> stack;
    stack.clear();
    stack.push_back(Pending{space, 0});
    while (!stack.empty()) {
        const Pending top = stack.back();
        stack.pop_back();
        const std::size_t cutter = first_overlapping(top.space, top.first);
        if (cutter == regions.size()) {
            out.push_back(top.space);
            continue;
        }
        FreeSpace pieces[6];
        const int n = cut_pieces(top.space, regions[cutter], pieces);
        for (int k = n - 1; k >= 0; --k) {
            if (smallest != nullptr && too_small(pieces[k], smallest)) continue;
            stack.push_back(Pending{pieces[k], cutter + 1});
        }
    }
}

// Below this many regions a search along the list is as fast as the index.
constexpr std::size_t kFewRegions = 16;

}  // namespace

void cut_space(const FreeSpace& space, const std::vector<Region>& regions, const double* smallest,
               std::vector<FreeSpace>& out) {
    if (smallest != nullptr && too_small(space, smallest)) return;
    if (regions.size() <= kFewRegions) {
        cut_in_order(
            space, regions, smallest,
            [&regions](const FreeSpace& s, std::size_t from) {
                while (from < regions.size() && !overlaps(s, regions[from])) ++from;
                return from;
            },
            out);
        return;
    }
    const RegionIndex index(regions);
    cut_in_order(
        space, regions, smallest,
        [&index](const FreeSpace& s, std::size_t from) { return index.first_overlapping(s, from); },
        out);
}

void free_spaces_of(double width, double length, double depth, const std::vector<Region>& regions,
                    const double* smallest, std::vector<FreeSpace>& out) {
    cut_space(make_free_space(0.0, 0.0, 0.0, width, length, depth), regions, smallest, out);
}

}  // namespace stowvex
