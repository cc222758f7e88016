// The single-box packer: cursor placement, rows and layers, and the
// recursive packing of free spaces.
#include "engine/single_box_packer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <unordered_map>
#include <utility>

#include "engine/free_space.hpp"
#include "engine/orientation.hpp"

namespace stowvex {

namespace {

// A negative extent would move the cursor backwards and put items outside
// the volume or on top of each other, so such an item is never placed.
bool has_negative_extent(double width, double length, double depth) {
    return width < 0.0 || length < 0.0 || depth < 0.0;
}

// A negative budget means no limit. Under a limit, a weight that cannot be
// compared (NaN) never passes, so it cannot switch the limit off for the
// items after it.
bool over_budget(double used_weight, double weight, double budget) {
    return !(budget < 0.0) && !(used_weight + weight <= budget);
}

// Three measures in ascending order; none may be NaN.
void sort_ascending(double a, double b, double c, double out[3]) {
    if (b < a) std::swap(a, b);
    if (c < b) std::swap(b, c);
    if (b < a) std::swap(a, b);
    out[0] = a;
    out[1] = b;
    out[2] = c;
}

bool any_nan(double a, double b, double c) {
    return std::isnan(a) || std::isnan(b) || std::isnan(c);
}

// Measures up to this are "small whole numbers": sums and differences of them
// are exact, and so is the volume of a block, in 64-bit integers.
constexpr double kLargestWhole = 1048576.0;  // 2^20
constexpr std::uint64_t kVolumeCap = std::uint64_t{1} << 62;

bool is_small_whole(double v) {
    return v >= 0.0 && v <= kLargestWhole &&
           static_cast<double>(static_cast<std::uint32_t>(v)) == v;
}

std::uint64_t whole_volume(double width, double length, double depth) {
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(length) *
           static_cast<std::uint64_t>(depth);  // below 2^60
}

// A sum of volumes that stops at kVolumeCap, so that it cannot overflow.
void add_capped(std::uint64_t& sum, std::uint64_t volume) {
    sum = std::min(sum + std::min(volume, kVolumeCap), kVolumeCap);
}

// Where place_at_cursor puts an item: the row of the orientation table and
// the position, or layout -1 for nowhere.
struct Spot {
    int layout = -1;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// place_at_cursor for an item's measures read beforehand.
Spot spot_at_cursor(const double dims[3], Rotation rotation, PlacementCursor& cursor, double ox,
                    double oy, double oz, double width, double length, double depth) {
    // Current row: the rest of the row, and everything behind and above it.
    int chosen = best_layout(dims, rotation, ox + width - cursor.x, oy + length - cursor.y,
                             oz + depth - cursor.z);
    if (chosen >= 0) {
        const Layout& layout = kLayouts[chosen];
        const Spot spot{chosen, cursor.x, cursor.y, cursor.z};
        cursor.x += dims[layout.along_width];
        cursor.row_length = std::max(cursor.row_length, dims[layout.along_length]);
        cursor.layer_depth = std::max(cursor.layer_depth, dims[layout.along_depth]);
        return spot;
    }

    // New row behind the longest item of the current one.
    if (oy + length > cursor.y + cursor.row_length) {
        const double ny = cursor.y + cursor.row_length;
        chosen = best_layout(dims, rotation, width, oy + length - ny, oz + depth - cursor.z);
        if (chosen >= 0) {
            const Layout& layout = kLayouts[chosen];
            const Spot spot{chosen, ox, ny, cursor.z};
            cursor.x = ox + dims[layout.along_width];
            cursor.y = ny;
            cursor.row_length = dims[layout.along_length];
            cursor.layer_depth = std::max(cursor.layer_depth, dims[layout.along_depth]);
            return spot;
        }
    }

    // New layer on top of the tallest item of the current one.
    if (oz + depth > cursor.z + cursor.layer_depth) {
        const double nz = cursor.z + cursor.layer_depth;
        chosen = best_layout(dims, rotation, width, length, oz + depth - nz);
        if (chosen >= 0) {
            const Layout& layout = kLayouts[chosen];
            const Spot spot{chosen, ox, oy, nz};
            cursor.x = ox + dims[layout.along_width];
            cursor.y = oy;
            cursor.z = nz;
            cursor.row_length = dims[layout.along_length];
            cursor.layer_depth = dims[layout.along_depth];
            return spot;
        }
    }
    return Spot{};
}

// An entry of the list being packed, with the item's measures read once for
// the whole packing call: the packer tests items against many extents.
struct Entry {
    const ItemPtr* item;
    double dims[3];  // width, length, depth
    double weight;
    Rotation rotation;
    bool placeable;  // no negative extent
    // The position of the first entry holding the same item object: items
    // are told apart by identity.
    std::uint32_t identity;
    // No measure is NaN; then `ascending` holds the measures sorted.
    bool comparable;
    double ascending[3];
    bool small_whole;            // every measure a small whole number
    std::uint64_t whole_volume;  // the exact volume, when small_whole
};

// A placement in the frame of the volume being packed. It becomes a
// PackedItem only when the whole box is done, so that the placements of
// nested volumes cost no reference counting and no text.
struct Placement {
    std::uint32_t entry;
    int layout;
    double placed_width;
    double placed_length;
    double placed_depth;
    double at_x;
    double at_y;
    double at_z;

    double x() const { return at_x; }
    double y() const { return at_y; }
    double z() const { return at_z; }
    double width() const { return placed_width; }
    double length() const { return placed_length; }
    double depth() const { return placed_depth; }
};

// A free space, and whether it was found to take none of the remaining items,
// with the free-space budget of that finding (see still_empty). It saves
// looking the space up again on every pass over the list.
struct TriedSpace : FreeSpace {
    bool found_empty = false;
    double empty_budget = 0.0;
};

// Extents of a free space; whether a space can take an item does not depend
// on where it lies.
struct Extent {
    double width;
    double length;
    double depth;
};

struct ExtentHash {
    // Equal extents must hash alike, and 0.0 equals -0.0.
    static std::uint64_t mixed(double v) {
        std::uint64_t bits = 0;
        if (v != 0.0) std::memcpy(&bits, &v, sizeof bits);
        bits ^= bits >> 33;
        bits *= 0xff51afd7ed558ccdULL;
        bits ^= bits >> 33;
        return bits;
    }
    std::size_t operator()(const Extent& e) const {
        std::uint64_t seed = mixed(e.width);
        seed ^= mixed(e.length) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        seed ^= mixed(e.depth) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        return static_cast<std::size_t>(seed);
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

// Entries by position in the packing's list.
using EntryList = std::vector<std::uint32_t>;

// One packing call: the entries of its list and which item objects are placed.
//
// One set of placed objects serves the whole recursion. An item placed in a
// free space is placed in the enclosing volume as well, as every volume takes
// all that its free spaces took; and a volume only looks at entries that were
// not placed when it started. So among the entries a volume looks at, the set
// holds exactly those the volume has placed itself, as its own set would.
class Packing {
public:
    // With `whole`, only a packing of the box that places every entry is of
    // use: the packing gives up as soon as some entry is certain to stay out,
    // and what it has placed then is of no use.
    Packing(const std::vector<ItemPtr>& items, bool whole);

    bool gave_up() const { return gave_up_; }

    // Every entry, in list order.
    const EntryList& everything() const { return everything_; }

    // Packs the listed entries into a volume of this size, with its corner at
    // (0, 0, 0); `out` gets the placements in placement order.
    void pack(double width, double length, double depth, const EntryList& list, double budget,
              int nesting_depth, std::vector<Placement>& out);

    PackedItem packed_item(const Placement& p) const;

private:
    bool is_placed(std::uint32_t entry) const { return placed_[entries_[entry].identity] != 0; }

    void fill_rows_and_layers(double width, double length, double depth, const EntryList& list,
                              double budget, double& used_weight, int nesting_depth,
                              std::vector<Placement>& out);
    void fill_free_spaces(double width, double length, double depth, const EntryList& list,
                          double budget, double& used_weight, int nesting_depth,
                          std::vector<Placement>& out);
    bool could_take_any(const EntryList& remaining, const FreeSpace& space, double budget,
                        const double lower[3]) const;

    // Early ends of a whole packing, see their definitions.
    void size_up(double width, double length, double depth, double budget);
    bool too_heavy(const Entry& e, double budget, double used_weight) const;
    bool hopeless(const EntryList& remaining, const std::vector<TriedSpace>& spaces,
                  double budget, double used_weight) const;

    std::vector<Entry> entries_;
    EntryList everything_;
    std::vector<char> placed_;  // by identity
    bool whole_;
    bool gave_up_ = false;
    bool no_negative_weight_ = true;  // and none NaN
    bool small_whole_ = false;        // the box and every item measured in small whole numbers
};

Packing::Packing(const std::vector<ItemPtr>& items, bool whole) : whole_(whole) {
    entries_.reserve(items.size());
    for (const ItemPtr& ref : items) {
        if (!ref) {
            gave_up_ = gave_up_ || whole;  // a null entry is never placed
            continue;
        }
        const Item& item = *ref;
        Entry e{};
        e.item = &ref;
        e.dims[0] = item.width();
        e.dims[1] = item.length();
        e.dims[2] = item.depth();
        e.weight = item.weight();
        e.rotation = item.allowed_rotation();
        e.placeable = !has_negative_extent(e.dims[0], e.dims[1], e.dims[2]);
        e.identity = static_cast<std::uint32_t>(entries_.size());
        e.comparable = !any_nan(e.dims[0], e.dims[1], e.dims[2]);
        if (e.comparable) sort_ascending(e.dims[0], e.dims[1], e.dims[2], e.ascending);
        e.small_whole =
            is_small_whole(e.dims[0]) && is_small_whole(e.dims[1]) && is_small_whole(e.dims[2]);
        if (e.small_whole) e.whole_volume = whole_volume(e.dims[0], e.dims[1], e.dims[2]);
        entries_.push_back(e);
    }

    // Entries of one object share the identity of the first of them.
    std::vector<std::uint32_t> by_object(entries_.size());
    for (std::size_t k = 0; k < by_object.size(); ++k) by_object[k] = static_cast<std::uint32_t>(k);
    const auto object_of = [this](std::uint32_t k) { return entries_[k].item->get(); };
    std::sort(by_object.begin(), by_object.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (object_of(a) != object_of(b)) {
            return std::less<const Item*>()(object_of(a), object_of(b));
        }
        return a < b;
    });
    for (std::size_t k = 1; k < by_object.size(); ++k) {
        if (object_of(by_object[k]) == object_of(by_object[k - 1])) {
            entries_[by_object[k]].identity = entries_[by_object[k - 1]].identity;
        }
    }

    everything_.resize(entries_.size());
    for (std::size_t k = 0; k < entries_.size(); ++k) everything_[k] = static_cast<std::uint32_t>(k);
    placed_.assign(entries_.size(), 0);
    for (const Entry& e : entries_) {
        no_negative_weight_ = no_negative_weight_ && e.weight >= 0.0;
    }
}

PackedItem Packing::packed_item(const Placement& p) const {
    return PackedItem(*entries_[p.entry].item, p.placed_width, p.placed_length, p.placed_depth,
                      kLayouts[p.layout].label, p.at_x, p.at_y, p.at_z);
}

void Packing::pack(double width, double length, double depth, const EntryList& list,
                   double budget, int nesting_depth, std::vector<Placement>& out) {
    out.clear();
    if (whole_ && nesting_depth == 0) size_up(width, length, depth, budget);
    if (gave_up_) return;
    double used_weight = 0.0;
    fill_rows_and_layers(width, length, depth, list, budget, used_weight, nesting_depth, out);
    if (nesting_depth < SingleBoxPacker::kMaxNestingDepth && !gave_up_) {
        fill_free_spaces(width, length, depth, list, budget, used_weight, nesting_depth, out);
    }
}

// The early ends of a whole packing. Each names an entry that is certain
// never to be placed, whatever the packing does from here on. They are only
// asked at nesting depth 0, about the box itself.
//
// Some entries are never placed at all: a second entry of an object, as the
// box takes an object once; one with a negative extent; one with a NaN
// measure, which fits nowhere.
//
// When the box and all items are measured in small whole numbers, every
// position and extent the packer computes is exact. Then the placements are
// disjoint and lie in the box, and every placement still to come lies inside
// one of the box's current free spaces (later spaces are pieces of these).
// So the items cannot have more volume than the box.
void Packing::size_up(double width, double length, double depth, double budget) {
    std::uint64_t volume = 0;
    small_whole_ = is_small_whole(width) && is_small_whole(length) && is_small_whole(depth);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const Entry& e = entries_[k];
        if (e.identity != k || !e.placeable || !e.comparable || too_heavy(e, budget, 0.0)) {
            gave_up_ = true;
        }
        small_whole_ = small_whole_ && e.small_whole;
        if (e.small_whole) add_capped(volume, e.whole_volume);
    }
    if (small_whole_ && volume > whole_volume(width, length, depth)) gave_up_ = true;
}

// With no weight negative the used weight only grows, and a free space gets
// the budget max(0, budget - used weight) at the time; a space nested in it
// gets no more than that, and nothing heavier than its budget goes into it.
// So, after the rows, an entry heavier than what is left now will never be
// placed.
bool Packing::too_heavy(const Entry& e, double budget, double used_weight) const {
    return no_negative_weight_ && budget >= 0.0 &&
           e.weight > std::max(0.0, budget - used_weight);
}

// With exact measures (see size_up), any remaining entry must go into one of
// the current free spaces, and a space found to take none of the remaining
// entries never will while the budget only shrinks (a space cut from it is
// smaller). So some entry stays out when one is larger, measure by measure in
// ascending order, than every space that may still take one, or when the
// remaining entries have more volume than these spaces.
bool Packing::hopeless(const EntryList& remaining, const std::vector<TriedSpace>& spaces,
                       double budget, double used_weight) const {
    for (const std::uint32_t index : remaining) {
        if (too_heavy(entries_[index], budget, used_weight)) return true;
    }
    if (!small_whole_) return false;

    const bool lasting = budget < 0.0 || no_negative_weight_;
    const double space_budget = budget < 0.0 ? budget : std::max(0.0, budget - used_weight);
    // Over the spaces that may still take an entry: per rank the largest
    // measure, and the volume.
    double largest[3] = {0.0, 0.0, 0.0};
    std::uint64_t open_volume = 0;
    for (const TriedSpace& s : spaces) {
        if (lasting && s.found_empty && still_empty(space_budget, s.empty_budget)) continue;
        // Exact measures are small whole numbers; anything else is left to
        // the packing itself.
        if (!is_small_whole(s.width) || !is_small_whole(s.length) || !is_small_whole(s.depth)) {
            return false;
        }
        double ascending[3];
        sort_ascending(s.width, s.length, s.depth, ascending);
        for (int rank = 0; rank < 3; ++rank) largest[rank] = std::max(largest[rank], ascending[rank]);
        add_capped(open_volume, whole_volume(s.width, s.length, s.depth));
    }
    std::uint64_t remaining_volume = 0;
    for (const std::uint32_t index : remaining) {
        const Entry& e = entries_[index];
        if (e.ascending[0] > largest[0] || e.ascending[1] > largest[1] ||
            e.ascending[2] > largest[2]) {
            return true;
        }
        add_capped(remaining_volume, e.whole_volume);
    }
    return remaining_volume > open_volume;
}

void Packing::fill_rows_and_layers(double width, double length, double depth,
                                   const EntryList& list, double budget, double& used_weight,
                                   int nesting_depth, std::vector<Placement>& out) {
    PlacementCursor cursor;
    for (const std::uint32_t index : list) {
        const Entry& e = entries_[index];
        if (placed_[e.identity] != 0) continue;
        Spot spot;
        if (!over_budget(used_weight, e.weight, budget) && e.placeable) {
            spot = spot_at_cursor(e.dims, e.rotation, cursor, 0.0, 0.0, 0.0, width, length, depth);
        }
        if (spot.layout < 0) {
            if (whole_ && nesting_depth == 0 && too_heavy(e, budget, used_weight)) {
                gave_up_ = true;
                return;
            }
            continue;
        }
        const Layout& layout = kLayouts[spot.layout];
        used_weight += e.weight;
        placed_[e.identity] = 1;
        out.push_back(Placement{index, spot.layout, e.dims[layout.along_width],
                                e.dims[layout.along_length], e.dims[layout.along_depth], spot.x,
                                spot.y, spot.z});
    }
}

// Whether packing the space would place anything at all. Packing an empty
// volume places something exactly when one of the items passes the weight
// test and fits the whole volume at its origin; anything that fits nowhere
// there fits in none of its free spaces either. Checking this first spares
// the nested packing for the many attempts that take nothing.
//
// An item fits in some orientation only if its measures in ascending order
// are each no larger than the space's in ascending order; with all six
// orientations allowed that is also enough. `lower` holds, per rank, the
// smallest such measure over the remaining items, or over more items than
// remain, which is still a bound.
bool Packing::could_take_any(const EntryList& remaining, const FreeSpace& space, double budget,
                             const double lower[3]) const {
    // A NaN extent fails every comparison, and each orientation makes one
    // against every extent.
    if (any_nan(space.width, space.length, space.depth)) return false;
    double available[3];
    sort_ascending(space.width, space.length, space.depth, available);
    if (available[0] < lower[0] || available[1] < lower[1] || available[2] < lower[2]) {
        return false;
    }
    // The answer does not depend on the order; the small items at the end of
    // the list are the likeliest to fit.
    for (auto it = remaining.rbegin(); it != remaining.rend(); ++it) {
        const Entry& e = entries_[*it];
        if (!e.placeable || !e.comparable || over_budget(0.0, e.weight, budget)) continue;
        if (e.ascending[0] > available[0] || e.ascending[1] > available[1] ||
            e.ascending[2] > available[2]) {
            continue;
        }
        if (layout_count(e.rotation) == 6) return true;
        if (fits_some_orientation(e.dims[0], e.dims[1], e.dims[2], e.rotation, space.width,
                                  space.length, space.depth)) {
            return true;
        }
    }
    return false;
}

void Packing::fill_free_spaces(double width, double length, double depth,
                               const EntryList& list, double budget, double& used_weight,
                               int nesting_depth, std::vector<Placement>& out) {
    EntryList remaining;
    for (const std::uint32_t index : list) {
        if (!is_placed(index)) remaining.push_back(index);
    }
    if (remaining.empty()) return;

    constexpr double kNone = std::numeric_limits<double>::infinity();
    double lower[3] = {kNone, kNone, kNone};
    for (const std::uint32_t index : remaining) {
        const Entry& e = entries_[index];
        if (!e.placeable || !e.comparable) continue;
        for (int rank = 0; rank < 3; ++rank) lower[rank] = std::min(lower[rank], e.ascending[rank]);
    }

    // After each success the list is cut and brought back into order at once.
    SortedFreeSpaces<TriedSpace> free_spaces(width, length, depth, out);
    std::vector<TriedSpace>& spaces = free_spaces.spaces();
    const bool watch = whole_ && nesting_depth == 0;
    if (watch && hopeless(remaining, spaces, budget, used_weight)) {
        gave_up_ = true;
        return;
    }
    EmptyExtents empty_extents;
    std::vector<Placement> filled;
    std::vector<Placement> newly_placed;
    std::size_t successes = 0;
    bool progress = true;
    while (!remaining.empty() && !spaces.empty() && progress) {
        progress = false;
        for (TriedSpace& space : spaces) {
            if (remaining.empty()) return;
            // Weights copied in from a free space are added in another order
            // than they were tested in, so the used weight can pass the budget
            // by a rounding error. What is left is then nothing, not a negative
            // budget, which would lift the limit.
            const double space_budget =
                budget < 0.0 ? budget : std::max(0.0, budget - used_weight);
            if (space.found_empty && still_empty(space_budget, space.empty_budget)) continue;
            const Extent extent{space.width, space.length, space.depth};
            const auto known = empty_extents.find(extent);
            if (known != empty_extents.end() && still_empty(space_budget, known->second)) {
                space.found_empty = true;
                space.empty_budget = known->second;
                continue;
            }
            if (!could_take_any(remaining, space, space_budget, lower)) {
                if (!any_nan(space.width, space.length, space.depth)) {
                    empty_extents[extent] = space_budget;
                }
                space.found_empty = true;
                space.empty_budget = space_budget;
                continue;
            }

            pack(space.width, space.length, space.depth, remaining, space_budget,
                 nesting_depth + 1, filled);
            if (filled.empty()) continue;

            newly_placed.clear();
            for (const Placement& local : filled) {
                Placement moved = local;
                moved.at_x = local.at_x + space.x;
                moved.at_y = local.at_y + space.y;
                moved.at_z = local.at_z + space.z;
                used_weight += entries_[local.entry].weight;
                out.push_back(moved);
                newly_placed.push_back(moved);
            }
            progress = true;
            break;
        }
        if (!progress) break;
        remaining.erase(std::remove_if(remaining.begin(), remaining.end(),
                                       [this](std::uint32_t index) { return is_placed(index); }),
                        remaining.end());
        free_spaces.split(newly_placed);
        // Asked after the 1st, 2nd, 4th, 8th ... success only: each asking
        // walks all spaces, and most packings that give up do so early.
        ++successes;
        const bool power_of_two = (successes & (successes - 1)) == 0;
        if (watch && power_of_two && hopeless(remaining, spaces, budget, used_weight)) {
            gave_up_ = true;
            return;
        }
    }
}

}  // namespace

SingleBoxPacker::SingleBoxPacker(BoxPtr box) : box_(std::move(box)) {}

PackedBox SingleBoxPacker::pack_box(const ItemList& items) const {
    return pack_volume(items.sorted_view(), box_->max_item_weight(), 0);
}

std::optional<PackedBox> SingleBoxPacker::pack_all(const ItemList& items) const {
    const std::vector<ItemPtr>& sorted = items.sorted_view();
    Packing packing(sorted, true);
    std::vector<Placement> placements;
    packing.pack(box_->width(), box_->length(), box_->depth(), packing.everything(),
                 box_->max_item_weight(), 0, placements);
    if (packing.gave_up() || placements.size() != sorted.size()) return std::nullopt;
    PackedBox packed(box_);
    for (const Placement& p : placements) packed.add(packing.packed_item(p));
    return packed;
}

PackedBox SingleBoxPacker::pack_volume(const std::vector<ItemPtr>& items, double budget,
                                       int nesting_depth) const {
    Packing packing(items, false);
    std::vector<Placement> placements;
    packing.pack(box_->width(), box_->length(), box_->depth(), packing.everything(), budget,
                 std::max(nesting_depth, 0), placements);
    PackedBox packed(box_);
    for (const Placement& p : placements) packed.add(packing.packed_item(p));
    return packed;
}

std::optional<PackedItem> SingleBoxPacker::place_at_cursor(const ItemPtr& item,
                                                           PlacementCursor& cursor, double ox,
                                                           double oy, double oz, double width,
                                                           double length, double depth) {
    const double dims[3] = {item->width(), item->length(), item->depth()};
    if (has_negative_extent(dims[0], dims[1], dims[2])) return std::nullopt;
    const Spot spot = spot_at_cursor(dims, item->allowed_rotation(), cursor, ox, oy, oz, width,
                                     length, depth);
    if (spot.layout < 0) return std::nullopt;
    const Layout& layout = kLayouts[spot.layout];
    return PackedItem(item, dims[layout.along_width], dims[layout.along_length],
                      dims[layout.along_depth], layout.label, spot.x, spot.y, spot.z);
}

}  // namespace stowvex
