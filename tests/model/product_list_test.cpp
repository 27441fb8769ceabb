#include <gtest/gtest.h>

#include "model/product_list.hpp"

namespace {

using vq::ProductList;

TEST(ProductListTest, RowsAreAddressedByPosition) {
    ProductList list;
    int changes = 0;
    list.set_change_callback([&] { ++changes; });
    EXPECT_EQ(list.append_row({"A", "1", "a", "11"}), 0);
    list.append_rows({{"b", "2", "b", ""}, {"a", "3", "c", "33"}, {"C", "4", "d", ""}});
    EXPECT_EQ(list.row_count(), 4);
    EXPECT_EQ(list.field(2, vq::kPriceColumn), "3");
    EXPECT_EQ(list.field(2, vq::kIdColumn), "33");
    // Outside the list: empty text, nothing else.
    EXPECT_EQ(list.field(4, vq::kTitleColumn), "");
    EXPECT_EQ(list.field(-1, vq::kTitleColumn), "");
    EXPECT_EQ(list.field(0, 4), "");
    // The upper of two rows with the same title, ignoring letter case.
    EXPECT_EQ(list.find_row_by_title("a"), 0);
    EXPECT_EQ(list.find_row_by_title("x"), -1);

    list.set_field(1, vq::kTitleColumn, "B");
    EXPECT_EQ(list.field(1, vq::kTitleColumn), "B");
    EXPECT_EQ(list.remove_rows_without_id(), 2);
    EXPECT_EQ(list.field(1, vq::kTitleColumn), "a");
    // Deleting by position removes exactly those rows, whatever their titles.
    list.append_rows({{"A", "", "", "5"}, {"A", "", "", "6"}});
    list.delete_rows({3, 1, 3});
    ASSERT_EQ(list.row_count(), 2);
    EXPECT_EQ(list.field(0, vq::kIdColumn), "11");
    EXPECT_EQ(list.field(1, vq::kIdColumn), "5");
    list.delete_all();
    EXPECT_EQ(list.row_count(), 0);
    EXPECT_EQ(changes, 7);
}

}  // namespace
