// How much search a call may do: a deterministic work budget (effort units)
// and a wall-clock deadline, whichever ends first. A share of a budget is a
// budget of its own whose work also counts against its parent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace stowvex::optimiser {

// The search counts its work in ticks: the operations of its inner loops
// (free spaces cut and tested, blocks looked at and weighed, support and
// loading rule tests, items copied), weighted so that a tick costs about
// the same time on any request. An effort unit is this many ticks, so that
// 10^8 units are about a second of one core on BR1-BR7 (bench/effort_rate.py).
constexpr std::uint64_t kTicksPerUnit = 2;

// Effort units spent by the optimiser's budgets on the calling thread, over
// all calls so far (the work of budgets without a parent): what benchmarks
// read to know how much work a call did.
std::uint64_t work_tally();

class WorkBudget {
public:
    using Clock = std::chrono::steady_clock;

    // No limit when both are empty. `effort` is in effort units; the
    // budget's other counts (spend, spent, effort_left) are in ticks.
    WorkBudget(std::optional<double> seconds, std::optional<std::uint64_t> effort);
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;

    // A budget for a part of the work: `fraction` of what is left of this one.
    // It refers to this budget, which must outlive it.
    WorkBudget share(double fraction);

    // Lets work that must end in a result (the greedy end of a construction)
    // run `seconds` past the deadline, in a budget of overtime().
    void allow_overtime(double seconds);
    // A budget of its own (not a share) of `effort` units that ends at the
    // deadline plus the overtime allowed here or above.
    WorkBudget overtime(std::uint64_t effort) const;

    // Counts work done; called by one thread at a time.
    void spend(std::uint64_t units);
    std::uint64_t spent() const { return spent_; }
    // Effort left, or empty when the effort is not limited.
    std::optional<std::uint64_t> effort_left() const;

    // True once the effort is used up or the deadline has passed.
    bool exhausted() const { return effort_used_up() || out_of_time(); }
    bool effort_used_up() const;
    // The deadline test alone; safe from any thread.
    bool out_of_time() const;

private:
    WorkBudget(WorkBudget* parent, std::optional<Clock::time_point> deadline,
               std::optional<std::uint64_t> effort);

    WorkBudget* parent_ = nullptr;
    std::optional<Clock::time_point> deadline_;
    std::optional<Clock::duration> overtime_;
    std::optional<std::uint64_t> effort_;
    std::uint64_t spent_ = 0;
    mutable std::atomic<bool> timed_out_{false};
};

}  // namespace stowvex::optimiser
