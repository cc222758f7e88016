// Python classes for the rotation freedom, items and box types.
#include <cstdint>
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include "model/box.hpp"
#include "model/item.hpp"
#include "python/bindings.hpp"

namespace stowvex::python {

void bind_model(py::module_& m) {
    py::enum_<Rotation>(m, "Rotation", "How free an item is to be reoriented while packing.")
        .value("NEVER", Rotation::NEVER, "Must be packed exactly as given (Width/Length/Depth).")
        .value("KEEP_FLAT", Rotation::KEEP_FLAT, "May swap Width/Length but stay 'this way up'.")
        .value("BEST_FIT", Rotation::BEST_FIT, "May be placed in any of the 6 axis orderings.");

    py::class_<Item, ItemPtr>(m, "Item", "A single item to be packed.")
        .def(py::init(&make_item), py::arg("item_code"), py::arg("item_reference"),
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
             [](const Item& item) { return "<stowvex.Item '" + item.item_code() + "'>"; });

    py::class_<Box, BoxPtr>(m, "Box", "A box type available to pack items into.")
        .def(py::init(&make_box), py::arg("reference"), py::arg("width"), py::arg("length"),
             py::arg("depth"), py::arg("max_weight") = -1.0, py::arg("empty_weight") = 0.0,
             py::arg("active") = true, py::arg("max_quantity") = py::none())
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
        .def("__repr__", [](const Box& box) { return "<stowvex.Box '" + box.reference() + "'>"; });
}

}  // namespace stowvex::python
