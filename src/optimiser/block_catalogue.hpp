// Item blocks: nx x ny x nz copies of one item kind in one orientation, placed
// as one cuboid, and general blocks: two blocks side by side along x or y, or
// one on the other, whose items fill nearly all of their bounding cuboid. The
// catalogue holds every block a box can take, ranked by the volume of their
// items, largest first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "optimiser/cuboid.hpp"
#include "optimiser/item_kinds.hpp"

namespace stowvex::optimiser {

struct ItemBlock {
    int kind = -1;               // -1 for a general block
    int orientation = -1;        // of the kind's orientations
    Vec3 item_size{};            // extents of one item as turned
    std::array<int, 3> count{};  // copies along each axis
    int item_count = 0;
    Vec3 size{};          // extents when laid out from the origin
    double volume = 0.0;  // volume of the items in it

    // A general block: its two parts (parts of the catalogue, see
    // BlockCatalogue::part), the second laid beyond the first along `axis`.
    int axis = -1;
    std::array<std::uint32_t, 2> parts{};
    // Its items by kind, a range of BlockCatalogue::uses.
    std::uint32_t uses_begin = 0;
    std::uint32_t uses_end = 0;
    // The rectangle of its top face, from the origin, that items cover
    // wholly at the block's full height: what may carry a block set on it.
    std::array<double, 2> flat_top{};

    bool general() const { return axis >= 0; }
};

struct CatalogueSettings {
    std::size_t max_blocks = 12000;
    // Orders blocks of equal volume; 0 keeps the order in which they are made.
    std::uint64_t seed = 0;
    // General blocks: at most this many, each filling at least `min_fill` of
    // its bounding cuboid. None are made when a kind offered has a max load
    // or a delivery stop.
    std::size_t max_general = 3000;
    double min_fill = 0.98;
    // Nor when the kinds offered have more items than this on average: their
    // own blocks are large enough then, and general ones only lengthen the
    // search.
    double general_items_per_kind = 5.0;
    // With a support rule a block goes on another only onto its flat top,
    // and only when every side offered is a whole number, so that the top
    // lies exactly at the height of the block above wherever it is placed.
    double min_support = 0.0;
};

class BlockCatalogue {
public:
    BlockCatalogue(const KindTable& kinds, const std::vector<int>& counts, const Vec3& box,
                   const CatalogueSettings& settings);

    std::size_t size() const { return blocks_.size(); }
    // The block of rank r (0 is the largest volume).
    const ItemBlock& operator[](std::size_t r) const { return blocks_[r]; }
    // The first rank whose item volume is at most `volume`.
    std::size_t first_rank_within(double volume) const;
    // Work spent making the catalogue, in the units of WorkBudget.
    std::uint64_t work() const { return work_; }
    std::size_t general_count() const { return general_count_; }

    // A part of a general block.
    const ItemBlock& part(std::uint32_t index) const { return parts_[index]; }
    // The items of a general block by kind, ascending.
    const std::pair<int, int>* uses_begin(const ItemBlock& b) const {
        return uses_.data() + b.uses_begin;
    }
    const std::pair<int, int>* uses_end(const ItemBlock& b) const {
        return uses_.data() + b.uses_end;
    }

    // The far corner of any block laid out from `corner`.
    Vec3 far_corner(const ItemBlock& block, const Vec3& corner) const;
    // Calls each(block, corner) for every block of one kind that makes up
    // `block` laid out from `corner`, in a fixed order: the first part before
    // the second. Each part is laid from the far face of the one before, so
    // that neighbours share their faces exactly.
    template <class Each>
    void for_each_simple(const ItemBlock& block, const Vec3& corner, Each&& each) const;
    // The same blocks in the same order, without their corners.
    template <class Each>
    void for_each_simple(const ItemBlock& block, Each&& each) const;

private:
    void make_general(const KindTable& kinds, const std::vector<int>& counts, const Vec3& box,
                      const CatalogueSettings& settings);

    std::vector<ItemBlock> blocks_;
    std::vector<ItemBlock> parts_;  // every block made, in the order made
    std::vector<std::pair<int, int>> uses_;
    std::size_t general_count_ = 0;
    // Whether every side offered and of the box is a whole number, so that
    // every sum of them is exact and a block's far corner is its corner
    // plus its extents.
    bool exact_sums_ = false;
    std::uint64_t work_ = 0;
};

// Positions of the items of a block along one axis from `start`: each is the
// one before plus the item's extent, so neighbours share their faces
// exactly. Element n is the far face of the last item.
void item_positions(const ItemBlock& block, int axis, double start, std::vector<double>& out);

// The far corner of a block of one kind laid out from `corner`, by the same sums.
Vec3 far_corner(const ItemBlock& block, const Vec3& corner);

template <class Each>
void BlockCatalogue::for_each_simple(const ItemBlock& block, const Vec3& corner,
                                     Each&& each) const {
    if (!block.general()) {
        each(block, corner);
        return;
    }
    const ItemBlock& first = parts_[block.parts[0]];
    Vec3 next = corner;
    next[block.axis] = exact_sums_ ? corner[block.axis] + first.size[block.axis]
                                   : far_corner(first, corner)[block.axis];
    for_each_simple(first, corner, each);
    for_each_simple(parts_[block.parts[1]], next, each);
}

template <class Each>
void BlockCatalogue::for_each_simple(const ItemBlock& block, Each&& each) const {
    if (!block.general()) {
        each(block);
        return;
    }
    for_each_simple(parts_[block.parts[0]], each);
    for_each_simple(parts_[block.parts[1]], each);
}

}  // namespace stowvex::optimiser
