// Free spaces: cutting by placed regions.
#include "engine/free_space.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "engine/orientation.hpp"
#include "engine/packing_control.hpp"
#include "engine/region_index.hpp"

namespace stowvex {

namespace {

// The lowest low face and the highest high face along each axis of a set of
// regions, with faces computed as overlaps computes them. A region whose high
// face along some axis is at or below the lowest low face, or whose low face
// is at or above the highest high face, overlaps none of the set. Not usable
// once a face is NaN, which compares false with everything.
class Bounds {
public:
    void include(double x0, double y0, double z0, double x1, double y1, double z1) {
        const double low[3] = {x0, y0, z0};
        const double high[3] = {x1, y1, z1};
        for (int axis = 0; axis < 3; ++axis) {
            if (std::isnan(low[axis]) || std::isnan(high[axis])) nan_ = true;
            if (!any_ || low[axis] < low_[axis]) low_[axis] = low[axis];
            if (!any_ || high[axis] > high_[axis]) high_[axis] = high[axis];
        }
        any_ = true;
    }
    void include(const FreeSpace& s) {
        include(s.x, s.y, s.z, s.x + s.width, s.y + s.length, s.z + s.depth);
    }

    // Whether the region certainly overlaps nothing within the bounds.
    bool clear_of(const Region& p) const {
        if (!any_ || nan_) return false;
        const double low[3] = {p.x, p.y, p.z};
        const double high[3] = {p.x + p.width, p.y + p.length, p.z + p.depth};
        for (int axis = 0; axis < 3; ++axis) {
            if (low_[axis] >= high[axis] || low[axis] >= high_[axis]) return true;
        }
        return false;
    }

private:
    bool any_ = false;
    bool nan_ = false;
    double low_[3] = {0.0, 0.0, 0.0};
    double high_[3] = {0.0, 0.0, 0.0};
};

}  // namespace

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
        check_stop();
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

// The list made recursively, for few regions: each level uses one up.
void cut_in_place(const FreeSpace& space, const std::vector<Region>& regions, std::size_t first,
                  const double* smallest, std::vector<FreeSpace>& out) {
    while (first < regions.size() && !overlaps(space, regions[first])) ++first;
    if (first == regions.size()) {
        out.push_back(space);
        return;
    }
    FreeSpace pieces[6];
    const int n = cut_pieces(space, regions[first], pieces);
    for (int k = 0; k < n; ++k) {
        if (smallest != nullptr && too_small(pieces[k], smallest)) continue;
        cut_in_place(pieces[k], regions, first + 1, smallest, out);
    }
}

// The same list, made by passing each region in turn over the spaces cut so
// far, kept in runs of consecutive spaces, each with the bounds of its spaces:
// a region clear of a run's bounds overlaps none of its spaces, so most runs
// are passed over whole. Each overlapped space is replaced in place by its
// pieces, so the list comes out in the same order. A cut run's bounds take in
// the new pieces and keep what they held: wider bounds still bound the run.
void cut_in_runs(const FreeSpace& space, const std::vector<Region>& regions, const double* smallest,
                 std::vector<FreeSpace>& out) {
    struct Run {
        std::vector<FreeSpace> spaces;
        Bounds bounds;

        void rebound() {
            bounds = Bounds();
            for (const FreeSpace& s : spaces) bounds.include(s);
        }
    };
    constexpr std::size_t kRunLength = 32;

    std::vector<Run> runs(1);
    runs[0].spaces.push_back(space);
    runs[0].rebound();
    std::vector<FreeSpace> cut;
    for (const Region& p : regions) {
        check_stop();
        for (std::size_t r = 0; r < runs.size(); ++r) {
            Run& run = runs[r];
            if (run.bounds.clear_of(p)) continue;
            const auto first = std::find_if(run.spaces.begin(), run.spaces.end(),
                                            [&p](const FreeSpace& s) { return overlaps(s, p); });
            if (first == run.spaces.end()) continue;
            cut.assign(run.spaces.begin(), first);
            for (auto it = first; it != run.spaces.end(); ++it) {
                if (!overlaps(*it, p)) {
                    cut.push_back(*it);
                    continue;
                }
                const std::size_t pieces_from = cut.size();
                append_pieces(*it, p, cut);
                if (smallest != nullptr) {
                    cut.erase(
                        std::remove_if(
                            cut.begin() + static_cast<std::ptrdiff_t>(pieces_from), cut.end(),
                            [smallest](const FreeSpace& s) { return too_small(s, smallest); }),
                        cut.end());
                }
                for (std::size_t k = pieces_from; k < cut.size(); ++k) run.bounds.include(cut[k]);
            }
            run.spaces.swap(cut);
            if (run.spaces.size() > 2 * kRunLength) {
                // Split the run in two; the second half has been cut already.
                Run back;
                const auto middle = run.spaces.begin() + static_cast<std::ptrdiff_t>(kRunLength);
                back.spaces.assign(middle, run.spaces.end());
                run.spaces.erase(middle, run.spaces.end());
                run.rebound();
                back.rebound();
                runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(r) + 1, std::move(back));
                ++r;
            }
        }
    }

    for (const Run& run : runs) out.insert(out.end(), run.spaces.begin(), run.spaces.end());
}

// Up to kFewRegions regions a search along the list is fastest; up to
// kSomeRegions, a pass of each region over runs of the list; beyond, an index
// of the regions by position finds the first one that cuts a piece.
constexpr std::size_t kFewRegions = 64;
constexpr std::size_t kSomeRegions = 384;

}  // namespace

void cut_space(const FreeSpace& space, const std::vector<Region>& regions, const double* smallest,
               std::vector<FreeSpace>& out) {
    if (smallest != nullptr && too_small(space, smallest)) return;
    if (regions.size() <= kFewRegions) {
        cut_in_place(space, regions, 0, smallest, out);
        return;
    }
    if (regions.size() <= kSomeRegions) {
        cut_in_runs(space, regions, smallest, out);
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
