// Free-space bookkeeping: cutting spaces by placed items and their order.
#include "engine/free_space.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace stowvex {

namespace {

// Appends the pieces of s that lie outside the item p, which overlaps s.
void append_pieces(const FreeSpace& s, const PackedItem& p, std::vector<FreeSpace>& out) {
    const double s_x1 = s.x + s.width;
    const double s_y1 = s.y + s.length;
    const double s_z1 = s.z + s.depth;
    const double x0 = std::max(p.x(), s.x);
    const double x1 = std::min(p.x() + p.width(), s_x1);
    const double y0 = std::max(p.y(), s.y);
    const double y1 = std::min(p.y() + p.length(), s_y1);
    const double z0 = std::max(p.z(), s.z);
    const double z1 = std::min(p.z() + p.depth(), s_z1);
    if (x0 > s.x) out.push_back(make_free_space(s.x, s.y, s.z, x0 - s.x, s.length, s.depth));
    if (s_x1 > x1) out.push_back(make_free_space(x1, s.y, s.z, s_x1 - x1, s.length, s.depth));
    if (y0 > s.y) out.push_back(make_free_space(x0, s.y, s.z, x1 - x0, y0 - s.y, s.depth));
    if (s_y1 > y1) out.push_back(make_free_space(x0, y1, s.z, x1 - x0, s_y1 - y1, s.depth));
    if (z0 > s.z) out.push_back(make_free_space(x0, y0, s.z, x1 - x0, y1 - y0, z0 - s.z));
    if (s_z1 > z1) out.push_back(make_free_space(x0, y0, z1, x1 - x0, y1 - y0, s_z1 - z1));
}

// Touching along a face is no overlap.
bool overlaps(const FreeSpace& s, const PackedItem& p) {
    return !(p.x() >= s.x + s.width || s.x >= p.x() + p.width() ||
             p.y() >= s.y + s.length || s.y >= p.y() + p.length() ||
             p.z() >= s.z + s.depth || s.z >= p.z() + p.depth());
}

bool overlaps_any(const FreeSpace& s, const std::vector<PackedItem>& items) {
    for (const PackedItem& p : items) {
        if (overlaps(s, p)) return true;
    }
    return false;
}

// NaN keys make space_before inconsistent; such a list gets a full sort.
bool has_nan_key(const FreeSpace& s) {
    return std::isnan(s.z) || std::isnan(s.volume) || std::isnan(s.base_area);
}

}  // namespace

FreeSpace make_free_space(double x, double y, double z, double width, double length,
                          double depth) {
    return FreeSpace{x, y, z, width, length, depth, width * length * depth, width * length};
}

std::vector<FreeSpace> free_spaces_of(double width, double length, double depth,
                                      const std::vector<PackedItem>& items) {
    return split_free_spaces({make_free_space(0.0, 0.0, 0.0, width, length, depth)}, items);
}

std::vector<FreeSpace> split_free_spaces(std::vector<FreeSpace> spaces,
                                         const std::vector<PackedItem>& items) {
    std::vector<FreeSpace> next;
    for (const PackedItem& p : items) {
        next.clear();
        next.reserve(spaces.size() + 5);
        for (const FreeSpace& s : spaces) {
            if (overlaps(s, p)) {
                append_pieces(s, p, next);
            } else {
                next.push_back(s);
            }
        }
        spaces.swap(next);
    }
    return spaces;
}

bool space_before(const FreeSpace& a, const FreeSpace& b) {
    if (a.z != b.z) return a.z < b.z;
    if (a.volume != b.volume) return a.volume > b.volume;
    return a.base_area > b.base_area;
}

void split_sorted_free_spaces(std::vector<FreeSpace>& spaces,
                              const std::vector<PackedItem>& items) {
    // Cutting is local to each space: the split list is every space's own
    // pieces, in list order, with untouched spaces standing for themselves.
    std::vector<FreeSpace> split;
    split.reserve(spaces.size() + 5);
    std::vector<std::size_t> pieces;  // positions in split of new pieces
    bool nan_key = false;
    for (const FreeSpace& s : spaces) {
        nan_key = nan_key || has_nan_key(s);
        if (!overlaps_any(s, items)) {
            split.push_back(s);
            continue;
        }
        for (const FreeSpace& piece : split_free_spaces({s}, items)) {
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
            const FreeSpace& u = split[next_untouched];
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

}  // namespace stowvex
