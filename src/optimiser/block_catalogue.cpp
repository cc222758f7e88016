// Making the block catalogue: blocks of every kind and orientation that fit
// the box.
#include "optimiser/block_catalogue.hpp"

#include <algorithm>

namespace stowvex::optimiser {

namespace {

// How many copies of an extent fit one after the other into `room`, at most `limit`.
int copies_within(double extent, double room, int limit) {
    int n = 0;
    double reach = 0.0;
    while (n < limit && reach + extent <= room) {
        reach = reach + extent;
        ++n;
    }
    return n;
}

// A 64-bit mix (splitmix64) for seeded tie-breaks.
std::uint64_t mix(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

}  // namespace

void item_positions(const ItemBlock& block, int axis, double start, std::vector<double>& out) {
    const int n = block.count[axis];
    out.resize(static_cast<std::size_t>(n) + 1);
    out[0] = start;
    for (int i = 0; i < n; ++i) out[i + 1] = out[i] + block.item_size[axis];
}

Vec3 far_corner(const ItemBlock& block, const Vec3& corner) {
    Vec3 far = corner;
    for (int a = 0; a < 3; ++a) {
        for (int n = 0; n < block.count[a]; ++n) far[a] = far[a] + block.item_size[a];
    }
    return far;
}

BlockCatalogue::BlockCatalogue(const KindTable& kinds, const std::vector<int>& counts,
                               const Vec3& box, const CatalogueSettings& settings) {
    // Kind by kind and orientation by orientation. When one orientation
    // allows more blocks than its share of the catalogue, those with the
    // most items are kept; the single item always stays.
    std::size_t turns = 0;
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        if (counts[k] > 0 && kinds.kinds[k].placeable) turns += kinds.kinds[k].orientations.size();
    }
    const std::size_t share = turns ? std::max<std::size_t>(64, settings.max_blocks / turns) : 0;
    std::vector<ItemBlock> made;
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        const int available = counts[k];
        const ItemKind& kind = kinds.kinds[k];
        if (available <= 0 || !kind.placeable) continue;
        for (std::size_t o = 0; o < kind.orientations.size(); ++o) {
            const Vec3& size = kind.orientations[o].size;
            std::array<int, 3> most{};
            for (int a = 0; a < 3; ++a) most[a] = copies_within(size[a], box[a], available);
            made.clear();
            for (int nx = 1; nx <= most[0]; ++nx) {
                for (int ny = 1; ny <= most[1] && nx * ny <= available; ++ny) {
                    for (int nz = 1; nz <= most[2] && nx * ny * nz <= available; ++nz) {
                        ItemBlock b;
                        b.kind = static_cast<int>(k);
                        b.orientation = static_cast<int>(o);
                        b.item_size = size;
                        b.count = {nx, ny, nz};
                        b.item_count = nx * ny * nz;
                        b.volume = kind.volume * b.item_count;
                        b.size = far_corner(b, Vec3{});
                        made.push_back(b);
                    }
                }
            }
            work_ += made.size();
            if (made.size() > share) {
                std::stable_sort(made.begin() + 1, made.end(),
                                 [](const ItemBlock& a, const ItemBlock& b) {
                                     return a.item_count > b.item_count;
                                 });
                made.resize(share);
            }
            blocks_.insert(blocks_.end(), made.begin(), made.end());
        }
    }

    std::vector<std::uint64_t> tie(blocks_.size());
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        tie[i] = settings.seed == 0 ? i : mix(settings.seed ^ mix(i));
    }
    std::vector<std::uint32_t> order(blocks_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (blocks_[a].volume != blocks_[b].volume) return blocks_[a].volume > blocks_[b].volume;
        if (tie[a] != tie[b]) return tie[a] < tie[b];
        return a < b;
    });
    std::vector<ItemBlock> ranked;
    ranked.reserve(order.size());
    for (const std::uint32_t i : order) ranked.push_back(blocks_[i]);
    blocks_ = std::move(ranked);
    work_ += blocks_.size();
}

std::size_t BlockCatalogue::first_rank_within(double volume) const {
    const auto found = std::partition_point(blocks_.begin(), blocks_.end(),
                                            [&](const ItemBlock& b) { return b.volume > volume; });
    return static_cast<std::size_t>(found - blocks_.begin());
}

}  // namespace stowvex::optimiser
