// Python classes for the outcome of a packing run: placements, packed boxes
// and the result itself. None of them can be made from Python.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "bindings/stowvex/bindings.hpp"
#include "interchange/result_writer.hpp"
#include "model/pack_response.hpp"
#include "model/sorters.hpp"

namespace stowvex::python {

namespace {

// "%f" of a coordinate, however many digits: a large double has hundreds.
std::string fixed(double value) {
    const int size = std::snprintf(nullptr, 0, "%f", value);
    if (size < 0) return std::string();
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%f", value);
    text.resize(static_cast<std::size_t>(size));
    return text;
}

// The pickled state of a placement, a packed box and a result holds their
// parts as they are, not their sorted views: a copy made from it sorts its
// lists exactly as the original does. The items and box types inside pickle
// as themselves, so one item placed in a box and listed elsewhere stays one
// object in the copy, as pickle keeps shared objects shared.
py::tuple placement_state(const PackedItem& p) {
    return py::make_tuple(p.item(), p.width(), p.length(), p.depth(), p.orientation(), p.x(), p.y(),
                          p.z());
}

PackedItem placement_from_state(const py::tuple& state) {
    if (state.size() != 8) {
        throw std::runtime_error("not the pickled state of a stowvex.PackedItem");
    }
    auto item = state[0].cast<ItemPtr>();
    if (!item) throw std::runtime_error("the pickled state of a stowvex.PackedItem has no item");
    return PackedItem(std::move(item), state[1].cast<double>(), state[2].cast<double>(),
                      state[3].cast<double>(), state[4].cast<std::string>(),
                      state[5].cast<double>(), state[6].cast<double>(), state[7].cast<double>());
}

py::tuple packed_box_state(const PackedBox& box) { return py::make_tuple(box.box(), box.items()); }

PackedBox packed_box_from_state(const py::tuple& state) {
    if (state.size() != 2) throw std::runtime_error("not the pickled state of a stowvex.PackedBox");
    auto type = state[0].cast<BoxPtr>();
    if (!type) throw std::runtime_error("the pickled state of a stowvex.PackedBox has no box");
    PackedBox box(std::move(type));
    for (PackedItem& placement : state[1].cast<std::vector<PackedItem>>()) {
        box.add(std::move(placement));
    }
    return box;
}

py::tuple result_state(const PackResponse& r) {
    return py::make_tuple(r.success(), r.boxes().elements(), r.unplaced_items().elements());
}

PackResponse result_from_state(const py::tuple& state) {
    if (state.size() != 3)
        throw std::runtime_error("not the pickled state of a stowvex.PackResult");
    PackedBoxList boxes(std::make_shared<DefaultPackedBoxSorter>());
    for (PackedBox& box : state[1].cast<std::vector<PackedBox>>()) boxes.add(std::move(box));
    ItemList unplaced(std::make_shared<DefaultItemSorter>());
    for (ItemPtr& item : state[2].cast<std::vector<ItemPtr>>()) {
        if (!item)
            throw std::runtime_error("the pickled state of a stowvex.PackResult has no item");
        unplaced.add(std::move(item));
    }
    return PackResponse(state[0].cast<bool>(), std::move(boxes), std::move(unplaced));
}

}  // namespace

void bind_results(py::module_& m) {
    py::class_<PackedItem>(m, "PackedItem", "An Item placed at a specific position inside a box.")
        .def_property_readonly("item", &PackedItem::item, "The original Item that was placed.")
        .def_property_readonly("x", &PackedItem::x)
        .def_property_readonly("y", &PackedItem::y)
        .def_property_readonly("z", &PackedItem::z)
        .def_property_readonly("width", &PackedItem::width, "Placed (post-rotation) width.")
        .def_property_readonly("length", &PackedItem::length, "Placed (post-rotation) length.")
        .def_property_readonly("depth", &PackedItem::depth, "Placed (post-rotation) depth.")
        .def_property_readonly("weight", &PackedItem::weight)
        .def_property_readonly("volume", &PackedItem::volume)
        .def_property_readonly("orientation", &PackedItem::orientation,
                               "Axis mapping used, e.g. 'WLD' = original order, 'LWD' = "
                               "width/length swapped, etc.")
        .def_property_readonly("rotated", &PackedItem::rotated,
                               "True if this item was not placed in its original orientation.")
        .def("to_dict", [](const PackedItem& p) { return json_to_python(to_json(p)); })
        .def("__repr__",
             [](const PackedItem& p) {
                 return "<stowvex.PackedItem '" + p.item()->item_code() + "' @ (" + fixed(p.x()) +
                        ", " + fixed(p.y()) + ", " + fixed(p.z()) + ")>";
             })
        .def(py::pickle(&placement_state, &placement_from_state))
        .def("__reduce__", &reduce_by_state);

    py::class_<PackedBox>(m, "PackedBox", "A box together with everything packed into it.")
        .def_property_readonly("box", &PackedBox::box)
        .def_property_readonly("items", [](const PackedBox& box) { return box.items(); })
        .def_property_readonly("weight", &PackedBox::weight, "Empty weight + all item weights.")
        .def_property_readonly("item_weight", &PackedBox::item_weight)
        .def_property_readonly("max_weight", &PackedBox::max_weight)
        .def_property_readonly("remaining_weight", &PackedBox::remaining_weight)
        .def_property_readonly("used_volume", &PackedBox::used_volume)
        .def_property_readonly("inner_volume", &PackedBox::inner_volume)
        .def_property_readonly("unused_volume", &PackedBox::unused_volume)
        .def_property_readonly("volume_utilisation", &PackedBox::volume_utilisation,
                               "Used volume as a percentage (0-100) of inner volume.")
        .def_property_readonly("used_width", &PackedBox::used_width)
        .def_property_readonly("used_length", &PackedBox::used_length)
        .def_property_readonly("used_depth", &PackedBox::used_depth)
        .def_property_readonly("remaining_width", &PackedBox::remaining_width)
        .def_property_readonly("remaining_length", &PackedBox::remaining_length)
        .def_property_readonly("remaining_depth", &PackedBox::remaining_depth)
        .def("to_dict", [](const PackedBox& box) { return json_to_python(to_json(box)); })
        .def("__len__", &PackedBox::item_count)
        .def("__repr__",
             [](const PackedBox& box) {
                 return "<stowvex.PackedBox '" + box.box()->reference() +
                        "' items=" + std::to_string(box.item_count()) + ">";
             })
        .def(py::pickle(&packed_box_state, &packed_box_from_state))
        .def("__reduce__", &reduce_by_state);

    py::class_<PackResponse>(m, "PackResult", "The outcome of a packing run.")
        .def_property_readonly("success", &PackResponse::success,
                               "True if every item was placed in some box.")
        .def_property_readonly("boxes",
                               [](const PackResponse& r) { return r.boxes().sorted_view(); })
        .def_property_readonly(
            "unplaced_items",
            [](const PackResponse& r) { return r.unplaced_items().sorted_view(); })
        .def_property_readonly("overall_volume_utilisation",
                               &PackResponse::overall_volume_utilisation)
        .def_property_readonly("total_placed", &PackResponse::total_placed)
        .def_property_readonly("total_unplaced", &PackResponse::total_unplaced)
        .def(
            "to_dict", [](const PackResponse& r) { return json_to_python(to_json(r)); },
            "The full result -- every box, every placed item, and every unplaced item -- as a "
            "plain Python dict.")
        .def(
            "to_json",
            [](const PackResponse& r, int indent) {
                return result_text_to_python(to_json_result_text(r, indent));
            },
            py::arg("indent") = 2, "The full result as a JSON string.")
        .def("__repr__",
             [](const PackResponse& r) {
                 return std::string("<stowvex.PackResult success=") +
                        (r.success() ? "True" : "False") +
                        " boxes=" + std::to_string(r.box_count()) +
                        " unplaced=" + std::to_string(r.total_unplaced()) + ">";
             })
        .def(py::pickle(&result_state, &result_from_state))
        .def("__reduce__", &reduce_by_state);
}

}  // namespace stowvex::python
