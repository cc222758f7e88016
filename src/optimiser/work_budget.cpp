// Work budgets of the search.
#include "optimiser/work_budget.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace stowvex::optimiser {

namespace {

thread_local std::uint64_t spent_on_thread = 0;

}  // namespace

std::uint64_t work_tally() { return spent_on_thread / kTicksPerUnit; }

WorkBudget::WorkBudget(std::optional<double> seconds, std::optional<std::uint64_t> effort) {
    if (effort) {
        constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max() / kTicksPerUnit;
        effort_ = std::min(*effort, most) * kTicksPerUnit;
    }
    if (seconds) {
        // Beyond a year the deadline is as good as none (and cannot overflow).
        const double clamped = std::min(*seconds, 3.2e7);
        deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(clamped));
    }
}

WorkBudget::WorkBudget(WorkBudget* parent, std::optional<Clock::time_point> deadline,
                       std::optional<std::uint64_t> effort)
    : parent_(parent), deadline_(deadline), effort_(effort) {}

WorkBudget WorkBudget::share(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    std::optional<Clock::time_point> deadline = deadline_;
    if (deadline_) {
        const auto now = Clock::now();
        const auto left = *deadline_ > now ? *deadline_ - now : Clock::duration::zero();
        deadline = now + std::chrono::duration_cast<Clock::duration>(left * fraction);
    }
    std::optional<std::uint64_t> effort;
    if (const auto left = effort_left()) {
        effort = static_cast<std::uint64_t>(std::floor(static_cast<double>(*left) * fraction));
    }
    return WorkBudget(this, deadline, effort);
}

void WorkBudget::allow_overtime(double seconds) {
    overtime_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::clamp(seconds, 0.0, 3.2e7)));
}

WorkBudget WorkBudget::overtime(std::uint64_t effort) const {
    // The deadline of the whole call (the budget at the top, of which the
    // others have shares) and the overtime allowed nearest to this budget.
    std::optional<Clock::time_point> end;
    std::optional<Clock::duration> extra;
    for (const WorkBudget* b = this; b; b = b->parent_) {
        if (!extra) extra = b->overtime_;
        if (b->deadline_) end = b->deadline_;
    }
    if (end && extra) *end += *extra;
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max() / kTicksPerUnit;
    return WorkBudget(nullptr, end, std::min(effort, most) * kTicksPerUnit);
}

void WorkBudget::spend(std::uint64_t units) {
    spent_ += units;
    if (parent_) {
        parent_->spend(units);
    } else {
        spent_on_thread += units;
    }
}

std::optional<std::uint64_t> WorkBudget::effort_left() const {
    std::optional<std::uint64_t> left;
    if (effort_) left = *effort_ > spent_ ? *effort_ - spent_ : 0;
    if (parent_) {
        if (const auto above = parent_->effort_left())
            left = left ? std::min(*left, *above) : *above;
    }
    return left;
}

bool WorkBudget::effort_used_up() const {
    const auto left = effort_left();
    return left && *left == 0;
}

bool WorkBudget::out_of_time() const {
    if (timed_out_.load(std::memory_order_relaxed)) return true;
    if ((deadline_ && Clock::now() >= *deadline_) || (parent_ && parent_->out_of_time())) {
        timed_out_.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

}  // namespace stowvex::optimiser
