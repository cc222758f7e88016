// The three entry functions: JSON text in and out, Python values in, and
// Item/Box objects in.
#include <memory>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "bindings/stowvex/bindings.hpp"
#include "engine/packer.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"

namespace stowvex::python {

namespace {

// A Python value as JSON, through the interpreter's own json.dumps.
nlohmann::json python_to_json(const py::object& value) {
    const std::string text = py::module_::import("json").attr("dumps")(value).cast<std::string>();
    return nlohmann::json::parse(text, nullptr, true, false);
}

template <class T>
void require_no_none(const std::vector<std::shared_ptr<T>>& elements, const char* argument,
                     const char* type_name) {
    for (const auto& element : elements) {
        if (!element) {
            throw py::type_error(std::string("pack(): every element of '") + argument +
                                 "' must be a stowvex." + type_name + ", not None");
        }
    }
}

}  // namespace

void bind_entry_functions(py::module_& m) {
    m.def(
        "solve",
        [](const std::string& request_json) {
            return result_text_to_python(
                to_json_result_text(pack_items(parse_request(request_json)), -1));
        },
        py::arg("request_json"),
        "The simplest entry point: pass a JSON string shaped like\n"
        "{\"items\": [...], \"boxes\": [...]} and get a JSON string back.\n"
        "No stowvex types required on either side.");

    m.def(
        "pack_dicts",
        [](const py::object& items, const py::object& boxes) {
            ItemList item_list(std::make_shared<DefaultItemSorter>());
            read_items(python_to_json(items), item_list);
            BoxList box_list(std::make_shared<DefaultBoxSorter>());
            read_boxes(python_to_json(boxes), box_list);
            return pack_items(item_list, box_list);
        },
        py::arg("items"), py::arg("boxes"),
        "Like solve(), but takes/returns native Python objects: pass lists\n"
        "of plain dicts shaped like items.json / boxes.json and get back a\n"
        "rich PackResult with attribute access to every feature.");

    m.def(
        "pack",
        [](const std::vector<ItemPtr>& items, const std::vector<BoxPtr>& boxes) {
            require_no_none(items, "items", "Item");
            require_no_none(boxes, "boxes", "Box");
            ItemList item_list(std::make_shared<DefaultItemSorter>());
            for (const ItemPtr& item : items) item_list.add(item);
            BoxList box_list(std::make_shared<DefaultBoxSorter>());
            for (const BoxPtr& box : boxes) box_list.add(box);
            return pack_items(item_list, box_list);
        },
        py::arg("items"), py::arg("boxes"),
        "Like pack_dicts(), but takes lists of stowvex.Item / stowvex.Box\n"
        "objects instead of plain dicts.");
}

}  // namespace stowvex::python
