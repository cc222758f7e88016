// Shared by the scanner tests and the request fuzz target: whether two
// collections of request fields are equal, values of the same kind and
// numbers equal bit for bit.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "interchange/request_fields.hpp"

namespace stowvex::testing {

inline bool same_value(const nlohmann::json& a, const nlohmann::json& b) {
    if (a.type() != b.type()) return false;
    if (a.is_number_float()) {
        const double x = a.get<double>(), y = b.get<double>();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    return a == b;
}

inline bool same_objects(const std::vector<ObjectFields>& a, const std::vector<ObjectFields>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].present != b[i].present) return false;
        for (std::size_t k = 0; k < a[i].members.size(); ++k) {
            if ((a[i].present >> k & 1u) != 0 && !same_value(a[i].members[k], b[i].members[k])) {
                return false;
            }
        }
    }
    return true;
}

inline bool same_fields(const RequestFields& a, const RequestFields& b) {
    return same_objects(a.items, b.items) && same_objects(a.boxes, b.boxes);
}

}  // namespace stowvex::testing
