// The stowvex extension module: docstring, then the enumeration, the classes
// and the entry functions, in registration order.
#include <cstring>
#include <exception>

#include "python/bindings.hpp"

namespace {

// JSON library errors become RuntimeError with the library's message, as the
// standard translation would make them. Parse errors quote the input they
// stopped at byte for byte, so for request bytes that are not UTF-8 the
// message itself is not UTF-8; the standard translation would then raise a
// UnicodeDecodeError about the message instead. Such bytes are shown as
// backslash escapes.
void translate_json_errors(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const nlohmann::json::exception& e) {
        const char* message = e.what();
        PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)),
                                              "backslashreplace");
        if (text == nullptr) return;  // the decoding error (memory) stays set
        PyErr_SetObject(PyExc_RuntimeError, text);
        Py_DECREF(text);
    }
}

}  // namespace

#ifndef STOWVEX_VERSION
#define STOWVEX_VERSION "0+unknown"
#endif

PYBIND11_MODULE(stowvex, m) {
    m.doc() =
        "Crateon 3D bin-packing engine.\n\n"
        "solve(json) -> json is the simplest entry point; pack_dicts(items, boxes) and "
        "pack(items, boxes) return a richer PackResult object.";
    m.attr("__version__") = STOWVEX_VERSION;
    pybind11::register_local_exception_translator(translate_json_errors);
    stowvex::python::bind_model(m);
    stowvex::python::bind_results(m);
    stowvex::python::bind_entry_functions(m);
}
