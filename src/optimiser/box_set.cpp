// Solutions and their boxes.
#include "optimiser/box_set.hpp"

#include "model/packing_rules.hpp"
#include "optimiser/support.hpp"

namespace stowvex::optimiser {

namespace {

Cuboid cuboid_of(const LaidItem& item, const KindTable& kinds) {
    const Vec3& size = kinds.kinds[item.kind].orientations[item.orientation].size;
    return {item.position,
            {item.position[0] + size[0], item.position[1] + size[1], item.position[2] + size[2]}};
}

// Drops the items of every group the box splits: the items of a group
// still to be packed are those offered.
bool drop_split_groups(std::vector<LaidItem>& items, const KindTable& kinds,
                       const std::vector<int>& offered) {
    if (!kinds.has_groups()) return false;
    std::vector<int> in_box(kinds.groups.size(), 0);
    std::vector<int> wanted(kinds.groups.size(), 0);
    for (std::size_t g = 0; g < kinds.groups.size(); ++g) {
        for (const int k : kinds.group_kinds[g]) wanted[g] += offered[k];
    }
    const auto group_of = [&kinds](const LaidItem& item) -> const int* {
        const int& group = kinds.kinds[item.kind].group;
        return group >= 0 ? &group : nullptr;
    };
    const auto left = [&wanted](int group) { return wanted[group]; };
    std::vector<LaidItem> kept;
    if (!without_split_groups(items, group_of, in_box, left, kept)) return false;
    items.swap(kept);
    return true;
}

// Drops the items without enough support.
bool drop_unsupported(std::vector<LaidItem>& items, const KindTable& kinds, double ratio) {
    std::vector<Cuboid> cuboids;
    cuboids.reserve(items.size());
    for (const LaidItem& item : items) cuboids.push_back(cuboid_of(item, kinds));
    const std::vector<bool> supported = supported_cuboids(cuboids, ratio);
    std::vector<LaidItem> kept;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (supported[i]) kept.push_back(items[i]);
    }
    const bool dropped = kept.size() != items.size();
    items.swap(kept);
    return dropped;
}

}  // namespace

std::vector<int> FilledBox::counts(std::size_t kind_count) const {
    std::vector<int> result(kind_count, 0);
    for (const LaidItem& item : items) ++result[item.kind];
    return result;
}

FilledBox filled_box_of(const BoxLoading& loading, std::size_t type, double min_support) {
    const BoxProblem& problem = loading.problem();
    const KindTable& kinds = problem.kinds;
    FilledBox box;
    box.type = type;
    box.items = loading.laid_items();
    // A group is whole when the box holds all of it that was offered. Items
    // dropped may leave others without support, and those their groups.
    bool dropped = drop_split_groups(box.items, kinds, problem.offered);
    while (dropped && min_support > 0.0) {
        dropped = drop_unsupported(box.items, kinds, min_support);
        if (dropped) drop_split_groups(box.items, kinds, problem.offered);
    }
    for (const LaidItem& item : box.items) box.item_volume += kinds.kinds[item.kind].volume;
    return box;
}

std::size_t BoxSet::placed() const {
    std::size_t n = 0;
    for (const FilledBox& box : boxes) n += box.items.size();
    return n;
}

Score BoxSet::score(const BoxTypes& types) const {
    Score score;
    score.placed = placed();
    score.boxes = boxes.size();
    std::vector<double> volumes;
    std::vector<double> costs;
    for (const FilledBox& box : boxes) {
        volumes.push_back(types[box.type].volume);
        costs.push_back(types[box.type].cost);
    }
    score.volume = ordered_sum(volumes);
    score.cost = ordered_sum(costs);
    return score;
}

}  // namespace stowvex::optimiser
