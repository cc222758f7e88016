// A result text as a Python str, shared by both extension modules so that
// stowvex_tools.solve hands back exactly the str that stowvex.solve does.
#pragma once

#include <cstring>

#include <pybind11/pybind11.h>

#include "interchange/result_writer.hpp"

namespace stowvex::python {

// ASCII text is copied without decoding; other text is decoded as UTF-8.
inline pybind11::str result_text_to_python(const ResultText& result) {
    if (!result.ascii) return pybind11::str(result.text);
    const auto size = static_cast<Py_ssize_t>(result.text.size());
    PyObject* text = PyUnicode_New(size, 127);
    if (text == nullptr) throw pybind11::error_already_set();
    std::memcpy(PyUnicode_1BYTE_DATA(text), result.text.data(), result.text.size());
    return pybind11::reinterpret_steal<pybind11::str>(text);
}

}  // namespace stowvex::python
