// A running tally, per thread, of the engine's single-box packings: how many
// its method calls for and how many it actually packs. A caller reads the
// tally before and after a call; the difference is the call's.
#pragma once

#include <cstdint>

namespace stowvex {

struct PackingTally {
    // Single-box packings the method calls for: every trial of the driver,
    // and every box type the balancing pass tries for a list of items, those
    // of a pair of boxes it remembers offering no move included.
    std::uint64_t asked = 0;
    // Those that were packed, not answered from an earlier packing of the
    // same list (the balancing pass asks the same questions again and again).
    std::uint64_t packed = 0;
};

// This thread's tally so far.
PackingTally packing_tally();

// What the engine counts into the tally as it packs.
void tally_asked(std::uint64_t packings = 1);
void tally_packed();

}  // namespace stowvex
