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

// __reduce__ of a class that pickles through __getstate__ and __setstate__: a new
// instance of the object's class made by copyreg.__newobj__, then its state. With
// it every pickle protocol takes the same road; without it protocols 0 and 1 go
// through copyreg._reduce_ex, which the binding library's classes cannot survive.
py::tuple reduce_by_state(const py::object& self);

void bind_model(py::module_& m);
void bind_results(py::module_& m);
void bind_entry_functions(py::module_& m);

}  // namespace stowvex::python
