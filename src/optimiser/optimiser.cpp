// The optimiser's entry: checks, the engine's result as the incumbent when it
// keeps the loading rules, the search, and the response.
#include "optimiser/optimiser.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/packer.hpp"
#include "optimiser/box_set.hpp"
#include "optimiser/box_set_search.hpp"
#include "optimiser/box_types.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/loading_rules.hpp"
#include "optimiser/objective.hpp"
#include "optimiser/support.hpp"
#include "optimiser/work_budget.hpp"
#include "optimiser/worker_pool.hpp"

namespace stowvex {

namespace {

using namespace optimiser;

void check_finite(double value, const char* what, const std::string& owner) {
    if (!std::isfinite(value)) {
        throw std::invalid_argument(owner + " has a non-finite " + what);
    }
}

// Infinite and NaN measures are refused: no search can weigh them. Negative
// ones pass as the engine takes them: an item with a negative side is never
// placed, nor one of negative weight under a weight limit.
void check_inputs(const std::vector<ItemPtr>& items, const std::vector<BoxPtr>& boxes) {
    for (const ItemPtr& item : items) {
        const std::string owner = "item '" + item->item_code() + "'";
        check_finite(item->width(), "width", owner);
        check_finite(item->length(), "length", owner);
        check_finite(item->depth(), "depth", owner);
        check_finite(item->weight(), "weight", owner);
    }
    for (const BoxPtr& box : boxes) {
        if (!box->active()) continue;
        const std::string owner = "box type '" + box->reference() + "'";
        check_finite(box->width(), "width", owner);
        check_finite(box->length(), "length", owner);
        check_finite(box->depth(), "depth", owner);
        check_finite(box->empty_weight(), "empty weight", owner);
        check_finite(box->max_weight(), "max weight", owner);
    }
}

// The cost of each box type (parallel to `boxes`), or nothing without costs.
std::vector<double> costs_of(const std::vector<BoxPtr>& boxes, const OptimiserOptions& options) {
    std::vector<double> costs;
    if (!options.box_costs) return costs;
    const auto& given = *options.box_costs;
    for (const auto& [reference, cost] : given) {
        bool known = false;
        for (const BoxPtr& box : boxes) known = known || box->reference() == reference;
        if (!known) {
            throw std::invalid_argument("box_costs names '" + reference +
                                        "', which is no box type");
        }
    }
    for (const BoxPtr& box : boxes) {
        const auto found = given.find(box->reference());
        if (found == given.end()) {
            if (box->active()) {
                throw std::invalid_argument("box_costs has no cost for box type '" +
                                            box->reference() + "'");
            }
            costs.push_back(0.0);
        } else {
            costs.push_back(found->second);
        }
    }
    return costs;
}

Score score_of(const PackResponse& response, const std::vector<BoxPtr>& boxes,
               const std::vector<double>& costs) {
    std::unordered_map<const Box*, double> cost_of;
    for (std::size_t i = 0; i < costs.size(); ++i) cost_of.emplace(boxes[i].get(), costs[i]);
    Score score;
    score.placed = response.total_placed();
    score.boxes = response.box_count();
    std::vector<double> volumes;
    std::vector<double> box_costs;
    for (const PackedBox& box : response.boxes().elements()) {
        volumes.push_back(box.inner_volume());
        box_costs.push_back(costs.empty() ? box.inner_volume() : cost_of.at(box.box().get()));
    }
    score.volume = ordered_sum(volumes);
    score.cost = ordered_sum(box_costs);
    return score;
}

Cuboid cuboid_of(const PackedItem& p) {
    return {{p.x(), p.y(), p.z()}, {p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()}};
}

bool supports_everything(const PackResponse& response, double ratio) {
    if (ratio <= 0.0) return true;
    for (const PackedBox& box : response.boxes().elements()) {
        std::vector<Cuboid> cuboids;
        for (const PackedItem& p : box.items()) cuboids.push_back(cuboid_of(p));
        for (const bool ok : supported_cuboids(cuboids, ratio)) {
            if (!ok) return false;
        }
    }
    return true;
}

// The engine's result as a solution of the search: its boxes by type and
// its placements by kind and orientation. Empty when it uses a type in a way
// the search's quantity rule does not allow.
std::optional<BoxSet> box_set_of(const PackResponse& response, const KindTable& kinds,
                                 const BoxTypes& types, const std::vector<ItemPtr>& items) {
    std::unordered_map<const Item*, int> kind_of;
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        for (const std::size_t m : kinds.kinds[k].members)
            kind_of[items[m].get()] = static_cast<int>(k);
    }
    std::unordered_map<const Box*, std::size_t> type_of;
    for (std::size_t t = 0; t < types.size(); ++t) type_of.emplace(types[t].box.get(), t);
    BoxSet set;
    QuantityLedger ledger(types);
    for (const PackedBox& packed : response.boxes().sorted_view()) {
        const auto type = type_of.find(packed.box().get());
        if (type == type_of.end() || !ledger.can_add(type->second)) return std::nullopt;
        ledger.add(type->second);
        FilledBox box;
        box.type = type->second;
        for (const PackedItem& p : packed.items()) {
            const int k = kind_of.at(p.item().get());
            const auto& turns = kinds.kinds[k].orientations;
            int orientation = -1;
            for (std::size_t o = 0; o < turns.size() && orientation < 0; ++o) {
                if (turns[o].size == Vec3{p.width(), p.length(), p.depth()}) {
                    orientation = static_cast<int>(o);
                }
            }
            if (orientation < 0) return std::nullopt;
            box.items.push_back({k, orientation, {p.x(), p.y(), p.z()}});
            box.item_volume += kinds.kinds[k].volume;
        }
        set.boxes.push_back(std::move(box));
    }
    return set;
}

// The response of a solution: the items of each kind are handed out in
// request order; the rest are unplaced, in request order.
PackResponse response_of(const BoxSet& set, const KindTable& kinds, const BoxTypes& types,
                         const std::vector<ItemPtr>& items) {
    std::vector<std::size_t> handed(kinds.kinds.size(), 0);
    std::vector<bool> placed(items.size(), false);
    PackedBoxList boxes(std::make_shared<DefaultPackedBoxSorter>());
    for (const FilledBox& filled : set.boxes) {
        PackedBox box(types[filled.type].box);
        for (const LaidItem& laid : filled.items) {
            const ItemKind& kind = kinds.kinds[laid.kind];
            const std::size_t member = kind.members[handed[laid.kind]++];
            placed[member] = true;
            const KindOrientation& turn = kind.orientations[laid.orientation];
            box.add(PackedItem(items[member], turn.size[0], turn.size[1], turn.size[2], turn.label,
                               laid.position[0], laid.position[1], laid.position[2]));
        }
        boxes.add(std::move(box));
    }
    ItemList unplaced(std::make_shared<DefaultItemSorter>());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!placed[i]) unplaced.add(items[i]);
    }
    const bool success = unplaced.empty();
    return PackResponse(success, std::move(boxes), std::move(unplaced));
}

}  // namespace

PackResponse optimise_items(const ItemList& item_list, const BoxList& box_list,
                            const OptimiserOptions& options) {
    check_options(options);
    // The time limit covers the whole call; a little of it is kept back for
    // building the response.
    std::optional<double> search_time = options.time_limit;
    if (search_time) *search_time -= std::min(*search_time * 0.03, 0.025);
    WorkBudget budget(search_time, options.effort);
    if (search_time) budget.allow_overtime(*options.time_limit - *search_time);
    const std::vector<ItemPtr>& items = item_list.elements();
    const std::vector<BoxPtr>& boxes = box_list.elements();
    check_inputs(items, boxes);
    const std::vector<double> costs = costs_of(boxes, options);

    PackResponse engine = pack_items(item_list, box_list);
    // The engine knows no loading rules: its result starts the search only
    // when it happens to keep them all.
    const bool engine_valid =
        supports_everything(engine, options.min_support) && keeps_rules(engine, options.rules);

    const KindTable kinds = group_into_kinds(items, &options.rules);
    const BoxTypes types(boxes, costs);
    const Objective objective(options.box_costs.has_value());
    std::optional<BoxSet> start;
    if (engine_valid) start = box_set_of(engine, kinds, types, items);

    WorkerPool pool(options.threads);
    BoxSetSearch search(kinds, types, objective,
                        {options.min_support, options.seed, &options.rules}, pool, &budget);
    if (start && search.unbeatable(*start)) return engine;
    const BoxSet best = search.run(budget, start ? &*start : nullptr);
    if (engine_valid && !objective.better(best.score(types), score_of(engine, boxes, costs))) {
        return engine;
    }
    return response_of(best, kinds, types, items);
}

}  // namespace stowvex
