// Pairs of boxes that offered the balancing pass no move, remembered so that
// the scan over pairs, which starts over after every move, does not ask them
// again while neither box has changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace stowvex {

// Every box of the pass has a label, and a box that a move replaces gets a new
// one, so a label stands for one box's contents for as long as it exists.
// The labels of the boxes are kept in box order; a move keeps the order of the
// boxes it does not touch.
class FailedPairs {
public:
    // Labels for `count` new boxes, in order, forgetting every pair.
    void start(std::size_t count);

    std::size_t size() const { return labels_.size(); }
    std::uint64_t label(std::size_t k) const { return labels_[k]; }

    // The packings asked for by the try that found no move for the boxes at
    // i < j, when neither has changed since; nothing otherwise.
    std::optional<std::uint64_t> asked(std::size_t i, std::size_t j) const;
    void add(std::size_t i, std::size_t j, std::uint64_t asked);

    // A move replaced the box at `replaced`; with `dropped`, the box at that
    // position was taken out too, after the replacement.
    void replace(std::size_t replaced);
    void drop(std::size_t dropped);

    // Forgets every pair: what a try finds changed for all of them.
    void forget() { asked_.clear(); }

private:
    static std::uint64_t key(std::uint64_t a, std::uint64_t b) { return (a << 32) | b; }

    std::vector<std::uint64_t> labels_;
    std::uint64_t next_ = 0;
    std::unordered_map<std::uint64_t, std::uint64_t> asked_;
};

inline void FailedPairs::start(std::size_t count) {
    labels_.clear();
    asked_.clear();
    for (std::size_t k = 0; k < count; ++k) labels_.push_back(next_++);
}

inline std::optional<std::uint64_t> FailedPairs::asked(std::size_t i, std::size_t j) const {
    const auto found = asked_.find(key(labels_[i], labels_[j]));
    if (found == asked_.end()) return std::nullopt;
    return found->second;
}

inline void FailedPairs::add(std::size_t i, std::size_t j, std::uint64_t asked) {
    asked_[key(labels_[i], labels_[j])] = asked;
}

inline void FailedPairs::replace(std::size_t replaced) {
    // A key holds two labels of 32 bits: before they run out, every box gets
    // a new label, and the pairs are forgotten.
    if (next_ >= 0xFFFFFFFFu) {
        next_ = 0;
        start(labels_.size());
    }
    labels_[replaced] = next_++;
}

inline void FailedPairs::drop(std::size_t dropped) {
    labels_.erase(labels_.begin() + static_cast<std::ptrdiff_t>(dropped));
}

}  // namespace stowvex
