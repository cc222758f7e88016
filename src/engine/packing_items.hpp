// A list of items as the single-box packer reads it: in the order given, with
// every item's measures read once, so that packing one list into several box
// types reads it once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/entry_index.hpp"
#include "engine/list_facts.hpp"
#include "engine/packing_entry.hpp"
#include "model/item.hpp"

namespace stowvex {

// The entry of an item (not null) as a list reads it, its identity 0. It
// refers to the very pointer it is given.
PackingEntry entry_of(const ItemPtr& item);

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
