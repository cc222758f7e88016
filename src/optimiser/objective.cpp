// Comparing solutions.
#include "optimiser/objective.hpp"

#include <algorithm>

namespace stowvex::optimiser {

double ordered_sum(std::vector<double> terms) {
    std::sort(terms.begin(), terms.end());
    double total = 0.0;
    for (const double t : terms) total += t;
    return total;
}

bool Objective::better(const Score& a, const Score& b) const {
    if (a.placed != b.placed) return a.placed > b.placed;
    if (by_cost_) return a.cost < b.cost;
    if (a.boxes != b.boxes) return a.boxes < b.boxes;
    return a.volume < b.volume;
}

}  // namespace stowvex::optimiser
