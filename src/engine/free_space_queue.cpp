// The free spaces of one volume in the order they are tried.
#include "engine/free_space_queue.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/orientation.hpp"
#include "engine/packing_control.hpp"

namespace stowvex {

namespace {

constexpr std::int32_t kAhead = 0;    // before the older spaces of its key
constexpr std::int32_t kInPlace = 1;  // where its parent stood, or first list
constexpr std::int32_t kBehind = 2;   // after the older spaces of its key

template <class Tie>
int compare_ties(const Tie& a, const Tie& b) {
    if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
    if (a.cut != b.cut) return a.cut < b.cut ? -1 : 1;
    if (a.index != b.index) return a.index < b.index ? -1 : 1;
    return 0;
}

}  // namespace

void FreeSpaceQueue::reset(double width, double length, double depth,
                           const std::vector<Region>& placed, bool exact,
                           const double smallest[3]) {
    const bool finite = std::isfinite(width) && std::isfinite(length) && std::isfinite(depth) &&
                        std::fabs(width) <= 1e300 && std::fabs(length) <= 1e300 &&
                        std::fabs(depth) <= 1e300;
    // With finite measures no key is NaN (see the class comment); sums of two
    // measures cannot overflow, extents of pieces are positive, and a volume
    // can become infinite but never NaN.
    heap_ = finite;
    exact_ = exact;
    reach_known_ = false;
    // Only the heap may leave out spaces that can never take anything.
    std::vector<FreeSpace>& spaces = pieces_;
    spaces.clear();
    free_spaces_of(width, length, depth, placed, heap_ && exact_ ? smallest : nullptr, spaces);
    nodes_.clear();
    dead_.clear();
    tails_.clear();
    cuts_ = 0;
    list_.clear();
    cursor_ = 0;
    if (heap_) {
        nodes_.reserve(spaces.size());
        for (std::size_t k = 0; k < spaces.size(); ++k) {
            nodes_.push_back(
                Node{spaces[k], Label{Tie{kInPlace, 0, static_cast<std::uint32_t>(k)}, 0}});
        }
        std::make_heap(nodes_.begin(), nodes_.end(),
                       [this](const Node& a, const Node& b) { return later(a, b); });
        return;
    }
    // A merge sort: NaN keys can never drive it out of range.
    std::stable_sort(spaces.begin(), spaces.end(), space_before);
    list_.reserve(spaces.size());
    for (const FreeSpace& s : spaces) list_.push_back(Tried{s, false});
}

const FreeSpace* FreeSpaceQueue::next() {
    if (heap_) return nodes_.empty() ? nullptr : &nodes_.front().space;
    while (cursor_ < list_.size() && list_[cursor_].empty) ++cursor_;
    return cursor_ < list_.size() ? &list_[cursor_].space : nullptr;
}

void FreeSpaceQueue::reject() {
    if (heap_) {
        count_reach(nodes_.front().space, -1);
        std::pop_heap(nodes_.begin(), nodes_.end(),
                      [this](const Node& a, const Node& b) { return later(a, b); });
        // Without exact measures a space that took nothing may still be cut,
        // into pieces a rounding step larger than itself that may take
        // something: it is kept aside for cutting.
        if (!exact_) dead_.push_back(nodes_.back());
        nodes_.pop_back();
        return;
    }
    list_[cursor_++].empty = true;
}

void FreeSpaceQueue::fill(const std::vector<Region>& regions, const double smallest[3]) {
    if (heap_) {
        fill_heap(regions, smallest);
    } else {
        fill_list(regions);
    }
}

void FreeSpaceQueue::fill_list(const std::vector<Region>& regions) {
    std::vector<Tried> split;
    split.reserve(list_.size() + 5);
    for (const Tried& t : list_) {
        check_stop();
        const bool cut = std::any_of(regions.begin(), regions.end(),
                                     [&t](const Region& b) { return overlaps(t.space, b); });
        if (!cut) {
            split.push_back(t);
            continue;
        }
        pieces_.clear();
        cut_space(t.space, regions, nullptr, pieces_);
        for (const FreeSpace& piece : pieces_) split.push_back(Tried{piece, false});
    }
    std::stable_sort(split.begin(), split.end(),
                     [](const Tried& a, const Tried& b) { return space_before(a.space, b.space); });
    list_.swap(split);
    cursor_ = 0;
}

void FreeSpaceQueue::fill_heap(const std::vector<Region>& regions, const double smallest[3]) {
    const auto later_than = [this](const Node& a, const Node& b) { return later(a, b); };
    // The space that took the regions is the first one. With exact measures the
    // regions lie inside it, and the spaces are disjoint: no other is cut.
    cut_.clear();
    count_reach(nodes_.front().space, -1);
    std::pop_heap(nodes_.begin(), nodes_.end(), later_than);
    cut_.push_back(nodes_.back());
    nodes_.pop_back();
    if (!exact_) {
        reach_known_ = false;  // never asked without exact measures
        // Any space, live or dead, that a region overlaps is cut.
        const auto cut_by_regions = [&regions](const Node& node) {
            return std::any_of(regions.begin(), regions.end(),
                               [&node](const Region& b) { return overlaps(node.space, b); });
        };
        const auto move_cut = [&](std::vector<Node>& nodes) {
            const auto first_cut = std::partition(
                nodes.begin(), nodes.end(), [&](const Node& n) { return !cut_by_regions(n); });
            const bool any = first_cut != nodes.end();
            cut_.insert(cut_.end(), first_cut, nodes.end());
            nodes.erase(first_cut, nodes.end());
            return any;
        };
        move_cut(dead_);
        if (std::any_of(nodes_.begin(), nodes_.end(), cut_by_regions)) {
            move_cut(nodes_);
            std::make_heap(nodes_.begin(), nodes_.end(), later_than);
        }
        // Pieces are made in list order of their parents.
        std::sort(cut_.begin(), cut_.end(),
                  [this](const Node& a, const Node& b) { return later(b, a); });
    }

    ++cuts_;
    std::uint32_t index = 0;
    for (const Node& parent : cut_) {
        check_stop();
        // With exact measures a piece is no larger than its parent, and is
        // never cut again unless it takes something itself.
        pieces_.clear();
        cut_space(parent.space, regions, exact_ ? smallest : nullptr, pieces_);
        for (const FreeSpace& piece : pieces_) {
            count_reach(piece, 1);
            nodes_.push_back(Node{piece, piece_label(parent, piece, index++)});
            std::push_heap(nodes_.begin(), nodes_.end(), later_than);
        }
    }
}

void FreeSpaceQueue::count_reach(const FreeSpace& space, int change) {
    if (!reach_known_) return;
    double sorted[3];
    sort_ascending(space.width, space.length, space.depth, sorted);
    for (int rank = 0; rank < 3; ++rank) {
        if (sorted[rank] >= reach_needed_[rank]) reach_count_[rank] += change;
    }
}

bool FreeSpaceQueue::reaches(const double needed[3]) {
    if (!heap_) {  // the whole list: a plain walk
        double largest[3] = {0.0, 0.0, 0.0};
        for_each_until([&](const FreeSpace& s) {
            double sorted[3];
            sort_ascending(s.width, s.length, s.depth, sorted);
            for (int rank = 0; rank < 3; ++rank) {
                largest[rank] = std::max(largest[rank], sorted[rank]);
            }
            return largest[0] >= needed[0] && largest[1] >= needed[1] && largest[2] >= needed[2];
        });
        return largest[0] >= needed[0] && largest[1] >= needed[1] && largest[2] >= needed[2];
    }
    // A space that reaches larger measures reaches smaller ones too.
    const bool counted = reach_known_ && needed[0] <= reach_needed_[0] &&
                         needed[1] <= reach_needed_[1] && needed[2] <= reach_needed_[2];
    if (counted && reach_count_[0] > 0 && reach_count_[1] > 0 && reach_count_[2] > 0) {
        return true;
    }
    reach_known_ = true;
    for (int rank = 0; rank < 3; ++rank) {
        reach_needed_[rank] = needed[rank];
        reach_count_[rank] = 0;
    }
    for (const Node& node : nodes_) count_reach(node.space, 1);
    return reach_count_[0] > 0 && reach_count_[1] > 0 && reach_count_[2] > 0;
}

FreeSpaceQueue::Label FreeSpaceQueue::piece_label(const Node& parent, const FreeSpace& piece,
                                                  std::uint32_t index) {
    if (space_before(parent.space, piece)) return Label{Tie{kAhead, -cuts_, index}, 0};
    if (space_before(piece, parent.space)) return Label{Tie{kBehind, cuts_, index}, 0};
    std::vector<Tie> tail;
    if (parent.label.tail != 0) tail = tails_[parent.label.tail - 1];
    tail.push_back(Tie{kInPlace, cuts_, index});
    tails_.push_back(std::move(tail));
    return Label{parent.label.head, static_cast<std::uint32_t>(tails_.size())};
}

int FreeSpaceQueue::compare_labels(const Label& a, const Label& b) const {
    if (const int order = compare_ties(a.head, b.head)) return order;
    static const std::vector<Tie> none;
    const std::vector<Tie>& ta = a.tail != 0 ? tails_[a.tail - 1] : none;
    const std::vector<Tie>& tb = b.tail != 0 ? tails_[b.tail - 1] : none;
    const std::size_t common = std::min(ta.size(), tb.size());
    for (std::size_t k = 0; k < common; ++k) {
        if (const int order = compare_ties(ta[k], tb[k])) return order;
    }
    if (ta.size() != tb.size()) return ta.size() < tb.size() ? -1 : 1;
    return 0;
}

// Whether a comes after b.
bool FreeSpaceQueue::later(const Node& a, const Node& b) const {
    if (space_before(b.space, a.space)) return true;
    if (space_before(a.space, b.space)) return false;
    return compare_labels(a.label, b.label) > 0;
}

}  // namespace stowvex
