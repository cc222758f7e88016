// Allowed orientations and the best-fit choice.
#include "engine/orientation.hpp"

#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace stowvex {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

struct Item3 {
    double dims[3];
    Rotation rotation;
};

Item3 item(double w, double l, double d, Rotation rotation = Rotation::BEST_FIT) {
    return Item3{{w, l, d}, rotation};
}

// Placed extents of single digits, written as one number.
std::string digits(double w, double l, double d) {
    return std::to_string(int(w * 100 + l * 10 + d));
}

// The chosen label and placed extents, or "none"; fits_some_orientation
// agrees.
std::string choice(const Item3& i, double aw, double al, double ad) {
    const int chosen = best_orientation(i.dims, i.rotation, aw, al, ad);
    EXPECT_EQ(chosen >= 0,
              fits_some_orientation(i.dims[0], i.dims[1], i.dims[2], i.rotation, aw, al, ad));
    if (chosen < 0) return "none";
    const Orientation& turn = kOrientations[chosen];
    return std::string(turn.label) + " " +
           digits(i.dims[turn.along_width], i.dims[turn.along_length], i.dims[turn.along_depth]);
}

TEST(Orientations, FollowTheRotationFreedom) {
    auto labels = [](Rotation r) {
        const double dims[3] = {1, 2, 3};
        std::string out;
        for (std::size_t k = 0; k < orientation_count(r); ++k) {
            const Orientation& l = kOrientations[k];
            out += std::string(l.label) + "=" +
                   digits(dims[l.along_width], dims[l.along_length], dims[l.along_depth]) + " ";
        }
        return out;
    };
    EXPECT_EQ(labels(Rotation::NEVER), "WLD=123 ");
    EXPECT_EQ(labels(Rotation::KEEP_FLAT), "WLD=123 LWD=213 ");
    EXPECT_EQ(labels(static_cast<Rotation>(9)), "WLD=123 LWD=213 WDL=132 LDW=231 DWL=312 DLW=321 ");
}

TEST(BestOrientation, SmallestWidthSlackThenLengthSlackEarliestOnTies) {
    // Width slacks 6, 4, 6, 4, 2, 2; "DLW" leaves length slack 4 against 6.
    EXPECT_EQ(choice(item(4, 6, 8), 10, 10, 10), "DLW 864");
    EXPECT_EQ(choice(item(5, 3, 5), 5, 5, 3), "WDL 553");
    EXPECT_EQ(choice(item(3, 3, 3), 7, 8, 9), "WLD 333");
    EXPECT_EQ(choice(item(4, 4, 1, Rotation::KEEP_FLAT), 9, 9, 9), "WLD 441");
    // Unbounded width and length tie every slack; depth left over is never
    // compared, so "WLD" stays although "WDL" would fill the depth better.
    EXPECT_EQ(choice(item(4, 8, 6), kInf, kInf, 10), "WLD 486");
    EXPECT_EQ(choice(item(2, 3, 4, Rotation::NEVER), 2, 3, 4), "WLD 234");  // exact fit
}

TEST(BestOrientation, RespectsRotationFreedomAndOddValues) {
    EXPECT_EQ(choice(item(5, 2, 2, Rotation::NEVER), 2, 5, 2), "none");
    EXPECT_EQ(choice(item(5, 2, 2, Rotation::KEEP_FLAT), 2, 5, 2), "LWD 252");
    EXPECT_EQ(choice(item(1, 1, 5, Rotation::KEEP_FLAT), 5, 5, 1), "none");
    EXPECT_EQ(choice(item(1, 1, 5), 5, 5, 1), "DWL 511");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(choice(item(1, 1, 1), nan, 5, 5), "none");
    EXPECT_EQ(choice(item(nan, 1, 1), 5, 5, 5), "none");
}

}  // namespace
}  // namespace stowvex
