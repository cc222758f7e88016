// JSON values to plain Python objects.
#include <cstdint>

#include "bindings/stowvex/bindings.hpp"

namespace stowvex::python {

py::object json_to_python(const nlohmann::json& value) {
    using value_t = nlohmann::json::value_t;
    switch (value.type()) {
        case value_t::null: return py::none();
        case value_t::boolean: return py::bool_(value.get<bool>());
        case value_t::number_integer:
        case value_t::number_unsigned: return py::int_(value.get<std::int64_t>());
        case value_t::number_float: return py::float_(value.get<double>());
        case value_t::string: return py::str(value.get_ref<const std::string&>());
        case value_t::array: {
            py::list list;
            for (const auto& element : value) list.append(json_to_python(element));
            return std::move(list);
        }
        case value_t::object: {
            py::dict dict;
            for (const auto& [key, member] : value.items())
                dict[py::str(key)] = json_to_python(member);
            return std::move(dict);
        }
        default: return py::none();
    }
}

}  // namespace stowvex::python
