// Facts of a list of items, and what they rule out.
#include "engine/list_facts.hpp"

#include <algorithm>
#include <cmath>

#include "engine/exact_measures.hpp"
#include "engine/orientation.hpp"

namespace stowvex {

void ListFacts::add(const Item& item) {
    const double dims[3] = {item.width(), item.length(), item.depth()};
    add(dims, item.weight());
}

void ListFacts::add(const double dims[3], double weight) {
    const bool unplaceable = !(dims[0] >= 0.0 && dims[1] >= 0.0 && dims[2] >= 0.0);
    if (count_ == 0) {
        lightest_ = heaviest_ = weight;
    } else if (std::isnan(lightest_) || std::isnan(weight)) {
        lightest_ = heaviest_ = std::nan("");
    } else {
        lightest_ = std::min(lightest_, weight);
        heaviest_ = std::max(heaviest_, weight);
    }
    ++count_;
    weight_sum_ += weight;
    unplaceable_ = unplaceable_ || unplaceable;
    if (!unplaceable) {
        double sorted[3];
        sort_ascending(dims[0], dims[1], dims[2], sorted);
        for (int rank = 0; rank < 3; ++rank)
            largest_[rank] = std::max(largest_[rank], sorted[rank]);
        // An infinite measure fits no finite volume; its digits do not count.
        for (int k = 0; k < 3; ++k) {
            const int bits = stowvex::fraction_bits(dims[k]);
            if (bits >= 0) fraction_bits_ = std::max(fraction_bits_, bits);
        }
        volume_sum_ += stowvex::volume_below(dims[0], dims[1], dims[2]);
    }
    volume_below_ = sum_below(volume_sum_, count_);
}

void ListFacts::add(const ListFacts& other) {
    if (other.count_ == 0) return;
    if (count_ == 0) {
        *this = other;
        return;
    }
    count_ += other.count_;
    unplaceable_ = unplaceable_ || other.unplaceable_;
    for (int rank = 0; rank < 3; ++rank)
        largest_[rank] = std::max(largest_[rank], other.largest_[rank]);
    fraction_bits_ = std::max(fraction_bits_, other.fraction_bits_);
    volume_sum_ += other.volume_sum_;
    volume_below_ = sum_below(volume_sum_, count_);
    weight_sum_ += other.weight_sum_;
    if (std::isnan(lightest_) || std::isnan(other.lightest_)) {
        lightest_ = heaviest_ = std::nan("");
    } else {
        lightest_ = std::min(lightest_, other.lightest_);
        heaviest_ = std::max(heaviest_, other.heaviest_);
    }
}

double ListFacts::volume_below() const { return volume_below_; }

BoxFacts::BoxFacts(double width, double length, double depth, double budget_)
    : exact_bits(exact_fraction_bits(width, length, depth)),
      volume_above(stowvex::volume_above(width, length, depth)),
      budget(budget_) {
    sort_ascending(width, length, depth, sorted);
}

// The weights placed under a limit can add up to a little more than the
// budget: a free space gets what is left of its volume's budget, and the
// weights placed in it are added to the volume's used weight in another
// order, each sum rounding by a factor 1 + u (u = 2^-53) at most. By
// induction over the placements of a volume, the exact total of what it
// holds stays below budget * (1 + c n u) for n items and a small constant c
// (the nesting is at most kMaxNestingDepth deep); for up to 2^20 items that
// is well below budget * (1 + 2^-19).
bool ListFacts::cannot_be_held(const BoxFacts& box) const {
    if (count_ == 0) return false;
    constexpr std::size_t kMostWeighedItems = std::size_t{1} << 20;
    return unplaceable_ ||
           !(largest_[0] <= box.sorted[0] && largest_[1] <= box.sorted[1] &&
             largest_[2] <= box.sorted[2]) ||
           (fraction_bits_ <= box.exact_bits && volume_below_ > box.volume_above) ||
           (box.budget >= 0.0 && (!(lightest_ >= 0.0 && heaviest_ <= box.budget) ||
                                  (count_ <= kMostWeighedItems &&
                                   sum_below(weight_sum_, count_) > box.budget * (1.0 + 0x1p-19))));
}

}  // namespace stowvex
