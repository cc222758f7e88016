// The packer driver.
#include "engine/packer.hpp"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/box_use_counts.hpp"
#include "engine/packing_control.hpp"
#include "engine/packing_tally.hpp"
#include "engine/single_box_packer.hpp"
#include "engine/weight_balancing.hpp"
#include "model/packing_rules.hpp"

namespace stowvex {

namespace {

constexpr std::size_t kFewestBoxesToBalance = 2;
constexpr std::size_t kMostBoxesToBalance = 12;

GroupCounts count_groups(const std::vector<ItemPtr>& items) {
    GroupCounts counts;
    for (const ItemPtr& item : items) {
        if (const std::string* group = box_group_of(*item)) ++counts[*group];
    }
    return counts;
}

bool better_trial(const PackedBox& trial, const PackedBox& best) {
    if (trial.item_count() != best.item_count()) return trial.item_count() > best.item_count();
    return trial.volume_utilisation() > best.volume_utilisation();
}

}  // namespace

PackedBox drop_split_groups(PackedBox trial, const GroupCounts& group_counts) {
    if (group_counts.empty()) return trial;
    GroupCounts in_box;
    std::vector<PackedItem> kept;
    const auto group_of = [](const PackedItem& p) { return box_group_of(*p.item()); };
    const auto left = [&](const std::string& group) {
        const auto found = group_counts.find(group);
        return found == group_counts.end() ? std::size_t{0} : found->second;
    };
    if (!without_split_groups(trial.items(), group_of, in_box, left, kept)) return trial;
    PackedBox whole(trial.box());
    for (PackedItem& placement : kept) whole.add(std::move(placement));
    return whole;
}

PackResponse pack_items(const ItemList& items, const BoxList& boxes) {
    ItemList remaining = items;
    std::vector<BoxPtr> candidates;
    for (const BoxPtr& box : boxes.sorted_view()) {
        if (box->active()) candidates.push_back(box);
    }
    BoxUseCounts used;
    PackedBoxList packed(std::make_shared<DefaultPackedBoxSorter>());

    while (!remaining.empty()) {
        check_stop();
        const GroupCounts group_counts = count_groups(remaining.elements());
        const PackingItems items(remaining.sorted_view());  // read once for all trials
        std::optional<PackedBox> best;
        for (const BoxPtr& box : candidates) {
            check_stop();
            if (supply_used_up(*box, used)) continue;
            tally_asked();
            tally_packed();
            PackedBox trial = drop_split_groups(SingleBoxPacker(box).pack_box(items), group_counts);
            if (trial.item_count() == 0) continue;
            if (!best || better_trial(trial, *best)) best = std::move(trial);
            if (best->item_count() == remaining.size()) break;
        }
        if (!best) break;
        remaining.remove_packed(*best);
        ++used[best->box()->reference()];
        packed.add(std::move(*best));
    }

    if (packed.size() >= kFewestBoxesToBalance && packed.size() <= kMostBoxesToBalance) {
        packed = balance_weights(boxes, packed);
    }
    const bool success = remaining.empty();
    return PackResponse(success, std::move(packed), std::move(remaining));
}

PackResponse pack_items(const PackRequest& request) {
    return pack_items(request.items, request.boxes);
}

}  // namespace stowvex
