// Results made from placements computed in Python, such as settled layouts:
// the engine's own PackResult, so that every figure is the engine's.
#include "bindings/tools/results.hpp"

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "model/pack_response.hpp"
#include "model/packed_box.hpp"
#include "model/sorters.hpp"

namespace stowvex::tools {

namespace {

// An item, its placed sides (width, length, depth), its orientation label and
// its position.
using Placement = std::tuple<ItemPtr, double, double, double, std::string, double, double, double>;
using BoxPlacements = std::pair<BoxPtr, std::vector<Placement>>;

PackResponse result_of(const std::vector<BoxPlacements>& boxes,
                       const std::vector<ItemPtr>& unplaced) {
    PackedBoxList packed(std::make_shared<DefaultPackedBoxSorter>());
    for (const auto& [box, placements] : boxes) {
        if (!box) throw py::type_error("every box must be a stowvex.Box");
        PackedBox one(box);
        for (const auto& [item, width, length, depth, orientation, x, y, z] : placements) {
            if (!item) throw py::type_error("every placed item must be a stowvex.Item");
            one.add(PackedItem(item, width, length, depth, orientation, x, y, z));
        }
        packed.add(std::move(one));
    }
    ItemList left(std::make_shared<DefaultItemSorter>());
    for (const ItemPtr& item : unplaced) {
        if (!item) throw py::type_error("every unplaced item must be a stowvex.Item");
        left.add(item);
    }
    const bool success = unplaced.empty();
    return PackResponse(success, std::move(packed), std::move(left));
}

}  // namespace

void bind_results(py::module_& m) {
    m.def("result_of", &result_of, py::arg("boxes"), py::arg("unplaced"),
          "A PackResult of these boxes, each a Box and its placements (item, placed "
          "width, length and depth, orientation label, x, y, z), and unplaced items.");
}

}  // namespace stowvex::tools
