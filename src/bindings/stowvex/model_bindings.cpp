// Python classes for the rotation freedom, items and box types.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <pybind11/stl.h>

#include "bindings/stowvex/bindings.hpp"
#include "model/box.hpp"
#include "model/item.hpp"

namespace stowvex::python {

// A float parameter of a constructor. It takes what the binding library's
// float conversion takes (int, float, anything with __float__ or __index__)
// except True and False, which would pass as 1.0 and 0.0: a flag in the slot
// of a measure is a mistake, as it is for the JSON reader.
struct Measure {
    double value = 0.0;
};

}  // namespace stowvex::python

namespace pybind11::detail {

template <>
struct type_caster<stowvex::python::Measure> {
    PYBIND11_TYPE_CASTER(stowvex::python::Measure, make_caster<double>::name);

    bool load(handle source, bool convert) {
        if (!source || PyBool_Check(source.ptr())) return false;
        make_caster<double> number;
        if (!number.load(source, convert)) return false;
        value.value = cast_op<double>(number);
        return true;
    }

    static handle cast(const stowvex::python::Measure& measure, return_value_policy, handle) {
        return PyFloat_FromDouble(measure.value);
    }
};

}  // namespace pybind11::detail

namespace stowvex::python {

namespace {

// A text parameter arrives as the bytes of a str encoded as UTF-8, or as the
// bytes of a bytes or bytearray object taken as they are. Bytes that are not
// UTF-8 would make an object whose texts cannot be read back, so they are
// refused here.
std::string utf8_text(std::string text, const char* parameter) {
    PyObject* decoded =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (decoded == nullptr) {
        PyErr_Clear();
        throw py::value_error(std::string(parameter) + " is not valid UTF-8");
    }
    Py_DECREF(decoded);
    return text;
}

ItemPtr make_checked_item(std::string item_code, std::string item_reference, Measure width,
                          Measure length, Measure depth, Measure weight, std::string box_group,
                          Rotation allowed_rotation) {
    return make_item(utf8_text(std::move(item_code), "item_code"),
                     utf8_text(std::move(item_reference), "item_reference"), width.value,
                     length.value, depth.value, weight.value,
                     utf8_text(std::move(box_group), "box_group"), allowed_rotation);
}

BoxPtr make_checked_box(std::string reference, Measure width, Measure length, Measure depth,
                        Measure max_weight, Measure empty_weight, bool active,
                        std::optional<std::int32_t> max_quantity) {
    return make_box(utf8_text(std::move(reference), "reference"), width.value, length.value,
                    depth.value, max_weight.value, empty_weight.value, active, max_quantity);
}

// The state a pickle keeps of an item or a box type: the arguments of its
// constructor, in their order, so that unpickling makes it as the
// constructor would (and checks the texts as the constructor does).
py::tuple item_state(const Item& item) {
    const std::string* group = box_group_of(item);
    return py::make_tuple(item.item_code(), item.item_reference(), item.width(), item.length(),
                          item.depth(), item.weight(), group ? *group : std::string(),
                          static_cast<int>(item.allowed_rotation()));
}

Rotation rotation_of(int value) {
    if (value < static_cast<int>(Rotation::NEVER) || value > static_cast<int>(Rotation::BEST_FIT)) {
        throw py::value_error("not a stowvex.Rotation: " + std::to_string(value));
    }
    return static_cast<Rotation>(value);
}

ItemPtr item_from_state(const py::tuple& state) {
    if (state.size() != 8) throw std::runtime_error("not the pickled state of a stowvex.Item");
    return make_checked_item(state[0].cast<std::string>(), state[1].cast<std::string>(),
                             state[2].cast<Measure>(), state[3].cast<Measure>(),
                             state[4].cast<Measure>(), state[5].cast<Measure>(),
                             state[6].cast<std::string>(), rotation_of(state[7].cast<int>()));
}

py::tuple box_state(const Box& box) {
    std::optional<std::int32_t> quantity;
    if (const auto* limited = limited_supply_of(box)) quantity = limited->max_quantity();
    return py::make_tuple(box.reference(), box.width(), box.length(), box.depth(), box.max_weight(),
                          box.empty_weight(), box.active(), quantity);
}

BoxPtr box_from_state(const py::tuple& state) {
    if (state.size() != 8) throw std::runtime_error("not the pickled state of a stowvex.Box");
    return make_checked_box(state[0].cast<std::string>(), state[1].cast<Measure>(),
                            state[2].cast<Measure>(), state[3].cast<Measure>(),
                            state[4].cast<Measure>(), state[5].cast<Measure>(),
                            state[6].cast<bool>(), state[7].cast<std::optional<std::int32_t>>());
}

}  // namespace

py::tuple reduce_by_state(const py::object& self) {
    return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"),
                          py::make_tuple(py::type::of(self)), self.attr("__getstate__")());
}

void bind_model(py::module_& m) {
    py::enum_<Rotation>(m, "Rotation", "How free an item is to be reoriented while packing.")
        .value("NEVER", Rotation::NEVER, "Must be packed exactly as given (Width/Length/Depth).")
        .value("KEEP_FLAT", Rotation::KEEP_FLAT, "May swap Width/Length but stay 'this way up'.")
        .value("BEST_FIT", Rotation::BEST_FIT, "May be placed in any of the 6 axis orderings.")
        .def("__reduce__", &reduce_by_state);

    py::class_<Item, ItemPtr>(m, "Item", "A single item to be packed.")
        .def(py::init(&make_checked_item), py::arg("item_code"), py::arg("item_reference"),
             py::arg("width"), py::arg("length"), py::arg("depth"), py::arg("weight"),
             py::arg("box_group") = std::string(), py::arg("allowed_rotation") = Rotation::BEST_FIT)
        .def_property_readonly("item_code", &Item::item_code)
        .def_property_readonly("item_reference", &Item::item_reference)
        .def_property_readonly("width", &Item::width)
        .def_property_readonly("length", &Item::length)
        .def_property_readonly("depth", &Item::depth)
        .def_property_readonly("weight", &Item::weight)
        .def_property_readonly("box_group",
                               [](const Item& item) -> std::optional<std::string> {
                                   if (const std::string* group = box_group_of(item)) return *group;
                                   return std::nullopt;
                               })
        .def_property_readonly("has_box_group",
                               [](const Item& item) { return box_group_of(item) != nullptr; })
        .def_property_readonly("allowed_rotation", &Item::allowed_rotation)
        .def_property_readonly("volume", &Item::volume)
        .def(
            "to_dict", [](const Item& item) { return json_to_python(item.to_json()); },
            "Every feature of this item as a plain Python dict.")
        .def("__repr__",
             [](const Item& item) { return "<stowvex.Item '" + item.item_code() + "'>"; })
        .def(py::pickle(&item_state, &item_from_state))
        .def("__reduce__", &reduce_by_state);

    py::class_<Box, BoxPtr>(m, "Box", "A box type available to pack items into.")
        // The flag takes True and False only, not None, 0 or 1, which the
        // library's conversion would turn into a flag.
        .def(py::init(&make_checked_box), py::arg("reference"), py::arg("width"), py::arg("length"),
             py::arg("depth"), py::arg("max_weight") = -1.0, py::arg("empty_weight") = 0.0,
             py::arg("active").noconvert() = true, py::arg("max_quantity") = py::none())
        .def_property_readonly("reference", &Box::reference)
        .def_property_readonly("width", &Box::width)
        .def_property_readonly("length", &Box::length)
        .def_property_readonly("depth", &Box::depth)
        .def_property_readonly("max_weight", &Box::max_weight)
        .def_property_readonly("has_weight_limit", &Box::has_weight_limit)
        .def_property_readonly("empty_weight", &Box::empty_weight)
        .def_property_readonly("active", &Box::active)
        .def_property_readonly("max_quantity",
                               [](const Box& box) -> std::optional<std::int32_t> {
                                   if (const auto* limited = limited_supply_of(box)) {
                                       return limited->max_quantity();
                                   }
                                   return std::nullopt;
                               })
        .def_property_readonly("has_limited_quantity",
                               [](const Box& box) { return limited_supply_of(box) != nullptr; })
        .def_property_readonly("inner_volume", &Box::inner_volume)
        .def(
            "to_dict", [](const Box& box) { return json_to_python(box.to_json()); },
            "Every feature of this box type as a plain Python dict.")
        .def("__repr__", [](const Box& box) { return "<stowvex.Box '" + box.reference() + "'>"; })
        .def(py::pickle(&box_state, &box_from_state))
        .def("__reduce__", &reduce_by_state);
}

}  // namespace stowvex::python
