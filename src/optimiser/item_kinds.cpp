// Grouping items into interchangeable kinds.
#include "optimiser/item_kinds.hpp"

#include <map>
#include <tuple>

#include "model/orientations.hpp"

namespace stowvex::optimiser {

std::vector<KindOrientation> orientations_of(const Item& item, unsigned mask) {
    const Vec3 sides{item.width(), item.length(), item.depth()};
    std::vector<KindOrientation> result;
    for (std::size_t t = 0; t < 6; ++t) {
        if ((mask & (1u << t)) == 0) continue;
        const Orientation& turn = kOrientations[t];
        const Vec3 size{sides[turn.along_width], sides[turn.along_length], sides[turn.along_depth]};
        bool repeated = false;
        for (const KindOrientation& seen : result) repeated = repeated || seen.size == size;
        if (!repeated) result.push_back({size, turn.label});
    }
    return result;
}

std::vector<KindOrientation> orientations_of(const Item& item) {
    return orientations_of(item, allowed_orientations(item, nullptr));
}

std::vector<int> KindTable::counts() const {
    std::vector<int> result;
    result.reserve(kinds.size());
    for (const ItemKind& kind : kinds) result.push_back(static_cast<int>(kind.members.size()));
    return result;
}

KindTable group_into_kinds(const std::vector<ItemPtr>& items, const LoadingRules* rules) {
    using Key =
        std::tuple<double, double, double, double, unsigned, std::string, bool, double, int>;
    KindTable table;
    std::map<Key, int> kind_of;
    std::map<std::string, int> group_of;
    for (std::size_t position = 0; position < items.size(); ++position) {
        const ItemPtr& item = items[position];
        const std::string* group_name = box_group_of(*item);
        const ItemRule* rule = rules ? rules->item(item->item_code()) : nullptr;
        const unsigned mask = allowed_orientations(*item, rule);
        int group = -1;
        if (group_name) {
            const auto found = group_of.find(*group_name);
            if (found != group_of.end()) {
                group = found->second;
            } else {
                group = static_cast<int>(table.groups.size());
                group_of.emplace(*group_name, group);
                table.groups.push_back(*group_name);
                table.group_kinds.emplace_back();
            }
        }
        const Key key{item->width(),
                      item->length(),
                      item->depth(),
                      item->weight(),
                      mask,
                      group_name ? *group_name : std::string(),
                      group_name != nullptr,
                      rule ? rule->max_load : kNoLoadLimit,
                      rule ? rule->stop : 0};
        auto [slot, inserted] = kind_of.emplace(key, static_cast<int>(table.kinds.size()));
        if (inserted) {
            ItemKind kind;
            kind.sides = {item->width(), item->length(), item->depth()};
            kind.weight = item->weight();
            kind.volume = item->volume();
            kind.group = group;
            kind.orientations = orientations_of(*item, mask);
            if (rule) {
                kind.max_load = rule->max_load;
                kind.stop = rule->stop;
            }
            kind.placeable = kind.sides[0] >= 0.0 && kind.sides[1] >= 0.0 && kind.sides[2] >= 0.0;
            kind.smallest_extent = kind.orientations.front().size;
            for (const KindOrientation& o : kind.orientations) {
                for (int k = 0; k < 3; ++k) {
                    if (o.size[k] < kind.smallest_extent[k]) kind.smallest_extent[k] = o.size[k];
                }
            }
            if (group >= 0) table.group_kinds[group].push_back(slot->second);
            table.kinds.push_back(std::move(kind));
        }
        table.kinds[slot->second].members.push_back(position);
    }
    return table;
}

}  // namespace stowvex::optimiser
