// Default orders of items, box types and packed boxes.
#include "model/sorters.hpp"

#include <algorithm>
#include <cstdint>
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

DefaultItemSorter::Key DefaultItemSorter::key_of(const Item& item) {
    return Key{box_group_of(item), item.volume(), item.weight(), &item.item_code()};
}

int DefaultItemSorter::compare(const Key& a, const Key& b) {
    if ((a.group == nullptr) != (b.group == nullptr)) return a.group ? -1 : 1;
    if (a.group && b.group) {
        if (const int order = compare_bytes(*a.group, *b.group)) return order;
    }
    if (const int order = larger_first(a.volume, b.volume)) return order;
    if (const int order = larger_first(a.weight, b.weight)) return order;
    return compare_bytes(*a.code, *b.code);
}

int DefaultItemSorter::compare(const Item& a, const Item& b) const {
    return compare(key_of(a), key_of(b));
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
    if (const int order = larger_first(a.volume_utilisation(), b.volume_utilisation()))
        return order;
    return larger_first(a.used_volume(), b.used_volume());
}

void sort_items(const ItemSorter& sorter, std::vector<ItemPtr>& items) {
    const auto* by_default = dynamic_cast<const DefaultItemSorter*>(&sorter);
    if (by_default == nullptr) {
        std::stable_sort(items.begin(), items.end(), [&sorter](const ItemPtr& a, const ItemPtr& b) {
            return sorter.compare(*a, *b) < 0;
        });
        return;
    }
    std::vector<DefaultItemSorter::Key> keys;
    keys.reserve(items.size());
    for (const ItemPtr& item : items) keys.push_back(DefaultItemSorter::key_of(*item));
    std::vector<std::uint32_t> order(items.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<std::uint32_t>(k);
    std::stable_sort(order.begin(), order.end(), [&keys](std::uint32_t a, std::uint32_t b) {
        return DefaultItemSorter::compare(keys[a], keys[b]) < 0;
    });
    std::vector<ItemPtr> sorted;
    sorted.reserve(items.size());
    for (const std::uint32_t k : order) sorted.push_back(std::move(items[k]));
    items.swap(sorted);
}

}  // namespace stowvex
