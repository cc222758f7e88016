// One packing of a list of items into a volume: rows and layers from a
// walking cursor, then the free spaces left behind, each packed the same way
// as a volume of its own, nested at most kMaxNestingDepth deep.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/free_space.hpp"
#include "engine/free_space_queue.hpp"
#include "engine/list_facts.hpp"
#include "engine/packing_items.hpp"
#include "engine/placement_cursor.hpp"
#include "model/packed_item.hpp"

namespace stowvex {

// Free spaces are packed recursively; a volume this deep gets rows and layers
// only.
inline constexpr int kMaxNestingDepth = 4;

// An entry placed in the frame of the volume it was made in: the region it
// takes, the entry and its orientation (in kOrientations). It becomes a
// PackedItem only when the whole box is done, so that the placements of
// nested volumes cost no reference counting and no text.
struct PlacedEntry {
    Region region;
    std::uint32_t entry;
    int orientation;
};

// What a packing works with besides its items: kept from one packing to the
// next, so that its buffers grow once rather than in every packing. One
// packing at a time may use it.
struct PackingScratch {
    // What each nesting depth works with, kept from one volume to the next.
    struct Level {
        FreeSpaceQueue spaces;
        std::vector<Region> regions;
        std::vector<PlacedEntry> filled;
    };
    Level levels[kMaxNestingDepth + 1];
    EntryIndex unplaced;
    std::vector<char> placed;
};

class Packing {
public:
    // With `whole`, only a packing of the box that places every entry is of
    // use: the packing gives up as soon as some entry is certain to be left
    // out. Without a scratch, the packing has one of its own.
    Packing(const PackingItems& items, bool whole);
    Packing(const PackingItems& items, bool whole, PackingScratch& scratch);

    // Packs a volume of this size with its corner at (0, 0, 0); the
    // placements, in placement order, go to `out`. The budget is the item
    // weight the volume may take (negative: no limit); nesting depth 0 is
    // the box itself. A packing packs one volume, with its free spaces.
    void pack(double width, double length, double depth, double budget, int nesting_depth,
              std::vector<PlacedEntry>& out);

    bool gave_up() const { return gave_up_; }
    PackedItem packed_item(const PlacedEntry& p) const;

private:
    void fill_rows_and_layers(double width, double length, double depth, double budget,
                              double& used_weight, int nesting_depth,
                              std::vector<PlacedEntry>& out);
    void fill_free_spaces(double width, double length, double depth, double budget,
                          double& used_weight, int nesting_depth, std::vector<PlacedEntry>& out);
    bool could_take_any(const FreeSpace& space, double budget) const;
    void place(const PackingEntry& e, std::uint32_t entry);

    // Early ends of a whole packing, see their definitions.
    void size_up(const BoxFacts& box);
    bool too_heavy(double budget, double used_weight);
    bool hopeless(FreeSpaceQueue& spaces, double budget, double used_weight, bool weigh_volumes);
    void give_up();

    const PackingItems& items_;
    const std::vector<PackingEntry>& entries_;
    std::unique_ptr<PackingScratch> own_scratch_;
    PackingScratch& scratch_;
    EntryIndex& unplaced_;
    std::vector<char>& placed_;  // by identity
    bool whole_;
    bool started_ = false;
    bool gave_up_ = false;
    bool exact_ = false;  // every position and extent is computed exactly
};

}  // namespace stowvex
