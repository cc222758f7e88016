// One box being filled block by block: its free spaces, the top faces that
// can support items, the items still offered and the blocks placed so far.
// The next block goes into the free space nearest a corner of the box, at
// that corner, so the load grows from the corners and its walls stay flat.
// Under delivery stops the load grows from the back wall (y = 0) towards the
// door instead, the latest stop first. Every block placed keeps the loading
// rules of its kind and of the items already in the box.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "optimiser/box_problem.hpp"
#include "optimiser/loading_rules.hpp"
#include "optimiser/maximal_spaces.hpp"
#include "optimiser/support.hpp"
#include "optimiser/work_budget.hpp"

namespace stowvex::optimiser {

// A block of the catalogue (by rank) with its lowest and highest corner in the box.
struct BlockPlacement {
    std::uint32_t block;
    Vec3 corner;
    Vec3 far;
};

// One item of a filled box: its kind, orientation and position.
struct LaidItem {
    int kind;
    int orientation;
    Vec3 position;
};

class BoxLoading {
public:
    explicit BoxLoading(const BoxProblem& problem);

    // Finds the space to fill next and up to `limit` placements for it, the
    // fittest first, into `out`. Spaces that no block fits are dropped on the
    // way; spaces where blocks lack only support wait for items below them.
    // False when no space is left.
    bool next_candidates(std::size_t limit, std::vector<BlockPlacement>& out);
    void place(const BlockPlacement& placement);
    // Places the fittest block of each next space until no space is left.
    // False when the budget ran out of time first.
    bool complete(const WorkBudget& budget);

    const BoxProblem& problem() const { return *problem_; }
    const std::vector<BlockPlacement>& placements() const { return placements_; }
    const MaximalSpaces& maximal_spaces() const { return spaces_; }
    int remaining(int kind) const { return remaining_[kind]; }
    double volume() const { return volume_; }
    // Value of the items placed, without box groups that are only partly in.
    double value() const;
    bool everything_placed() const { return unplaced_ == 0; }
    // Work done so far, in the units of WorkBudget.
    std::uint64_t work() const { return work_ + spaces_.work(); }
    // The work of copying this loading: the elements of its state.
    std::uint64_t copy_work() const {
        return 1 + spaces_.spaces().size() + tops_.faces().size() + placements_.size() +
               remaining_.size() + resting_.size();
    }

    // Every item placed, block by block in placement order.
    std::vector<LaidItem> laid_items() const;

private:
    std::size_t nearest_corner_space(std::array<bool, 3>& far_side) const;
    // Adds the placements for a space to `out`, of kinds without a stop or
    // of a stop `from_stop` or later; true when some block lacked only
    // support there.
    bool collect(std::size_t space, const std::array<bool, 3>& far_side, std::size_t limit,
                 int from_stop, std::vector<BlockPlacement>& out);
    // Whether a block at `corner` keeps the max loads and stops of its items
    // and of the items in the box.
    bool keeps_rules(const ItemBlock& block, const Vec3& corner);
    // Records the items of a block placed at `taken` and the loads they add.
    void rest(const ItemBlock& block, const Cuboid& taken);
    // The latest stop of the kinds still offered; 0 without stops.
    int latest_stop() const;
    // Lays a block into a corner of a space; false when it does not fit.
    bool lay_within(const Cuboid& space, const std::array<bool, 3>& far_side, std::uint32_t block,
                    BlockPlacement& out) const;
    double fitness(const ItemBlock& block, const Vec3& room) const;
    // Whether the items of a block are still offered.
    bool available(const ItemBlock& block) const;
    bool fits_weight(const ItemBlock& block) const;
    bool supported(const ItemBlock& block, const Vec3& corner) const;
    // Whether some item still offered fits the space.
    bool useful(const Cuboid& space) const;
    void update_smallest();

    const BoxProblem* problem_;
    MaximalSpaces spaces_;
    TopFaces tops_;
    std::vector<int> remaining_;
    std::vector<BlockPlacement> placements_;
    Vec3 smallest_{};  // smallest extent per axis of any item still offered
    double smallest_volume_ = 0.0;
    double volume_ = 0.0;
    double value_ = 0.0;
    double item_weight_ = 0.0;
    long long unplaced_ = 0;  // items offered and not placed
    // Counted by const tests too (useful), hence mutable.
    mutable std::uint64_t work_ = 0;
    std::vector<double> scores_;  // scratch of collect
    // Every item placed, when the problem tests max loads or stops, with the
    // load resting on it.
    struct Resting {
        RuledItem item;
        Load load;
    };
    std::vector<Resting> resting_;
    std::size_t last_conflict_ = 0;            // the placed item that last forbade a block
    std::vector<Load> column_loads_;           // scratch: per column of a block
    std::array<std::vector<double>, 3> grid_;  // scratch: item faces of a block
};

}  // namespace stowvex::optimiser
