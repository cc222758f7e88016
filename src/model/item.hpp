// Items to be packed: the item interface, its plain and box-group variants,
// and the item factory.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "model/rotation.hpp"

namespace stowvex {

class Item {
public:
    virtual ~Item() = default;
    virtual const std::string& item_code() const = 0;
    virtual const std::string& item_reference() const = 0;
    virtual double width() const = 0;
    virtual double length() const = 0;
    virtual double depth() const = 0;
    virtual double weight() const = 0;
    virtual Rotation allowed_rotation() const = 0;
    virtual double volume() const;
    virtual nlohmann::json to_json() const;
    // The box group, or nullptr for an item without one (box_group_of).
    virtual const std::string* box_group_if_any() const { return nullptr; }
};

using ItemPtr = std::shared_ptr<Item>;

class ConcreteItem final : public Item {
public:
    ConcreteItem(std::string item_code, std::string item_reference, double width, double length,
                 double depth, double weight, Rotation allowed_rotation);

    const std::string& item_code() const override { return item_code_; }
    const std::string& item_reference() const override { return item_reference_; }
    double width() const override { return width_; }
    double length() const override { return length_; }
    double depth() const override { return depth_; }
    double weight() const override { return weight_; }
    Rotation allowed_rotation() const override { return allowed_rotation_; }

private:
    std::string item_code_;
    std::string item_reference_;
    double width_;
    double length_;
    double depth_;
    double weight_;
    Rotation allowed_rotation_;
};

// An item bound to a box group: all items of one group go into the same box.
class LinkedItem : public Item {
public:
    virtual const std::string& box_group() const = 0;
    nlohmann::json to_json() const override;
    const std::string* box_group_if_any() const final { return &box_group(); }
};

class ConcreteLinkedItem final : public LinkedItem {
public:
    ConcreteLinkedItem(ConcreteItem item, std::string box_group);

    const std::string& item_code() const override { return item_.item_code(); }
    const std::string& item_reference() const override { return item_.item_reference(); }
    double width() const override { return item_.width(); }
    double length() const override { return item_.length(); }
    double depth() const override { return item_.depth(); }
    double weight() const override { return item_.weight(); }
    Rotation allowed_rotation() const override { return item_.allowed_rotation(); }
    const std::string& box_group() const override { return box_group_; }

private:
    ConcreteItem item_;
    std::string box_group_;
};

ItemPtr make_item(std::string item_code, std::string item_reference, double width, double length,
                  double depth, double weight, std::string box_group, Rotation allowed_rotation);

// The box group of an item, or nullptr for an item without one.
const std::string* box_group_of(const Item& item);

}  // namespace stowvex
