// The one list type of the engine: elements in insertion order, a shared
// sorter, and a cached sorted view rebuilt only after a change.
#pragma once

#include <algorithm>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/box.hpp"
#include "model/item.hpp"
#include "model/packed_box.hpp"
#include "model/sorters.hpp"

namespace stowvex {

template <class T>
struct SorterOf;

template <>
struct SorterOf<ItemPtr> {
    using type = ItemSorter;
    static int compare(const ItemSorter& s, const ItemPtr& a, const ItemPtr& b) {
        return s.compare(*a, *b);
    }
    static void sort(const ItemSorter& s, std::vector<ItemPtr>& items) { sort_items(s, items); }
};

template <>
struct SorterOf<BoxPtr> {
    using type = BoxSorter;
    static int compare(const BoxSorter& s, const BoxPtr& a, const BoxPtr& b) {
        return s.compare(*a, *b);
    }
};

template <>
struct SorterOf<PackedBox> {
    using type = PackedBoxSorter;
    static int compare(const PackedBoxSorter& s, const PackedBox& a, const PackedBox& b) {
        return s.compare(a, b);
    }
};

template <class T>
class SortedCollection {
public:
    using Sorter = typename SorterOf<T>::type;

    explicit SortedCollection(std::shared_ptr<const Sorter> sorter) : sorter_(std::move(sorter)) {}

    SortedCollection(const SortedCollection&) = default;
    SortedCollection& operator=(const SortedCollection&) = default;
    SortedCollection(SortedCollection&& other) noexcept { *this = std::move(other); }
    SortedCollection& operator=(SortedCollection&& other) noexcept {
        if (this == &other) return *this;
        sorter_ = std::move(other.sorter_);
        elements_ = std::move(other.elements_);
        sorted_ = std::move(other.sorted_);
        valid_ = other.valid_;
        other.elements_.clear();
        other.sorted_.clear();
        other.valid_ = false;
        return *this;
    }

    void add(T element) {
        elements_.push_back(std::move(element));
        valid_ = false;
    }

    // Elements in sorted order. Elements that compare equal keep no defined
    // order. A merge sort is used so that a comparator made inconsistent by
    // NaN measures can never drive the sort outside the range.
    const std::vector<T>& sorted_view() const {
        if (!valid_) {
            sorted_ = elements_;
            const Sorter& sorter = *sorter_;
            if constexpr (std::is_same_v<T, ItemPtr>) {
                SorterOf<T>::sort(sorter, sorted_);
            } else {
                std::stable_sort(sorted_.begin(), sorted_.end(), [&sorter](const T& a, const T& b) {
                    return SorterOf<T>::compare(sorter, a, b) < 0;
                });
            }
            valid_ = true;
        }
        return sorted_;
    }

    // Erases, for each placement of the box, the first element that is the
    // very item object placed. Only for item lists. An object placed k times
    // loses its first k elements (or all, when it has fewer), so one pass with
    // a count per object does it.
    void remove_packed(const PackedBox& box) {
        static_assert(std::is_same_v<T, ItemPtr>, "remove_packed works on item lists");
        if (box.items().empty()) return;
        std::unordered_map<const Item*, std::size_t> to_remove;
        for (const PackedItem& placement : box.items()) ++to_remove[placement.item().get()];
        std::vector<T> kept;
        kept.reserve(elements_.size());
        for (T& element : elements_) {
            const auto found = to_remove.find(element.get());
            if (found != to_remove.end() && found->second > 0) {
                --found->second;
                valid_ = false;
            } else {
                kept.push_back(std::move(element));
            }
        }
        elements_.swap(kept);
    }

    const std::vector<T>& elements() const { return elements_; }
    std::size_t size() const { return elements_.size(); }
    bool empty() const { return elements_.empty(); }
    const std::shared_ptr<const Sorter>& sorter() const { return sorter_; }

private:
    std::shared_ptr<const Sorter> sorter_;
    std::vector<T> elements_;
    mutable std::vector<T> sorted_;
    mutable bool valid_ = false;
};

using ItemList = SortedCollection<ItemPtr>;
using BoxList = SortedCollection<BoxPtr>;
using PackedBoxList = SortedCollection<PackedBox>;

}  // namespace stowvex
