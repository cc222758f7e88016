// JSON values and result texts to plain Python objects.
#include <cstdint>
#include <cstring>

#include "bindings/stowvex/bindings.hpp"

namespace stowvex::python {

py::str result_text_to_python(const ResultText& result) {
    if (!result.ascii) return py::str(result.text);
    const auto size = static_cast<Py_ssize_t>(result.text.size());
    PyObject* text = PyUnicode_New(size, 127);
    if (text == nullptr) throw py::error_already_set();
    std::memcpy(PyUnicode_1BYTE_DATA(text), result.text.data(), result.text.size());
    return py::reinterpret_steal<py::str>(text);
}

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
