// Checking the settings of an optimiser call. The Python package converts
// each setting to the type it has here, and checks the ranges of the integer
// ones (effort, seed, threads) itself, while a Python int of any size is still
// whole; the other settings are checked here, once for every caller.
#include "optimiser/options.hpp"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace stowvex::optimiser {

namespace {

// A number as a message shows it: the shortest text that reads back as it.
std::string shown(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

}  // namespace

void check_options(const OptimiserOptions& options) {
    if (!options.time_limit && !options.effort) {
        throw std::invalid_argument("give a time_limit or an effort: the search needs an end");
    }
    if (options.time_limit && !(std::isfinite(*options.time_limit) && *options.time_limit > 0.0)) {
        throw std::invalid_argument("time_limit must be a positive number of seconds, not " +
                                    shown(*options.time_limit));
    }
    if (!(options.min_support >= 0.0 && options.min_support <= 1.0)) {
        throw std::invalid_argument("min_support must be between 0 and 1, not " +
                                    shown(options.min_support));
    }
    if (options.box_costs) {
        for (const auto& [reference, cost] : *options.box_costs) {
            if (!(std::isfinite(cost) && cost >= 0.0)) {
                throw std::invalid_argument("box_costs['" + reference +
                                            "'] must be finite, 0 or more, not " + shown(cost));
            }
        }
    }
}

}  // namespace stowvex::optimiser
