// When the packer's arithmetic is exact, and rigorous bounds of volumes
// computed with rounding. The packer uses both only to stop work that cannot
// succeed; neither changes what it places.
#pragma once

#include <cstddef>

namespace stowvex {

// The binary digits after the point that v needs: v * 2^bits is a whole
// number. 0 for whole numbers, -1 for infinities and NaN.
int fraction_bits(double v);

// The most binary digits after the point that the measures of items may need
// for every position and extent a packing of a volume of this size computes
// to be exact; -1 when it never is. Every such value is a sum or difference
// of two measures, lies within the volume, and is a multiple of the finest
// step 2^-bits of the measures (the volume's own included); with fewer than
// 2^53 steps in the volume's largest measure each is a double, so no sum or
// difference rounds.
int exact_fraction_bits(double width, double length, double depth);

// Bounds of the exact volume of a region, whose measures are at least 0 and
// finite: at most it, and at least it. Outside the range in which rounding
// is bounded relatively (measures between 2^-300 and 2^300), 0 and infinity.
double volume_below(double width, double length, double depth);
double volume_above(double width, double length, double depth);

// Bounds of the exact sum of `terms` non-negative doubles from their sum
// added up in floating point.
double sum_below(double sum, std::size_t terms);
double sum_above(double sum, std::size_t terms);

}  // namespace stowvex
