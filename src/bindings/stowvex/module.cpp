// The stowvex extension module: docstring, then the enumeration, the classes
// and the entry functions, in registration order.
#include "bindings/json_errors.hpp"
#include "bindings/stowvex/bindings.hpp"

#ifndef STOWVEX_VERSION
#define STOWVEX_VERSION "0+unknown"
#endif

PYBIND11_MODULE(stowvex, m) {
    m.doc() =
        "Crateon 3D bin-packing engine.\n\n"
        "solve(json) -> json is the simplest entry point; pack_dicts(items, boxes) and "
        "pack(items, boxes) return a richer PackResult object.";
    m.attr("__version__") = STOWVEX_VERSION;
    pybind11::register_local_exception_translator(stowvex::python::translate_json_errors);
    stowvex::python::bind_model(m);
    stowvex::python::bind_results(m);
    stowvex::python::bind_entry_functions(m);
}
