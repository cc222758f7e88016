// The private extension stowvex_tools._native, the compiled part of the
// companion package: the optimiser's search, called by stowvex_tools.optimise
// and its siblings, and the engine's packing tally, read by
// stowvex_tools.packing_work. Results of the search are the engine's own
// PackResult, whose class the stowvex module registers.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/json_errors.hpp"
#include "engine/packer.hpp"
#include "engine/packing_tally.hpp"
#include "interchange/request_reader.hpp"
#include "optimiser/optimiser.hpp"

namespace py = pybind11;

namespace {

using stowvex::optimiser::OptimiserOptions;

OptimiserOptions options_of(std::optional<double> time_limit, std::optional<std::uint64_t> effort,
                            std::uint64_t seed, double min_support,
                            std::optional<std::map<std::string, double>> box_costs, int threads) {
    OptimiserOptions options;
    options.time_limit = time_limit;
    options.effort = effort;
    options.seed = seed;
    options.min_support = min_support;
    options.box_costs = std::move(box_costs);
    options.threads = threads;
    return options;
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "The compiled part of stowvex_tools; use that package's functions.";
    // PackResult, Item and Box are registered by stowvex.
    py::module_::import("stowvex");
    py::register_local_exception_translator(stowvex::python::translate_json_errors);

    m.def(
        "optimise",
        [](const std::vector<stowvex::ItemPtr>& items, const std::vector<stowvex::BoxPtr>& boxes,
           std::optional<double> time_limit, std::optional<std::uint64_t> effort,
           std::uint64_t seed, double min_support,
           std::optional<std::map<std::string, double>> box_costs, int threads) {
            stowvex::ItemList item_list(std::make_shared<stowvex::DefaultItemSorter>());
            for (const stowvex::ItemPtr& item : items) {
                if (!item) throw py::type_error("every element of 'items' must be a stowvex.Item");
                item_list.add(item);
            }
            stowvex::BoxList box_list(std::make_shared<stowvex::DefaultBoxSorter>());
            for (const stowvex::BoxPtr& box : boxes) {
                if (!box) throw py::type_error("every element of 'boxes' must be a stowvex.Box");
                box_list.add(box);
            }
            const OptimiserOptions options =
                options_of(time_limit, effort, seed, min_support, std::move(box_costs), threads);
            py::gil_scoped_release unlocked;
            return stowvex::optimise_items(item_list, box_list, options);
        },
        py::arg("items"), py::arg("boxes"), py::kw_only(), py::arg("time_limit"), py::arg("effort"),
        py::arg("seed"), py::arg("min_support"), py::arg("box_costs"), py::arg("threads"),
        "Optimises the packing of Item and Box objects.");

    m.def(
        "optimise_request",
        [](const std::string& request_json, std::optional<double> time_limit,
           std::optional<std::uint64_t> effort, std::uint64_t seed, double min_support,
           std::optional<std::map<std::string, double>> box_costs, int threads) {
            const OptimiserOptions options =
                options_of(time_limit, effort, seed, min_support, std::move(box_costs), threads);
            py::gil_scoped_release unlocked;
            const stowvex::PackRequest request = stowvex::parse_request(request_json);
            return stowvex::optimise_items(request.items, request.boxes, options);
        },
        py::arg("request_json"), py::kw_only(), py::arg("time_limit"), py::arg("effort"),
        py::arg("seed"), py::arg("min_support"), py::arg("box_costs"), py::arg("threads"),
        "Optimises the packing of a request in the JSON text that stowvex.solve reads.");

    m.def(
        "packing_work",
        [](const std::string& request_json) {
            py::gil_scoped_release unlocked;
            const stowvex::PackRequest request = stowvex::parse_request(request_json);
            const stowvex::PackingTally before = stowvex::packing_tally();
            stowvex::pack_items(request);
            const stowvex::PackingTally after = stowvex::packing_tally();
            return std::make_tuple(after.asked - before.asked, after.packed - before.packed);
        },
        py::arg("request_json"),
        "Packs a request in the JSON text that stowvex.solve reads with the engine, and gives\n"
        "(asked, packed): the single-box packings its method calls for, and those it packed.");
}
