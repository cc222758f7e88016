// The per-thread packing tally.
#include "engine/packing_tally.hpp"

namespace stowvex {

namespace {

thread_local PackingTally tally;

}  // namespace

PackingTally packing_tally() { return tally; }

void tally_asked(std::uint64_t packings) { tally.asked += packings; }

void tally_packed() { ++tally.packed; }

}  // namespace stowvex
