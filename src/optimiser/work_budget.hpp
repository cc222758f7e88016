// How much search a call may do: a deterministic work budget (effort units)
// and a wall-clock deadline, whichever ends first. A share of a budget is a
// budget of its own whose work also counts against its parent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace stowvex::optimiser {

class WorkBudget {
public:
    using Clock = std::chrono::steady_clock;

    // No limit when both are empty.
    WorkBudget(std::optional<double> seconds, std::optional<std::uint64_t> effort);
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;

    // A budget for a part of the work: `fraction` of what is left of this one.
    // It refers to this budget, which must outlive it.
    WorkBudget share(double fraction);

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
    std::optional<std::uint64_t> effort_;
    std::uint64_t spent_ = 0;
    mutable std::atomic<bool> timed_out_{false};
};

}  // namespace stowvex::optimiser
