// Exact arithmetic of a packing, and bounds of volumes.
#include "engine/exact_measures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace stowvex {

namespace {

constexpr double kUnitRoundoff = 0x1p-53;

bool in_bounded_range(double v) { return v == 0.0 || (v >= 0x1p-300 && v <= 0x1p300); }

}  // namespace

int fraction_bits(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0x7FF) return -1;  // infinity or NaN
    std::uint64_t digits = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0 && digits == 0) return 0;  // zero
    // v = digits * 2^(exponent - 52), digits holding the implicit leading 1.
    const int exponent = biased == 0 ? -1022 : biased - 1023;
    if (biased != 0) digits |= std::uint64_t{1} << 52;
    const int trailing = __builtin_ctzll(digits);  // digits is not 0
    return std::max(0, 52 - exponent - trailing);
}

// With the largest measure m, 2^(e-1) <= m < 2^e, the measures have fewer
// than 2^53 steps of 2^-bits exactly when bits <= 53 - e.
int exact_fraction_bits(double width, double length, double depth) {
    const double measures[3] = {width, length, depth};
    int own = 0;
    double largest = 0.0;
    for (const double m : measures) {
        if (!(m >= 0.0) || fraction_bits(m) < 0) return -1;
        own = std::max(own, fraction_bits(m));
        largest = std::max(largest, m);
    }
    if (largest == 0.0) return std::numeric_limits<int>::max();
    int exponent = 0;
    std::frexp(largest, &exponent);
    const int most = 53 - exponent;
    return own <= most ? most : -1;
}

// The two products round at most by a factor 1 +- u each, and the final
// product by one more: 2^-51 = 4u covers the three.
double volume_below(double width, double length, double depth) {
    if (!in_bounded_range(width) || !in_bounded_range(length) || !in_bounded_range(depth)) {
        return 0.0;
    }
    return width * length * depth * (1.0 - 0x1p-51);
}

double volume_above(double width, double length, double depth) {
    if (!in_bounded_range(width) || !in_bounded_range(length) || !in_bounded_range(depth)) {
        return std::numeric_limits<double>::infinity();
    }
    return width * length * depth * (1.0 + 0x1p-51);
}

// Adding n terms one after another is off by at most a factor 1 +- 2(n-1)u
// of the exact sum (for nu well below 1); the factors below cover that and
// their own rounding.
double sum_below(double sum, std::size_t terms) {
    return sum * (1.0 - static_cast<double>(terms + 1) * 2.0 * kUnitRoundoff);
}

double sum_above(double sum, std::size_t terms) {
    return sum * (1.0 + static_cast<double>(terms + 1) * 4.0 * kUnitRoundoff);
}

}  // namespace stowvex
