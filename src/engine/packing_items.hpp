// A list of items as the single-box packer reads it: in the order given, with
// every item's measures read once, so that packing one list into several box
// types reads it once; and the index of its entries by size and weight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/list_facts.hpp"
#include "model/item.hpp"

namespace stowvex {

// One entry of the list, with the item's measures.
struct PackingEntry {
    const ItemPtr* item;
    double dims[3];  // width, length, depth
    double weight;
    Rotation rotation;
    // No negative and no NaN measure; an entry that is not placeable fits
    // nowhere and is never placed.
    bool placeable;
    // The position of the first entry holding the same item object: items
    // are told apart by identity, and a box takes an object once.
    std::uint32_t identity;
    double ascending[3];  // the measures sorted, when placeable
};

// The entries still to be placed in one packing, indexed so that those that
// may fit an extent are found without looking at the others.
class EntryIndex {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    EntryIndex() = default;
    // Every placeable entry.
    explicit EntryIndex(const std::vector<PackingEntry>& entries);

    bool empty() const { return count_ == 0; }
    void remove(std::uint32_t entry);

    // The first entry at or after `from` that may fit an extent whose sorted
    // measures are at most `bound` and whose weight may be added to `used`
    // under the budget (negative: no limit). Every entry that fits such an
    // extent and passes that weight test is found; some found may not fit.
    std::uint32_t next(std::uint32_t from, const double bound[3], double used, double budget) const;

    // Over the entries still in: the smallest and the largest measure of
    // each rank, the heaviest weight that is not NaN (-infinity if none), and
    // a bound below their total volume (exact_measures), each without a walk
    // over the entries.
    double smallest(int rank) const { return nodes_[1].low[rank]; }
    double largest(int rank) const { return extents_[1].high[rank]; }
    double heaviest() const { return extents_[1].heavy; }
    double volume_below() const;

private:
    // Per subtree of entries: the smallest measure of each rank and the
    // lightest weight of 0 or more. An empty subtree has infinities.
    struct Node {
        double low[3];
        double light;
    };
    static Node none();
    static Node joined(const Node& a, const Node& b);
    static bool excluded(const Node& n, const double bound[3], double used, double budget);
    // The first entry looked for in the subtree of node k.
    std::uint32_t leftmost(std::size_t k, const double bound[3], double used, double budget) const;

    // Per subtree, what only the figures above read: the largest measure of
    // each rank, the heaviest weight and the sum of the volume bounds (a
    // summation tree of the entries in, with 0 for the others).
    struct Extent {
        double high[3];
        double heavy;
        double volume;
    };
    static Extent no_extent();
    static Extent joined(const Extent& a, const Extent& b);

    std::vector<Node> nodes_;      // heap layout: node k has children 2k and 2k + 1
    std::vector<Extent> extents_;  // the same layout
    std::vector<char> present_;    // by entry
    std::size_t leaves_ = 0;
    std::size_t count_ = 0;
};

class PackingItems {
public:
    explicit PackingItems(const std::vector<ItemPtr>& items);
    PackingItems(const PackingItems&) = delete;
    PackingItems& operator=(const PackingItems&) = delete;

    const std::vector<PackingEntry>& entries() const { return entries_; }
    // The number of items, null entries included.
    std::size_t size() const { return size_; }
    // The entries holding each identity, for identities held more than once.
    const std::vector<std::uint32_t>& holders(std::uint32_t identity) const;
    // Some entry is never placed: a null entry, a second entry of one object,
    // or one that is not placeable.
    bool some_never_placed() const { return some_never_placed_; }
    // Facts of the items of all entries.
    const ListFacts& facts() const { return facts_; }
    const EntryIndex& index() const { return index_; }

private:
    std::vector<PackingEntry> entries_;
    std::size_t size_ = 0;
    std::vector<std::vector<std::uint32_t>> holders_;  // by identity, when shared
    bool some_never_placed_ = false;
    ListFacts facts_;
    EntryIndex index_;
};

}  // namespace stowvex
