// The problem of filling one box.
#include "optimiser/box_problem.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace stowvex::optimiser {

namespace {

CatalogueSettings with_support(CatalogueSettings settings, double min_support) {
    settings.min_support = min_support;
    return settings;
}

}  // namespace

WeightLimit WeightLimit::of(const Box& box) {
    WeightLimit limit;
    limit.budget = box.max_item_weight();
    limit.empty_weight = box.empty_weight();
    limit.max_weight = box.max_weight();
    limit.gross_limited = box.has_weight_limit();
    return limit;
}

BoxProblem::BoxProblem(const KindTable& kinds_, std::vector<int> offered_, const Box& box,
                       double min_support_, const CatalogueSettings& settings, bool favour_large)
    : kinds(kinds_),
      offered(std::move(offered_)),
      size{box.width(), box.length(), box.depth()},
      weight(WeightLimit::of(box)),
      min_support(min_support_),
      catalogue(kinds_, offered, size, with_support(settings, min_support_)) {
    value.reserve(kinds.kinds.size());
    int first_stop = 0;
    for (std::size_t k = 0; k < kinds.kinds.size(); ++k) {
        const double volume = kinds.kinds[k].volume;
        // v * sqrt(v): correctly rounded everywhere, unlike a general power.
        value.push_back(favour_large ? volume * std::sqrt(std::max(volume, 0.0)) : volume);
        if (offered[k] <= 0) continue;
        const ItemKind& kind = kinds.kinds[k];
        loads = loads || kind.max_load != kNoLoadLimit;
        if (kind.stop != 0) {
            stops = stops || (first_stop != 0 && kind.stop != first_stop);
            if (first_stop == 0) first_stop = kind.stop;
        }
        for (const KindOrientation& o : kinds.kinds[k].orientations) {
            sizes.push_back({o.size, static_cast<int>(k)});
        }
    }
    std::stable_sort(sizes.begin(), sizes.end(), [](const KindSize& a, const KindSize& b) {
        return a.size[0] * a.size[1] * a.size[2] < b.size[0] * b.size[1] * b.size[2];
    });
    for (int a = 0; a < 3; ++a) {
        std::vector<double> sides;
        for (const KindSize& s : sizes) sides.push_back(s.size[a]);
        reachable[a] = ReachableLengths(std::move(sides), size[a]);
    }
}

}  // namespace stowvex::optimiser
