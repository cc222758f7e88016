// Choosing, filling and improving the boxes of a request.
#include "optimiser/box_set_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "optimiser/box_problem.hpp"
#include "optimiser/box_search.hpp"
#include "optimiser/lower_bound.hpp"

namespace stowvex::optimiser {

namespace {

constexpr double kNoCap = std::numeric_limits<double>::infinity();

std::size_t total(const std::vector<int>& counts) {
    std::size_t n = 0;
    for (const int c : counts) n += static_cast<std::size_t>(c);
    return n;
}

std::vector<int> plus(std::vector<int> a, const std::vector<int>& b) {
    for (std::size_t k = 0; k < a.size(); ++k) a[k] += b[k];
    return a;
}

std::vector<int> minus(std::vector<int> a, const std::vector<int>& b) {
    for (std::size_t k = 0; k < a.size(); ++k) a[k] -= b[k];
    return a;
}

// The work of making a box's problem, in the units of WorkBudget: its blocks
// made and ranked, its sizes, the reachable lengths and the kinds and box
// types walked through on the way (counts, offers, ledgers).
std::uint64_t problem_work(const BoxProblem& problem) {
    const std::size_t blocks = problem.catalogue.size();
    std::uint64_t work = problem.catalogue.work() + problem.sizes.size() * 2;
    for (std::size_t n = blocks; n > 1; n /= 2) work += blocks / 4;  // the ranking's sort
    for (const ReachableLengths& lengths : problem.reachable) work += lengths.work();
    return work + 4 * problem.kinds.kinds.size() + 16;
}

// The work of taking a loading's items out into a box (filled_box_of): the
// items, and under a support rule or a range of the centre of gravity the
// tests of each item against the others.
std::uint64_t taking_out_work(std::size_t items, double min_support, bool centre) {
    std::uint64_t work = 4 * items;
    if (min_support > 0.0 || centre) work += items * items / 4;
    return work;
}

// Boxes by the volume of their items, emptiest first.
std::vector<std::size_t> emptiest_first(const BoxSet& set) {
    std::vector<std::size_t> order(set.boxes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return set.boxes[a].item_volume < set.boxes[b].item_volume;
    });
    return order;
}

}  // namespace

BoxSetSearch::BoxSetSearch(const KindTable& kinds, const BoxTypes& types,
                           const Objective& objective, const BoxSetSettings& settings,
                           WorkerPool& pool, const WorkBudget* budget)
    : kinds_(kinds), types_(types), objective_(objective), settings_(settings), pool_(pool) {
    placeable_ = placeable_counts(kinds, kinds.counts(), types);
    placeable_total_ = total(placeable_);
    box_bound_ = box_count_bound(kinds, placeable_, types, budget);
    by_cost_.resize(types.size());
    std::iota(by_cost_.begin(), by_cost_.end(), std::size_t{0});
    std::stable_sort(by_cost_.begin(), by_cost_.end(), [&](std::size_t a, std::size_t b) {
        if (types[a].cost != types[b].cost) return types[a].cost < types[b].cost;
        return types[a].volume < types[b].volume;
    });
    cheapest_ = by_cost_.empty() ? 0.0 : types[by_cost_.front()].cost;
}

bool BoxSetSearch::unbeatable(const BoxSet& set) const {
    if (set.placed() < placeable_total_ || set.boxes.size() > box_bound_) return false;
    for (const FilledBox& box : set.boxes) {
        if (types_[box.type].cost != cheapest_) return false;
    }
    return true;
}

double BoxSetSearch::volume_of(const std::vector<int>& counts) const {
    double volume = 0.0;
    for (std::size_t k = 0; k < counts.size(); ++k) volume += kinds_.kinds[k].volume * counts[k];
    return volume;
}

bool BoxSetSearch::fits_some(std::size_t type, const std::vector<int>& counts) const {
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] > 0 && kind_fits(kinds_.kinds[k], types_[type])) return true;
    }
    return false;
}

bool BoxSetSearch::takes_more(const FilledBox& a, const FilledBox& b) const {
    if (!objective_.by_cost()) return a.item_volume > b.item_volume;
    return a.item_volume * types_[b.type].cost > b.item_volume * types_[a.type].cost;
}

QuantityLedger BoxSetSearch::ledger_of(const BoxSet& set) const {
    QuantityLedger ledger(types_);
    for (const FilledBox& box : set.boxes) ledger.add(box.type);
    return ledger;
}

FilledBox BoxSetSearch::fill(std::size_t type, const std::vector<int>& offered, WorkBudget& budget,
                             bool favour_large) const {
    const CentreRange* centre =
        settings_.rules ? settings_.rules->centre(types_[type].box->reference()) : nullptr;
    if (!centre) return fill_once(type, offered, budget, favour_large, false, nullptr, nullptr);
    // Under a range of the centre of gravity the load grows as usual first;
    // when the range costs it items, it grows once more heaped in one corner,
    // which a shift moves into the range more easily.
    std::size_t lost = 0;
    FilledBox box;
    {
        WorkBudget part = budget.share(0.5);
        box = fill_once(type, offered, part, favour_large, false, centre, &lost);
    }
    if (lost == 0) return box;
    FilledBox heap = fill_once(type, offered, budget, favour_large, true, centre, nullptr);
    return heap.item_volume > box.item_volume ? heap : box;
}

FilledBox BoxSetSearch::fill_once(std::size_t type, const std::vector<int>& offered,
                                  WorkBudget& budget, bool favour_large, bool heaped,
                                  const CentreRange* centre,
                                  std::size_t* dropped_for_centre) const {
    CatalogueSettings catalogue;
    catalogue.seed = settings_.seed;
    BoxProblem problem(kinds_, offered, *types_[type].box, settings_.min_support, catalogue,
                       favour_large);
    problem.heaped = heaped;
    budget.spend(problem_work(problem));
    const BoxLoading best = search_box(problem, budget, pool_);
    FilledBox box = filled_box_of(best, type, settings_.min_support, centre, dropped_for_centre);
    budget.spend(taking_out_work(box.items.size(), settings_.min_support, centre != nullptr));
    return box;
}

bool BoxSetSearch::fill_completely(const std::vector<int>& offered, const QuantityLedger& ledger,
                                   FilledBox& out, WorkBudget& budget, double cheaper_than) const {
    const std::size_t wanted = total(offered);
    const double volume = volume_of(offered);
    for (const std::size_t t : by_cost_) {
        if (!(types_[t].cost < cheaper_than)) break;
        if (types_[t].volume < volume || !ledger.can_add(t)) continue;
        bool all_fit = true;
        for (std::size_t k = 0; k < offered.size() && all_fit; ++k) {
            all_fit = offered[k] == 0 || kind_fits(kinds_.kinds[k], types_[t]);
        }
        if (!all_fit) continue;
        WorkBudget part = budget.share(0.25);
        FilledBox box = fill(t, offered, part);
        if (box.items.size() == wanted) {
            out = std::move(box);
            return true;
        }
        if (budget.exhausted()) return false;
    }
    return false;
}

BoxSet BoxSetSearch::construct(WorkBudget& budget, bool finish) const {
    BoxSet set;
    QuantityLedger ledger(types_);
    std::vector<int> left = placeable_;
    // Out of time, the set stays unfinished: it then loses to any result
    // that places more, the engine's. Without the engine's result to fall
    // back on (under loading rules or a support rule it may break), the
    // boxes left are filled greedily, in the overtime the budget allows;
    // after that the set stays unfinished, its items left out unplaced.
    while (total(left) > 0) {
        const bool late = budget.out_of_time();
        if (late && !finish) break;
        WorkBudget greedy = budget.overtime(1);
        if (late && greedy.out_of_time()) break;
        WorkBudget& source = late ? greedy : budget;
        std::vector<std::size_t> usable;
        double largest = 0.0;
        for (const std::size_t t : by_cost_) {
            if (!ledger.can_add(t) || !fits_some(t, left)) continue;
            usable.push_back(t);
            largest = std::max(largest, types_[t].volume);
        }
        if (usable.empty()) break;
        // The budget is shared among the boxes still to come, as many as the
        // volume left asks for and the quantity limits allow.
        double boxes_left = largest > 0.0 ? std::ceil(volume_of(left) / largest) : 1.0;
        const std::size_t openable = ledger.room_among(usable);
        if (openable != QuantityLedger::kUnlimited) {
            boxes_left = std::min(boxes_left, static_cast<double>(openable));
        }
        WorkBudget step = source.share(1.0 / std::max(1.0, boxes_left));
        const std::size_t wanted = total(left);
        FilledBox best;
        bool finishes = false;
        for (std::size_t i = 0; i < usable.size() && !finishes; ++i) {
            const std::size_t t = usable[i];
            WorkBudget part = step.share(1.0 / static_cast<double>(usable.size() - i));
            FilledBox box = fill(t, left, part, boxes_left > 1.0);
            if (box.items.empty()) continue;
            // The cheapest type that takes everything left (no dearer type
            // does better); else the box that takes the most volume. Under
            // costs, the most volume per cost, even against a box that takes
            // everything left.
            finishes = box.items.size() == wanted;
            const bool wins =
                best.items.empty() || takes_more(box, best) || (finishes && !objective_.by_cost());
            if (wins) best = std::move(box);
        }
        if (best.items.empty()) break;
        left = minus(left, best.counts(left.size()));
        ledger.add(best.type);
        set.boxes.push_back(std::move(best));
    }
    return set;
}

bool BoxSetSearch::merge_pairs(BoxSet& set, WorkBudget& budget) const {
    const std::vector<std::size_t> order = emptiest_first(set);
    double largest = 0.0;
    for (std::size_t t = 0; t < types_.size(); ++t) largest = std::max(largest, types_[t].volume);
    for (std::size_t a = 0; a < order.size(); ++a) {
        for (std::size_t b = a + 1; b < order.size(); ++b) {
            if (budget.exhausted()) return false;
            const FilledBox& first = set.boxes[order[a]];
            const FilledBox& second = set.boxes[order[b]];
            if (first.item_volume + second.item_volume > largest) break;
            const std::vector<int> both =
                plus(first.counts(kinds_.kinds.size()), second.counts(kinds_.kinds.size()));
            QuantityLedger ledger = ledger_of(set);
            ledger.remove(first.type);
            ledger.remove(second.type);
            // One box fewer is better whatever its type, unless costs rule.
            const double cap =
                objective_.by_cost() ? types_[first.type].cost + types_[second.type].cost : kNoCap;
            FilledBox merged;
            if (!fill_completely(both, ledger, merged, budget, cap)) continue;
            const std::size_t keep = std::min(order[a], order[b]);
            const std::size_t drop = std::max(order[a], order[b]);
            set.boxes[keep] = std::move(merged);
            set.boxes.erase(set.boxes.begin() + static_cast<std::ptrdiff_t>(drop));
            return true;
        }
    }
    return false;
}

bool BoxSetSearch::move_to_cheaper(BoxSet& set, WorkBudget& budget) const {
    bool changed = false;
    for (FilledBox& box : set.boxes) {
        if (budget.exhausted()) break;
        QuantityLedger ledger = ledger_of(set);
        ledger.remove(box.type);
        FilledBox cheaper;
        if (fill_completely(box.counts(kinds_.kinds.size()), ledger, cheaper, budget,
                            types_[box.type].cost)) {
            box = std::move(cheaper);
            changed = true;
        }
    }
    return changed;
}

bool BoxSetSearch::empty_into_fuller(BoxSet& set, WorkBudget& budget) const {
    const std::vector<std::size_t> order = emptiest_first(set);
    const std::size_t kinds = kinds_.kinds.size();
    for (std::size_t e = 0; e < order.size(); ++e) {
        for (std::size_t a = order.size(); a-- > e + 1;) {
            if (budget.exhausted()) return false;
            const FilledBox& emptier = set.boxes[order[e]];
            const FilledBox& fuller = set.boxes[order[a]];
            const std::vector<int> both = plus(emptier.counts(kinds), fuller.counts(kinds));
            // The fuller box refilled from both, as full as it gets; what
            // does not go in must fit one box no dearer than the emptier.
            WorkBudget part = budget.share(0.25);
            FilledBox refilled = fill(fuller.type, both, part, true);
            const std::vector<int> rest = minus(both, refilled.counts(kinds));
            if (!(volume_of(rest) < emptier.item_volume)) continue;
            if (total(rest) == 0) {
                const std::size_t drop = order[e];
                set.boxes[order[a]] = std::move(refilled);
                set.boxes.erase(set.boxes.begin() + static_cast<std::ptrdiff_t>(drop));
                return true;
            }
            QuantityLedger ledger = ledger_of(set);
            ledger.remove(emptier.type);
            FilledBox remainder;
            const double cap = std::nextafter(types_[emptier.type].cost, kNoCap);
            if (!fill_completely(rest, ledger, remainder, budget, cap)) continue;
            set.boxes[order[a]] = std::move(refilled);
            set.boxes[order[e]] = std::move(remainder);
            return true;
        }
    }
    return false;
}

BoxSet BoxSetSearch::run(WorkBudget& budget, const BoxSet* start) {
    // Building gets half the budget, all of it when a single box is all
    // there can be.
    const std::size_t openable = QuantityLedger(types_).room_among(by_cost_);
    BoxSet set;
    {
        WorkBudget building = budget.share(box_bound_ <= 1 || openable <= 1 ? 1.0 : 0.5);
        set = construct(building, start == nullptr);
    }
    if (start && objective_.better(start->score(types_), set.score(types_))) set = *start;
    while (!unbeatable(set) && !budget.exhausted()) {
        if (!merge_pairs(set, budget) && !move_to_cheaper(set, budget) &&
            !empty_into_fuller(set, budget)) {
            break;
        }
    }
    return set;
}

}  // namespace stowvex::optimiser
