// Free-space bookkeeping: cutting spaces by placed items and their order.
#include "engine/free_space.hpp"

#include <algorithm>
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

}  // namespace stowvex
