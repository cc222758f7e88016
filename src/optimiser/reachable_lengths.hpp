// Lengths that rows of items can fill exactly: sums of item sides along one
// axis. A box's leftover length beyond the largest such sum below it can
// never be filled, which makes it a measure of waste.
#pragma once

#include <cstdint>
#include <vector>

namespace stowvex::optimiser {

class ReachableLengths {
public:
    ReachableLengths() = default;
    // Sums of any number of `sides` up to `limit`. Whole-number sides and
    // limits up to kMaxGrid are summed exactly; otherwise sums of up to three
    // sides are taken.
    ReachableLengths(std::vector<double> sides, double limit);

    // The largest reachable length not above `length` (0 when none is).
    double largest_within(double length) const;
    // The work of making it, in the units of WorkBudget: sums tried.
    std::uint64_t work() const { return work_; }

    static constexpr double kMaxGrid = 20000.0;

private:
    std::vector<double> sums_;  // ascending, 0 first
    std::uint64_t work_ = 0;
};

}  // namespace stowvex::optimiser
