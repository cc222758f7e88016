// The box types a solution may use: every active type, with its cost, and
// the quantity limits counted per reference, as the engine counts them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/box.hpp"

namespace stowvex::optimiser {

struct BoxType {
    BoxPtr box;
    double volume = 0.0;
    double cost = 0.0;  // the box's cost, or its volume when no costs are given
    int reference = 0;  // index of its reference among the distinct references
    int limit = -1;     // most boxes of its reference a solution may use; -1 without a limit
};

class BoxTypes {
public:
    // The active types of `boxes`, in their order. `costs` gives each type's
    // cost (parallel to `boxes`); empty means costs are volumes.
    BoxTypes(const std::vector<BoxPtr>& boxes, const std::vector<double>& costs);

    std::size_t size() const { return types_.size(); }
    const BoxType& operator[](std::size_t t) const { return types_[t]; }
    std::size_t reference_count() const { return reference_count_; }

private:
    std::vector<BoxType> types_;
    std::size_t reference_count_ = 0;
};

// How many boxes of each type a solution uses. A box of a type may be added
// while the quantity rule (packing_rules.hpp) allows another box of its
// reference under the limit of every type of that reference that is in use,
// or is the type added: a solution's boxes keep every limit whatever order
// they were opened in.
class QuantityLedger {
public:
    explicit QuantityLedger(const BoxTypes& types);

    bool can_add(std::size_t type) const;
    // How many more boxes of `type` may be added; kUnlimited without a limit.
    std::size_t room(std::size_t type) const;
    // How many more boxes of any of `types` may be added, at most.
    std::size_t room_among(const std::vector<std::size_t>& types) const;
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);
    void add(std::size_t type);
    void remove(std::size_t type);
    // Whether `type` may replace a box of type `old`.
    bool can_swap(std::size_t old, std::size_t type);

private:
    const BoxTypes* types_;
    std::vector<int> by_type_;
    std::vector<int> by_reference_;
};

}  // namespace stowvex::optimiser
