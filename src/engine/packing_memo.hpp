// What the balancing pass has learnt about packing lists of items into box
// types, so that it does not pack the same list into the same type twice.
#pragma once

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/list_facts.hpp"
#include "model/packed_box.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex {

// What one balancing pass has learnt about packing lists of items into box
// types. The packing of a list into a type depends on nothing but the type and
// the list's sorted view, so while the memo holds it, it is not packed again:
// the pass asks the same questions many times, as every move restarts the
// scan over pairs whose boxes mostly did not change.
class PackingMemo {
public:
    // Outcomes for one list of items, per box type by position in the box
    // list's sorted view: packed without holding them all, or, for at most
    // one type, the box that held them all.
    struct Outcomes {
        std::vector<bool> failed;
        std::size_t held_type = 0;
        std::optional<PackedBox> held;
    };

    // The outcomes for the sorted list, made empty when new; nullptr once the
    // memo is full and the list is new to it.
    Outcomes* outcomes(const std::vector<ItemPtr>& sorted, std::size_t type_count);

    // Called with the placements of a box kept in the memo; false when there
    // is no room for them, and the box must not be kept.
    bool make_room(std::size_t placements);

    // Whether an active box type of the list has a quantity limit, and the
    // facts of each type of its sorted view; the pass uses one list
    // throughout.
    bool limited_supply(const BoxList& boxes);
    const std::vector<BoxFacts>& box_facts(const BoxList& boxes);

private:
    using Key = std::vector<const Item*>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };

    // Key items and held placements, each bounded so that a long pass cannot
    // grow the memo without limit (some 32 MB each). The memo learns in two
    // halves: when the newer is full it becomes the older, and the older is
    // forgotten; an outcome found in the older moves to the newer. Held
    // placements count until their half is forgotten.
    static constexpr std::size_t kMostKeyItems = std::size_t{1} << 22;
    static constexpr std::size_t kMostHeldPlacements = std::size_t{1} << 18;
    std::size_t key_items_ = 0;
    std::size_t held_placements_ = 0;
    std::optional<bool> limited_supply_;
    std::vector<BoxFacts> box_facts_;

    std::unordered_map<Key, Outcomes, KeyHash> outcomes_;  // the newer half
    std::unordered_map<Key, Outcomes, KeyHash> older_;
    std::size_t older_held_ = 0;  // placements held in the older half
};

}  // namespace stowvex
