// The single-box packer: cursor placement, rows and layers, and the
// recursive packing of free spaces.
#include "engine/single_box_packer.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>

#include "engine/free_space.hpp"
#include "engine/orientation.hpp"
#include "engine/working_volume.hpp"

namespace stowvex {

namespace {

// A negative extent would move the cursor backwards and put items outside
// the volume or on top of each other, so such an item is never placed.
bool has_negative_extent(const Item& item) {
    return item.width() < 0.0 || item.length() < 0.0 || item.depth() < 0.0;
}

// A negative budget means no limit. Under a limit, a weight that cannot be
// compared (NaN) never passes, so it cannot switch the limit off for the
// items after it.
bool over_budget(double used_weight, double weight, double budget) {
    return !(budget < 0.0) && !(used_weight + weight <= budget);
}

// An item not yet placed in the volume, its measures read once for the many
// free spaces it is tested against.
struct Remaining {
    const ItemPtr* ref;
    double width;
    double length;
    double depth;
    double weight;
    Rotation rotation;
    bool placeable;
};

Remaining read_remaining(const ItemPtr* ref) {
    const Item& item = **ref;
    return Remaining{ref,           item.width(),           item.length(),
                     item.depth(),  item.weight(),          item.allowed_rotation(),
                     !has_negative_extent(item)};
}

// Whether packing the space would place anything at all. Packing an empty
// volume places something exactly when one of the items passes the weight
// test and fits the whole volume at its origin; anything that fits nowhere
// there fits in none of its free spaces either. Checking this first spares
// the working volume, its packer and its result for the many attempts that
// take nothing.
bool could_take_any(const std::vector<Remaining>& remaining, const FreeSpace& space,
                    double budget) {
    for (const Remaining& r : remaining) {
        if (!r.placeable || over_budget(0.0, r.weight, budget)) continue;
        if (fits_some_orientation(r.width, r.length, r.depth, r.rotation, space.width,
                                  space.length, space.depth)) {
            return true;
        }
    }
    return false;
}

// Extents of a free space; whether a space can take an item does not depend
// on where it lies.
struct Extent {
    double width;
    double length;
    double depth;
};

struct ExtentHash {
    std::size_t operator()(const Extent& e) const {
        const std::hash<double> h;
        std::size_t seed = h(e.width);
        seed ^= h(e.length) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        seed ^= h(e.depth) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        return seed;
    }
};

struct ExtentEqual {
    bool operator()(const Extent& a, const Extent& b) const {
        return a.width == b.width && a.length == b.length && a.depth == b.depth;
    }
};

// Extents found to take none of the remaining items, with the free-space
// budget of that attempt. The remaining items only ever get fewer, so the
// finding holds for as long as the budget lets no more weight through.
using EmptyExtents = std::unordered_map<Extent, double, ExtentHash, ExtentEqual>;

bool still_empty(double budget_now, double budget_then) {
    if (budget_then < 0.0 || std::isnan(budget_then)) return true;  // no weight test then
    return budget_now >= 0.0 && budget_now <= budget_then;
}

}  // namespace

SingleBoxPacker::SingleBoxPacker(BoxPtr box) : box_(std::move(box)) {}

PackedBox SingleBoxPacker::pack_box(const ItemList& items) const {
    return pack_volume(items.sorted_view(), box_->max_item_weight(), 0);
}

PackedBox SingleBoxPacker::pack_volume(const std::vector<ItemPtr>& items, double budget,
                                       int nesting_depth) const {
    ItemRefs refs;
    refs.reserve(items.size());
    for (const ItemPtr& item : items) {
        if (item) refs.push_back(&item);
    }
    return pack_refs(refs, budget, std::max(nesting_depth, 0));
}

PackedBox SingleBoxPacker::pack_refs(const ItemRefs& items, double budget,
                                     int nesting_depth) const {
    PackedBox packed(box_);
    PlacedSet placed;
    double used_weight = 0.0;
    fill_rows_and_layers(0.0, 0.0, 0.0, box_->width(), box_->length(), box_->depth(), items,
                         budget, used_weight, placed, packed);
    if (nesting_depth < kMaxNestingDepth) {
        fill_free_spaces(packed, items, placed, budget, used_weight, nesting_depth);
    }
    return packed;
}

void SingleBoxPacker::fill_rows_and_layers(double ox, double oy, double oz, double width,
                                           double length, double depth, const ItemRefs& items,
                                           double budget, double& used_weight,
                                           PlacedSet& placed, PackedBox& packed) {
    PlacementCursor cursor;
    cursor.x = ox;
    cursor.y = oy;
    cursor.z = oz;
    for (const ItemPtr* ref : items) {
        const ItemPtr& item = *ref;
        if (placed.count(item.get()) != 0) continue;
        const double weight = item->weight();
        if (over_budget(used_weight, weight, budget)) continue;
        std::optional<PackedItem> placement =
            place_at_cursor(item, cursor, ox, oy, oz, width, length, depth);
        if (!placement) continue;
        used_weight += weight;
        placed.insert(item.get());
        packed.add(std::move(*placement));
    }
}

std::optional<PackedItem> SingleBoxPacker::place_at_cursor(const ItemPtr& item,
                                                           PlacementCursor& cursor, double ox,
                                                           double oy, double oz, double width,
                                                           double length, double depth) {
    if (has_negative_extent(*item)) return std::nullopt;

    // Current row: the rest of the row, and everything behind and above it.
    if (std::optional<OrientationCandidate> c = best_orientation(
            item, ox + width - cursor.x, oy + length - cursor.y, oz + depth - cursor.z)) {
        PackedItem placed(std::move(c->item), c->width, c->length, c->depth,
                          std::move(c->orientation), cursor.x, cursor.y, cursor.z);
        cursor.x += c->width;
        cursor.row_length = std::max(cursor.row_length, c->length);
        cursor.layer_depth = std::max(cursor.layer_depth, c->depth);
        return placed;
    }

    // New row behind the longest item of the current one.
    if (oy + length > cursor.y + cursor.row_length) {
        const double ny = cursor.y + cursor.row_length;
        if (std::optional<OrientationCandidate> c =
                best_orientation(item, width, oy + length - ny, oz + depth - cursor.z)) {
            PackedItem placed(std::move(c->item), c->width, c->length, c->depth,
                              std::move(c->orientation), ox, ny, cursor.z);
            cursor.x = ox + c->width;
            cursor.y = ny;
            cursor.row_length = c->length;
            cursor.layer_depth = std::max(cursor.layer_depth, c->depth);
            return placed;
        }
    }

    // New layer on top of the tallest item of the current one.
    if (oz + depth > cursor.z + cursor.layer_depth) {
        const double nz = cursor.z + cursor.layer_depth;
        if (std::optional<OrientationCandidate> c =
                best_orientation(item, width, length, oz + depth - nz)) {
            PackedItem placed(std::move(c->item), c->width, c->length, c->depth,
                              std::move(c->orientation), ox, oy, nz);
            cursor.x = ox + c->width;
            cursor.y = oy;
            cursor.z = nz;
            cursor.row_length = c->length;
            cursor.layer_depth = c->depth;
            return placed;
        }
    }
    return std::nullopt;
}

void SingleBoxPacker::fill_free_spaces(PackedBox& packed, const ItemRefs& items,
                                       PlacedSet& placed, double budget, double& used_weight,
                                       int nesting_depth) const {
    std::vector<Remaining> remaining;
    for (const ItemPtr* ref : items) {
        if (placed.count(ref->get()) == 0) remaining.push_back(read_remaining(ref));
    }
    if (remaining.empty()) return;

    std::vector<FreeSpace> spaces =
        free_spaces_of(box_->width(), box_->length(), box_->depth(), packed.items());
    EmptyExtents empty_extents;
    ItemRefs offered;
    std::vector<PackedItem> newly_placed;
    // A merge sort: NaN coordinates can never drive it out of range. After
    // each success the list is cut and brought back into this order at once.
    std::stable_sort(spaces.begin(), spaces.end(), space_before);
    bool progress = true;
    while (!remaining.empty() && !spaces.empty() && progress) {
        progress = false;
        for (const FreeSpace& space : spaces) {
            if (remaining.empty()) return;
            // Weights copied in from a free space are added in another order
            // than they were tested in, so the used weight can pass the budget
            // by a rounding error. What is left is then nothing, not a negative
            // budget, which would lift the limit.
            const double space_budget =
                budget < 0.0 ? budget : std::max(0.0, budget - used_weight);
            const Extent extent{space.width, space.length, space.depth};
            const auto known = empty_extents.find(extent);
            if (known != empty_extents.end() && still_empty(space_budget, known->second)) continue;
            if (!could_take_any(remaining, space, space_budget)) {
                if (!std::isnan(space.width) && !std::isnan(space.length) &&
                    !std::isnan(space.depth)) {
                    empty_extents[extent] = space_budget;
                }
                continue;
            }

            offered.clear();
            for (const Remaining& r : remaining) offered.push_back(r.ref);
            const SingleBoxPacker inner(
                std::make_shared<WorkingVolume>(space.width, space.length, space.depth));
            const PackedBox filled = inner.pack_refs(offered, space_budget, nesting_depth + 1);
            if (filled.item_count() == 0) continue;

            newly_placed.clear();
            for (const PackedItem& local : filled.items()) {
                PackedItem moved = local.translated(space.x, space.y, space.z);
                used_weight += moved.weight();
                placed.insert(moved.item().get());
                packed.add(moved);
                newly_placed.push_back(std::move(moved));
            }
            progress = true;
            break;
        }
        if (!progress) break;
        remaining.erase(std::remove_if(remaining.begin(), remaining.end(),
                                       [&placed](const Remaining& r) {
                                           return placed.count(r.ref->get()) != 0;
                                       }),
                        remaining.end());
        split_sorted_free_spaces(spaces, newly_placed);
    }
}

}  // namespace stowvex
