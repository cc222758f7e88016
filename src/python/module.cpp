// The stowvex extension module: docstring, then the enumeration, the classes
// and the entry functions, in registration order.
#include "python/bindings.hpp"

PYBIND11_MODULE(stowvex, m) {
    m.doc() =
        "Crateon 3D bin-packing engine.\n\n"
        "solve(json) -> json is the simplest entry point; pack_dicts(items, boxes) and "
        "pack(items, boxes) return a richer PackResult object.";
    stowvex::python::bind_model(m);
    stowvex::python::bind_results(m);
    stowvex::python::bind_entry_functions(m);
}
