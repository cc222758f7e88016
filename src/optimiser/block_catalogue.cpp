// Making the block catalogue: blocks of every kind and orientation that fit
// the box, and general blocks made of them.
#include "optimiser/block_catalogue.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

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

std::uint64_t bits_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The smaller of two extents over the larger (1 when both are 0).
double match(double a, double b) {
    const double larger = std::max(a, b);
    return larger > 0.0 ? std::min(a, b) / larger : 1.0;
}

bool whole(double value) { return value == std::floor(value) && std::fabs(value) <= 1e12; }

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
            parts_.insert(parts_.end(), made.begin(), made.end());
        }
    }
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        const ItemBlock& b = parts_[i];
        uses_.emplace_back(b.kind, b.item_count);
        parts_[i].uses_begin = static_cast<std::uint32_t>(uses_.size() - 1);
        parts_[i].uses_end = static_cast<std::uint32_t>(uses_.size());
        parts_[i].flat_top = {b.size[0], b.size[1]};
    }
    make_general(kinds, counts, box, settings);
    blocks_ = parts_;

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

Vec3 BlockCatalogue::far_corner(const ItemBlock& block, const Vec3& corner) const {
    if (!block.general()) return optimiser::far_corner(block, corner);
    if (exact_sums_) {
        return {corner[0] + block.size[0], corner[1] + block.size[1], corner[2] + block.size[2]};
    }
    const Vec3 first = far_corner(parts_[block.parts[0]], corner);
    Vec3 next = corner;
    next[block.axis] = first[block.axis];
    const Vec3 second = far_corner(parts_[block.parts[1]], next);
    return {std::max(first[0], second[0]), std::max(first[1], second[1]),
            std::max(first[2], second[2])};
}

void BlockCatalogue::make_general(const KindTable& kinds, const std::vector<int>& counts,
                                  const Vec3& box, const CatalogueSettings& settings) {
    if (settings.max_general == 0 || parts_.empty()) return;
    long long items = 0;
    long long kinds_offered = 0;
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        if (counts[k] <= 0 || !kinds.kinds[k].placeable) continue;
        items += counts[k];
        ++kinds_offered;
    }
    if (static_cast<double>(items) > settings.general_items_per_kind * kinds_offered) return;
    bool whole_sides = whole(box[0]) && whole(box[1]) && whole(box[2]);
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        const ItemKind& kind = kinds.kinds[k];
        if (counts[k] <= 0 || !kind.placeable) continue;
        // The tests of max loads and stops go item by item over blocks of one kind.
        if (kind.max_load != kNoLoadLimit || kind.stop != 0) return;
        for (const KindOrientation& o : kind.orientations) {
            whole_sides = whole_sides && whole(o.size[0]) && whole(o.size[1]) && whole(o.size[2]);
        }
    }
    exact_sums_ = whole_sides;
    const bool on_flat_top = settings.min_support > 0.0;
    const bool may_stack = !on_flat_top || whole_sides;
    const double fill = settings.min_fill;
    // Pairs tried, at most: each costs about a unit of work.
    const std::uint64_t max_tries = 3'000'000;
    std::uint64_t tries = 0;

    // Blocks by extents and items, so that no block is made twice.
    const auto key_of = [&](const Vec3& size, const std::pair<int, int>* begin,
                            const std::pair<int, int>* end) {
        std::uint64_t h = mix(bits_of(size[0]) ^ mix(bits_of(size[1]) ^ mix(bits_of(size[2]))));
        for (const auto* u = begin; u != end; ++u) {
            h = mix(h ^ (static_cast<std::uint64_t>(u->first) << 32) ^
                    static_cast<std::uint64_t>(u->second));
        }
        return h;
    };
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> made;
    const auto same = [&](std::uint32_t i, const Vec3& size, std::size_t begin, std::size_t end) {
        const ItemBlock& b = parts_[i];
        return b.size == size && b.uses_end - b.uses_begin == end - begin &&
               std::equal(uses_.begin() + b.uses_begin, uses_.begin() + b.uses_end,
                          uses_.begin() + static_cast<std::ptrdiff_t>(begin));
    };
    for (std::uint32_t i = 0; i < parts_.size(); ++i) {
        const ItemBlock& b = parts_[i];
        made[key_of(b.size, uses_begin(b), uses_end(b))].push_back(i);
        ++work_;
    }

    std::vector<std::pair<int, int>> merged;  // scratch of combine
    // Block `second` laid beyond block `first` along `axis`, when the two
    // fill their bounding cuboid well enough and the items are there.
    const auto combine = [&](std::uint32_t first, std::uint32_t second, int axis) {
        // Both stay in place until the new block is added, last.
        const ItemBlock& a = parts_[first];
        const ItemBlock& b = parts_[second];
        Vec3 size{};
        for (int d = 0; d < 3; ++d) {
            size[d] = d == axis ? a.size[d] + b.size[d] : std::max(a.size[d], b.size[d]);
            if (size[d] > box[d]) return;
        }
        const double volume = a.volume + b.volume;
        if (volume < fill * (size[0] * size[1] * size[2])) return;
        // Under support only blocks as tall as each other go side by side,
        // so that what is set on them rests on both.
        if (axis != 2 && on_flat_top && a.size[2] != b.size[2]) return;
        if (axis == 2 && on_flat_top &&
            !(b.size[0] <= a.flat_top[0] && b.size[1] <= a.flat_top[1])) {
            return;
        }
        // The items of both, by kind, never more than are offered.
        const std::size_t begin = uses_.size();
        const auto* u = uses_begin(a);
        const auto* v = uses_begin(b);
        const auto* u_end = uses_end(a);
        const auto* v_end = uses_end(b);
        merged.clear();
        while (u != u_end || v != v_end) {
            if (v == v_end || (u != u_end && u->first < v->first)) {
                merged.push_back(*u++);
            } else if (u == u_end || v->first < u->first) {
                merged.push_back(*v++);
            } else {
                merged.emplace_back(u->first, u->second + v->second);
                ++u;
                ++v;
            }
            if (merged.back().second > counts[merged.back().first]) return;
        }
        ItemBlock g;
        g.axis = axis;
        g.parts = {first, second};
        g.item_count = a.item_count + b.item_count;
        g.volume = volume;
        // From the origin the sums of whole sides are exact already.
        g.size = exact_sums_ ? size : far_corner(g, Vec3{});
        if (g.size[0] > box[0] || g.size[1] > box[1] || g.size[2] > box[2]) return;
        const std::uint64_t key = key_of(g.size, merged.data(), merged.data() + merged.size());
        uses_.insert(uses_.end(), merged.begin(), merged.end());
        std::vector<std::uint32_t>& alike = made[key];
        for (const std::uint32_t m : alike) {
            if (same(m, g.size, begin, uses_.size())) {
                uses_.resize(begin);
                return;
            }
        }
        g.uses_begin = static_cast<std::uint32_t>(begin);
        g.uses_end = static_cast<std::uint32_t>(uses_.size());
        // The flat top: that of the upper block of a stack; of two blocks
        // side by side, that of the taller one, or both when they are as
        // tall and the first one's top is flat to the face they share.
        if (axis == 2) {
            g.flat_top = b.flat_top;
        } else if (a.size[2] == g.size[2]) {
            g.flat_top = a.flat_top;
            const int across = 1 - axis;
            if (b.size[2] == a.size[2] && a.flat_top[axis] == a.size[axis]) {
                std::array<double, 2> both{};
                both[axis] = a.size[axis] + b.flat_top[axis];
                both[across] = std::min(a.flat_top[across], b.flat_top[across]);
                if (both[0] * both[1] > g.flat_top[0] * g.flat_top[1]) g.flat_top = both;
            }
        } else {
            g.flat_top = {0.0, 0.0};
        }
        alike.push_back(static_cast<std::uint32_t>(parts_.size()));
        parts_.push_back(g);
        ++general_count_;
    };

    // Rounds: the blocks made in the last round with every block made so
    // far. Two blocks go side by side only when the faces they join nearly
    // match, which the fill asks of all but very unequal pairs; they are
    // found among the blocks sorted by the extent both share.
    std::size_t fresh = 0;
    std::vector<std::uint32_t> by_height;
    std::vector<std::uint32_t> by_width;
    while (fresh < parts_.size() && general_count_ < settings.max_general && tries < max_tries) {
        const std::size_t end = parts_.size();
        // The blocks of the last round sorted and merged in: rounds that
        // make few blocks cost little.
        const auto add_sorted = [&](std::vector<std::uint32_t>& sorted, int axis) {
            const auto by_extent = [&](std::uint32_t x, std::uint32_t y) {
                return parts_[x].size[axis] < parts_[y].size[axis] ||
                       (parts_[x].size[axis] == parts_[y].size[axis] && x < y);
            };
            const auto old = static_cast<std::ptrdiff_t>(sorted.size());
            for (std::size_t i = fresh; i < end; ++i)
                sorted.push_back(static_cast<std::uint32_t>(i));
            std::sort(sorted.begin() + old, sorted.end(), by_extent);
            std::inplace_merge(sorted.begin(), sorted.begin() + old, sorted.end(), by_extent);
        };
        add_sorted(by_height, 2);
        add_sorted(by_width, 0);
        work_ += 2 * end;
        const auto window = [&](const std::vector<std::uint32_t>& sorted, int axis, double extent) {
            const auto low = std::lower_bound(
                sorted.begin(), sorted.end(), extent * fill,
                [&](std::uint32_t x, double e) { return parts_[x].size[axis] < e; });
            const auto high = std::upper_bound(
                low, sorted.end(), extent / fill,
                [&](double e, std::uint32_t x) { return e < parts_[x].size[axis]; });
            return std::make_pair(low, high);
        };
        for (std::uint32_t i = static_cast<std::uint32_t>(fresh); i < end; ++i) {
            if (general_count_ >= settings.max_general || tries >= max_tries) break;
            // Each pair once: with a block of an earlier round, or of this
            // one up to itself.
            const auto partner = [&](std::uint32_t j) { return j < fresh || j <= i; };
            const Vec3 a = parts_[i].size;
            const auto [z_low, z_high] = window(by_height, 2, a[2]);
            for (auto it = z_low; it != z_high && general_count_ < settings.max_general; ++it) {
                const std::uint32_t j = *it;
                if (!partner(j)) continue;
                ++tries;
                const Vec3 b = parts_[j].size;  // combine may move the blocks
                if (match(a[1], b[1]) >= fill) combine(i, j, 0);
                if (match(a[0], b[0]) >= fill) combine(i, j, 1);
            }
            if (!may_stack) continue;
            const auto [x_low, x_high] = window(by_width, 0, a[0]);
            for (auto it = x_low; it != x_high && general_count_ < settings.max_general; ++it) {
                const std::uint32_t j = *it;
                if (!partner(j)) continue;
                ++tries;
                if (match(a[1], parts_[j].size[1]) < fill) continue;
                combine(i, j, 2);
                if (j != i) combine(j, i, 2);
            }
        }
        fresh = end;
    }
    work_ += tries;
}

std::size_t BlockCatalogue::first_rank_within(double volume) const {
    const auto found = std::partition_point(blocks_.begin(), blocks_.end(),
                                            [&](const ItemBlock& b) { return b.volume > volume; });
    return static_cast<std::size_t>(found - blocks_.begin());
}

}  // namespace stowvex::optimiser
