// What every packing result promises about the request it answers, checked
// without trusting the engine's own figures: items accounted for, placements
// inside their boxes, apart from each other and turned only as allowed,
// weight and quantity limits kept, box groups whole. Rounding is allowed for
// where the engine adds coordinates or weights in doubles.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/pack_response.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex::fuzzing {

// Whether the placed extents are the item's measures in the order the label
// names, and the label a turn the item's rotation freedom allows.
inline bool orientation_allowed(const PackedItem& p) {
    const Item& item = *p.item();
    const std::string& label = p.orientation();
    if (label.size() != 3) return false;
    std::string letters = label;
    std::sort(letters.begin(), letters.end());
    if (letters != "DLW") return false;
    const auto measure = [&](char c) {
        return c == 'W' ? item.width() : c == 'L' ? item.length() : item.depth();
    };
    if (measure(label[0]) != p.width() || measure(label[1]) != p.length() ||
        measure(label[2]) != p.depth()) {
        return false;
    }
    switch (item.allowed_rotation()) {
        case Rotation::NEVER: return label == "WLD";
        case Rotation::KEEP_FLAT: return label == "WLD" || label == "LWD";
        default: return true;
    }
}

// Slack for coordinates that went through a few roundings: a small fraction
// of the largest finite magnitude involved.
inline double coordinate_slack(std::initializer_list<double> values) {
    double largest = 0.0;
    for (const double v : values) {
        if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
    }
    return largest * 0x1p-40;
}

// Overlap of [a, a + a_size) and [b, b + b_size) along one axis, or 0.
inline double overlap_along(double a, double a_size, double b, double b_size) {
    const double overlap = std::min(a + a_size, b + b_size) - std::max(a, b);
    return overlap > 0.0 ? overlap : 0.0;
}

inline bool overlap_beyond_rounding(const PackedItem& a, const PackedItem& b, const Box& box) {
    const double slack = coordinate_slack(
        {box.width(), box.length(), box.depth(), a.x(), a.y(), a.z(), b.x(), b.y(), b.z()});
    return overlap_along(a.x(), a.width(), b.x(), b.width()) > slack &&
           overlap_along(a.y(), a.length(), b.y(), b.length()) > slack &&
           overlap_along(a.z(), a.depth(), b.z(), b.depth()) > slack;
}

inline bool inside_box(const PackedItem& p, const Box& box) {
    const double slack =
        coordinate_slack({box.width(), box.length(), box.depth(), p.x(), p.y(), p.z(),
                          p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()});
    const auto within = [&](double at, double size, double room) {
        return at >= -slack && at + size <= room + slack;
    };
    return within(p.x(), p.width(), box.width()) && within(p.y(), p.length(), box.length()) &&
           within(p.z(), p.depth(), box.depth());
}

// Under a weight limit the items of a box weigh no more than the box's
// budget. Only the items' positive weights count: a negative weight is no
// room for others. The engine adds weights in another order than here, so
// each order may be off by its rounding.
inline bool within_weight_limit(const PackedBox& packed) {
    const Box& box = *packed.box();
    if (!box.has_weight_limit()) return true;
    double positive = 0.0;
    for (const PackedItem& p : packed.items()) {
        const double w = p.item()->weight();
        if (std::isnan(w)) return false;
        if (w > 0.0) positive += w;
    }
    if (!std::isfinite(positive)) return positive <= box.max_item_weight();
    const double n = static_cast<double>(packed.item_count());
    const double rounding = 2.0 * n * std::numeric_limits<double>::epsilon() * positive;
    return positive <= box.max_item_weight() + rounding;
}

// The first broken promise of a response to the two lists, or "" when it
// keeps them all.
inline std::string broken_invariant(const ItemList& items, const BoxList& boxes,
                                    const PackResponse& response) {
    const std::vector<PackedBox>& packed = response.boxes().sorted_view();

    // Every entry of the item list is placed once or unplaced once.
    std::map<const Item*, long> balance;
    for (const ItemPtr& item : items.elements()) ++balance[item.get()];
    std::size_t placed = 0;
    for (const PackedBox& box : packed) {
        for (const PackedItem& p : box.items()) {
            --balance[p.item().get()];
            ++placed;
        }
    }
    for (const ItemPtr& item : response.unplaced_items().elements()) --balance[item.get()];
    for (const auto& entry : balance) {
        if (entry.second != 0) return "an item was lost or placed twice";
    }
    if (placed != response.total_placed()) return "total_placed disagrees with the boxes";
    if (response.success() != response.unplaced_items().empty()) return "success flag is wrong";

    std::set<const Box*> active_types;
    std::map<std::string, std::vector<const Box*>> types_by_reference;
    for (const BoxPtr& box : boxes.elements()) {
        if (box->active()) active_types.insert(box.get());
        types_by_reference[box->reference()].push_back(box.get());
    }
    std::map<const Box*, long> uses;
    std::map<std::string, long> uses_by_reference;
    std::map<std::string, std::set<std::size_t>> group_boxes;
    for (std::size_t index = 0; index < packed.size(); ++index) {
        const PackedBox& box = packed[index];
        const Box& type = *box.box();
        if (active_types.count(&type) == 0) return "a box is of no active type of the request";
        if (box.item_count() == 0) return "an empty box";
        ++uses[&type];
        ++uses_by_reference[type.reference()];
        const std::vector<PackedItem>& placements = box.items();
        for (std::size_t a = 0; a < placements.size(); ++a) {
            const PackedItem& p = placements[a];
            if (!orientation_allowed(p)) return "a turn the item does not allow";
            if (!inside_box(p, type)) return "a placement outside its box";
            for (std::size_t b = a + 1; b < placements.size(); ++b) {
                if (p.item() == placements[b].item()) return "one item twice in a box";
                if (overlap_beyond_rounding(p, placements[b], type)) return "placements overlap";
            }
            if (const std::string* group = box_group_of(*p.item()))
                group_boxes[*group].insert(index);
        }
        if (!within_weight_limit(box)) return "a box over its weight limit";
    }

    // Quantity limits: a limited type opens at most max_quantity boxes, and
    // a reference whose types are all limited no more than the largest limit.
    for (const auto& [type, count] : uses) {
        const LimitedSupplyBox* limited = limited_supply_of(*type);
        if (limited != nullptr && count > std::max<long>(0, limited->max_quantity())) {
            return "a limited box type used too often";
        }
    }
    for (const auto& [reference, count] : uses_by_reference) {
        long largest = 0;
        bool all_limited = true;
        for (const Box* type : types_by_reference[reference]) {
            const LimitedSupplyBox* limited = limited_supply_of(*type);
            all_limited = all_limited && limited != nullptr;
            if (limited != nullptr) largest = std::max<long>(largest, limited->max_quantity());
        }
        if (all_limited && count > largest) return "a limited box reference used too often";
    }

    // A box group travels in one box, whole, or stays out whole.
    for (const auto& [group, holders] : group_boxes) {
        if (holders.size() > 1) return "a box group split between boxes";
        for (const ItemPtr& item : response.unplaced_items().elements()) {
            const std::string* other = box_group_of(*item);
            if (other != nullptr && *other == group) return "a box group partly unplaced";
        }
    }
    return "";
}

}  // namespace stowvex::fuzzing
