// Default orders of items, box types and packed boxes, and the sorted list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/sorted_collection.hpp"
#include "engine/sorters.hpp"

namespace stowvex {
namespace {

ItemPtr item(const std::string& code, double w, double l, double d, double weight = 1.0,
             const std::string& group = "") {
    return make_item(code, code, w, l, d, weight, group, Rotation::BEST_FIT);
}

BoxPtr box(double w, double l, double d, double max_weight = -1.0, double empty = 0.0) {
    return make_box("B", w, l, d, max_weight, empty, true, std::nullopt);
}

// Checks that compare(a, b) is the given order and compare(b, a) its mirror.
template <class Sorter, class T>
void expect_order(const Sorter& sorter, const T& a, const T& b, int order) {
    EXPECT_EQ(sorter.compare(a, b), order);
    EXPECT_EQ(sorter.compare(b, a), -order);
}

TEST(DefaultItemSorter, GroupedItemsComeFirstGroupedByName) {
    DefaultItemSorter s;
    // A large plain item still goes after every linked item, however small.
    expect_order(s, *item("small", 1, 1, 1, 1, "G"), *item("big", 100, 100, 100), -1);
    expect_order(s, *item("x", 1, 1, 1, 1, "A"), *item("y", 9, 9, 9, 9, "AB"), -1);
    expect_order(s, *item("x", 1, 1, 1, 1, "Z"), *item("y", 9, 9, 9, 9, "a"), -1);
    // Names compare as unsigned bytes: a byte above 0x7F sorts after ASCII.
    expect_order(s, *item("x", 1, 1, 1, 1, "z"), *item("y", 9, 9, 9, 9, "\xC3\xA9"), -1);
    // Within one group the measures decide.
    expect_order(s, *item("x", 1, 1, 1, 1, "G"), *item("y", 2, 2, 2, 1, "G"), 1);
}

TEST(DefaultItemSorter, LargerThenHeavierThenCodeByBytes) {
    DefaultItemSorter s;
    expect_order(s, *item("z", 2, 3, 4), *item("a", 2, 3, 3), -1);
    expect_order(s, *item("z", 2, 3, 4, 5.0), *item("a", 4, 3, 2, 4.5), -1);
    expect_order(s, *item("10", 1, 1, 1), *item("9", 1, 1, 1), -1);
    expect_order(s, *item("ab", 1, 1, 1), *item("abc", 1, 1, 1), -1);
    expect_order(s, *item("a\x01", 1, 1, 1), *item("a\xFF", 1, 1, 1), -1);
    EXPECT_EQ(s.compare(*item("same", 1, 2, 3), *item("same", 3, 2, 1)), 0);
}

TEST(DefaultBoxSorter, SmallerThenLighterThenLargerBudget) {
    DefaultBoxSorter s;
    expect_order(s, *box(2, 2, 2), *box(1, 1, 9), -1);
    expect_order(s, *box(2, 2, 2, -1, 1.0), *box(2, 2, 2, -1, 1.5), -1);
    // No weight limit counts as the largest budget.
    expect_order(s, *box(2, 2, 2, -1, 5), *box(2, 2, 2, 1005, 5), -1);
    expect_order(s, *box(2, 2, 2, 30, 5), *box(2, 2, 2, 20, 5), -1);
    EXPECT_EQ(s.compare(*box(2, 2, 2, -1), *box(1, 4, 2, -7)), 0);
    // A limit below the empty weight leaves a budget of 0, not a negative one.
    EXPECT_EQ(s.compare(*box(2, 2, 2, 3, 5), *box(2, 2, 2, 5, 5)), 0);
}

PackedBox packed_with(const BoxPtr& b, const std::vector<double>& widths) {
    PackedBox packed(b);
    double x = 0.0;
    for (double w : widths) {
        packed.add(PackedItem(item("i", w, 1, 1), w, 1, 1, "WLD", x, 0, 0));
        x += w;
    }
    return packed;
}

TEST(DefaultPackedBoxSorter, MoreItemsThenUtilisationThenUsedVolume) {
    DefaultPackedBoxSorter s;
    const BoxPtr b = box(10, 1, 1);
    // Five items beat four, even with the lower utilisation.
    expect_order(s, packed_with(b, {1, 1, 1, 1, 1}), packed_with(b, {2, 2, 2, 2}), -1);
    expect_order(s, packed_with(b, {1, 2}), packed_with(b, {1, 1}), -1);
    expect_order(s, packed_with(box(10, 1, 1), {5}), packed_with(box(100, 1, 1), {20}), -1);
    // A box of no volume has utilisation 0; used volume then decides.
    expect_order(s, packed_with(box(0, 1, 1), {3}), packed_with(box(0, 1, 1), {2}), -1);
    EXPECT_EQ(s.compare(packed_with(b, {1, 2}), packed_with(b, {2, 1})), 0);
}

// Counts the comparisons made, to see when the view is rebuilt.
class CountingSorter final : public ItemSorter {
public:
    int compare(const Item& a, const Item& b) const override {
        ++calls;
        return inner.compare(a, b);
    }
    mutable int calls = 0;
    DefaultItemSorter inner;
};

std::vector<std::string> codes(const std::vector<ItemPtr>& items) {
    std::vector<std::string> out;
    for (const ItemPtr& i : items) out.push_back(i->item_code());
    return out;
}

TEST(SortedCollection, ViewIsCachedAndRebuiltAfterAdd) {
    auto sorter = std::make_shared<CountingSorter>();
    ItemList list(sorter);
    list.add(item("b", 1, 1, 1));
    list.add(item("a", 3, 3, 3));
    list.add(item("c", 2, 2, 2));
    EXPECT_EQ(codes(list.sorted_view()), (std::vector<std::string>{"a", "c", "b"}));
    const int after_first = sorter->calls;
    EXPECT_GT(after_first, 0);
    list.sorted_view();
    EXPECT_EQ(sorter->calls, after_first);

    list.add(item("d", 2.5, 2.5, 2.5));
    EXPECT_EQ(codes(list.sorted_view()), (std::vector<std::string>{"a", "d", "c", "b"}));
    EXPECT_GT(sorter->calls, after_first);
    // Insertion order is untouched by sorting.
    EXPECT_EQ(codes(list.elements()), (std::vector<std::string>{"b", "a", "c", "d"}));
}

TEST(SortedCollection, EqualElementsKeepNoPromisedOrder) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    const ItemPtr big = item("big", 5, 5, 5);
    const ItemPtr twin1 = item("twin", 1, 2, 3);
    const ItemPtr twin2 = item("twin", 3, 2, 1);
    list.add(twin1);
    list.add(big);
    list.add(twin2);
    const std::vector<ItemPtr>& view = list.sorted_view();
    ASSERT_EQ(view.size(), 3u);
    EXPECT_EQ(view[0], big);
    // The twins compare equal: either may come first.
    EXPECT_TRUE((view[1] == twin1 && view[2] == twin2) || (view[1] == twin2 && view[2] == twin1));
}

TEST(SortedCollection, NanMeasuresNeverBreakTheSort) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ItemList list(std::make_shared<DefaultItemSorter>());
    std::vector<ItemPtr> all;
    for (int i = 0; i < 200; ++i) {
        const double w = (i % 3 == 0) ? nan : static_cast<double>(i % 17);
        all.push_back(item("i" + std::to_string(i), w, 1, 1, (i % 5 == 0) ? nan : i % 4));
        list.add(all.back());
    }
    std::vector<ItemPtr> view = list.sorted_view();
    ASSERT_EQ(view.size(), all.size());
    // Every element is still there exactly once.
    auto by_address = [](const ItemPtr& a, const ItemPtr& b) { return a.get() < b.get(); };
    std::sort(view.begin(), view.end(), by_address);
    std::sort(all.begin(), all.end(), by_address);
    EXPECT_EQ(view, all);
}

TEST(SortedCollection, RemovePackedErasesFirstOccurrenceOnly) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    const ItemPtr a = item("a", 1, 1, 1);
    const ItemPtr b = item("b", 2, 2, 2);
    const ItemPtr c = item("c", 3, 3, 3);
    const ItemPtr stranger = item("a", 1, 1, 1);  // equal values, another object
    list.add(a);
    list.add(b);
    list.add(a);
    list.add(c);
    list.sorted_view();

    PackedBox packed(box(10, 10, 10));
    packed.add(PackedItem(a, 1, 1, 1, "WLD", 0, 0, 0));
    packed.add(PackedItem(stranger, 1, 1, 1, "WLD", 1, 0, 0));
    list.remove_packed(packed);
    EXPECT_EQ(list.elements(), (std::vector<ItemPtr>{b, a, c}));
    EXPECT_EQ(list.sorted_view(), (std::vector<ItemPtr>{c, b, a}));

    PackedBox only_stranger(box(10, 10, 10));
    only_stranger.add(PackedItem(stranger, 1, 1, 1, "WLD", 0, 0, 0));
    list.remove_packed(only_stranger);
    EXPECT_EQ(list.elements(), (std::vector<ItemPtr>{b, a, c}));
}

TEST(SortedCollection, CopySharesElementsAndMoveEmptiesSource) {
    auto sorter = std::make_shared<DefaultBoxSorter>();
    BoxList list(sorter);
    const BoxPtr big = box(3, 3, 3);
    const BoxPtr small = box(1, 1, 1);
    list.add(big);
    list.add(small);
    list.sorted_view();

    BoxList copy = list;
    copy.add(box(2, 2, 2));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(copy.sorted_view().front(), small);
    EXPECT_EQ(copy.sorter(), list.sorter());

    BoxList moved = std::move(list);
    EXPECT_EQ(moved.sorted_view(), (std::vector<BoxPtr>{small, big}));
    EXPECT_EQ(moved.sorter(), sorter);
    EXPECT_TRUE(list.empty());  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace stowvex
