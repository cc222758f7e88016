// Item blocks: nx x ny x nz copies of one item kind in one orientation, placed
// as one cuboid. The catalogue holds every block a box can take, ranked by the
// volume of their items, largest first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "optimiser/cuboid.hpp"
#include "optimiser/item_kinds.hpp"

namespace stowvex::optimiser {

struct ItemBlock {
    int kind = -1;
    int orientation = -1;        // of the kind's orientations
    Vec3 item_size{};            // extents of one item as turned
    std::array<int, 3> count{};  // copies along each axis
    int item_count = 0;
    Vec3 size{};          // extents when laid out from the origin
    double volume = 0.0;  // volume of the items in it
};

struct CatalogueSettings {
    std::size_t max_blocks = 12000;
    // Orders blocks of equal volume; 0 keeps the order in which they are made.
    std::uint64_t seed = 0;
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

private:
    std::vector<ItemBlock> blocks_;
    std::uint64_t work_ = 0;
};

// Positions of the items of a block along one axis from `start`: each is the
// one before plus the item's extent, so neighbours share their faces
// exactly. Element n is the far face of the last item.
void item_positions(const ItemBlock& block, int axis, double start, std::vector<double>& out);

// The far corner of a block laid out from `corner`, by the same sums.
Vec3 far_corner(const ItemBlock& block, const Vec3& corner);

}  // namespace stowvex::optimiser
