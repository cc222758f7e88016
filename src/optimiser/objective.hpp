// The objective of the optimiser, in this order: most items placed; then
// fewest boxes and least total inner volume, or, when box costs are given,
// least total cost.
#pragma once

#include <cstddef>
#include <vector>

namespace stowvex::optimiser {

struct Score {
    std::size_t placed = 0;
    std::size_t boxes = 0;
    double volume = 0.0;
    double cost = 0.0;
};

// A sum that does not depend on the order of its terms: they are added in
// ascending order, so equal sets of boxes give equal totals.
double ordered_sum(std::vector<double> terms);

class Objective {
public:
    explicit Objective(bool by_cost) : by_cost_(by_cost) {}
    bool by_cost() const { return by_cost_; }
    // Whether `a` is strictly better than `b`.
    bool better(const Score& a, const Score& b) const;

private:
    bool by_cost_;
};

}  // namespace stowvex::optimiser
