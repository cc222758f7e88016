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
// items after it. Nor does a negative weight: it would lend the box room for
// the items tested after it, room that is gone again when the item is dropped
// with a split box group, or that swallows their weights whole when it is
// huge (-1e19 + 17 is -1e19), and the box would hold more than its limit.
bool over_budget(double used_weight, double weight, double budget) {
    return !(budget < 0.0) && !(weight >= 0.0 && used_weight + weight <= budget);
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

}  // namespace

namespace packer_detail {

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

// Entries by position in the packing's list.
using EntryList = std::vector<std::uint32_t>;

}  // namespace packer_detail

// The entries of a list, and what holds for the list as a whole.
struct PackingItems::Read {
    std::vector<packer_detail::Entry> entries;
    packer_detail::EntryList everything;  // every entry, in list order
    std::size_t size = 0;                 // null entries included
    // Some entry can never be placed: a null entry, a second entry of one
    // object (a box takes an object once), one with a negative extent, or
    // one with a NaN measure, which fits nowhere.
    bool some_never_placed = false;
    bool no_negative_weight = true;  // and none NaN
    double heaviest = 0.0;           // when no_negative_weight
    bool small_whole = true;         // every entry measured in small whole numbers
    std::uint64_t whole_volume = 0;  // their volume, when small_whole (capped)
};

PackingItems::PackingItems(const std::vector<ItemPtr>& items) : read_(std::make_unique<Read>()) {
    using packer_detail::Entry;
    Read& read = *read_;
    read.size = items.size();
    read.entries.reserve(items.size());
    for (const ItemPtr& ref : items) {
        if (!ref) {
            read.some_never_placed = true;
            continue;
        }
        const Item& item = *ref;
        Entry& e = read.entries.emplace_back();
        e.item = &ref;
        e.dims[0] = item.width();
        e.dims[1] = item.length();
        e.dims[2] = item.depth();
        e.weight = item.weight();
        e.rotation = item.allowed_rotation();
        e.placeable = !has_negative_extent(e.dims[0], e.dims[1], e.dims[2]);
        e.identity = static_cast<std::uint32_t>(read.entries.size() - 1);
        e.comparable = !any_nan(e.dims[0], e.dims[1], e.dims[2]);
        if (e.comparable) sort_ascending(e.dims[0], e.dims[1], e.dims[2], e.ascending);
        e.small_whole =
            is_small_whole(e.dims[0]) && is_small_whole(e.dims[1]) && is_small_whole(e.dims[2]);
        e.whole_volume = e.small_whole ? whole_volume(e.dims[0], e.dims[1], e.dims[2]) : 0;

        read.some_never_placed = read.some_never_placed || !e.placeable || !e.comparable;
        read.no_negative_weight = read.no_negative_weight && e.weight >= 0.0;
        if (read.no_negative_weight) read.heaviest = std::max(read.heaviest, e.weight);
        read.small_whole = read.small_whole && e.small_whole;
        add_capped(read.whole_volume, e.whole_volume);
    }

    // Entries of one object share the identity of the first of them.
    std::vector<std::pair<const Item*, std::uint32_t>> by_object;
    by_object.reserve(read.entries.size());
    for (const Entry& e : read.entries) by_object.emplace_back(e.item->get(), e.identity);
    std::sort(by_object.begin(), by_object.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return std::less<const Item*>()(a.first, b.first);
        return a.second < b.second;
    });
    for (std::size_t k = 1; k < by_object.size(); ++k) {
        if (by_object[k].first == by_object[k - 1].first) {
            const std::uint32_t first = read.entries[by_object[k - 1].second].identity;
            read.entries[by_object[k].second].identity = first;
            read.some_never_placed = true;
        }
    }

    read.everything.resize(read.entries.size());
    for (std::size_t k = 0; k < read.entries.size(); ++k) {
        read.everything[k] = static_cast<std::uint32_t>(k);
    }
}

PackingItems::~PackingItems() = default;

namespace {

using packer_detail::Entry;
using packer_detail::EntryList;

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
    Packing(const PackingItems::Read& items, bool whole);

    bool gave_up() const { return gave_up_; }

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

    const PackingItems::Read& items_;
    const std::vector<Entry>& entries_;
    std::vector<char> placed_;  // by identity
    bool whole_;
    bool gave_up_ = false;
    bool small_whole_ = false;  // the box and every item measured in small whole numbers
};

Packing::Packing(const PackingItems::Read& items, bool whole)
    : items_(items), entries_(items.entries), placed_(items.entries.size(), 0), whole_(whole) {}

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
// When the box and all items are measured in small whole numbers, every
// position and extent the packer computes is exact. Then the placements are
// disjoint and lie in the box, and every placement still to come lies inside
// one of the box's current free spaces (later spaces are pieces of these).
// So the items cannot have more volume than the box.
void Packing::size_up(double width, double length, double depth, double budget) {
    small_whole_ = items_.small_whole && is_small_whole(width) && is_small_whole(length) &&
                   is_small_whole(depth);
    const bool too_much_volume =
        small_whole_ && items_.whole_volume > whole_volume(width, length, depth);
    const bool too_heavy_any = items_.no_negative_weight && budget >= 0.0 &&
                               items_.heaviest > std::max(0.0, budget);  // see too_heavy
    if (items_.some_never_placed || too_much_volume || too_heavy_any) gave_up_ = true;
}

// With no weight negative the used weight only grows, and a free space gets
// the budget max(0, budget - used weight) at the time; a space nested in it
// gets no more than that, and nothing heavier than its budget goes into it.
// So, after the rows, an entry heavier than what is left now will never be
// placed.
bool Packing::too_heavy(const Entry& e, double budget, double used_weight) const {
    return items_.no_negative_weight && budget >= 0.0 &&
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

    const bool lasting = budget < 0.0 || items_.no_negative_weight;
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
        for (int rank = 0; rank < 3; ++rank) {
            largest[rank] = std::max(largest[rank], ascending[rank]);
        }
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

// Packs the items into the box, whose corner is at (0, 0, 0); whether a whole
// packing gave up, and the box.
std::pair<bool, PackedBox> pack_into_box(const BoxPtr& box, const PackingItems::Read& items,
                                         double budget, int nesting_depth, bool whole) {
    Packing packing(items, whole);
    std::vector<Placement> placements;
    packing.pack(box->width(), box->length(), box->depth(), items.everything, budget,
                 nesting_depth, placements);
    PackedBox packed(box);
    if (!packing.gave_up()) {
        for (const Placement& p : placements) packed.add(packing.packed_item(p));
    }
    return {packing.gave_up(), std::move(packed)};
}

}  // namespace

SingleBoxPacker::SingleBoxPacker(BoxPtr box) : box_(std::move(box)) {}

PackedBox SingleBoxPacker::pack_box(const ItemList& items) const {
    return pack_box(PackingItems(items.sorted_view()));
}

PackedBox SingleBoxPacker::pack_box(const PackingItems& items) const {
    return pack_into_box(box_, items.read(), box_->max_item_weight(), 0, false).second;
}

std::optional<PackedBox> SingleBoxPacker::pack_all(const ItemList& items) const {
    return pack_all(PackingItems(items.sorted_view()));
}

std::optional<PackedBox> SingleBoxPacker::pack_all(const PackingItems& items) const {
    auto [gave_up, packed] = pack_into_box(box_, items.read(), box_->max_item_weight(), 0, true);
    if (gave_up || packed.item_count() != items.read().size) return std::nullopt;
    return std::move(packed);
}

PackedBox SingleBoxPacker::pack_volume(const std::vector<ItemPtr>& items, double budget,
                                       int nesting_depth) const {
    return pack_into_box(box_, PackingItems(items).read(), budget, std::max(nesting_depth, 0),
                         false)
        .second;
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
