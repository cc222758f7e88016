// Box types: the box interface with its derived figures, the plain and
// limited-supply variants and the box factory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace stowvex {

class Box {
public:
    virtual ~Box() = default;
    virtual const std::string& reference() const = 0;
    virtual double width() const = 0;
    virtual double length() const = 0;
    virtual double depth() const = 0;
    virtual double empty_weight() const = 0;
    virtual double max_weight() const = 0;
    virtual bool active() const = 0;
    virtual bool has_weight_limit() const;
    virtual double inner_volume() const;
    // The weight the contents may have: -1 without a weight limit, otherwise
    // max weight less empty weight, never below 0.
    virtual double max_item_weight() const;
    virtual nlohmann::json to_json() const;
};

using BoxPtr = std::shared_ptr<Box>;

class ConcreteBox final : public Box {
public:
    ConcreteBox(std::string reference, double width, double length, double depth, double max_weight,
                double empty_weight, bool active);

    const std::string& reference() const override { return reference_; }
    double width() const override { return width_; }
    double length() const override { return length_; }
    double depth() const override { return depth_; }
    double empty_weight() const override { return empty_weight_; }
    double max_weight() const override { return max_weight_; }
    bool active() const override { return active_; }

private:
    std::string reference_;
    double width_;
    double length_;
    double depth_;
    double max_weight_;
    double empty_weight_;
    bool active_;
};

// A box type of which a packing run may open only so many boxes.
class LimitedSupplyBox : public Box {
public:
    virtual std::int32_t max_quantity() const = 0;
    nlohmann::json to_json() const override;
};

class ConcreteLimitedSupplyBox final : public LimitedSupplyBox {
public:
    ConcreteLimitedSupplyBox(ConcreteBox box, std::int32_t max_quantity);

    const std::string& reference() const override { return box_.reference(); }
    double width() const override { return box_.width(); }
    double length() const override { return box_.length(); }
    double depth() const override { return box_.depth(); }
    double empty_weight() const override { return box_.empty_weight(); }
    double max_weight() const override { return box_.max_weight(); }
    bool active() const override { return box_.active(); }
    std::int32_t max_quantity() const override { return max_quantity_; }

private:
    ConcreteBox box_;
    std::int32_t max_quantity_;
};

BoxPtr make_box(std::string reference, double width, double length, double depth, double max_weight,
                double empty_weight, bool active, std::optional<std::int32_t> max_quantity);

// The quantity limit of a box type, or nullptr for a type without one.
const LimitedSupplyBox* limited_supply_of(const Box& box);

}  // namespace stowvex
