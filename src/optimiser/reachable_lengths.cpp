// Sums of item sides along an axis.
#include "optimiser/reachable_lengths.hpp"

#include <algorithm>
#include <cmath>

namespace stowvex::optimiser {

ReachableLengths::ReachableLengths(std::vector<double> sides, double limit) {
    work_ = sides.size();
    std::sort(sides.begin(), sides.end());
    sides.erase(std::unique(sides.begin(), sides.end()), sides.end());
    sides.erase(std::remove_if(sides.begin(), sides.end(),
                               [&](double s) { return !(s > 0.0) || s > limit; }),
                sides.end());
    sums_.push_back(0.0);
    if (sides.empty() || !(limit > 0.0)) return;
    const bool whole = limit <= kMaxGrid && std::all_of(sides.begin(), sides.end(), [](double s) {
                           return s == std::floor(s);
                       });
    if (whole) {
        const auto top = static_cast<std::size_t>(std::floor(limit));
        // One pass over the lengths a side (a pass costs about a tenth of
        // a unit a length), and the sums kept.
        work_ += (sides.size() + 1) * (top / 10 + 1);
        std::vector<char> reach(top + 1, 0);
        reach[0] = 1;
        for (const double s : sides) {
            const auto step = static_cast<std::size_t>(s);
            for (std::size_t i = step; i <= top; ++i) reach[i] = reach[i] || reach[i - step];
        }
        for (std::size_t i = 1; i <= top; ++i) {
            if (reach[i]) sums_.push_back(static_cast<double>(i));
        }
        return;
    }
    const std::size_t n = std::min<std::size_t>(sides.size(), 40);
    for (std::size_t a = 0; a < n; ++a) {
        sums_.push_back(sides[a]);
        for (std::size_t b = a; b < n; ++b) {
            const double two = sides[a] + sides[b];
            if (two > limit) break;
            sums_.push_back(two);
            for (std::size_t c = b; c < n; ++c) {
                const double three = two + sides[c];
                if (three > limit) break;
                sums_.push_back(three);
            }
        }
    }
    work_ += 2 * sums_.size();
    std::sort(sums_.begin(), sums_.end());
    sums_.erase(std::unique(sums_.begin(), sums_.end()), sums_.end());
}

double ReachableLengths::largest_within(double length) const {
    const auto above = std::upper_bound(sums_.begin(), sums_.end(), length);
    return above == sums_.begin() ? 0.0 : *(above - 1);
}

}  // namespace stowvex::optimiser
