// The three orders of the engine: items, box types and packed boxes. Each is
// an exchangeable sorter whose compare returns negative, 0 or positive.
#pragma once

#include <string>
#include <vector>

#include "model/box.hpp"
#include "model/item.hpp"
#include "model/packed_box.hpp"

namespace stowvex {

class ItemSorter {
public:
    virtual ~ItemSorter() = default;
    virtual int compare(const Item& a, const Item& b) const = 0;
};

class BoxSorter {
public:
    virtual ~BoxSorter() = default;
    virtual int compare(const Box& a, const Box& b) const = 0;
};

class PackedBoxSorter {
public:
    virtual ~PackedBoxSorter() = default;
    virtual int compare(const PackedBox& a, const PackedBox& b) const = 0;
};

// Box-group items first, grouped by group name; then larger volume, heavier
// weight and finally item code.
class DefaultItemSorter final : public ItemSorter {
public:
    int compare(const Item& a, const Item& b) const override;

    // What compare reads of an item. Comparing the keys of two items gives
    // what compare gives for the items, so that a sort can read each item
    // once instead of at every comparison.
    struct Key {
        const std::string* group;  // nullptr for an item without one
        double volume;
        double weight;
        const std::string* code;
    };
    static Key key_of(const Item& item);
    static int compare(const Key& a, const Key& b);
};

// Smaller inner volume first, then lighter empty weight, then the larger
// weight budget (no limit counting as the largest).
class DefaultBoxSorter final : public BoxSorter {
public:
    int compare(const Box& a, const Box& b) const override;
};

// More items first, then higher volume utilisation, then larger used volume.
class DefaultPackedBoxSorter final : public PackedBoxSorter {
public:
    int compare(const PackedBox& a, const PackedBox& b) const override;
};

// Byte-wise order of two texts as unsigned bytes, a proper prefix first.
int compare_bytes(const std::string& a, const std::string& b);

// Sorts the items so that a goes before b when the sorter's compare of a and b
// is negative, by std::stable_sort; with a DefaultItemSorter each item's key is
// read once. Both make the same comparisons with the same outcomes in the same
// order, so they leave the items in the same order, even where NaN measures
// make the comparisons inconsistent.
void sort_items(const ItemSorter& sorter, std::vector<ItemPtr>& items);

}  // namespace stowvex
