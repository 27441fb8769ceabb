#include "model/product_list.hpp"

#include <algorithm>
#include <unordered_set>

#include "support/text.hpp"

namespace vq {

namespace {

template <class Entry>
auto column_of(Entry& entry, int column) -> decltype(&entry.title) {
    switch (column) {
        case kTitleColumn: return &entry.title;
        case kPriceColumn: return &entry.price;
        case kAddressColumn: return &entry.address;
        case kIdColumn: return &entry.offerId;
        default: return nullptr;
    }
}

}  // namespace

void ProductList::set_change_callback(ChangeCallback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void ProductList::changed() {
    ChangeCallback callback;
    {
        std::lock_guard lock(mutex_);
        callback = callback_;
    }
    if (callback) callback();
}

int ProductList::row_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

std::string ProductList::field(int row, int column) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const std::string* text = column_of(rows_[static_cast<std::size_t>(row)], column);
    return text ? *text : std::string();
}

ProductEntry ProductList::row(int row) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    return rows_[row];
}

int ProductList::append_new_rows(std::vector<ProductEntry> entries) {
    int repeated = 0;
    std::size_t added = 0;
    {
        std::lock_guard lock(mutex_);
        std::unordered_set<std::string> ids;
        for (const ProductEntry& row : rows_) {
            if (!row.offerId.empty()) ids.insert(row.offerId);
        }
        for (ProductEntry& entry : entries) {
            if (!entry.offerId.empty() && !ids.insert(entry.offerId).second) {
                ++repeated;
                continue;
            }
            rows_.push_back(std::move(entry));
            ++added;
        }
    }
    if (added > 0) changed();
    return repeated;
}

std::vector<ProductEntry> ProductList::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

int ProductList::append_row(ProductEntry entry) {
    int position;
    {
        std::lock_guard lock(mutex_);
        rows_.push_back(std::move(entry));
        position = static_cast<int>(rows_.size()) - 1;
    }
    changed();
    return position;
}

void ProductList::append_rows(std::vector<ProductEntry> entries) {
    if (entries.empty()) return;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : entries) rows_.push_back(std::move(entry));
    }
    changed();
}

void ProductList::set_field(int row, int column, std::string text) {
    {
        std::lock_guard lock(mutex_);
        if (row < 0 || row >= static_cast<int>(rows_.size())) return;
        std::string* field = column_of(rows_[row], column);
        if (!field) return;
        *field = std::move(text);
    }
    changed();
}

void ProductList::delete_row(int row) { delete_rows({row}); }

void ProductList::delete_rows(std::vector<int> positions) {
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
        // From the bottom up so the positions still name the rows meant.
        for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
            if (*it < 0 || *it >= static_cast<int>(rows_.size())) continue;
            rows_.erase(rows_.begin() + *it);
            removed = true;
        }
    }
    if (removed) changed();
}

void ProductList::delete_all() { replace_all({}); }

void ProductList::replace_all(std::vector<ProductEntry> entries) {
    {
        std::lock_guard lock(mutex_);
        rows_ = std::move(entries);
    }
    changed();
}

int ProductList::remove_rows_without_id() {
    int left;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(rows_, [](const ProductEntry& e) { return e.offerId.empty(); });
        left = static_cast<int>(rows_.size());
    }
    changed();
    return left;
}

int ProductList::find_row_by_title(std::string_view text) const {
    std::lock_guard lock(mutex_);
    const std::string wanted = to_lower_ascii(text);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (to_lower_ascii(rows_[i].title) == wanted) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace vq
