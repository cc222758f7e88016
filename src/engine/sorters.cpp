// Default orders of items, box types and packed boxes.
#include "engine/sorters.hpp"

#include <cstring>
#include <limits>

namespace stowvex {

namespace {

// Larger first: -1 when a is larger, 1 when they differ otherwise, 0 when equal.
int larger_first(double a, double b) {
    if (a != b) return a > b ? -1 : 1;
    return 0;
}

}  // namespace

int compare_bytes(const std::string& a, const std::string& b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    const int order = common ? std::memcmp(a.data(), b.data(), common) : 0;
    if (order != 0) return order < 0 ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int DefaultItemSorter::compare(const Item& a, const Item& b) const {
    const std::string* group_a = box_group_of(a);
    const std::string* group_b = box_group_of(b);
    if ((group_a == nullptr) != (group_b == nullptr)) return group_a ? -1 : 1;
    if (group_a && group_b) {
        if (const int order = compare_bytes(*group_a, *group_b)) return order;
    }
    if (const int order = larger_first(a.volume(), b.volume())) return order;
    if (const int order = larger_first(a.weight(), b.weight())) return order;
    return compare_bytes(a.item_code(), b.item_code());
}

int DefaultBoxSorter::compare(const Box& a, const Box& b) const {
    const double volume_a = a.inner_volume();
    const double volume_b = b.inner_volume();
    if (volume_a != volume_b) return volume_a < volume_b ? -1 : 1;
    const double empty_a = a.empty_weight();
    const double empty_b = b.empty_weight();
    if (empty_a != empty_b) return empty_a < empty_b ? -1 : 1;
    constexpr double unlimited = std::numeric_limits<double>::max();
    double budget_a = a.max_item_weight();
    double budget_b = b.max_item_weight();
    if (budget_a < 0.0) budget_a = unlimited;
    if (budget_b < 0.0) budget_b = unlimited;
    return larger_first(budget_a, budget_b);
}

int DefaultPackedBoxSorter::compare(const PackedBox& a, const PackedBox& b) const {
    if (a.item_count() != b.item_count()) return a.item_count() > b.item_count() ? -1 : 1;
    if (const int order = larger_first(a.volume_utilisation(), b.volume_utilisation())) return order;
    return larger_first(a.used_volume(), b.used_volume());
}

}  // namespace stowvex
