// Box types and their quantity limits.
#include "optimiser/box_types.hpp"

#include <algorithm>
#include <map>

#include "model/packing_rules.hpp"

namespace stowvex::optimiser {

BoxTypes::BoxTypes(const std::vector<BoxPtr>& boxes, const std::vector<double>& costs) {
    std::map<std::string, int> references;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const BoxPtr& box = boxes[i];
        if (!box->active()) continue;
        BoxType type;
        type.box = box;
        type.volume = box->inner_volume();
        type.cost = costs.empty() ? type.volume : costs[i];
        const auto [slot, added] =
            references.emplace(box->reference(), static_cast<int>(references.size()));
        type.reference = slot->second;
        if (const LimitedSupplyBox* limited = limited_supply_of(*box)) {
            type.limit = limited->max_quantity() < 0 ? 0 : limited->max_quantity();
        }
        types_.push_back(type);
    }
    reference_count_ = references.size();
}

QuantityLedger::QuantityLedger(const BoxTypes& types)
    : types_(&types), by_type_(types.size(), 0), by_reference_(types.reference_count(), 0) {}

bool QuantityLedger::can_add(std::size_t type) const {
    const BoxTypes& types = *types_;
    const int reference = types[type].reference;
    const int opened = by_reference_[reference];
    for (std::size_t t = 0; t < types.size(); ++t) {
        if (types[t].reference != reference || types[t].limit < 0) continue;
        if ((t == type || by_type_[t] > 0) && !supply_left(opened, types[t].limit)) return false;
    }
    return true;
}

std::size_t QuantityLedger::room(std::size_t type) const {
    const BoxTypes& types = *types_;
    const int reference = types[type].reference;
    std::size_t room = kUnlimited;
    for (std::size_t t = 0; t < types.size(); ++t) {
        if (types[t].reference != reference || types[t].limit < 0) continue;
        if (t != type && by_type_[t] == 0) continue;
        room = std::min(
            room, static_cast<std::size_t>(boxes_left(by_reference_[reference], types[t].limit)));
    }
    return room;
}

std::size_t QuantityLedger::room_among(const std::vector<std::size_t>& types) const {
    std::size_t total = 0;
    for (const std::size_t t : types) {
        const std::size_t more = room(t);
        if (more == kUnlimited) return kUnlimited;
        total += more;
    }
    return total;
}

void QuantityLedger::add(std::size_t type) {
    ++by_type_[type];
    ++by_reference_[(*types_)[type].reference];
}

void QuantityLedger::remove(std::size_t type) {
    --by_type_[type];
    --by_reference_[(*types_)[type].reference];
}

bool QuantityLedger::can_swap(std::size_t old, std::size_t type) {
    remove(old);
    const bool allowed = can_add(type);
    add(old);
    return allowed;
}

}  // namespace stowvex::optimiser
