// Allowed orientations and the best-fit choice.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/orientation.hpp"

namespace stowvex {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

ItemPtr item(double w, double l, double d, Rotation rotation) {
    return make_item("I", "I", w, l, d, 1.0, "", rotation);
}

std::vector<std::string> labels(const std::vector<OrientationCandidate>& candidates) {
    std::vector<std::string> out;
    for (const OrientationCandidate& c : candidates) out.push_back(c.orientation);
    return out;
}

void expect_choice(const std::optional<OrientationCandidate>& c, const char* label, double w,
                   double l, double d) {
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->orientation, label);
    EXPECT_EQ(c->width, w);
    EXPECT_EQ(c->length, l);
    EXPECT_EQ(c->depth, d);
}

TEST(OrientationsOf, CandidatesFollowTheRotationFreedom) {
    EXPECT_EQ(labels(orientations_of(item(1, 2, 3, Rotation::NEVER))),
              (std::vector<std::string>{"WLD"}));
    EXPECT_EQ(labels(orientations_of(item(1, 2, 3, Rotation::KEEP_FLAT))),
              (std::vector<std::string>{"WLD", "LWD"}));
    const std::vector<std::string> all{"WLD", "LWD", "WDL", "LDW", "DWL", "DLW"};
    EXPECT_EQ(labels(orientations_of(item(1, 2, 3, Rotation::BEST_FIT))), all);
    EXPECT_EQ(labels(orientations_of(item(1, 2, 3, static_cast<Rotation>(9)))), all);
    // A cube is not de-duplicated.
    EXPECT_EQ(orientations_of(item(2, 2, 2, Rotation::BEST_FIT)).size(), 6u);
}

TEST(OrientationsOf, ExtentsArePermutedAsLabelled) {
    const ItemPtr i = item(1, 2, 3, Rotation::BEST_FIT);
    const std::vector<OrientationCandidate> c = orientations_of(i);
    const double expected[6][3] = {{1, 2, 3}, {2, 1, 3}, {1, 3, 2},
                                   {2, 3, 1}, {3, 1, 2}, {3, 2, 1}};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(c[k].item, i) << k;
        EXPECT_EQ(c[k].width, expected[k][0]) << c[k].orientation;
        EXPECT_EQ(c[k].length, expected[k][1]) << c[k].orientation;
        EXPECT_EQ(c[k].depth, expected[k][2]) << c[k].orientation;
    }
}

TEST(BestOrientation, SmallestWidthSlackThenLengthSlack) {
    // Width slacks 6, 4, 6, 4, 2, 2; of the last two "DLW" leaves length
    // slack 4 against 6.
    const ItemPtr i = item(4, 6, 8, Rotation::BEST_FIT);
    const auto c = best_orientation(i, 10, 10, 10);
    expect_choice(c, "DLW", 8, 6, 4);
    EXPECT_EQ(c->item, i);
    // Only the unturned-in-depth orientation fits a shallow extent.
    expect_choice(best_orientation(item(5, 3, 5, Rotation::BEST_FIT), 5, 5, 3), "WDL", 5, 5, 3);
}

TEST(BestOrientation, TiesKeepTheEarlierCandidate) {
    expect_choice(best_orientation(item(3, 3, 3, Rotation::BEST_FIT), 7, 8, 9), "WLD", 3, 3, 3);
    expect_choice(best_orientation(item(4, 4, 1, Rotation::KEEP_FLAT), 9, 9, 9), "WLD", 4, 4, 1);
    // Unbounded width and length make every slack equal; the depth left over
    // is never looked at, so "WLD" stays although "WDL" would fill the depth.
    expect_choice(best_orientation(item(4, 8, 6, Rotation::BEST_FIT), kInf, kInf, 10), "WLD", 4,
                  8, 6);
}

TEST(BestOrientation, FitsUpToTheExactExtent) {
    expect_choice(best_orientation(item(2, 3, 4, Rotation::NEVER), 2, 3, 4), "WLD", 2, 3, 4);
    EXPECT_FALSE(best_orientation(item(2, 3, 4, Rotation::NEVER), 2, 3, 3.9999999999999996));
    expect_choice(best_orientation(item(0, 0, 0, Rotation::NEVER), 0, 0, 0), "WLD", 0, 0, 0);
}

TEST(BestOrientation, RespectsTheRotationFreedom) {
    // NEVER: fits only when turned, so nothing.
    EXPECT_FALSE(best_orientation(item(5, 2, 2, Rotation::NEVER), 2, 5, 2));
    expect_choice(best_orientation(item(5, 2, 2, Rotation::KEEP_FLAT), 2, 5, 2), "LWD", 2, 5, 2);
    // KEEP_FLAT never lays its depth horizontally, even when only that fits.
    EXPECT_FALSE(best_orientation(item(1, 1, 5, Rotation::KEEP_FLAT), 5, 5, 1));
    expect_choice(best_orientation(item(1, 1, 5, Rotation::BEST_FIT), 5, 5, 1), "DWL", 5, 1, 1);
}

TEST(BestOrientation, OddValuesNeverFit) {
    EXPECT_FALSE(best_orientation(item(1, 1, 1, Rotation::BEST_FIT), kNan, 5, 5));
    EXPECT_FALSE(best_orientation(item(kNan, 1, 1, Rotation::BEST_FIT), 5, 5, 5));
    EXPECT_FALSE(best_orientation(item(1, 1, 1, Rotation::BEST_FIT), -1, 5, 5));
    EXPECT_FALSE(fits_some_orientation(*item(kNan, 1, 1, Rotation::BEST_FIT), 5, 5, 5));
    // An unbounded item fits only an unbounded extent.
    EXPECT_FALSE(best_orientation(item(kInf, 1, 1, Rotation::NEVER), 1e308, 5, 5));
    expect_choice(best_orientation(item(kInf, 1, 1, Rotation::NEVER), kInf, 5, 5), "WLD", kInf, 1,
                  1);
}

TEST(FitsSomeOrientation, AgreesWithBestOrientation) {
    const Rotation rotations[] = {Rotation::NEVER, Rotation::KEEP_FLAT, Rotation::BEST_FIT};
    for (Rotation r : rotations) {
        for (double w : {1.0, 3.0, 5.0}) {
            for (double aw : {1.0, 3.0, 5.0}) {
                for (double ad : {1.0, 3.0, 5.0}) {
                    const ItemPtr i = item(w, 3, 5, r);
                    EXPECT_EQ(fits_some_orientation(*i, aw, 3, ad),
                              best_orientation(i, aw, 3, ad).has_value());
                }
            }
        }
    }
}

}  // namespace
}  // namespace stowvex
