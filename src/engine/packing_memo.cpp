// The balancing pass's memo of packings.
#include "engine/packing_memo.hpp"

#include <functional>
#include <utility>

#include "engine/box_use_counts.hpp"

namespace stowvex {

namespace {

BoxFacts facts_of(const Box& box) {
    return BoxFacts(box.width(), box.length(), box.depth(), box.max_item_weight());
}

}  // namespace

PackingMemo::Outcomes* PackingMemo::outcomes(const std::vector<ItemPtr>& items,
                                             std::size_t type_count) {
    Key key;
    key.reserve(items.size());
    for (const ItemPtr& item : items) key.push_back(item.get());
    const auto found = outcomes_.find(key);
    if (found != outcomes_.end()) return &found->second;
    if (key.size() > kMostKeyItems / 2) return nullptr;
    const auto older = older_.find(key);
    if (key_items_ + key.size() > kMostKeyItems / 2) {
        // Full: what it learnt becomes the older half, and what was older is
        // forgotten. The lists of the latest moves are the ones asked again.
        std::optional<Outcomes> kept;
        if (older != older_.end()) kept = std::move(older->second);
        older_ = std::move(outcomes_);
        outcomes_.clear();
        key_items_ = 0;
        older_held_ = held_placements_;
        held_placements_ = 0;
        if (kept) {
            key_items_ += key.size();
            Outcomes& added = outcomes_[std::move(key)];
            added = std::move(*kept);
            if (added.held) held_placements_ += added.held->item_count();
            return &added;
        }
    } else if (older != older_.end()) {
        key_items_ += key.size();
        Outcomes& added = outcomes_[std::move(key)];
        added = std::move(older->second);
        older_.erase(older);
        if (added.held) held_placements_ += added.held->item_count();
        return &added;
    }
    key_items_ += key.size();
    Outcomes& added = outcomes_[std::move(key)];
    added.failed.assign(type_count, false);
    return &added;
}

bool PackingMemo::limited_supply(const BoxList& boxes) {
    if (!limited_supply_) limited_supply_ = any_limited_supply(boxes);
    return *limited_supply_;
}

const std::vector<BoxFacts>& PackingMemo::box_facts(const BoxList& boxes) {
    if (box_facts_.empty()) {
        for (const BoxPtr& box : boxes.sorted_view()) box_facts_.push_back(facts_of(*box));
    }
    return box_facts_;
}

bool PackingMemo::make_room(std::size_t placements) {
    if (older_held_ + held_placements_ + placements > kMostHeldPlacements) return false;
    held_placements_ += placements;
    return true;
}

std::size_t PackingMemo::KeyHash::operator()(const Key& key) const {
    std::size_t seed = key.size();
    for (const Item* item : key) {
        seed ^= std::hash<const Item*>()(item) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}

}  // namespace stowvex
