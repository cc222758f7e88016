// The control of the packing run on each thread.
#include "engine/packing_control.hpp"

namespace stowvex {

namespace {

// Calls of check_stop between two readings of the clock: each stands for a
// step of a loop of the engine, microseconds at most.
constexpr std::uint32_t kChecksPerClock = 256;

thread_local PackingControl::Clock::time_point next_poll;

}  // namespace

const char* PackingStopped::what() const noexcept {
    switch (reason_) {
        case Reason::kDeadline: return "the packing was stopped at its deadline";
        case Reason::kPolled: return "the packing was stopped by its poll";
        case Reason::kRequested: break;
    }
    return "the packing was stopped";
}

namespace detail {

void check_clock_and_poll() {
    checks_until_clock = kChecksPerClock;
    const PackingControl* control = current_control;
    if (control == nullptr || (!control->deadline && control->poll == nullptr)) return;
    const PackingControl::Clock::time_point now = PackingControl::Clock::now();
    if (control->deadline && now >= *control->deadline) {
        throw PackingStopped(PackingStopped::Reason::kDeadline);
    }
    if (control->poll != nullptr && now >= next_poll) {
        next_poll = now + control->poll_interval;
        if (control->poll(control->poll_context)) {
            throw PackingStopped(PackingStopped::Reason::kPolled);
        }
    }
}

}  // namespace detail

PackingControlScope::PackingControlScope(const PackingControl& control)
    : previous_(detail::current_control),
      previous_checks_(detail::checks_until_clock),
      previous_poll_(next_poll) {
    detail::open_scopes.fetch_add(1, std::memory_order_relaxed);
    detail::current_control = &control;
    detail::checks_until_clock = 1;  // the first check reads the clock
    next_poll = PackingControl::Clock::now() + control.poll_interval;
}

PackingControlScope::~PackingControlScope() {
    detail::current_control = previous_;
    detail::checks_until_clock = previous_checks_;
    next_poll = previous_poll_;
    detail::open_scopes.fetch_sub(1, std::memory_order_relaxed);
}

const PackingControl* packing_control() { return detail::current_control; }

}  // namespace stowvex
