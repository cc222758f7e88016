// A packing request: the items and the box types, each list with its order.
#pragma once

#include <memory>

#include "model/sorted_collection.hpp"

namespace stowvex {

struct PackRequest {
    ItemList items{std::make_shared<DefaultItemSorter>()};
    BoxList boxes{std::make_shared<DefaultBoxSorter>()};
};

}  // namespace stowvex
