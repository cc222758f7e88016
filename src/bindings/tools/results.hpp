// Results made from placements computed in Python.
#pragma once

#include <pybind11/pybind11.h>

namespace stowvex::tools {

namespace py = pybind11;

void bind_results(py::module_& m);

}  // namespace stowvex::tools
