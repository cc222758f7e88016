// Default orders of items, box types and packed boxes, and the sorted list.
#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/sorted_collection.hpp"

namespace stowvex {
namespace {

ItemPtr item(const std::string& code, double side, double weight = 1,
             const std::string& group = "") {
    return make_item(code, code, side, side, side, weight, group, Rotation::BEST_FIT);
}

BoxPtr box(double w, double max_weight = -1, double empty = 0) {
    return make_box("B", w, 2, 2, max_weight, empty, true, std::nullopt);
}

// compare(a, b) gives the order and compare(b, a) its mirror.
template <class Sorter, class T>
void expect_first(const Sorter& s, const T& a, const T& b) {
    EXPECT_EQ(s.compare(a, b), -1);
    EXPECT_EQ(s.compare(b, a), 1);
}

TEST(DefaultSorters, OrderItemsBoxesAndPackedBoxes) {
    const DefaultItemSorter items;
    expect_first(items, *item("small", 1, 1, "G"), *item("big", 100));  // groups first
    expect_first(items, *item("x", 1, 1, "A"), *item("y", 9, 1, "AB"));
    expect_first(items, *item("x", 1, 1, "Z"), *item("y", 9, 1, "a"));
    expect_first(items, *item("x", 1, 1, "z"), *item("y", 9, 1, "\xC3\xA9"));  // unsigned bytes
    expect_first(items, *item("z", 3), *item("a", 2));
    expect_first(items, *item("z", 2, 5), *item("a", 2, 4.5));
    expect_first(items, *item("10", 1), *item("9", 1));
    expect_first(items, *item("a\x01", 1), *item("a\xFF", 1));
    EXPECT_EQ(items.compare(*item("same", 2), *item("same", 2)), 0);

    const DefaultBoxSorter boxes;
    expect_first(boxes, *box(2), *box(3));
    expect_first(boxes, *box(2, -1, 1), *box(2, -1, 1.5));
    expect_first(boxes, *box(2, -1, 5), *box(2, 1005, 5));      // no limit beats any limit
    EXPECT_EQ(boxes.compare(*box(2, 3, 5), *box(2, 5, 5)), 0);  // both budgets clamp to 0

    const DefaultPackedBoxSorter packed;
    auto filled = [](double box_width, std::vector<double> widths) {
        PackedBox p(box(box_width));
        for (double w : widths) p.add(PackedItem(item("i", w), w, 2, 2, "WLD", 0, 0, 0));
        return p;
    };
    expect_first(packed, filled(10, {1, 1, 1, 1, 1}), filled(10, {2, 2, 2, 2}));
    expect_first(packed, filled(10, {5}), filled(100, {20}));
    expect_first(packed, filled(0, {3}), filled(0, {2}));  // no volume: used volume decides
}

class CountingSorter final : public ItemSorter {
public:
    int compare(const Item& a, const Item& b) const override {
        ++calls;
        return DefaultItemSorter().compare(a, b);
    }
    mutable int calls = 0;
};

TEST(SortedCollection, ViewIsCachedUntilAChange) {
    auto sorter = std::make_shared<CountingSorter>();
    ItemList list(sorter);
    const ItemPtr small = item("s", 1), big = item("b", 3);
    const ItemPtr twin1 = item("t", 2), twin2 = item("t", 2);
    for (const ItemPtr& i : {small, twin1, big}) list.add(i);
    EXPECT_EQ(list.sorted_view(), (std::vector<ItemPtr>{big, twin1, small}));
    const int calls = sorter->calls;
    list.sorted_view();
    EXPECT_EQ(sorter->calls, calls);

    list.add(twin2);
    const std::vector<ItemPtr>& view = list.sorted_view();
    ASSERT_EQ(view.size(), 4u);
    EXPECT_EQ(view[0], big);
    EXPECT_EQ(view[3], small);
    // The twins compare equal: either may come first.
    EXPECT_TRUE((view[1] == twin1 && view[2] == twin2) || (view[1] == twin2 && view[2] == twin1));
    EXPECT_EQ(list.elements(), (std::vector<ItemPtr>{small, twin1, big, twin2}));
}

TEST(SortedCollection, RemovePackedErasesTheFirstOccurrenceOnly) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    const ItemPtr a = item("a", 1), b = item("b", 2), lookalike = item("a", 1);
    for (const ItemPtr& i : {a, b, a}) list.add(i);
    list.sorted_view();
    PackedBox packed(box(10));
    packed.add(PackedItem(a, 1, 1, 1, "WLD", 0, 0, 0));
    packed.add(PackedItem(lookalike, 1, 1, 1, "WLD", 1, 0, 0));
    packed.add(PackedItem(b, 2, 2, 2, "WLD", 2, 0, 0));
    list.remove_packed(packed);
    EXPECT_EQ(list.elements(), (std::vector<ItemPtr>{a}));
    EXPECT_EQ(list.sorted_view(), (std::vector<ItemPtr>{a}));
}

TEST(SortedCollection, NanMeasuresNeverBreakTheSort) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ItemList list(std::make_shared<DefaultItemSorter>());
    for (int i = 0; i < 200; ++i) list.add(item("i", i % 3 ? i % 17 : nan, i % 5 ? i % 4 : nan));
    const std::vector<ItemPtr>& view = list.sorted_view();
    EXPECT_TRUE(std::is_permutation(view.begin(), view.end(), list.elements().begin(),
                                    list.elements().end()));
}

TEST(SortedCollection, ItemViewIsTheStableSortByCompare) {
    // The view reads each item's key once; it must be the very order that a
    // stable sort calling compare gives, ties and NaN measures included.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string groups[] = {"", "", "", "A", "B"};
    const DefaultItemSorter sorter;
    for (int round = 0; round < 50; ++round) {
        ItemList list(std::make_shared<DefaultItemSorter>());
        for (int i = 0; i < 5 * round; ++i) {
            const double side = (i * 7 + round) % 11 == 0 ? nan : (i * 5 + round) % 4;
            const double weight = (i * 3 + round) % 13 == 0 ? nan : (i + round) % 3;
            const ItemPtr added =
                item(std::to_string((i * 7) % 5), side, weight, groups[(i + round) % 5]);
            list.add(added);
            if (i % 9 == 4) list.add(added);  // the same object twice
        }
        std::vector<ItemPtr> expected = list.elements();
        std::stable_sort(
            expected.begin(), expected.end(),
            [&sorter](const ItemPtr& a, const ItemPtr& b) { return sorter.compare(*a, *b) < 0; });
        ASSERT_EQ(list.sorted_view(), expected) << round;
    }
}

}  // namespace
}  // namespace stowvex
