// Pack response totals.
#include "model/pack_response.hpp"

#include <utility>

namespace stowvex {

PackResponse::PackResponse(bool success, PackedBoxList boxes, ItemList unplaced_items)
    : success_(success), boxes_(std::move(boxes)), unplaced_items_(std::move(unplaced_items)) {}

std::size_t PackResponse::total_placed() const {
    std::size_t total = 0;
    for (const PackedBox& box : boxes_.sorted_view()) total += box.item_count();
    return total;
}

double PackResponse::overall_volume_utilisation() const {
    double used = 0.0;
    double inner = 0.0;
    for (const PackedBox& box : boxes_.sorted_view()) {
        used += box.used_volume();
        inner += box.inner_volume();
    }
    if (boxes_.empty() || inner <= 0.0) return 0.0;
    return used / inner * 100.0;
}

}  // namespace stowvex
