#pragma once
// The product list: the program's only store of products, addressed by 0-based row
// position. Every call is indivisible and may come from any thread; a front end mirrors
// the list through the change callback (which it must hand over to its own thread).

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/batch_model.hpp"

namespace vq {

enum ProductColumn { kTitleColumn = 0, kPriceColumn = 1, kAddressColumn = 2, kIdColumn = 3 };

class ProductList {
public:
    // Called after every change, outside the list's lock, on the changing thread.
    using ChangeCallback = std::function<void()>;
    void set_change_callback(ChangeCallback callback);

    int row_count() const;
    // Empty text for a position or column outside the list.
    std::string field(int row, int column) const;
    ProductEntry row(int row) const;
    std::vector<ProductEntry> rows() const;

    int append_row(ProductEntry entry);  // the new row's position
    void append_rows(std::vector<ProductEntry> entries);
    // Appends the entries whose offerId is neither in the list nor earlier among them (an
    // empty id is never a repeat); how many were left out. One indivisible step.
    int append_new_rows(std::vector<ProductEntry> entries);
    void set_field(int row, int column, std::string text);
    void delete_row(int row);
    // Removes the rows at the given positions (any order, duplicates ignored).
    void delete_rows(std::vector<int> positions);
    void delete_all();
    // Replaces every row at once.
    void replace_all(std::vector<ProductEntry> entries);
    // Removes rows whose offerId is empty, keeping the others' order; the rows left.
    int remove_rows_without_id();
    // The first row whose title equals text, ignoring ASCII case, or -1.
    int find_row_by_title(std::string_view text) const;

private:
    void changed();

    mutable std::mutex mutex_;
    std::vector<ProductEntry> rows_;
    ChangeCallback callback_;
};

}  // namespace vq
