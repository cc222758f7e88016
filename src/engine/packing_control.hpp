// What a caller may ask of a packing run besides its items and box types: that
// it stop, on request or at a deadline, and how many threads it may use. A run
// reads the control of the thread it runs on, so the engine's entry points
// keep their signatures; a caller that wants none sets none.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>

namespace stowvex {

// Thrown out of a run that was asked to stop. What the run had made is freed
// on the way out, and the next run on the thread starts afresh.
class PackingStopped : public std::exception {
public:
    const char* what() const noexcept override { return "the packing was stopped"; }
};

struct PackingControl {
    using Clock = std::chrono::steady_clock;

    // The run stops once this flag is true; any thread may set it.
    const std::atomic<bool>* stop = nullptr;
    // The run stops once this time has passed.
    std::optional<Clock::time_point> deadline;
    // Called now and then on the packing thread, about every poll_interval;
    // the run stops when it returns true. For a caller that must watch
    // something outside the engine while it packs, such as a pending signal.
    bool (*poll)(void* context) = nullptr;
    void* poll_context = nullptr;
    std::chrono::milliseconds poll_interval{10};
    // Threads a run may use; 1 is the calling thread alone.
    int threads = 1;
};

// Makes a control the one of this thread while the scope lasts.
class PackingControlScope {
public:
    explicit PackingControlScope(const PackingControl& control);
    ~PackingControlScope();
    PackingControlScope(const PackingControlScope&) = delete;
    PackingControlScope& operator=(const PackingControlScope&) = delete;

private:
    const PackingControl* previous_;
    std::uint32_t previous_checks_;
};

// The control of this thread, or nullptr when none is set.
const PackingControl* packing_control();

namespace detail {
extern thread_local const PackingControl* current_control;
extern thread_local std::uint32_t checks_until_clock;
void check_clock_and_poll();
}  // namespace detail

// Throws PackingStopped when the run on this thread is to stop. Called in the
// engine's loops: it reads a flag, and the clock and the poll only once in so
// many calls.
inline void check_stop() {
    const PackingControl* control = detail::current_control;
    if (control == nullptr) return;
    if (control->stop != nullptr && control->stop->load(std::memory_order_relaxed)) {
        throw PackingStopped();
    }
    if (--detail::checks_until_clock == 0) detail::check_clock_and_poll();
}

}  // namespace stowvex
