// Registration functions of the extension module and the JSON-to-Python
// conversion shared by every to_dict.
#pragma once

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>

#include "bindings/result_text.hpp"

namespace stowvex::python {

namespace py = pybind11;

// A new Python object for a JSON value: objects become dicts whose keys keep
// the value's (ascending) order, integers ints and floats floats.
py::object json_to_python(const nlohmann::json& value);

void bind_model(py::module_& m);
void bind_results(py::module_& m);
void bind_entry_functions(py::module_& m);

}  // namespace stowvex::python
