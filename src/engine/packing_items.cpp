// Reading a list of items for the single-box packer.
#include "engine/packing_items.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

#include "engine/orientation.hpp"
#include "engine/packing_control.hpp"

namespace stowvex {

PackingEntry entry_of(const ItemPtr& ref) {
    const Item& item = *ref;
    PackingEntry e;
    e.item = &ref;
    e.dims[0] = item.width();
    e.dims[1] = item.length();
    e.dims[2] = item.depth();
    e.weight = item.weight();
    e.rotation = item.allowed_rotation();
    e.identity = 0;
    const bool no_nan = !std::isnan(e.dims[0]) && !std::isnan(e.dims[1]) && !std::isnan(e.dims[2]);
    // A negative extent would move the cursor backwards and put items outside
    // the volume or on top of each other; a NaN one fits nowhere.
    e.placeable = no_nan && e.dims[0] >= 0.0 && e.dims[1] >= 0.0 && e.dims[2] >= 0.0;
    if (e.placeable) {
        sort_ascending(e.dims[0], e.dims[1], e.dims[2], e.ascending);
    } else {
        e.ascending[0] = e.ascending[1] = e.ascending[2] = std::numeric_limits<double>::infinity();
    }
    return e;
}

PackingItems::PackingItems(const std::vector<ItemPtr>& items) : size_(items.size()) {
    entries_.reserve(items.size());
    for (const ItemPtr& ref : items) {
        check_stop();
        if (!ref) {
            some_never_placed_ = true;
            continue;
        }
        PackingEntry& e = entries_.emplace_back(entry_of(ref));
        e.identity = static_cast<std::uint32_t>(entries_.size() - 1);
        some_never_placed_ = some_never_placed_ || !e.placeable;
        facts_.add(e.dims, e.weight);
    }

    // Entries of one object share the identity of the first of them.
    std::vector<std::pair<const Item*, std::uint32_t>> by_object;
    by_object.reserve(entries_.size());
    for (const PackingEntry& e : entries_) by_object.emplace_back(e.item->get(), e.identity);
    std::sort(by_object.begin(), by_object.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return std::less<const Item*>()(a.first, b.first);
        return a.second < b.second;
    });
    for (std::size_t k = 1; k < by_object.size(); ++k) {
        if (by_object[k].first != by_object[k - 1].first) continue;
        const std::uint32_t first = entries_[by_object[k - 1].second].identity;
        entries_[by_object[k].second].identity = first;
        if (holders_.size() <= first) holders_.resize(first + 1);
        if (holders_[first].empty()) holders_[first].push_back(first);
        holders_[first].push_back(by_object[k].second);
        some_never_placed_ = true;
    }
    index_ = EntryIndex(entries_);
}

const std::vector<std::uint32_t>& PackingItems::holders(std::uint32_t identity) const {
    static const std::vector<std::uint32_t> none;
    return identity < holders_.size() ? holders_[identity] : none;
}

}  // namespace stowvex
