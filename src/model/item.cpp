// Items: derived figures, JSON form and the factory.
#include "model/item.hpp"

#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

namespace stowvex {

double Item::volume() const { return width() * length() * depth(); }

nlohmann::json Item::to_json() const {
    nlohmann::json j = nlohmann::json::object();
    j["AllowedRotation"] = rotation_to_string(allowed_rotation());
    j["BoxGroup"] = nullptr;
    j["Depth"] = depth();
    j["ItemCode"] = item_code();
    j["ItemReference"] = item_reference();
    j["Length"] = length();
    j["Volume"] = volume();
    j["Weight"] = weight();
    j["Width"] = width();
    return j;
}

nlohmann::json LinkedItem::to_json() const {
    nlohmann::json j = Item::to_json();
    j["BoxGroup"] = box_group();
    return j;
}

ConcreteItem::ConcreteItem(std::string item_code, std::string item_reference, double width,
                           double length, double depth, double weight, Rotation allowed_rotation)
    : item_code_(std::move(item_code)),
      item_reference_(std::move(item_reference)),
      width_(width),
      length_(length),
      depth_(depth),
      weight_(weight),
      allowed_rotation_(allowed_rotation) {}

ConcreteLinkedItem::ConcreteLinkedItem(ConcreteItem item, std::string box_group)
    : item_(std::move(item)), box_group_(std::move(box_group)) {
    if (box_group_.empty()) {
        throw std::invalid_argument("ConcreteLinkedItem requires a non-empty box group");
    }
}

ItemPtr make_item(std::string item_code, std::string item_reference, double width, double length,
                  double depth, double weight, std::string box_group, Rotation allowed_rotation) {
    ConcreteItem item(std::move(item_code), std::move(item_reference), width, length, depth, weight,
                      allowed_rotation);
    if (box_group.empty()) return std::make_shared<ConcreteItem>(std::move(item));
    return std::make_shared<ConcreteLinkedItem>(std::move(item), std::move(box_group));
}

const std::string* box_group_of(const Item& item) { return item.box_group_if_any(); }

}  // namespace stowvex
