// What a box can be seen not to hold before any packing: facts of a list of
// items against the box's size and weight budget.
#pragma once

#include <cstddef>

#include "model/item.hpp"

namespace stowvex {

// What the facts of a list are weighed against: a box's size and weight
// budget (negative: no limit).
struct BoxFacts {
    BoxFacts(double width, double length, double depth, double budget);

    double sorted[3];     // the measures in ascending order
    int exact_bits;       // exact_fraction_bits of the measures
    double volume_above;  // a bound above the volume
    double budget;
};

// Facts of a list of items that bound what a box holding all of them needs.
class ListFacts {
public:
    void add(const Item& item);
    // An item of these measures (width, length, depth) and weight.
    void add(const double dims[3], double weight);
    void add(const ListFacts& other);

    std::size_t count() const { return count_; }
    // Per rank of the sorted measures, the largest.
    double largest(int rank) const { return largest_[rank]; }
    // Binary digits after the point that the finite measures need.
    int fraction_bits() const { return fraction_bits_; }
    // A bound below the total volume.
    double volume_below() const;
    // The lightest and heaviest weight; NaN when some weight is NaN.
    double lightest() const { return lightest_; }
    double heaviest() const { return heaviest_; }

    // Whether a box of this size and weight budget (negative: no limit)
    // certainly cannot hold every item of the list, whatever the packing
    // does: an item larger than the box, measure by measure in sorted order,
    // fits no orientation; with exact arithmetic (exact_fraction_bits) the
    // placements are disjoint and lie in the box, so the items cannot have
    // more volume than the box; under a weight limit a negative or NaN weight
    // never passes, nor does one above the budget, nor can the weights add
    // up to more than the budget (see the definition).
    bool cannot_be_held(const BoxFacts& box) const;

private:
    std::size_t count_ = 0;
    bool unplaceable_ = false;
    double largest_[3] = {0.0, 0.0, 0.0};
    int fraction_bits_ = 0;
    double volume_sum_ = 0.0;    // of volume_below of each placeable item
    double volume_below_ = 0.0;  // of the sum, kept with it
    double lightest_ = 0.0;
    double heaviest_ = 0.0;
    double weight_sum_ = 0.0;  // added up in floating point
};

}  // namespace stowvex
