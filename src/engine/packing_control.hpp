// What a caller may ask of a packing run besides its items and box types: that
// it stop, on request or at a deadline, and how many threads it may use. A run
// reads the control of the thread it runs on, so the engine's entry points
// keep their signatures; a caller that wants none sets none.
//
// Reading a request checks for a stop as packing does: this header is the one
// part of the engine that interchange/ includes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>

namespace stowvex {

// Thrown out of a run that was asked to stop. Everything the run had made is
// freed on the way out (the engine holds what it makes by value or by smart
// pointer), and the next run on the thread starts afresh: the buffers a
// thread keeps from one packing to the next are reset when a packing begins.
class PackingStopped : public std::exception {
public:
    enum class Reason {
        kRequested,  // the stop flag was set
        kDeadline,   // the deadline passed
        kPolled,     // the poll asked for it
    };

    explicit PackingStopped(Reason reason) : reason_(reason) {}
    Reason reason() const { return reason_; }
    const char* what() const noexcept override;

private:
    Reason reason_;
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
    // It must not throw.
    bool (*poll)(void* context) = nullptr;
    void* poll_context = nullptr;
    std::chrono::milliseconds poll_interval{10};
    // Threads a run may use; 1 is the calling thread alone. A thread that
    // joins a run makes the run's control its own with a scope of its own.
    int threads = 1;
};

// Makes a control the one of this thread while the scope lasts; the control
// it replaces, if any, is the thread's again afterwards, with its own timing.
class PackingControlScope {
public:
    explicit PackingControlScope(const PackingControl& control);
    ~PackingControlScope();
    PackingControlScope(const PackingControlScope&) = delete;
    PackingControlScope& operator=(const PackingControlScope&) = delete;

private:
    const PackingControl* previous_;
    std::uint32_t previous_checks_;
    PackingControl::Clock::time_point previous_poll_;
};

// The control of this thread, or nullptr when none is set.
const PackingControl* packing_control();

namespace detail {
// Scopes open on any thread of the program. While there are none, as ever in
// a program (or extension module) that never makes one, a check reads
// nothing of its thread: in a module loaded by dlopen each read of a
// thread's variable is a call into the C library.
inline std::atomic<int> open_scopes{0};
// Defined here, with constant initial values, so that every file reads them
// directly rather than through a function that would first see whether they
// still need initialising.
inline thread_local const PackingControl* current_control = nullptr;
inline thread_local std::uint32_t checks_until_clock = 1;
void check_clock_and_poll();
}  // namespace detail

// Throws PackingStopped when the run on this thread is to stop. Called at the
// heads of the engine's loops, each step of which takes microseconds at most:
// it reads a flag, and the clock and the poll only once in so many calls.
// Without a control anywhere it costs one test.
inline void check_stop() {
    if (detail::open_scopes.load(std::memory_order_relaxed) == 0) return;
    const PackingControl* control = detail::current_control;
    if (control == nullptr) return;
    if (control->stop != nullptr && control->stop->load(std::memory_order_relaxed)) {
        throw PackingStopped(PackingStopped::Reason::kRequested);
    }
    if (--detail::checks_until_clock == 0) detail::check_clock_and_poll();
}

}  // namespace stowvex
