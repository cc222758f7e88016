// Reading the loading rules and testing placements against them.
#include "optimiser/loading_rules.hpp"

#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "model/orientations.hpp"

namespace stowvex::optimiser {

namespace {

using nlohmann::json;

[[noreturn]] void refuse(const std::string& where, const std::string& what) {
    throw std::invalid_argument("rules: " + where + " " + what);
}

const json& object_at(const json& parent, const char* key, const std::string& where) {
    const json& value = parent.at(key);
    if (!value.is_object()) refuse(where + "['" + key + "']", "must be an object");
    return value;
}

double number_of(const json& value, const std::string& where) {
    if (!value.is_number()) refuse(where, "must be a number");
    const double number = value.get<double>();
    if (!std::isfinite(number)) refuse(where, "must be finite");
    return number;
}

ItemRule item_rule_of(const json& keys, const std::string& where) {
    if (!keys.is_object()) refuse(where, "must be an object of rule keys");
    ItemRule rule;
    for (const auto& [key, value] : keys.items()) {
        const std::string at = where + "['" + key + "']";
        if (key == "MaxLoad") {
            const double load = number_of(value, at);
            if (load < 0.0) refuse(at, "must be 0 or more");
            rule.max_load = std::min(rule.max_load, load);
        } else if (key == "Fragile") {
            if (!value.is_boolean()) refuse(at, "must be true or false");
            if (value.get<bool>()) rule.max_load = 0.0;
        } else if (key == "Orientations") {
            if (!value.is_array() || value.empty()) {
                refuse(at, "must be a non-empty list of orientation labels");
            }
            for (const json& label : value) {
                if (!label.is_string()) refuse(at, "must hold labels such as \"WLD\"");
                const std::string text = label.get<std::string>();
                bool known = false;
                for (unsigned t = 0; t < 6; ++t) {
                    if (text == kOrientations[t].label) {
                        rule.orientations |= 1u << t;
                        known = true;
                    }
                }
                if (!known) refuse(at, "holds '" + text + "', which is none of the six labels");
            }
        } else if (key == "Stop") {
            const double stop = number_of(value, at);
            if (!(stop >= 1.0 && stop <= 1e9 && stop == std::floor(stop))) {
                refuse(at, "must be a whole number, 1 or more");
            }
            rule.stop = static_cast<int>(stop);
        } else {
            refuse(at, "is not a rule of items (MaxLoad, Fragile, Orientations, Stop)");
        }
    }
    return rule;
}

std::array<double, 2> fraction_range_of(const json& value, const std::string& where) {
    if (!value.is_array() || value.size() != 2) refuse(where, "must be a list [lo, hi]");
    const double lo = number_of(value[0], where + "[0]");
    const double hi = number_of(value[1], where + "[1]");
    if (!(0.0 <= lo && lo <= hi && hi <= 1.0)) refuse(where, "must have 0 <= lo <= hi <= 1");
    return {lo, hi};
}

CentreRange box_rule_of(const json& keys, const std::string& where) {
    if (!keys.is_object()) refuse(where, "must be an object of rule keys");
    CentreRange range;
    for (const auto& [key, value] : keys.items()) {
        const std::string at = where + "['" + key + "']";
        if (key != "CentreOfGravity") refuse(at, "is not a rule of boxes (CentreOfGravity)");
        if (!value.is_object()) refuse(at, "must be an object {\"X\": [lo, hi], \"Y\": [lo, hi]}");
        for (const auto& [axis, bounds] : value.items()) {
            if (axis == "X") {
                range.x = fraction_range_of(bounds, at + "['X']");
            } else if (axis == "Y") {
                range.y = fraction_range_of(bounds, at + "['Y']");
            } else {
                refuse(at + "['" + axis + "']", "is neither X nor Y");
            }
        }
    }
    return range;
}

// Half a unit of the last place of a double, for the error bound of a sum.
constexpr double kUnit = 0x1p-53;
// Below this a sum of whole numbers is exact.
constexpr double kExactWhole = 0x1p53;

}  // namespace

LoadingRules LoadingRules::parse(const std::string& text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        throw std::invalid_argument(std::string("rules are not JSON text: ") + e.what());
    }
    if (!document.is_object())
        refuse("the rules", "must be an object with \"items\" and \"boxes\"");
    LoadingRules rules;
    for (const auto& [key, value] : document.items()) {
        if (key != "items" && key != "boxes")
            refuse("key '" + key + "'", "is neither items nor boxes");
        (void)value;
    }
    if (document.contains("items")) {
        for (const auto& [code, keys] : object_at(document, "items", "the rules").items()) {
            const ItemRule rule = item_rule_of(keys, "items['" + code + "']");
            rules.items_[code] = rule;
        }
    }
    if (document.contains("boxes")) {
        for (const auto& [reference, keys] : object_at(document, "boxes", "the rules").items()) {
            const std::string where = "boxes['" + reference + "']";
            const CentreRange range = box_rule_of(keys, where);
            if (keys.contains("CentreOfGravity")) rules.boxes_[reference] = range;
        }
    }
    return rules;
}

const ItemRule* LoadingRules::item(const std::string& code) const {
    const auto found = items_.find(code);
    return found == items_.end() ? nullptr : &found->second;
}

const CentreRange* LoadingRules::centre(const std::string& reference) const {
    const auto found = boxes_.find(reference);
    return found == boxes_.end() ? nullptr : &found->second;
}

unsigned allowed_orientations(const Item& item, const ItemRule* rule) {
    if (rule && rule->orientations != 0) return rule->orientations;
    return (1u << orientation_count(item.allowed_rotation())) - 1u;
}

bool label_allowed(unsigned mask, const std::string& label) {
    for (unsigned t = 0; t < 6; ++t) {
        if ((mask & (1u << t)) && label == kOrientations[t].label) return true;
    }
    return false;
}

void Load::add(double each, long long count) {
    if (count <= 0) return;
    const double counted = each > 0.0 ? each : 0.0;
    const double added = counted * static_cast<double>(count);
    weight = weight + added;
    items += count;
    exact = exact && counted == std::floor(counted) && weight < kExactWhole;
}

bool bearable(const Load& load, double max_load) {
    if (load.items == 0 || max_load == kNoLoadLimit) return true;
    if (max_load <= 0.0) return false;
    if (load.exact) return load.weight <= max_load;
    // Any order of adding n weights rounds by at most (n - 1) units of the
    // sum's last place, this sum as much again.
    const double error = load.weight * kUnit * 2.0 * static_cast<double>(load.items + 1);
    return load.weight + error <= max_load;
}

bool stops_clash(const RuledItem& a, const RuledItem& b) {
    if (a.stop == 0 || b.stop == 0 || a.stop == b.stop) return false;
    // The later stop is loaded first: it must lie neither on the earlier one
    // nor between it and the door.
    const RuledItem& later = a.stop > b.stop ? a : b;
    const RuledItem& earlier = a.stop > b.stop ? b : a;
    return lies_above(later.cuboid, earlier.cuboid) ||
           lies_towards_door(later.cuboid, earlier.cuboid);
}

bool loads_kept(const std::vector<RuledItem>& items) {
    for (const RuledItem& lower : items) {
        if (lower.max_load == kNoLoadLimit) continue;
        Load load;
        for (const RuledItem& upper : items) {
            if (&upper != &lower && lies_above(upper.cuboid, lower.cuboid))
                load.add(upper.weight, 1);
        }
        if (!bearable(load, lower.max_load)) return false;
    }
    return true;
}

bool stops_kept(const std::vector<RuledItem>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].stop == 0) continue;
        for (std::size_t j = i + 1; j < items.size(); ++j) {
            if (stops_clash(items[i], items[j])) return false;
        }
    }
    return true;
}

std::optional<std::array<double, 2>> centre_of(const std::vector<RuledItem>& items) {
    bool weighted = false;
    double total = 0.0;
    std::array<double, 2> moment{0.0, 0.0};
    for (const RuledItem& item : items) {
        weighted = weighted || item.weight > 0.0;
        total += item.weight;
        for (int a = 0; a < 2; ++a) {
            moment[a] += item.weight * ((item.cuboid.low[a] + item.cuboid.high[a]) / 2.0);
        }
    }
    if (!weighted) return std::nullopt;
    // A load weighing nothing in all has no centre within any range.
    if (!(total > 0.0)) return std::array<double, 2>{std::nan(""), std::nan("")};
    return std::array<double, 2>{moment[0] / total, moment[1] / total};
}

bool centre_within(const std::array<double, 2>& centre, const Vec3& box, const CentreRange& range) {
    const std::array<double, 2>* bounds[2] = {&range.x, &range.y};
    for (int a = 0; a < 2; ++a) {
        const double lo = (*bounds[a])[0] * box[a];
        const double hi = (*bounds[a])[1] * box[a];
        // Kept a hair inside the range, so that a sum of the moments in
        // another order still lands in it; a range of no width is met exactly.
        const double margin = hi - lo > 4e-12 * box[a] ? 1e-12 * box[a] : 0.0;
        if (!(centre[a] >= lo + margin && centre[a] <= hi - margin)) return false;
    }
    return true;
}

bool centre_kept(const std::vector<RuledItem>& items, const Vec3& box, const CentreRange& range) {
    const auto centre = centre_of(items);
    return !centre || centre_within(*centre, box, range);
}

bool keeps_rules(const PackResponse& response, const LoadingRules& rules) {
    if (rules.empty()) return true;
    std::vector<RuledItem> ruled;
    for (const PackedBox& box : response.boxes().elements()) {
        ruled.clear();
        for (const PackedItem& p : box.items()) {
            const ItemRule* rule = rules.item(p.item()->item_code());
            if (!label_allowed(allowed_orientations(*p.item(), rule), p.orientation()))
                return false;
            RuledItem item;
            item.cuboid = {{p.x(), p.y(), p.z()},
                           {p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()}};
            item.weight = p.item()->weight();
            if (rule) {
                item.max_load = rule->max_load;
                item.stop = rule->stop;
            }
            ruled.push_back(item);
        }
        if (!loads_kept(ruled) || !stops_kept(ruled)) return false;
        const CentreRange* range = rules.centre(box.box()->reference());
        const Vec3 size{box.box()->width(), box.box()->length(), box.box()->depth()};
        if (range && !centre_kept(ruled, size, *range)) return false;
    }
    return true;
}

}  // namespace stowvex::optimiser
