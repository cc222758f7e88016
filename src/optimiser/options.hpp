// The settings of one optimiser call.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "optimiser/loading_rules.hpp"

namespace stowvex::optimiser {

struct OptimiserOptions {
    // Wall-clock limit in seconds; empty for none. Results then depend on
    // the machine's speed.
    std::optional<double> time_limit = 1.0;
    // Deterministic work limit in effort units, at least 1; empty for none.
    std::optional<std::uint64_t> effort;
    std::uint64_t seed = 0;
    // Share of its base every item off the floor rests on items below.
    double min_support = 0.0;
    // Cost of a box by reference; when given, least total cost replaces
    // fewest boxes and least volume in the objective.
    std::optional<std::map<std::string, double>> box_costs;
    // 1 to 256; like effort and seed, checked by the caller (stowvex_tools).
    int threads = 1;
    // Loading rules kept as hard constraints; none by default.
    LoadingRules rules;
};

// Throws std::invalid_argument naming the first setting out of range, with its
// value: a time limit that is not a positive number of seconds, neither limit,
// a min_support outside 0 to 1, a box cost that is negative or not finite.
void check_options(const OptimiserOptions& options);

}  // namespace stowvex::optimiser
