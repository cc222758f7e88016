// One item of a list as the single-box packer reads it.
#pragma once

#include <cstdint>

#include "model/item.hpp"

namespace stowvex {

// One entry of the list, with the item's measures.
struct PackingEntry {
    const ItemPtr* item;
    double dims[3];  // width, length, depth
    double weight;
    Rotation rotation;
    // No negative and no NaN measure; an entry that is not placeable fits
    // nowhere and is never placed.
    bool placeable;
    // The position of the first entry holding the same item object: items
    // are told apart by identity, and a box takes an object once.
    std::uint32_t identity;
    double ascending[3];  // the measures sorted, when placeable
};

}  // namespace stowvex
