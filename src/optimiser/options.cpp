// Checking the settings of an optimiser call.
#include "optimiser/options.hpp"

#include <cmath>
#include <stdexcept>

namespace stowvex::optimiser {

void check_options(const OptimiserOptions& options) {
    if (!options.time_limit && !options.effort) {
        throw std::invalid_argument("give a time_limit or an effort: the search needs an end");
    }
    if (options.time_limit && !(std::isfinite(*options.time_limit) && *options.time_limit > 0.0)) {
        throw std::invalid_argument("time_limit must be a positive number of seconds");
    }
    if (options.effort && *options.effort == 0) {
        throw std::invalid_argument("effort must be at least 1");
    }
    if (!(options.min_support >= 0.0 && options.min_support <= 1.0)) {
        throw std::invalid_argument("min_support must be between 0 and 1");
    }
    if (options.threads < 1 || options.threads > 256) {
        throw std::invalid_argument("threads must be between 1 and 256");
    }
    if (options.box_costs) {
        for (const auto& [reference, cost] : *options.box_costs) {
            if (!(std::isfinite(cost) && cost >= 0.0)) {
                throw std::invalid_argument("box_costs: the cost of '" + reference +
                                            "' must be a finite number, 0 or more");
            }
        }
    }
}

}  // namespace stowvex::optimiser
