// Beam search for the loading of one box.
#include "optimiser/box_search.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace stowvex::optimiser {

namespace {

struct Extension {
    std::uint32_t parent;
    BlockPlacement placement;
    double value = 0.0;
    std::uint64_t work = 0;
    bool finished = false;
};

class BeamSearch {
public:
    BeamSearch(const BoxProblem& problem, WorkBudget& budget, WorkerPool& pool, BoxLoading& best)
        : problem_(problem), budget_(budget), pool_(pool), best_(best) {}

    // One pass with the given width. True when the pass saw every extension
    // there is, so that a wider pass could find nothing new.
    bool run(std::size_t width, std::size_t branching);

private:
    // Expands every loading of the beam; false when none has a next block.
    bool expand(std::size_t branching);
    void score();
    // The best finished extension becomes the best loading when it beats it.
    void keep_best();
    void select(std::size_t width);

    const BoxProblem& problem_;
    WorkBudget& budget_;
    WorkerPool& pool_;
    BoxLoading& best_;
    std::vector<BoxLoading> beam_;
    std::vector<Extension> extensions_;
    bool complete_view_ = true;
    // The mean work of scoring one extension, by round of a pass (the latest
    // pass that got that far), so that the last round the effort pays for
    // scores only as many extensions as it affords.
    std::vector<std::uint64_t> work_per_extension_;
    std::size_t round_ = 0;
};

bool BeamSearch::expand(std::size_t branching) {
    extensions_.clear();
    std::vector<BlockPlacement> options;
    for (std::size_t p = 0; p < beam_.size(); ++p) {
        const std::uint64_t before = beam_[p].work();
        const bool more = beam_[p].next_candidates(branching, options);
        budget_.spend(beam_[p].work() - before);
        if (!more) continue;
        if (options.size() >= branching) complete_view_ = false;
        for (const BlockPlacement& c : options) {
            extensions_.push_back({static_cast<std::uint32_t>(p), c});
        }
    }
    return !extensions_.empty();
}

void BeamSearch::score() {
    // Extensions left unscored stay unfinished and are passed over.
    std::size_t count = extensions_.size();
    const std::optional<std::uint64_t> left = budget_.effort_left();
    if (left && !work_per_extension_.empty()) {
        const std::uint64_t each =
            work_per_extension_[std::min(round_, work_per_extension_.size() - 1)];
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, *left / each + 1));
        if (count < extensions_.size()) complete_view_ = false;
    }
    pool_.run(count, [this](std::size_t i) {
        Extension& e = extensions_[i];
        if (budget_.out_of_time()) return;
        BoxLoading loading = beam_[e.parent];
        const std::uint64_t before = loading.work();
        loading.place(e.placement);
        e.finished = loading.complete(budget_);
        e.value = loading.value();
        e.work = loading.work() - before + loading.copy_work();
    });
    std::uint64_t work = 0;
    for (const Extension& e : extensions_) work += e.work;
    budget_.spend(work);
    if (count > 0) {
        if (work_per_extension_.size() <= round_) work_per_extension_.resize(round_ + 1);
        work_per_extension_[round_] = std::max<std::uint64_t>(work / count, 1);
    }
    ++round_;
}

void BeamSearch::keep_best() {
    const Extension* top = nullptr;
    for (const Extension& e : extensions_) {
        if (e.finished && (!top || e.value > top->value)) top = &e;
    }
    if (!top || !(top->value > best_.value())) return;
    // Completed again, to the end whatever the clock says, so that the
    // loading is the one that was scored.
    BoxLoading loading = beam_[top->parent];
    loading.place(top->placement);
    const WorkBudget unlimited(std::nullopt, std::nullopt);
    loading.complete(unlimited);
    best_ = std::move(loading);
}

void BeamSearch::select(std::size_t width) {
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < extensions_.size(); ++i) {
        if (extensions_[i].finished) order.push_back(static_cast<std::uint32_t>(i));
    }
    std::stable_sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
        return extensions_[a].value > extensions_[b].value;
    });
    if (order.size() > width) {
        order.resize(width);
        complete_view_ = false;
    }
    std::vector<BoxLoading> next;
    next.reserve(order.size());
    std::uint64_t work = 0;
    for (const std::uint32_t i : order) {
        next.push_back(beam_[extensions_[i].parent]);
        const std::uint64_t before = next.back().work();
        next.back().place(extensions_[i].placement);
        work += next.back().work() - before + next.back().copy_work();
    }
    budget_.spend(work);
    beam_ = std::move(next);
}

bool BeamSearch::run(std::size_t width, std::size_t branching) {
    beam_.assign(1, BoxLoading(problem_));
    complete_view_ = true;
    round_ = 0;
    while (expand(branching)) {
        score();
        keep_best();
        if (best_.everything_placed() || budget_.exhausted()) return false;
        select(width);
    }
    return complete_view_;
}

}  // namespace

BoxLoading search_box(const BoxProblem& problem, WorkBudget& budget, WorkerPool& pool,
                      const BoxSearchSettings& settings) {
    BoxLoading best(problem);
    const bool finished = best.complete(budget);
    budget.spend(best.work());
    if (!finished || best.everything_placed()) return best;
    BeamSearch search(problem, budget, pool, best);
    for (std::size_t width = 1; width <= settings.max_width && !budget.exhausted(); width *= 2) {
        const bool saw_everything = search.run(width, std::max(width, settings.min_branching));
        if (saw_everything || best.everything_placed()) break;
    }
    return best;
}

}  // namespace stowvex::optimiser
