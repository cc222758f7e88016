// Box types: derived figures, JSON form and the factory.
#include "model/box.hpp"

#include <cmath>
#include <utility>

#include <nlohmann/json.hpp>

namespace stowvex {

bool Box::has_weight_limit() const { return max_weight() >= 0.0; }

double Box::inner_volume() const { return width() * length() * depth(); }

double Box::max_item_weight() const {
    if (!has_weight_limit()) return -1.0;
    const double budget = max_weight() - empty_weight();
    if (std::isnan(budget) || budget < 0.0) return 0.0;
    return budget;
}

nlohmann::json Box::to_json() const {
    nlohmann::json j = nlohmann::json::object();
    j["Active"] = active();
    j["BoxWeight"] = empty_weight();
    j["Depth"] = depth();
    j["InnerVolume"] = inner_volume();
    j["Length"] = length();
    j["MaxWeight"] = has_weight_limit() ? nlohmann::json(max_weight()) : nlohmann::json(nullptr);
    j["MaximumBoxes"] = nullptr;
    j["Reference"] = reference();
    j["Width"] = width();
    return j;
}

nlohmann::json LimitedSupplyBox::to_json() const {
    nlohmann::json j = Box::to_json();
    j["MaximumBoxes"] = max_quantity();
    return j;
}

ConcreteBox::ConcreteBox(std::string reference, double width, double length, double depth,
                         double max_weight, double empty_weight, bool active)
    : reference_(std::move(reference)),
      width_(width),
      length_(length),
      depth_(depth),
      max_weight_(max_weight),
      empty_weight_(empty_weight),
      active_(active) {}

ConcreteLimitedSupplyBox::ConcreteLimitedSupplyBox(ConcreteBox box, std::int32_t max_quantity)
    : box_(std::move(box)), max_quantity_(max_quantity) {}

BoxPtr make_box(std::string reference, double width, double length, double depth, double max_weight,
                double empty_weight, bool active, std::optional<std::int32_t> max_quantity) {
    ConcreteBox box(std::move(reference), width, length, depth, max_weight, empty_weight, active);
    if (!max_quantity) return std::make_shared<ConcreteBox>(std::move(box));
    return std::make_shared<ConcreteLimitedSupplyBox>(std::move(box), *max_quantity);
}

const LimitedSupplyBox* limited_supply_of(const Box& box) {
    return dynamic_cast<const LimitedSupplyBox*>(&box);
}

}  // namespace stowvex
