// Lower bounds for stopping a search that cannot get better: which items any
// box can take at all, and how many boxes those items need at least.
#pragma once

#include <cstddef>
#include <vector>

#include "optimiser/box_types.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/work_budget.hpp"

namespace stowvex::optimiser {

// Whether one item of a kind fits a type, by its extents and weight.
bool kind_fits(const ItemKind& kind, const BoxType& type);

// The counts of the kinds that fit some type (0 for the others, and for
// every kind of a box group with a kind that fits none).
std::vector<int> placeable_counts(const KindTable& kinds, const std::vector<int>& counts,
                                  const BoxTypes& types);

// At least this many boxes hold the items: the largest of the volume bound
// (over the largest type); the number of items no two of which fit one box
// together, plus what the items that share a box with none of those need (left
// out above kMaxDeepKinds kinds); a bound by dual feasible functions, which
// counts how items too long to lie side by side along an axis add up; and the
// weight over the largest weight budget when every type has one. When `budget`
// runs out of time the bound found so far is returned: smaller, and still a
// bound.
constexpr std::size_t kMaxDeepKinds = 400;
std::size_t box_count_bound(const KindTable& kinds, const std::vector<int>& counts,
                            const BoxTypes& types, const WorkBudget* budget = nullptr);

}  // namespace stowvex::optimiser
