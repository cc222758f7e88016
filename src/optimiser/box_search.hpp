// Filling one box as fully as a budget allows: a beam search over block
// placements. At each step every loading in the beam is extended by the
// largest few blocks that fit its next space; each extension is scored by
// completing it greedily, and the best `width` extensions form the next
// beam. Passes run with widths 1, 2, 4, ... while budget is left; the round
// that meets the end of a fixed effort scores only as many extensions as the
// effort left pays for, at what an extension cost in that round before.
#pragma once

#include <cstddef>

#include "optimiser/box_loading.hpp"
#include "optimiser/box_problem.hpp"
#include "optimiser/work_budget.hpp"
#include "optimiser/worker_pool.hpp"

namespace stowvex::optimiser {

struct BoxSearchSettings {
    std::size_t max_width = 1024;
    // Extensions tried per loading: the width, at least this many.
    std::size_t min_branching = 2;
};

// The fullest loading found (by value); the greedy loading when the budget
// allows nothing more, unfinished when time runs out even for that. The
// result is the same for any number of threads.
BoxLoading search_box(const BoxProblem& problem, WorkBudget& budget, WorkerPool& pool,
                      const BoxSearchSettings& settings = {});

}  // namespace stowvex::optimiser
