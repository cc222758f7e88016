// A solution: the boxes used, each with its type and its items as laid out,
// and how it scores under the objective.
#pragma once

#include <cstddef>
#include <vector>

#include "optimiser/box_loading.hpp"
#include "optimiser/box_types.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/loading_rules.hpp"
#include "optimiser/objective.hpp"

namespace stowvex::optimiser {

struct FilledBox {
    std::size_t type = 0;
    std::vector<LaidItem> items;  // in placement order
    double item_volume = 0.0;

    // Items per kind, over `kind_count` kinds.
    std::vector<int> counts(std::size_t kind_count) const;
};

// Takes the items of a loading out of it, keeping whole box groups only: a
// group of which the box holds some but not all of `offered` is dropped.
// Under a support rule, items left without support go as well, and the
// groups they belong to, until every item left is supported. Under a range
// of the centre of gravity, a load whose centre lies outside it is shifted
// or mirrored into it where every rule still holds; else items go, the one
// whose going lets the load be moved into the range first, until it is met;
// `dropped_for_centre`, when given, counts them.
FilledBox filled_box_of(const BoxLoading& loading, std::size_t type, double min_support,
                        const CentreRange* centre = nullptr,
                        std::size_t* dropped_for_centre = nullptr);

struct BoxSet {
    std::vector<FilledBox> boxes;

    std::size_t placed() const;
    Score score(const BoxTypes& types) const;
};

}  // namespace stowvex::optimiser
