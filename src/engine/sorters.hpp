// The three orders of the engine: items, box types and packed boxes. Each is
// an exchangeable sorter whose compare returns negative, 0 or positive.
#pragma once

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

}  // namespace stowvex
