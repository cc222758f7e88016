// Choosing and filling the boxes of a whole request. Boxes are opened one
// after another, each filled by the box search from the items left: the
// cheapest type that takes all of them, or else the type whose box takes
// the most. The set is then improved while budget is left: two boxes
// repacked into one, a box repacked into a cheaper type, and items moved
// out of an emptier box into a fuller one. Box groups, weight limits and
// quantity limits hold in every move, and so do the loading rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "optimiser/box_set.hpp"
#include "optimiser/box_types.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/loading_rules.hpp"
#include "optimiser/objective.hpp"
#include "optimiser/work_budget.hpp"
#include "optimiser/worker_pool.hpp"

namespace stowvex::optimiser {

struct BoxSetSettings {
    double min_support = 0.0;
    std::uint64_t seed = 0;
    // The ranges of the centre of gravity of box references; item rules are
    // carried by the kinds.
    const LoadingRules* rules = nullptr;
};

class BoxSetSearch {
public:
    // The lower bound on boxes is cut short when `budget` (if given) runs
    // out of time.
    BoxSetSearch(const KindTable& kinds, const BoxTypes& types, const Objective& objective,
                 const BoxSetSettings& settings, WorkerPool& pool,
                 const WorkBudget* budget = nullptr);

    // The best set found within the budget. When `start` is given and
    // better than the set built, the improvements start from it.
    BoxSet run(WorkBudget& budget, const BoxSet* start = nullptr);
    // True when no set can score better than `set`.
    bool unbeatable(const BoxSet& set) const;

private:
    // The fullest box of a type from the items offered; with `favour_large`
    // large items count for more than their volume (see BoxProblem).
    FilledBox fill(std::size_t type, const std::vector<int>& offered, WorkBudget& budget,
                   bool favour_large = false) const;
    // One search of a box, its load heaped or not, and what the range of
    // the centre of gravity (when given) leaves of it.
    FilledBox fill_once(std::size_t type, const std::vector<int>& offered, WorkBudget& budget,
                        bool favour_large, bool heaped, const CentreRange* centre,
                        std::size_t* dropped_for_centre) const;
    // With `finish`, boxes still needed when time is up are filled
    // greedily, in the overtime the budget allows.
    BoxSet construct(WorkBudget& budget, bool finish) const;
    // One round of each kind of move; true when the set changed.
    bool merge_pairs(BoxSet& set, WorkBudget& budget) const;
    bool move_to_cheaper(BoxSet& set, WorkBudget& budget) const;
    bool empty_into_fuller(BoxSet& set, WorkBudget& budget) const;
    // Into `out`, a box of the cheapest type costing less than
    // `cheaper_than` that `ledger` allows and that takes all of `offered`;
    // false when there is none.
    bool fill_completely(const std::vector<int>& offered, const QuantityLedger& ledger,
                         FilledBox& out, WorkBudget& budget, double cheaper_than) const;
    QuantityLedger ledger_of(const BoxSet& set) const;
    // Whether box `a` holds more for its type than box `b` for its type.
    bool takes_more(const FilledBox& a, const FilledBox& b) const;
    double volume_of(const std::vector<int>& counts) const;
    bool fits_some(std::size_t type, const std::vector<int>& counts) const;

    const KindTable& kinds_;
    const BoxTypes& types_;
    const Objective& objective_;
    BoxSetSettings settings_;
    WorkerPool& pool_;
    std::vector<int> placeable_;
    std::size_t placeable_total_ = 0;
    std::size_t box_bound_ = 0;
    double cheapest_ = 0.0;
    std::vector<std::size_t> by_cost_;  // type indices, cheapest first
};

}  // namespace stowvex::optimiser
