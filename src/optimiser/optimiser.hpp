// The optimiser: packs a request for fewer, fuller boxes than the engine,
// under the same rules. The engine's own result is the starting point; it
// is returned unchanged unless the search finds a better one.
#pragma once

#include "model/pack_response.hpp"
#include "model/sorted_collection.hpp"
#include "optimiser/options.hpp"

namespace stowvex {

// Items and box types in request order (their lists' elements). Throws
// std::invalid_argument for options out of range, for an item or active box
// type with an infinite or NaN measure, and for box costs that do not match
// the box types.
PackResponse optimise_items(const ItemList& items, const BoxList& boxes,
                            const optimiser::OptimiserOptions& options);

}  // namespace stowvex
