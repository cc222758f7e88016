// The translation of JSON library errors into Python exceptions, shared by
// every extension module of the project.
#pragma once

#include <cstring>
#include <exception>

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>

namespace stowvex::python {

// JSON library errors become RuntimeError with the library's message, as the
// standard translation would make them. Parse errors quote the input they
// stopped at byte for byte, so for request bytes that are not UTF-8 the
// message itself is not UTF-8; the standard translation would then raise a
// UnicodeDecodeError about the message instead. Such bytes are shown as
// backslash escapes.
inline void translate_json_errors(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const nlohmann::json::exception& e) {
        const char* message = e.what();
        PyObject* text = PyUnicode_DecodeUTF8(
            message, static_cast<Py_ssize_t>(std::strlen(message)), "backslashreplace");
        if (text == nullptr) return;  // the decoding error (memory) stays set
        PyErr_SetObject(PyExc_RuntimeError, text);
        Py_DECREF(text);
    }
}

}  // namespace stowvex::python
