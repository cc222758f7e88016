// Allowed orientations and the best-fit choice.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/orientation.hpp"

namespace stowvex {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

ItemPtr item(double w, double l, double d, Rotation rotation = Rotation::BEST_FIT) {
    return make_item("I", "I", w, l, d, 1.0, "", rotation);
}

// Placed extents of single digits, written as one number.
std::string digits(double w, double l, double d) { return std::to_string(int(w * 100 + l * 10 + d)); }

// The chosen label and placed extents, or "none".
std::string choice(const ItemPtr& i, double aw, double al, double ad) {
    const auto c = best_orientation(i, aw, al, ad);
    if (!c) return "none";
    EXPECT_EQ(c->item, i);
    EXPECT_TRUE(fits_some_orientation(*i, aw, al, ad));
    return c->orientation + " " + digits(c->width, c->length, c->depth);
}

TEST(OrientationsOf, FollowTheRotationFreedom) {
    auto labels = [](Rotation r) {
        std::string out;
        for (const OrientationCandidate& c : orientations_of(item(1, 2, 3, r))) {
            out += c.orientation + "=" + digits(c.width, c.length, c.depth) + " ";
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
    EXPECT_FALSE(fits_some_orientation(*item(nan, 1, 1), 5, 5, 5));
    EXPECT_FALSE(fits_some_orientation(*item(1, 1, 5, Rotation::KEEP_FLAT), 5, 5, 1));
}

}  // namespace
}  // namespace stowvex
