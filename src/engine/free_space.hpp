// Free spaces: the disjoint empty blocks left in a volume by the items placed
// in it, and the order in which they are tried.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "model/packed_item.hpp"

namespace stowvex {

// One empty block, positioned in the frame of the volume being packed.
struct FreeSpace {
    double x;
    double y;
    double z;
    double width;
    double length;
    double depth;
    double volume;     // width * length * depth
    double base_area;  // width * length
};

FreeSpace make_free_space(double x, double y, double z, double width, double length,
                          double depth);

// The order of free spaces on anything with the members z, volume and
// base_area: lowest first; at equal height the larger volume, then the larger
// floor.
template <class Key>
bool space_key_before(const Key& a, const Key& b) {
    if (a.z != b.z) return a.z < b.z;
    if (a.volume != b.volume) return a.volume > b.volume;
    return a.base_area > b.base_area;
}

inline bool space_before(const FreeSpace& a, const FreeSpace& b) { return space_key_before(a, b); }

// The cutting works on anything placed that has a position x(), y(), z() and
// extents width(), length(), depth(): PackedItem, and the single-box packer's
// own lighter placements. The spaces may be FreeSpace or a type derived from
// it that carries more about each space; a new piece gets that type's
// defaults for the rest.

// Cuts the spaces by each item in turn. A space an item overlaps is replaced,
// in place, by up to six pieces: low x, high x, low y, high y, below, above.
template <class Space = FreeSpace, class Placed>
std::vector<Space> split_free_spaces(std::vector<Space> spaces, const std::vector<Placed>& items);

// The free spaces of an empty volume of this size cut by the placed items.
template <class Space = FreeSpace, class Placed>
std::vector<Space> free_spaces_of(double width, double length, double depth,
                                  const std::vector<Placed>& items);

// For spaces already stably sorted by space_before: cuts them by the items
// and sorts the result, giving the very list split_free_spaces followed by a
// stable sort would. Only the new pieces are sorted; they are then merged
// into the untouched spaces, which are still in order.
template <class Space, class Placed>
void split_sorted_free_spaces(std::vector<Space>& spaces, const std::vector<Placed>& items);

// The same for placed items, also given as a braced list.
std::vector<FreeSpace> split_free_spaces(std::vector<FreeSpace> spaces,
                                         const std::vector<PackedItem>& items);
std::vector<FreeSpace> free_spaces_of(double width, double length, double depth,
                                      const std::vector<PackedItem>& items);
void split_sorted_free_spaces(std::vector<FreeSpace>& spaces,
                              const std::vector<PackedItem>& items);

namespace free_space_detail {

// Appends the pieces of s that lie outside the item p, which overlaps s.
template <class Space, class Placed>
void append_pieces(const FreeSpace& s, const Placed& p, std::vector<Space>& out) {
    const double s_x1 = s.x + s.width;
    const double s_y1 = s.y + s.length;
    const double s_z1 = s.z + s.depth;
    const double x0 = std::max(p.x(), s.x);
    const double x1 = std::min(p.x() + p.width(), s_x1);
    const double y0 = std::max(p.y(), s.y);
    const double y1 = std::min(p.y() + p.length(), s_y1);
    const double z0 = std::max(p.z(), s.z);
    const double z1 = std::min(p.z() + p.depth(), s_z1);
    const auto piece = [&out](double x, double y, double z, double w, double l, double d) {
        out.push_back(Space{make_free_space(x, y, z, w, l, d)});
    };
    if (x0 > s.x) piece(s.x, s.y, s.z, x0 - s.x, s.length, s.depth);
    if (s_x1 > x1) piece(x1, s.y, s.z, s_x1 - x1, s.length, s.depth);
    if (y0 > s.y) piece(x0, s.y, s.z, x1 - x0, y0 - s.y, s.depth);
    if (s_y1 > y1) piece(x0, y1, s.z, x1 - x0, s_y1 - y1, s.depth);
    if (z0 > s.z) piece(x0, y0, s.z, x1 - x0, y1 - y0, z0 - s.z);
    if (s_z1 > z1) piece(x0, y0, z1, x1 - x0, y1 - y0, s_z1 - z1);
}

// Touching along a face is no overlap.
template <class Placed>
bool overlaps(const FreeSpace& s, const Placed& p) {
    return !(p.x() >= s.x + s.width || s.x >= p.x() + p.width() ||
             p.y() >= s.y + s.length || s.y >= p.y() + p.length() ||
             p.z() >= s.z + s.depth || s.z >= p.z() + p.depth());
}

template <class Placed>
bool overlaps_any(const FreeSpace& s, const std::vector<Placed>& items) {
    for (const Placed& p : items) {
        if (overlaps(s, p)) return true;
    }
    return false;
}

// The low and high faces of a block along x, y and z, computed as overlaps
// computes them.
struct Faces {
    double low[3];
    double high[3];
};

inline Faces faces_of_space(const FreeSpace& s) {
    return Faces{{s.x, s.y, s.z}, {s.x + s.width, s.y + s.length, s.z + s.depth}};
}

template <class Placed>
Faces faces_of_placed(const Placed& p) {
    return Faces{{p.x(), p.y(), p.z()}, {p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()}};
}

// The lowest low face and the highest high face along each axis of a set of
// blocks. A block whose high face along some axis is at or below the lowest
// low face, or whose low face is at or above the highest high face, overlaps
// none of the blocks: overlaps tests exactly these faces. Not usable once a
// face is NaN.
class Bounds {
public:
    void include(const Faces& f) {
        for (int axis = 0; axis < 3; ++axis) {
            if (std::isnan(f.low[axis]) || std::isnan(f.high[axis])) nan_ = true;
            if (!any_ || f.low[axis] < low_[axis]) low_[axis] = f.low[axis];
            if (!any_ || f.high[axis] > high_[axis]) high_[axis] = f.high[axis];
        }
        any_ = true;
    }

    bool usable() const { return any_ && !nan_; }
    double highest(int axis) const { return high_[axis]; }

    bool clear_of(const Faces& f) const {
        if (!usable()) return false;
        for (int axis = 0; axis < 3; ++axis) {
            if (low_[axis] >= f.high[axis] || f.low[axis] >= high_[axis]) return true;
        }
        return false;
    }

private:
    bool any_ = false;
    bool nan_ = false;
    double low_[3] = {0.0, 0.0, 0.0};
    double high_[3] = {0.0, 0.0, 0.0};
};

template <class Placed>
Bounds bounds_of(const std::vector<Placed>& items) {
    Bounds b;
    for (const Placed& p : items) b.include(faces_of_placed(p));
    return b;
}

// NaN keys make space_before inconsistent; such a list gets a full sort.
inline bool has_nan_key(const FreeSpace& s) {
    return std::isnan(s.z) || std::isnan(s.volume) || std::isnan(s.base_area);
}

// A new piece and how many untouched spaces come before it in the split list.
template <class Space>
struct Piece {
    Space space;
    std::size_t untouched_before;
};

// split_sorted_free_spaces for any list, even one that a sort with NaN keys
// left out of order: the split list is sorted whole when a key is NaN, and
// otherwise its new pieces are sorted and merged into the untouched spaces.
template <class Space, class Placed>
void split_and_merge(std::vector<Space>& spaces, const std::vector<Placed>& items) {
    // Cutting is local to each space: the split list is every space's own
    // pieces, in list order, with untouched spaces standing for themselves.
    const Bounds bounds = bounds_of(items);
    std::vector<Space> split;
    split.reserve(spaces.size() + 5);
    std::vector<std::size_t> pieces;  // positions in split of new pieces
    bool nan_key = false;
    for (const Space& s : spaces) {
        nan_key = nan_key || has_nan_key(s);
        if (bounds.clear_of(faces_of_space(s)) || !overlaps_any(s, items)) {
            split.push_back(s);
            continue;
        }
        for (const Space& piece : split_free_spaces<Space, Placed>({s}, items)) {
            nan_key = nan_key || has_nan_key(piece);
            pieces.push_back(split.size());
            split.push_back(piece);
        }
    }
    if (nan_key) {
        std::stable_sort(split.begin(), split.end(), space_before);
        spaces.swap(split);
        return;
    }
    if (pieces.empty()) {  // an ordered list less some spaces is still ordered
        spaces.swap(split);
        return;
    }

    // A stable sort orders by key, then by position in the split list. The
    // untouched spaces already are in that order; the pieces are sorted
    // likewise and merged in, a tie going to the earlier position.
    const auto piece_before = [&split](std::size_t a, std::size_t b) {
        return space_before(split[a], split[b]);
    };
    std::stable_sort(pieces.begin(), pieces.end(), piece_before);
    std::vector<char> is_piece(split.size(), 0);
    for (std::size_t p : pieces) is_piece[p] = 1;

    spaces.clear();
    std::size_t next_untouched = 0;
    const auto skip_pieces = [&]() {
        while (next_untouched < split.size() && is_piece[next_untouched]) ++next_untouched;
    };
    skip_pieces();
    for (std::size_t p : pieces) {
        while (next_untouched < split.size()) {
            const Space& u = split[next_untouched];
            const bool untouched_first =
                space_before(u, split[p]) ||
                (!space_before(split[p], u) && next_untouched < p);
            if (!untouched_first) break;
            spaces.push_back(u);
            ++next_untouched;
            skip_pieces();
        }
        spaces.push_back(split[p]);
    }
    for (; next_untouched < split.size(); ++next_untouched) {
        if (!is_piece[next_untouched]) spaces.push_back(split[next_untouched]);
    }
}

}  // namespace free_space_detail

template <class Space, class Placed>
std::vector<Space> split_free_spaces(std::vector<Space> spaces, const std::vector<Placed>& items) {
    std::vector<Space> next;
    for (const Placed& p : items) {
        next.clear();
        next.reserve(spaces.size() + 5);
        for (const Space& s : spaces) {
            if (free_space_detail::overlaps(s, p)) {
                free_space_detail::append_pieces(s, p, next);
            } else {
                next.push_back(s);
            }
        }
        spaces.swap(next);
    }
    return spaces;
}

template <class Space, class Placed>
void split_sorted_free_spaces(std::vector<Space>& spaces, const std::vector<Placed>& items) {
    free_space_detail::split_and_merge(spaces, items);
}

template <class Space, class Placed>
std::vector<Space> free_spaces_of(double width, double length, double depth,
                                  const std::vector<Placed>& items) {
    // split_free_spaces over a list kept in runs of consecutive spaces, each
    // with bounds of its spaces: an item clear of a run's bounds overlaps none
    // of its spaces, so most runs are passed over whole. Each overlapped space
    // is still replaced in place by its pieces. A cut run's bounds take in the
    // new pieces and keep what they held: wider bounds still bound the run.
    struct Run {
        std::vector<Space> spaces;
        free_space_detail::Bounds bounds;

        void rebound() {
            bounds = free_space_detail::Bounds();
            for (const Space& s : spaces) bounds.include(free_space_detail::faces_of_space(s));
        }
    };
    constexpr std::size_t kRunLength = 32;

    std::vector<Run> runs(1);
    runs[0].spaces.push_back(Space{make_free_space(0.0, 0.0, 0.0, width, length, depth)});
    runs[0].rebound();
    std::vector<Space> cut;
    for (const Placed& p : items) {
        const free_space_detail::Faces faces = free_space_detail::faces_of_placed(p);
        for (std::size_t r = 0; r < runs.size(); ++r) {
            Run& run = runs[r];
            if (run.bounds.clear_of(faces)) continue;
            const auto first = std::find_if(run.spaces.begin(), run.spaces.end(),
                                            [&p](const Space& s) {
                                                return free_space_detail::overlaps(s, p);
                                            });
            if (first == run.spaces.end()) continue;
            cut.assign(run.spaces.begin(), first);
            for (auto it = first; it != run.spaces.end(); ++it) {
                if (free_space_detail::overlaps(*it, p)) {
                    const std::size_t pieces_from = cut.size();
                    free_space_detail::append_pieces(*it, p, cut);
                    for (std::size_t k = pieces_from; k < cut.size(); ++k) {
                        run.bounds.include(free_space_detail::faces_of_space(cut[k]));
                    }
                } else {
                    cut.push_back(*it);
                }
            }
            run.spaces.swap(cut);
            if (run.spaces.size() > 2 * kRunLength) {
                // Split the run in two; the second half has been cut already.
                Run back;
                const auto middle = run.spaces.begin() + static_cast<std::ptrdiff_t>(kRunLength);
                back.spaces.assign(middle, run.spaces.end());
                run.spaces.erase(middle, run.spaces.end());
                run.rebound();
                back.rebound();
                runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(r) + 1, std::move(back));
                ++r;
            }
        }
    }

    std::size_t count = 0;
    for (const Run& run : runs) count += run.spaces.size();
    std::vector<Space> spaces;
    spaces.reserve(count);
    for (const Run& run : runs) spaces.insert(spaces.end(), run.spaces.begin(), run.spaces.end());
    return spaces;
}

// The free spaces of a volume in space_before order, cut as items are placed
// in them; the list is the one free_spaces_of, a stable sort and then
// split_sorted_free_spaces for each cut would give.
//
// As long as no space has had a NaN key, the list is in a strict total order,
// by key and then by position in the list it was sorted from, and each cut is
// done without walking the whole list: the spaces are ordered by height, so
// those at or above the top of the new items, which overlap none of them,
// are found by a binary search, and so is the place of each new piece.
template <class Space>
class SortedFreeSpaces {
public:
    template <class Placed>
    SortedFreeSpaces(double width, double length, double depth, const std::vector<Placed>& items)
        : spaces_(free_spaces_of<Space, Placed>(width, length, depth, items)) {
        ordered_ = std::none_of(spaces_.begin(), spaces_.end(), free_space_detail::has_nan_key);
        if (ordered_) {
            sort_ordered();
        } else {
            // A merge sort: NaN coordinates can never drive it out of range.
            std::stable_sort(spaces_.begin(), spaces_.end(), space_before);
        }
    }

    std::vector<Space>& spaces() { return spaces_; }
    bool empty() const { return spaces_.empty(); }

    template <class Placed>
    void split(const std::vector<Placed>& items);

private:
    // The stable sort of a list without NaN keys: ordered by key and then by
    // position, which is a strict total order, so that sorting the keys and
    // positions alone, by any method, gives the same list.
    void sort_ordered() {
        struct Key {
            double z;
            double volume;
            double base_area;
            std::size_t position;
        };
        std::vector<Key> keys(spaces_.size());
        for (std::size_t k = 0; k < spaces_.size(); ++k) {
            keys[k] = Key{spaces_[k].z, spaces_[k].volume, spaces_[k].base_area, k};
        }
        std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
            if (space_key_before(a, b)) return true;
            return !space_key_before(b, a) && a.position < b.position;
        });
        std::vector<Space> sorted;
        sorted.reserve(spaces_.size());
        for (const Key& k : keys) sorted.push_back(spaces_[k.position]);
        spaces_.swap(sorted);
    }

    std::vector<Space> spaces_;
    bool ordered_;  // no space has ever had a NaN key
};

template <class Space>
template <class Placed>
void SortedFreeSpaces<Space>::split(const std::vector<Placed>& items) {
    using free_space_detail::Piece;
    if (!ordered_) {
        free_space_detail::split_and_merge(spaces_, items);
        return;
    }
    const free_space_detail::Bounds bounds = free_space_detail::bounds_of(items);
    auto end = spaces_.end();
    if (bounds.usable()) {
        const double top = bounds.highest(2);
        end = std::partition_point(spaces_.begin(), spaces_.end(),
                                   [top](const Space& s) { return s.z < top; });
    }

    std::vector<std::size_t> cut;
    std::vector<Piece<Space>> pieces;
    bool nan_key = false;
    for (auto it = spaces_.begin(); it != end; ++it) {
        if (bounds.clear_of(free_space_detail::faces_of_space(*it)) ||
            !free_space_detail::overlaps_any(*it, items)) {
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(it - spaces_.begin());
        for (const Space& piece : split_free_spaces<Space, Placed>({*it}, items)) {
            nan_key = nan_key || free_space_detail::has_nan_key(piece);
            pieces.push_back(Piece<Space>{piece, k - cut.size()});
        }
        cut.push_back(k);
    }
    if (cut.empty()) return;

    // Drop the cut spaces, moving up each run of untouched ones behind them.
    auto kept_end = spaces_.begin() + static_cast<std::ptrdiff_t>(cut.front());
    for (std::size_t c = 0; c < cut.size(); ++c) {
        const auto run = spaces_.begin() + static_cast<std::ptrdiff_t>(cut[c] + 1);
        const auto run_end = c + 1 < cut.size()
                                 ? spaces_.begin() + static_cast<std::ptrdiff_t>(cut[c + 1])
                                 : spaces_.end();
        kept_end = std::move(run, run_end, kept_end);
    }
    spaces_.erase(kept_end, spaces_.end());
    const std::size_t kept = spaces_.size();
    if (pieces.empty()) return;

    if (nan_key) {
        std::vector<Space> split;
        split.reserve(kept + pieces.size());
        std::size_t next_untouched = 0;
        for (const Piece<Space>& p : pieces) {
            while (next_untouched < p.untouched_before) split.push_back(spaces_[next_untouched++]);
            split.push_back(p.space);
        }
        while (next_untouched < kept) split.push_back(spaces_[next_untouched++]);
        std::stable_sort(split.begin(), split.end(), space_before);
        spaces_.swap(split);
        ordered_ = false;
        return;
    }

    // The pieces in (key, position) order, as they were made in list order;
    // then each, from the last, goes after the untouched spaces before it,
    // and the untouched spaces after it move up as a block.
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece<Space>& a, const Piece<Space>& b) {
                         return space_before(a.space, b.space);
                     });
    spaces_.resize(kept + pieces.size());
    std::size_t untouched = kept;  // untouched spaces not yet moved, at the front
    std::size_t out = spaces_.size();
    for (std::size_t p = pieces.size(); p > 0; --p) {
        const Piece<Space>& piece = pieces[p - 1];
        const auto before = std::partition_point(
            spaces_.begin(), spaces_.begin() + static_cast<std::ptrdiff_t>(untouched),
            [&](const Space& u) {
                const std::size_t position = static_cast<std::size_t>(&u - spaces_.data());
                return space_before(u, piece.space) ||
                       (!space_before(piece.space, u) && position < piece.untouched_before);
            });
        const std::size_t first_after = static_cast<std::size_t>(before - spaces_.begin());
        std::move_backward(before, spaces_.begin() + static_cast<std::ptrdiff_t>(untouched),
                           spaces_.begin() + static_cast<std::ptrdiff_t>(out));
        out -= untouched - first_after;
        untouched = first_after;
        spaces_[--out] = piece.space;
    }
}

}  // namespace stowvex
