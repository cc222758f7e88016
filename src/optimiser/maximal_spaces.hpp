// The empty room of a box as maximal free spaces: the largest empty cuboids,
// which may overlap one another. Occupying a cuboid cuts it out of every
// space it meets; pieces no item fits and pieces inside another space are
// dropped.
#pragma once

#include <cstdint>
#include <vector>

#include "optimiser/cuboid.hpp"

namespace stowvex::optimiser {

class MaximalSpaces {
public:
    MaximalSpaces() = default;
    explicit MaximalSpaces(const Vec3& box) : spaces_{{{0.0, 0.0, 0.0}, box}}, waiting_{0} {}

    const std::vector<Cuboid>& spaces() const { return spaces_; }
    bool empty() const { return spaces_.empty(); }
    void erase(std::size_t index);

    // A waiting space takes no block now but may once items below it give
    // support; it is passed over until woken.
    bool waiting(std::size_t index) const { return waiting_[index] != 0; }
    void wait(std::size_t index) { waiting_[index] = 1; }
    // Wakes every waiting space for which wake(space) holds.
    template <class Wake>
    void wake(Wake&& wake);

    // Cuts `taken` out of the spaces. A new piece stays only when
    // useful(piece) holds.
    template <class Useful>
    void occupy(const Cuboid& taken, Useful&& useful);
    // Keeps only the spaces for which useful(space) holds.
    template <class Useful>
    void keep_useful(Useful&& useful);

    // Work done so far, in the units of WorkBudget: overlap and containment
    // tests of spaces, and spaces walked through.
    std::uint64_t work() const { return work_; }

private:
    // Adds the pieces that lie inside no other space.
    void add_maximal_pieces(std::size_t kept);

    std::vector<Cuboid> spaces_;
    std::vector<char> waiting_;   // per space
    std::vector<Cuboid> pieces_;  // scratch of occupy
    std::uint64_t work_ = 0;
};

template <class Useful>
void MaximalSpaces::occupy(const Cuboid& taken, Useful&& useful) {
    pieces_.clear();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < spaces_.size(); ++i) {
        const Cuboid& space = spaces_[i];
        if (!overlaps(space, taken)) {
            waiting_[kept] = waiting_[i];
            spaces_[kept++] = space;
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            if (taken.low[k] > space.low[k]) {
                Cuboid piece = space;
                piece.high[k] = taken.low[k];
                if (useful(piece)) pieces_.push_back(piece);
            }
            if (taken.high[k] < space.high[k]) {
                Cuboid piece = space;
                piece.low[k] = taken.high[k];
                if (useful(piece)) pieces_.push_back(piece);
            }
        }
    }
    work_ += spaces_.size();
    add_maximal_pieces(kept);
}

template <class Useful>
void MaximalSpaces::keep_useful(Useful&& useful) {
    work_ += spaces_.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < spaces_.size(); ++i) {
        if (!useful(spaces_[i])) continue;
        waiting_[kept] = waiting_[i];
        spaces_[kept++] = spaces_[i];
    }
    spaces_.resize(kept);
    waiting_.resize(kept);
}

template <class Wake>
void MaximalSpaces::wake(Wake&& wake) {
    work_ += spaces_.size();
    for (std::size_t i = 0; i < spaces_.size(); ++i) {
        if (waiting_[i] && wake(spaces_[i])) waiting_[i] = 0;
    }
}

}  // namespace stowvex::optimiser
