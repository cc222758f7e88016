// Weight balancing between packed boxes.
#include "engine/weight_balancing.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include "engine/failed_pairs.hpp"
#include "engine/list_facts.hpp"
#include "engine/packing_control.hpp"
#include "engine/packing_tally.hpp"
#include "engine/single_box_packer.hpp"

namespace stowvex {

namespace {

std::vector<ItemPtr> items_of(const PackedBox& box) {
    std::vector<ItemPtr> items;
    items.reserve(box.item_count());
    for (const PackedItem& placement : box.items()) items.push_back(placement.item());
    return items;
}

// Which item objects each box holds, independent of box order and placement
// order: two working lists with the same signature hold the same partition.
using Partition = std::vector<std::vector<const Item*>>;

Partition partition_of(const std::vector<PackedBox>& working) {
    Partition partition;
    partition.reserve(working.size());
    for (const PackedBox& box : working) {
        std::vector<const Item*> members;
        members.reserve(box.item_count());
        for (const PackedItem& placement : box.items()) members.push_back(placement.item().get());
        std::sort(members.begin(), members.end());
        partition.push_back(std::move(members));
    }
    std::sort(partition.begin(), partition.end());
    return partition;
}

// The items in the order of an item list's sorted view with a new
// DefaultItemSorter: a list of them has that very view.
std::vector<ItemPtr> sorted_items(std::vector<ItemPtr> items) {
    sort_items(DefaultItemSorter(), items);
    return items;
}

// Whether the default item order is a strict weak order on these items. It
// is unless a volume or a weight is NaN; then the sort's outcome depends on
// how it compares, and a sorted list is made only by sorting.
bool comparable(const std::vector<ItemPtr>& items) {
    return std::none_of(items.begin(), items.end(), [](const ItemPtr& item) {
        return std::isnan(item->volume()) || std::isnan(item->weight());
    });
}

// The sorted list of the sorted items with one more: a stable sort keeps
// items that compare equal in the order of the list, and the new item comes
// last in it (after the others of a box), so it goes after every item it
// does not go before.
std::vector<ItemPtr> with_item(const std::vector<ItemPtr>& sorted, const ItemPtr& item) {
    const DefaultItemSorter::Key key = DefaultItemSorter::key_of(*item);
    const auto at = std::upper_bound(
        sorted.begin(), sorted.end(), item, [&key](const ItemPtr&, const ItemPtr& other) {
            return DefaultItemSorter::compare(key, DefaultItemSorter::key_of(*other)) < 0;
        });
    std::vector<ItemPtr> out;
    out.reserve(sorted.size() + 1);
    out.insert(out.end(), sorted.begin(), at);
    out.push_back(item);
    out.insert(out.end(), at, sorted.end());
    return out;
}

// The sorted list of the sorted items less one object, which is among them
// once: the others keep their order.
std::vector<ItemPtr> without_item(const std::vector<ItemPtr>& sorted, const ItemPtr& item) {
    std::vector<ItemPtr> out;
    out.reserve(sorted.size());
    for (const ItemPtr& other : sorted) {
        if (other != item) out.push_back(other);
    }
    return out;
}

}  // namespace

// The packing of a list into a type depends on nothing but the type and the
// list's sorted view, so the memo is keyed by the sorted items.
std::optional<PackedBox> find_box_for_all(const BoxList& boxes, const std::vector<ItemPtr>& sorted,
                                          const BoxUseCounts* used, PackingMemo* memo) {
    if (sorted.empty()) return std::nullopt;
    const std::vector<BoxPtr>& types = boxes.sorted_view();
    PackingMemo::Outcomes* known = memo != nullptr ? memo->outcomes(sorted, types.size()) : nullptr;
    std::optional<PackingItems> read;  // made for the first type actually packed
    for (std::size_t type = 0; type < types.size(); ++type) {
        check_stop();
        const BoxPtr& box = types[type];
        if (!box->active() || (used != nullptr && supply_used_up(*box, *used))) continue;
        tally_asked();
        if (known != nullptr) {
            if (known->failed[type]) continue;
            if (known->held && known->held_type == type) return *known->held;
        }
        if (!read) read.emplace(sorted);
        // A type the list's facts rule out needs no packing.
        if (memo != nullptr && read->facts().cannot_be_held(memo->box_facts(boxes)[type])) {
            if (known != nullptr) known->failed[type] = true;
            continue;
        }
        tally_packed();
        std::optional<PackedBox> packed = SingleBoxPacker(box).pack_all(*read);
        if (packed) {
            if (known != nullptr && memo->make_room(packed->item_count())) {
                known->held_type = type;
                known->held = packed;
            }
            return packed;
        }
        if (known != nullptr) known->failed[type] = true;
    }
    return std::nullopt;
}

namespace {

// A box's items, and their sorted list when the default order is a strict
// weak order on them.
struct BoxItems {
    std::vector<ItemPtr> items;
    bool comparable;
    std::vector<ItemPtr> sorted;
};

BoxItems box_items(const PackedBox& box) {
    BoxItems read{items_of(box), false, {}};
    read.comparable = comparable(read.items);
    if (read.comparable) read.sorted = sorted_items(read.items);
    return read;
}

// try_move_item, with what has been read of the two boxes (nullptr: read here).
bool move_item(const BoxList& boxes, std::vector<PackedBox>& working, std::size_t i, std::size_t j,
               double mean_item_weight, PackingMemo* memo, const BoxItems* read_i,
               const BoxItems* read_j);

}  // namespace

bool try_move_item(const BoxList& boxes, std::vector<PackedBox>& working, std::size_t i,
                   std::size_t j, double mean_item_weight, PackingMemo* memo) {
    return move_item(boxes, working, i, j, mean_item_weight, memo, nullptr, nullptr);
}

namespace {

bool move_item(const BoxList& boxes, std::vector<PackedBox>& working, std::size_t i, std::size_t j,
               double mean_item_weight, PackingMemo* memo, const BoxItems* read_i,
               const BoxItems* read_j) {
    std::optional<BoxItems> own_i, own_j;
    if (read_i == nullptr) read_i = &own_i.emplace(box_items(working[i]));
    if (read_j == nullptr) read_j = &own_j.emplace(box_items(working[j]));
    const bool i_heavier = working[i].weight() > working[j].weight();
    const std::size_t heavy = i_heavier ? i : j;
    const std::size_t light = i_heavier ? j : i;

    const BoxItems& heavy_read = i_heavier ? *read_i : *read_j;
    const BoxItems& light_read = i_heavier ? *read_j : *read_i;
    const std::vector<ItemPtr>& heavy_items = heavy_read.items;
    const std::vector<ItemPtr>& light_items = light_read.items;
    const double heavy_weight = working[heavy].item_weight();
    const double light_weight = working[light].item_weight();
    const double target = (heavy_weight + light_weight) * 0.5;
    if (heavy_items.empty()) return false;

    // Quantity limits hold for the whole run: boxes other than this pair
    // already use up part of each limited type's supply.
    const bool limited = memo != nullptr ? memo->limited_supply(boxes) : any_limited_supply(boxes);
    BoxUseCounts others;
    if (limited) {
        for (std::size_t k = 0; k < working.size(); ++k) {
            if (k != heavy && k != light) ++others[working[k].box()->reference()];
        }
    }
    const BoxUseCounts* used = limited ? &others : nullptr;

    // The lists to pack, sorted once: each candidate's lists follow from
    // these by one insertion or removal.
    const bool in_order = heavy_read.comparable && light_read.comparable;
    const std::vector<ItemPtr>& heavy_sorted = in_order ? heavy_read.sorted : heavy_items;
    const std::vector<ItemPtr>& light_sorted = in_order ? light_read.sorted : light_items;

    // A move needs a box for both sides. Without quantity limits the heavy
    // side's box does not depend on the light side's, and the two may be
    // looked for in either order: first the side that failed last, as the
    // candidates of one pair tend to fail on the same side.
    bool heavy_first = false;
    for (std::size_t candidate = 0; candidate < heavy_items.size(); ++candidate) {
        check_stop();
        const ItemPtr& item = heavy_items[candidate];
        const double w = item->weight();
        const double new_light = light_weight + w;
        if (new_light > mean_item_weight) continue;
        const double new_heavy = heavy_weight - w;
        const double after = new_heavy - (new_light + new_heavy) * 0.5;
        const double before = heavy_weight - target;
        if (!(after * after < before * before)) continue;
        if (box_group_of(*item) != nullptr) continue;

        const bool heavy_left_empty = heavy_items.size() == 1;
        // The heavy box's list without the item, sorted, made when needed.
        std::vector<ItemPtr> heavy_list;
        const auto heavy_sorted_after = [&]() -> const std::vector<ItemPtr>& {
            if (heavy_list.empty()) {
                if (in_order) {
                    heavy_list = without_item(heavy_sorted, item);
                } else {
                    heavy_list = heavy_items;
                    heavy_list.erase(heavy_list.begin() + static_cast<std::ptrdiff_t>(candidate));
                    heavy_list = sorted_items(std::move(heavy_list));
                }
            }
            return heavy_list;
        };
        std::optional<PackedBox> new_heavy_box;
        if (heavy_first && !heavy_left_empty) {
            new_heavy_box = find_box_for_all(boxes, heavy_sorted_after(), used, memo);
            if (!new_heavy_box) continue;
        }

        std::vector<ItemPtr> light_after;
        if (in_order) {
            light_after = with_item(light_sorted, item);
        } else {
            light_after = light_items;
            light_after.push_back(item);
            light_after = sorted_items(std::move(light_after));
        }
        std::optional<PackedBox> new_light_box = find_box_for_all(boxes, light_after, used, memo);
        if (!new_light_box) {
            heavy_first = false;
            continue;
        }

        if (heavy_left_empty) {
            working[light] = std::move(*new_light_box);
            working.erase(working.begin() + static_cast<std::ptrdiff_t>(heavy));
            return true;
        }
        if (!new_heavy_box) {
            BoxUseCounts with_light;
            if (limited) {
                with_light = others;
                ++with_light[new_light_box->box()->reference()];
            }
            new_heavy_box = find_box_for_all(boxes, heavy_sorted_after(),
                                             limited ? &with_light : nullptr, memo);
            if (!new_heavy_box) {
                heavy_first = !limited;
                continue;
            }
        }
        working[light] = std::move(*new_light_box);
        working[heavy] = std::move(*new_heavy_box);
        return true;
    }
    return false;
}

}  // namespace

PackedBoxList balance_weights(const BoxList& boxes, const PackedBoxList& packed) {
    const std::vector<PackedBox>& driver_boxes = packed.sorted_view();
    double total_item_weight = 0.0;
    for (const PackedBox& box : driver_boxes) total_item_weight += box.item_weight();
    const double mean_item_weight = total_item_weight / static_cast<double>(driver_boxes.size());

    std::vector<PackedBox> working = driver_boxes;
    std::stable_sort(working.begin(), working.end(), [](const PackedBox& a, const PackedBox& b) {
        return a.weight() > b.weight();
    });

    // With exact arithmetic every move lowers the sum of squared item weights,
    // so no arrangement can come back. Rounding, infinities and NaN can defeat
    // that argument; a pass that meets an arrangement a second time stops
    // there, which bounds it by the finite number of arrangements.
    std::set<Partition> seen;
    PackingMemo memo;
    seen.insert(partition_of(working));
    // A try depends on nothing but the two boxes, the mean item weight and,
    // under quantity limits, the box types of the other boxes: a pair of
    // unchanged boxes that offered no move offers none again, as long as the
    // types of the other boxes are those it was tried with. The packings it
    // asked for are still counted as asked.
    FailedPairs failed;
    failed.start(working.size());
    const bool limited = memo.limited_supply(boxes);
    // Records a move between the boxes at i and j, the heavier at `heavy`,
    // that left `before` boxes.
    const auto record_move = [&](std::size_t i, std::size_t j, std::size_t heavy,
                                 std::size_t before, const BoxPtr& heavy_type,
                                 const BoxPtr& light_type) {
        const std::size_t light = heavy == i ? j : i;
        if (working.size() < before) {
            failed.replace(light);
            failed.drop(heavy);
            if (limited) failed.forget();
            return;
        }
        failed.replace(light);
        failed.replace(heavy);
        // The pair's boxes keep the multiset of their types, or the other
        // pairs see other counts.
        const BoxPtr& new_heavy = working[heavy].box();
        const BoxPtr& new_light = working[light].box();
        const bool same_types = (new_heavy->reference() == heavy_type->reference() &&
                                 new_light->reference() == light_type->reference()) ||
                                (new_heavy->reference() == light_type->reference() &&
                                 new_light->reference() == heavy_type->reference());
        if (limited && !same_types) failed.forget();
    };
    // What has been read of each box, by label: a box is read once, not for
    // every pair it is in.
    std::unordered_map<std::uint64_t, BoxItems> read;
    const auto read_of = [&](std::size_t k) -> const BoxItems& {
        const auto found = read.find(failed.label(k));
        if (found != read.end()) return found->second;
        return read.emplace(failed.label(k), box_items(working[k])).first->second;
    };
    // One scan over the pairs, from the first pair; true when it made a move.
    const auto move_one = [&]() {
        for (std::size_t i = 0; i < working.size(); ++i) {
            for (std::size_t j = i + 1; j < working.size(); ++j) {
                check_stop();
                if (working[i].weight() == working[j].weight()) continue;
                if (const std::optional<std::uint64_t> asked = failed.asked(i, j)) {
                    tally_asked(*asked);
                    continue;
                }
                const std::uint64_t asked_before = packing_tally().asked;
                const std::size_t heavy = working[i].weight() > working[j].weight() ? i : j;
                const BoxPtr heavy_type = working[heavy].box();
                const BoxPtr light_type = working[heavy == i ? j : i].box();
                const std::size_t before = working.size();
                const std::uint64_t label_i = failed.label(i), label_j = failed.label(j);
                if (move_item(boxes, working, i, j, mean_item_weight, &memo, &read_of(i),
                              &read_of(j))) {
                    read.erase(label_i);
                    read.erase(label_j);
                    record_move(i, j, heavy, before, heavy_type, light_type);
                    return true;
                }
                failed.add(i, j, packing_tally().asked - asked_before);
            }
        }
        return false;
    };
    while (move_one()) {
        if (!seen.insert(partition_of(working)).second) break;
    }

    PackedBoxList result(std::make_shared<DefaultPackedBoxSorter>());
    for (PackedBox& box : working) result.add(std::move(box));
    return result;
}

}  // namespace stowvex
