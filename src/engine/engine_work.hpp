// How much single-box packing a run calls for, and how much of it the engine
// did: what the benchmarks weigh the engine's time against.
#pragma once

#include <cstdint>

namespace stowvex {

struct EngineWork {
    // Single-box packings the method calls for: every trial of the driver,
    // and every box type the balancing pass tries for a list of items.
    std::uint64_t asked = 0;
    // Those that were packed, not answered by an earlier packing of the same
    // list (the balancing pass asks the same questions again and again).
    std::uint64_t packed = 0;
};

}  // namespace stowvex
