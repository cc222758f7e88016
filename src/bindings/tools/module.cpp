// The private extension stowvex_tools._native, the compiled part of the
// companion package: the optimiser's search, called by stowvex_tools.optimise
// and its siblings, with the loading rules as JSON text; the engine's entry
// points with the interpreter lock released, a timeout and Ctrl-C, called by
// stowvex_tools.solve, pack and pack_dicts; and the engine's packing tally,
// read by stowvex_tools.packing_work. Results are the engine's own
// PackResult, whose class the stowvex module registers.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/json_errors.hpp"
#include "bindings/result_text.hpp"
#include "bindings/tools/results.hpp"
#include "engine/packer.hpp"
#include "engine/packing_control.hpp"
#include "engine/packing_tally.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"
#include "optimiser/optimiser.hpp"
#include "optimiser/work_budget.hpp"

namespace py = pybind11;

namespace {

using stowvex::optimiser::OptimiserOptions;

// The rules arrive as JSON text, which the optimiser reads (and refuses with
// std::invalid_argument, a ValueError, when malformed).
OptimiserOptions options_of(std::optional<double> time_limit, std::optional<std::uint64_t> effort,
                            std::uint64_t seed, double min_support,
                            std::optional<std::map<std::string, double>> box_costs, int threads,
                            const std::optional<std::string>& rules) {
    OptimiserOptions options;
    if (rules) options.rules = stowvex::optimiser::LoadingRules::parse(*rules);
    options.time_limit = time_limit;
    options.effort = effort;
    options.seed = seed;
    options.min_support = min_support;
    options.box_costs = std::move(box_costs);
    options.threads = threads;
    return options;
}

using Clock = stowvex::PackingControl::Clock;

// What is left of a call's time limit for the optimiser, which counts its
// time from its own start: the limit less the time since the call began
// (reading the request, copying the items in) and an allowance for handing
// out a result of that many items (some 2 µs an item). Never zero, which the
// optimiser refuses: a limit used up leaves a nanosecond, so that it returns
// its first valid result.
std::optional<double> time_left(std::optional<double> time_limit, Clock::time_point started,
                                std::size_t items) {
    // A limit out of range goes on as it is, for the optimiser to refuse.
    if (!time_limit || !(std::isfinite(*time_limit) && *time_limit > 0.0)) return time_limit;
    const double spent = std::chrono::duration<double>(Clock::now() - started).count();
    const double left = *time_limit - spent - 2e-6 * static_cast<double>(items);
    return left > 1e-9 ? left : 1e-9;
}

// A timeout longer than this (some three years) is no limit: the deadline
// must stay within the clock's range.
constexpr double kLongestTimeout = 1e8;
// The longest a look for pending signals is put off after a slow one.
constexpr std::chrono::milliseconds kLongestLookDelay{50};

// Polls of this thread that are running Python's signal handlers, in which
// a handler may call this module again.
thread_local int polls_running = 0;

// Runs `work` with the interpreter lock released. A packing of this thread
// whose poll is running a signal handler is suspended half-way, its buffers
// in use (the engine keeps them per thread): a packing the handler asks for
// then runs on a thread of its own, which this one waits for.
template <class Work>
void run_released(Work&& work) {
    py::gil_scoped_release unlocked;
    if (polls_running == 0) {
        work();
        return;
    }
    std::exception_ptr error;
    std::thread helper([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    });
    helper.join();
    if (error) std::rethrow_exception(error);
}

// One call's control of its packing: a deadline from its timeout and the
// threads it may use, and, on the main thread, a poll that runs pending
// signal handlers (Ctrl-C) about every 10 ms. The call's time starts when the
// control is made.
class CallControl {
public:
    CallControl(std::optional<double> timeout, int threads, bool watch_signals) {
        if (timeout) {
            const std::chrono::duration<double> limit(std::min(*timeout, kLongestTimeout));
            control_.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
        }
        control_.threads = threads;
        if (watch_signals) {
            control_.poll = &CallControl::poll_signals;
            control_.poll_context = this;
        }
    }
    CallControl(const CallControl&) = delete;
    CallControl& operator=(const CallControl&) = delete;

    // Runs `work` under this control with the interpreter lock released;
    // false when it was stopped. Other errors pass.
    template <class Work>
    bool run(Work&& work) {
        bool finished = false;
        if (polls_running > 0) control_.poll = nullptr;  // on a helper thread: no signals there
        run_released([&] {
            const stowvex::PackingControlScope scope(control_);
            try {
                work();
                finished = true;
            } catch (const stowvex::PackingStopped&) {
            }
        });
        return finished;
    }

    // What a stopped call gives: it raises what a signal handler raised, or
    // returns None for a timeout.
    py::object stopped() {
        if (signal_error_) throw *signal_error_;
        return py::none();
    }

private:
    // While other threads run Python, taking the lock means waiting for one
    // of them to let go of it, up to the interpreter's switch interval: the
    // next look is put off so that the packing waits at most a tenth of its
    // time, a few tens of milliseconds at most.
    static bool poll_signals(void* context) {
        auto* self = static_cast<CallControl*>(context);
        const Clock::time_point asked = Clock::now();
        if (asked < self->next_look_) return false;
        const py::gil_scoped_acquire locked;
        const Clock::duration waited = Clock::now() - asked;
        ++polls_running;
        const int status = PyErr_CheckSignals();
        --polls_running;
        if (status != 0) {
            self->signal_error_.emplace();  // takes the exception the handler raised
            return true;
        }
        // A wait stretched by the process being held up (a busy or paused
        // machine) must not put the next look off for long.
        self->next_look_ = Clock::now() + std::min<Clock::duration>(9 * waited, kLongestLookDelay);
        return false;
    }

    stowvex::PackingControl control_;
    Clock::time_point next_look_;
    std::optional<py::error_already_set> signal_error_;
};

// A function of the stowvex module, called to raise the very error it raises
// for input this module cannot take.
py::object designed(const char* name) { return py::module_::import("stowvex").attr(name); }

// Whether an error from reading Python values is an ordinary error of the
// input, which the designed function raises again, rather than one such as
// KeyboardInterrupt, which must go on at once.
bool input_error(const py::error_already_set& error) { return error.matches(PyExc_Exception); }

template <class T>
bool load(const py::handle& value, T& out) {
    py::detail::make_caster<T> caster;
    if (!caster.load(value, true)) return false;
    out = py::detail::cast_op<T&&>(std::move(caster));
    return true;
}

template <class T>
bool any_none(const std::vector<std::shared_ptr<T>>& elements) {
    return std::any_of(elements.begin(), elements.end(), [](const auto& e) { return !e; });
}

// The JSON text of a Python value, through json.dumps as stowvex.pack_dicts
// makes it.
std::string dumped(const py::handle& value) {
    return py::module_::import("json").attr("dumps")(value).cast<std::string>();
}

nlohmann::json parsed(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/true,
                                 /*ignore_comments=*/false);
}

const char* const kSolveDoc =
    "stowvex.solve with the interpreter lock released, under a timeout (seconds, or None)\n"
    "and, with watch_signals, Ctrl-C; None when the timeout stopped it.";
const char* const kPackDoc =
    "stowvex.pack with the interpreter lock released, under a timeout (seconds, or None)\n"
    "and, with watch_signals, Ctrl-C; None when the timeout stopped it.";
const char* const kPackDictsDoc =
    "stowvex.pack_dicts with the interpreter lock released, under a timeout (seconds, or\n"
    "None) and, with watch_signals, Ctrl-C; None when the timeout stopped it.";

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "The compiled part of stowvex_tools; use that package's functions.";
    // PackResult, Item and Box are registered by stowvex.
    py::module_::import("stowvex");
    py::register_local_exception_translator(stowvex::python::translate_json_errors);
    stowvex::tools::bind_results(m);

    m.def(
        "optimise",
        [](const std::vector<stowvex::ItemPtr>& items, const std::vector<stowvex::BoxPtr>& boxes,
           std::optional<double> time_limit, std::optional<std::uint64_t> effort,
           std::uint64_t seed, double min_support,
           std::optional<std::map<std::string, double>> box_costs, int threads,
           const std::optional<std::string>& rules) {
            const Clock::time_point started = Clock::now();
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
            OptimiserOptions options = options_of(time_limit, effort, seed, min_support,
                                                  std::move(box_costs), threads, rules);
            std::optional<stowvex::PackResponse> result;
            run_released([&] {
                options.time_limit = time_left(time_limit, started, items.size());
                result.emplace(stowvex::optimise_items(item_list, box_list, options));
            });
            return std::move(*result);
        },
        py::arg("items"), py::arg("boxes"), py::kw_only(), py::arg("time_limit"), py::arg("effort"),
        py::arg("seed"), py::arg("min_support"), py::arg("box_costs"), py::arg("threads"),
        py::arg("rules") = py::none(),
        "Optimises the packing of Item and Box objects; rules is the JSON text of the\n"
        "loading rules by item code and box reference, or None.");

    m.def(
        "optimise_request",
        [](const std::string& request_json, std::optional<double> time_limit,
           std::optional<std::uint64_t> effort, std::uint64_t seed, double min_support,
           std::optional<std::map<std::string, double>> box_costs, int threads,
           const std::optional<std::string>& rules) {
            const Clock::time_point started = Clock::now();
            OptimiserOptions options = options_of(time_limit, effort, seed, min_support,
                                                  std::move(box_costs), threads, rules);
            std::optional<stowvex::PackResponse> result;
            run_released([&] {
                const stowvex::PackRequest request = stowvex::parse_request(request_json);
                options.time_limit =
                    time_left(time_limit, started, request.items.elements().size());
                result.emplace(stowvex::optimise_items(request.items, request.boxes, options));
            });
            return std::move(*result);
        },
        py::arg("request_json"), py::kw_only(), py::arg("time_limit"), py::arg("effort"),
        py::arg("seed"), py::arg("min_support"), py::arg("box_costs"), py::arg("threads"),
        py::arg("rules") = py::none(),
        "Optimises the packing of a request in the JSON text that stowvex.solve reads; rules\n"
        "is the JSON text of the loading rules by item code and box reference, or None.");

    m.def(
        "optimiser_work", [] { return stowvex::optimiser::work_tally(); },
        "Effort units the optimiser has spent on this thread, over all its calls so far.");

    m.def(
        "packing_work",
        [](const std::string& request_json, std::optional<double> timeout,
           bool watch_signals) -> py::object {
            CallControl control(timeout, 1, watch_signals);
            stowvex::PackingTally work;
            if (!control.run([&] {
                    const stowvex::PackRequest request = stowvex::parse_request(request_json);
                    const stowvex::PackingTally before = stowvex::packing_tally();
                    stowvex::pack_items(request);
                    const stowvex::PackingTally after = stowvex::packing_tally();
                    work.asked = after.asked - before.asked;
                    work.packed = after.packed - before.packed;
                })) {
                return control.stopped();
            }
            return py::make_tuple(work.asked, work.packed);
        },
        py::arg("request_json"), py::kw_only(), py::arg("timeout") = py::none(),
        py::arg("watch_signals") = false,
        "Packs a request in the JSON text that stowvex.solve reads with the engine, and gives\n"
        "(asked, packed): the single-box packings its method calls for, and those it packed;\n"
        "None when the timeout (seconds, or None) stopped it.");

    m.def(
        "solve",
        [](const py::object& request_json, std::optional<double> timeout, int threads,
           bool watch_signals) -> py::object {
            std::string text;
            if (!load(request_json, text)) return designed("solve")(request_json);
            CallControl control(timeout, threads, watch_signals);
            std::optional<stowvex::ResultText> result;
            if (!control.run([&] {
                    result.emplace(stowvex::to_json_result_text(
                        stowvex::pack_items(stowvex::parse_request(text)), -1));
                })) {
                return control.stopped();
            }
            return stowvex::python::result_text_to_python(*result);
        },
        py::arg("request_json"), py::kw_only(), py::arg("timeout"), py::arg("threads"),
        py::arg("watch_signals"), kSolveDoc);

    m.def(
        "pack",
        [](const py::object& items, const py::object& boxes, std::optional<double> timeout,
           int threads, bool watch_signals) -> py::object {
            std::vector<stowvex::ItemPtr> item_objects;
            std::vector<stowvex::BoxPtr> box_objects;
            bool loaded = false;
            try {
                loaded = load(items, item_objects) && load(boxes, box_objects);
            } catch (const py::error_already_set& error) {
                if (!input_error(error)) throw;
            }
            if (!loaded || any_none(item_objects) || any_none(box_objects)) {
                return designed("pack")(items, boxes);
            }
            CallControl control(timeout, threads, watch_signals);
            std::optional<stowvex::PackResponse> result;
            if (!control.run([&] {
                    stowvex::ItemList item_list(std::make_shared<stowvex::DefaultItemSorter>());
                    for (stowvex::ItemPtr& item : item_objects) item_list.add(std::move(item));
                    stowvex::BoxList box_list(std::make_shared<stowvex::DefaultBoxSorter>());
                    for (stowvex::BoxPtr& box : box_objects) box_list.add(std::move(box));
                    result.emplace(stowvex::pack_items(item_list, box_list));
                })) {
                return control.stopped();
            }
            return py::cast(std::move(*result));
        },
        py::arg("items"), py::arg("boxes"), py::kw_only(), py::arg("timeout"), py::arg("threads"),
        py::arg("watch_signals"), kPackDoc);

    m.def(
        "pack_dicts",
        [](const py::object& items, const py::object& boxes, std::optional<double> timeout,
           int threads, bool watch_signals) -> py::object {
            CallControl control(timeout, threads, watch_signals);
            // The values are read as stowvex.pack_dicts reads them: their JSON text
            // made with the lock held, then parsed and read without it.
            std::string items_text, boxes_text;
            try {
                items_text = dumped(items);
                boxes_text = dumped(boxes);
            } catch (const py::error_already_set& error) {
                if (!input_error(error)) throw;
                return designed("pack_dicts")(items, boxes);
            } catch (const py::cast_error&) {
                return designed("pack_dicts")(items, boxes);
            }
            bool unreadable = false;
            std::optional<stowvex::PackResponse> result;
            if (!control.run([&] {
                    stowvex::ItemList item_list(std::make_shared<stowvex::DefaultItemSorter>());
                    stowvex::BoxList box_list(std::make_shared<stowvex::DefaultBoxSorter>());
                    try {
                        stowvex::read_items(parsed(items_text), item_list);
                        stowvex::read_boxes(parsed(boxes_text), box_list);
                    } catch (const stowvex::PackingStopped&) {
                        throw;
                    } catch (...) {
                        unreadable = true;
                        return;
                    }
                    result.emplace(stowvex::pack_items(item_list, box_list));
                })) {
                return control.stopped();
            }
            if (unreadable) return designed("pack_dicts")(items, boxes);
            return py::cast(std::move(*result));
        },
        py::arg("items"), py::arg("boxes"), py::kw_only(), py::arg("timeout"), py::arg("threads"),
        py::arg("watch_signals"), kPackDictsDoc);
}
