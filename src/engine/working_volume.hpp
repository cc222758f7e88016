// A box that is nothing but a size, such as a free space inside a box. The
// single-box packer packs its free spaces by their size alone and makes no
// WorkingVolume for them.
#pragma once

#include <string>

#include "model/box.hpp"

namespace stowvex {

class WorkingVolume final : public Box {
public:
    WorkingVolume(double width, double length, double depth);

    // "Working Volume " followed by width, length and depth in printf's "%f"
    // form, joined by "x".
    const std::string& reference() const override { return reference_; }
    double width() const override { return width_; }
    double length() const override { return length_; }
    double depth() const override { return depth_; }
    double empty_weight() const override { return 0.0; }
    double max_weight() const override { return -1.0; }
    bool active() const override { return true; }

private:
    double width_;
    double length_;
    double depth_;
    std::string reference_;
};

}  // namespace stowvex
