// The free spaces of one volume in the order the single-box packer tries them,
// kept in that order as the spaces are cut by what is placed in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/free_space.hpp"

namespace stowvex {

// The packer tries the free spaces in space_before order, ties going by the
// position in the list the spaces were sorted from; after a space has taken
// something, the spaces it overlaps are replaced in that list by their
// pieces, the list is sorted again in the same way, and the search starts
// over from its first space.
//
// The queue gives the very same sequence of spaces. A space that took nothing
// never takes anything later: the remaining items only get fewer, and the
// weight budget of a space only shrinks (under a limit only weights of 0 or
// more are placed). It is kept in one of two ways:
//
// Whole (the straightforward way), for a volume with an infinite or
// enormous measure, whose spaces can have NaN keys: the list with every
// space, sorted by a stable sort, and a mark on each space that took
// nothing.
//
// As a heap of live spaces, when no NaN can arise and the order is a strict
// weak order. A space that took nothing is taken out: it would never be
// chosen, and taking elements out does not change the order of the others
// under a stable sort by a consistent order. All the spaces before the one
// that took something have been taken out, so the search always starts with
// the heap's first space. With exact measures the regions placed into a space
// lie in it, the spaces are disjoint, and a piece is no larger than its
// parent: only the first space is ever cut, and spaces too small for every
// remaining item, or that took nothing, are dropped for good. Otherwise every
// space a region overlaps is cut, those that took nothing included, whose
// pieces may be a rounding step larger than themselves.
//
// The order of the heap is space_before, then a tie label that stands for the
// position in the list. Under a stable sort a piece stands among the spaces
// of its own key where its parent stood: a piece whose key comes after its
// parent's (always so with exact measures) goes before every older space of
// its key; one whose key comes before its parent's goes after them all; one
// with the parent's very key goes right after where the parent was. Pieces
// of one cut keep the order they were made in. Labels are sequences of ties,
// compared lexicographically:
//   (1, 0, k)             the k-th space of the first list;
//   (0, -t, k)            the k-th piece of cut t, before the older spaces;
//   (2, t, k)             the k-th piece of cut t, after the older spaces;
//   parent's + (1, t, k)  the k-th piece of cut t, right after its parent.
class FreeSpaceQueue {
public:
    // Starts over with the free spaces of a volume of this size with the
    // given regions placed. `exact`: every position and extent is computed
    // without rounding, so regions placed into a free space overlap no other.
    // `smallest`: per rank, the smallest sorted measure of the items still to
    // be placed; a space too small for all of them may be left out.
    void reset(double width, double length, double depth, const std::vector<Region>& placed,
               bool exact, const double smallest[3]);

    // The next space to try, or nullptr when all have been tried. Valid
    // until the next call of reject or fill.
    const FreeSpace* next();
    // The space from next took nothing.
    void reject();
    // The space from next took these regions; the search starts over.
    void fill(const std::vector<Region>& regions, const double smallest[3]);

    // Calls f with every space that may still take something, until f
    // gives true.
    template <class F>
    void for_each_until(F f) const;

    // Whether, rank by rank, some space that may still take something has a
    // sorted measure at least `needed`'s. With exact measures in a heap,
    // whose spaces are only ever taken out or cut into smaller pieces, it
    // counts the spaces that reach the measures asked last as they come and
    // go, and walks the spaces only when a count runs out or `needed` grows
    // (the largest measures of what is left to place only shrink).
    bool reaches(const double needed[3]);

private:
    struct Tie {
        std::int32_t kind;
        std::int64_t cut;
        std::uint32_t index;
    };
    struct Label {
        Tie head;
        std::uint32_t tail;  // 1 + position in tails_ of the ties after head, or 0
    };
    struct Node {
        FreeSpace space;
        Label label;
    };
    // A space of the whole list and whether it took nothing.
    struct Tried {
        FreeSpace space;
        bool empty;
    };

    bool later(const Node& a, const Node& b) const;
    void count_reach(const FreeSpace& space, int change);
    int compare_labels(const Label& a, const Label& b) const;
    Label piece_label(const Node& parent, const FreeSpace& piece, std::uint32_t index);
    void fill_heap(const std::vector<Region>& regions, const double smallest[3]);
    void fill_list(const std::vector<Region>& regions);

    bool heap_ = false;
    bool exact_ = false;
    // Heap of live spaces, the earliest on top, and those that took nothing
    // (kept only without exact measures).
    std::vector<Node> nodes_;
    std::vector<Node> dead_;
    std::vector<std::vector<Tie>> tails_;
    std::int64_t cuts_ = 0;
    // Whole list and the position of the search in it.
    std::vector<Tried> list_;
    std::size_t cursor_ = 0;
    // The live spaces whose sorted measures reach reach_needed_, rank by rank,
    // while reach_known_.
    bool reach_known_ = false;
    double reach_needed_[3] = {0.0, 0.0, 0.0};
    std::size_t reach_count_[3] = {0, 0, 0};
    // Scratch.
    std::vector<FreeSpace> pieces_;
    std::vector<Node> cut_;
};

template <class F>
void FreeSpaceQueue::for_each_until(F f) const {
    for (const Node& node : nodes_) {
        if (f(node.space)) return;
    }
    for (const Tried& t : list_) {
        if (f(t.space)) return;
    }
}

}  // namespace stowvex
